// The command line: how its text is cut into paths, and adding them from real files.
#include <gtest/gtest.h>

#include "item_test_support.h"
#include "items/item_list.h"
#include "lang/number_text.h"
#include "platform/file_system.h"
#include "support/temp_folder.h"

namespace nulvane::items {
namespace {

using testing::Join;
using testing::Key;

TEST(ItemCommandLineTokens, QuotedTokensComeFirstAndBlanksCollapse) {
  // The quoted path, a blank, C:\b.txt, two blanks, C:\c: removing the quoted part leaves a
  // leading blank (an empty field, skipped) and the double blank counts as one.
  EXPECT_EQ(CommandLineTokens(u"\"C:\\My Files\\a.doc\" C:\\b.txt  C:\\c"),
            (std::vector<Text>{u"C:\\My Files\\a.doc", u"C:\\b.txt", u"C:\\c"}));
  EXPECT_EQ(CommandLineTokens(u"a.txt \"b c\" d   \"e\"  f"),
            (std::vector<Text>{u"b c", u"e", u"a.txt", u"d", u"f"}));
}

TEST(ItemCommandLineTokens, ALoneQuoteStaysWithItsToken) {
  EXPECT_EQ(CommandLineTokens(u"\"C:\\x y"), (std::vector<Text>{u"\"C:\\x", u"y"}));
  // Two pairs and a third lone quote.
  EXPECT_EQ(CommandLineTokens(u"\"a\" \"b\" \"c"), (std::vector<Text>{u"a", u"b", u"\"c"}));
}

TEST(ItemCommandLineTokens, LinesOfThreeUnitsOrFewerHoldNothing) {
  EXPECT_TRUE(CommandLineTokens(u"").empty());
  EXPECT_TRUE(CommandLineTokens(u"C:\\").empty());
  EXPECT_TRUE(CommandLineTokens(u"a b").empty());
  EXPECT_EQ(CommandLineTokens(u"ab c"), (std::vector<Text>{u"ab", u"c"}));
}

TEST(ItemCommandLineTokens, WhiteSpaceIsTrimmedAndWhiteTokensAreDropped) {
  EXPECT_EQ(CommandLineTokens(u"\"\t \u3000\" \"\tname\t\"  \t  x\t"),
            (std::vector<Text>{u"name", u"x"}));
  // Only blanks split: a tab inside an unquoted token is trimmed at its ends only.
  EXPECT_EQ(CommandLineTokens(u"one\ttwo three"), (std::vector<Text>{u"one\ttwo", u"three"}));
}

TEST(ItemCommandLineTokens, UnquotedBlanksSplitAPath) {
  EXPECT_EQ(CommandLineTokens(u"C:\\My Files\\a.doc"),
            (std::vector<Text>{u"C:\\My", u"Files\\a.doc"}));
}

TEST(ItemCommandLineTokens, TokensKeepTheirSpelling) {
  // A folder that distinguishes case finds the entry by this spelling only.
  EXPECT_EQ(CommandLineTokens(u"C:\\DATA\\\x00C4.TXT"), std::vector<Text>{u"C:\\DATA\\\x00C4.TXT"});
}

class ItemCommandLineOnDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::EnsureLanguageTable(); }
  void SetUp() override { ItemList::ResetListingCounterForTests(); }

  nulvane::testing::TempFolder temp_;
  testing::RecordingDisplay display_;
  ItemList list_{platform::SystemFileSystem(), display_};
};

TEST_F(ItemCommandLineOnDisk, AddsEveryPathFoundAndNamesTheOneNotFound) {
  const Text blanks = Join(temp_.path(), u"A Files");
  ASSERT_TRUE(testing::MakeFolder(blanks));
  const Text a = Join(blanks, u"a.doc");
  const Text b = Join(temp_.path(), u"b.txt");
  const Text c = Join(temp_.path(), u"c");
  ASSERT_TRUE(testing::MakeFile(a, "1"));
  ASSERT_TRUE(testing::MakeFile(b, "22"));
  ASSERT_TRUE(testing::MakeFolder(c));
  ASSERT_TRUE(testing::MakeFile(Join(c, u"inside"), "333"));
  const Text missing = Join(temp_.path(), u"missing");

  list_.ParseCommandLine(u"\"" + a + u"\" " + b + u"  " + c + u" " + missing + u" \"" + c +
                         platform::kPathSeparator + u"\"");

  EXPECT_EQ(testing::RowPaths(list_),
            (std::vector<Text>{Key(blanks + platform::kPathSeparator + u"a.doc"), Key(b), Key(c),
                               Key(Join(c, u"inside"))}));
  EXPECT_EQ(display_.status_texts.back(), u"Items:4 // Total: " + lang::FormatByteSize(6));
  // The token that names nothing is named in a warning line.
  // Named as it was given, not as its lower-cased key.
  EXPECT_EQ(display_.warnings, std::vector<Text>{missing + u": not found"});
}

TEST_F(ItemCommandLineOnDisk, AShortOrEmptyLineStillShowsTheSummary) {
  for (const TextView line : {TextView(u""), TextView(u"C:\\"), TextView(u"   \t")}) {
    display_.status_texts.clear();
    list_.ParseCommandLine(line);
    EXPECT_EQ(list_.StoredCount(), 0u);
    EXPECT_EQ(display_.row_counts.back(), 0);
    EXPECT_EQ(display_.status_texts,
              std::vector<Text>{u"Items:0 // Total: " + lang::FormatByteSize(0)});
  }
}

TEST_F(ItemCommandLineOnDisk, TheSameFileTwiceIsOneItem) {
  const Text file = Join(temp_.path(), u"Twice.txt");
  ASSERT_TRUE(testing::MakeFile(file, "x"));
#ifdef _WIN32
  // Windows names the same file whatever the case.
  Text other_case = file;
  for (char16_t& unit : other_case) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
  }
#else
  const Text other_case = file;
#endif
  list_.ParseCommandLine(u"\"" + file + u"\" \"" + other_case + u"\"");
  EXPECT_EQ(testing::RowPaths(list_), std::vector<Text>{Key(file)});
}

}  // namespace
}  // namespace nulvane::items
