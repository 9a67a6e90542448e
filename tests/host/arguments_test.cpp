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

TEST(AppendCmdArgument, QuotesWhatCmdReadsAsSyntaxAndRefusesWhatItWouldChange) {
  const struct {
    std::string Item;
    bool Always;
    bool Safe;
    std::string Appended;  // to the list "x"
  } cases[] = {
      {"plain-name_1.exe", false, true, "x plain-name_1.exe"},
      {"/Runner=C:\\dl\\pk.exe", false, true, "x /Runner=C:\\dl\\pk.exe"},
      {"C:\\dl\\up&date.exe", false, true, "x \"C:\\dl\\up&date.exe\""},
      {"a|b", false, true, "x \"a|b\""},
      {"<in>", false, true, "x \"<in>\""},
      {"^caret", false, true, "x \"^caret\""},
      {"!var!", false, true, "x \"!var!\""},
      {"(x)", false, true, "x \"(x)\""},
      {"with blank", false, true, "x \"with blank\""},
      {"tab\there", false, true, "x \"tab\there\""},
      {"trailing\\", false, true, "x trailing\\"},
      {"trail ing\\", false, true, "x \"trail ing\\\""},
      // Code page 932 trail bytes that read as \ and |: quoted, which changes nothing.
      {"\x83\x5c\x83\x7c", false, true, "x \"\x83\x5c\x83\x7c\""},
      {"C:\\x\\run.cmd", true, true, "x \"C:\\x\\run.cmd\""},
      {"", false, true, "x"},
      {"%PATH%", false, false, "x"},
      {"100%", true, false, "x"},
      {"say\"hi", false, false, "x"},
      {"two\nlines", false, false, "x"},
      {"cr\r", false, false, "x"},
  };
  for (const auto& c : cases) {
    std::string list = "x";
    EXPECT_EQ(AppendCmdArgument(list, c.Item, c.Always), c.Safe) << c.Item;
    EXPECT_EQ(list, c.Appended) << c.Item;
  }
}
