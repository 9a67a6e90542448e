#include <gtest/gtest.h>

#include "runner/arguments.h"

TEST(AppendArgument, QuotesItemsWithBlanksOnly) {
  const struct {
    std::string List, Item, Separator, Expected;
  } cases[] = {
      {"", "a", " ", "a"},
      {"a", "b", " ", "a b"},
      {"a", "", " ", "a"},
      {"", "", " ", ""},
      {"a", "x y", " ", "a \"x y\""},
      {"", "/Runner=C:\\My Dir\\p.exe", " ", "\"/Runner=C:\\My Dir\\p.exe\""},
      {"a", "say\"hi\"", " ", "a say\"hi\""},
      {"High", "No Battery", ",", "High,\"No Battery\""},
      {"", " ", ",", "\" \""},
  };
  for (const auto& c : cases) {
    std::string list = c.List;
    AppendArgument(list, c.Item, c.Separator);
    EXPECT_EQ(list, c.Expected) << c.List << " + " << c.Item;
  }
}
