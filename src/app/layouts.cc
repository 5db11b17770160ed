// Reading a layouts file. The types are the last word of a line, so that a
// name may hold spaces; they follow the syntax of a CSV header line.
#include "app/layouts.h"

#include <algorithm>

namespace dbcpack {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string Quoted(std::int64_t number) {
  std::string text(1, '\'');
  text.append(std::to_string(number)).push_back('\'');
  return text;
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
    problem = "Field types must be written without spaces, such as 'int,string,float'";
    return false;
  }
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
      std::string text = "Type of field ";
      text.append(Quoted(error.position)).append(" is empty");
      return text;
    }
    case TypeListError::Kind::UnknownType: {
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
    if (SameName(layout.name, name)) named.push_back(&layout);
  }
  return named;
}

std::string LayoutLine(std::string_view name, const std::vector<FieldType>& types) {
  std::string line(name);
  line.push_back(' ');
  return line.append(TypeListText(types));
}

}  // namespace dbcpack
