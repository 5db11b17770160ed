// A layouts file: the column types of tables by name, given once for a
// whole folder, so that a type corrected once never has to be corrected
// again. One table a line, `NAME TYPES` (items.dbc int,string,float); `#`
// starts a comment; blank lines are allowed; a UTF-8 byte order mark at the
// start is passed over. Names are file names ending in ".dbc", without a
// folder, compared without regard to case, since the same table comes with
// different capitalisation; a name may have several lines (the table in
// several versions), and a file takes the first whose types fit it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "table/field_type.h"

namespace dbcpack {

struct Layout {
  std::string name;
  std::vector<FieldType> types;
  std::uint32_t line = 0;  // one-based, in the layouts file
};

// Why a layouts file was refused: the line, and what is wrong with it, to
// follow a colon in a message.
struct LayoutError {
  std::uint32_t line = 0;
  std::string what;
};

// What is wrong with a list of types that ParseTypeList refused, to follow
// a colon in a message: the words of a layouts file and of --types alike.
std::string TypeListProblem(const TypeListError& error);

// Reads the text of a layouts file. Returns false at the first malformed
// line, with `error` set.
bool ParseLayouts(std::string_view text, std::vector<Layout>& layouts, LayoutError& error);

// Whether `text` is UTF-16 (it starts with a byte order mark of UTF-16, or
// holds NUL bytes, as UTF-16 without one does), which no line of a layouts
// file can be read from.
bool IsUtf16Text(std::string_view text);

// Whether a file of this name can stand in a layouts line that reads back
// as the same name.
bool WritableLayoutName(std::string_view name);

// The line ending of a layouts text's first line ("\r\n" or "\n"), for
// lines added to it.
std::string_view LineEndOf(std::string_view text);

// The file name at the end of `path`, after its last slash (or backslash,
// on Windows).
std::string_view BaseName(std::string_view path);

// The layouts whose name is `name`, compared without regard to case, in
// file order.
std::vector<const Layout*> LayoutsNamed(const std::vector<Layout>& layouts, std::string_view name);

// The line of a layouts file for `name` and `types`.
std::string LayoutLine(std::string_view name, const std::vector<FieldType>& types);

}  // namespace dbcpack
