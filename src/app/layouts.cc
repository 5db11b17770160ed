// Reading a layouts file. The types are the last word of a line, so that a
// name may hold spaces; they follow the syntax of a CSV header line.
#include "app/layouts.h"

#include <algorithm>

#include "app/discovery.h"

namespace dbcpack {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string Quoted(std::int64_t number) {
  std::string text(1, '\'');
  text.append(std::to_string(number)).push_back('\'');
  return text;
}

constexpr char kNoSpaces[] =
    "Field types must be written without spaces, such as 'int,string,float'";
constexpr std::string_view kExtension = ".dbc";

// What keeps a name from naming a file the walk can find, if anything: a
// name is matched against the file's name alone.
std::string NameProblem(std::string_view name) {
  std::string problem = "Name '";
  problem.append(name);
  if (name.find_first_of("/\\") != std::string_view::npos) {
    return problem.append("' holds a folder; give the file's name alone, such as 'items.dbc'");
  }
  if (name.size() < kExtension.size() ||
      !SameNameAnyCase(name.substr(name.size() - kExtension.size()), kExtension)) {
    return problem.append("' does not end in '.dbc'; give the file's name, such as 'items.dbc'");
  }
  return {};
}

// One line without its comment, not blank.
bool ParseLine(std::string_view line, Layout& layout, std::string& problem) {
  const std::size_t split = line.find_last_of(" \t");
  if (split == std::string_view::npos) {
    problem = "Expected a table name and its field types, such as 'items.dbc int,string,float'";
    return false;
  }
  layout.name = std::string(Trim(line.substr(0, split)));
  if (layout.name.ends_with(',')) {
    problem = kNoSpaces;
    return false;
  }
  problem = NameProblem(layout.name);
  if (!problem.empty()) return false;
  TypeListError error;
  if (!ParseTypeList(line.substr(split + 1), layout.types, error)) {
    problem = TypeListProblem(error);
    return false;
  }
  return true;
}

}  // namespace

std::string TypeListProblem(const TypeListError& error) {
  switch (error.kind) {
    case TypeListError::Kind::EmptyName: {
      // The words the packer uses for the same mistake in a header line.
      std::string text = "Name of field ";
      text.append(Quoted(error.position)).append(" is empty");
      return text;
    }
    case TypeListError::Kind::UnknownType: {
      if (error.entry.find_first_of(" \t") != std::string_view::npos) return kNoSpaces;
      std::string text = "Unknown field type '";
      text.append(error.entry).append("' (int, float, byte or string)");
      return text;
    }
    case TypeListError::Kind::TooLarge:
    case TypeListError::Kind::None:
      break;
  }
  return "Records too large for a DBC file";
}

bool ParseLayouts(std::string_view text, std::vector<Layout>& layouts, LayoutError& error) {
  // What Windows editors put before the first line; it is no part of it.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::uint32_t number = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    Layout layout;
    layout.line = number;
    if (!ParseLine(line, layout, error.what)) {
      error.line = number;
      return false;
    }
    layouts.push_back(std::move(layout));
  }
  return true;
}

bool IsUtf16Text(std::string_view text) {
  return text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ||
         text.find('\0') != std::string_view::npos;
}

bool WritableLayoutName(std::string_view name) {
  // A line ending or a '#' would cut the line short, spaces at either end
  // would be trimmed away.
  return !name.empty() && name.find_first_of("#\n\r") == std::string_view::npos &&
         !IsSpace(name.front()) && !IsSpace(name.back()) && NameProblem(name).empty();
}

std::string_view LineEndOf(std::string_view text) {
  const std::size_t end = text.find('\n');
  return end != std::string_view::npos && end > 0 && text[end - 1] == '\r' ? "\r\n" : "\n";
}

std::string_view BaseName(std::string_view path) {
#if defined(_WIN32)
  const std::size_t slash = path.find_last_of("/\\");
#else
  const std::size_t slash = path.rfind('/');
#endif
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::vector<const Layout*> LayoutsNamed(const std::vector<Layout>& layouts, std::string_view name) {
  std::vector<const Layout*> named;
  for (const Layout& layout : layouts) {
    if (SameNameAnyCase(layout.name, name)) named.push_back(&layout);
  }
  return named;
}

std::string LayoutLine(std::string_view name, const std::vector<FieldType>& types) {
  std::string line(name);
  line.push_back(' ');
  return line.append(TypeListText(types));
}

}  // namespace dbcpack
