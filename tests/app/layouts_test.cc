// The layouts file's reader: what it accepts, and the line and words of
// each refusal.
#include "app/layouts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dbcpack {
namespace {

std::string Describe(const std::vector<Layout>& layouts) {
  std::string text;
  for (const Layout& layout : layouts) {
    text += std::to_string(layout.line) + ":" + LayoutLine(layout.name, layout.types) + "|";
  }
  return text;
}

TEST(LayoutsTest, ReadsNamesTypesCommentsAndBlankLines) {
  std::vector<Layout> layouts;
  LayoutError error;
  ASSERT_TRUE(
      ParseLayouts("# layouts of the data folder\n"
                   "items.dbc int,string,float\r\n"
                   "\n"
                   "   \t\n"
                   "  light effects.dbc\tint,byte,byte  # a name with a space\n"
                   "ITEMS.dbc int\n"
                   "last.dbc string",
                   layouts, error));
  EXPECT_EQ(Describe(layouts),
            "2:items.dbc int,string,float|5:light effects.dbc int,byte,byte|6:ITEMS.dbc int|"
            "7:last.dbc string|");
  // Names are the same in any case; every line of a name, in file order.
  const std::vector<const Layout*> named = LayoutsNamed(layouts, "Items.DBC");
  ASSERT_EQ(named.size(), 2u);
  EXPECT_EQ(named[0]->line, 2u);
  EXPECT_EQ(named[1]->line, 6u);
  EXPECT_TRUE(LayoutsNamed(layouts, "items.db").empty());
  EXPECT_EQ(BaseName("data/sub/items.dbc"), "items.dbc");
  // A byte order mark is no part of the first name.
  layouts.clear();
  ASSERT_TRUE(ParseLayouts("\xEF\xBB\xBFitems.dbc int\n", layouts, error));
  EXPECT_EQ(Describe(layouts), "1:items.dbc int|");
}

TEST(LayoutsTest, RefusesTheFirstMalformedLineWithItsNumber) {
  struct Case {
    const char* text;
    std::uint32_t line;
    const char* what;
  };
  const Case cases[] = {
      {"items.dbc\n", 1,
       "Expected a table name and its field types, such as 'items.dbc int,string,float'"},
      {"# comment\nint,string\n", 2,
       "Expected a table name and its field types, such as 'items.dbc int,string,float'"},
      {"a.dbc int\n\nb.dbc int,strng\nc.dbc x\n", 3,
       "Unknown field type 'strng' (int, float, byte or string)"},
      {"a.dbc Int\n", 1, "Unknown field type 'Int' (int, float, byte or string)"},
      {"a.dbc int,,float\n", 1, "Name of field '2' is empty"},
      {"a.dbc int,\n", 1, "Name of field '2' is empty"},
      {"a.dbc int, string\n", 1,
       "Field types must be written without spaces, such as 'int,string,float'"},
      {"a.dbc int\ndata/sub/stamps.dbc int\n", 2,
       "Name 'data/sub/stamps.dbc' holds a folder; give the file's name alone, such as "
       "'items.dbc'"},
      {"data\\stamps.dbc int\n", 1,
       "Name 'data\\stamps.dbc' holds a folder; give the file's name alone, such as 'items.dbc'"},
      {"stamps int\n", 1,
       "Name 'stamps' does not end in '.dbc'; give the file's name, such as 'items.dbc'"},
  };
  for (const Case& c : cases) {
    std::vector<Layout> layouts;
    LayoutError error;
    EXPECT_FALSE(ParseLayouts(c.text, layouts, error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.what, c.what) << c.text;
  }
}

// Every name that may be printed in a layouts line reads back from it as
// the same name with the same types: names made of the bytes that could
// cut, end or split a line, in every arrangement of up to four of them at
// the start of a name or inside it.
TEST(LayoutsTest, EveryWritableNameReadsBackAsItself) {
  const std::string bytes = "a #\t,/\\\r\v";
  const std::vector<FieldType> types = {FieldType::Int, FieldType::String};
  std::size_t writable = 0;
  std::vector<std::string> names = {""};
  for (int length = 1; length <= 4; ++length) {
    std::vector<std::string> longer;
    for (const std::string& name : names) {
      for (const char c : bytes) longer.push_back(name + c);
    }
    names = std::move(longer);
    for (const std::string& stem : names) {
      for (const std::string& name : {stem + ".dbc", "x" + stem + "y.DBC"}) {
        if (!WritableLayoutName(name)) continue;
        ++writable;
        std::vector<Layout> layouts;
        LayoutError error;
        ASSERT_TRUE(ParseLayouts(LayoutLine(name, types) + "\n", layouts, error))
            << name << ": " << error.what;
        ASSERT_EQ(layouts.size(), 1u) << name;
        EXPECT_EQ(layouts[0].name, name);
        EXPECT_EQ(layouts[0].types, types) << name;
      }
    }
  }
  // Spaces, tabs and commas inside a name are no trouble: most of these
  // names are written.
  EXPECT_GT(writable, 1000u);
}

}  // namespace
}  // namespace dbcpack
