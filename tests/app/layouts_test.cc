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
      {"a.dbc int,,float\n", 1, "Type of field '2' is empty"},
      {"a.dbc int,\n", 1, "Type of field '2' is empty"},
      {"a.dbc int, string\n", 1,
       "Field types must be written without spaces, such as 'int,string,float'"},
  };
  for (const Case& c : cases) {
    std::vector<Layout> layouts;
    LayoutError error;
    EXPECT_FALSE(ParseLayouts(c.text, layouts, error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.what, c.what) << c.text;
  }
}

}  // namespace
}  // namespace dbcpack
