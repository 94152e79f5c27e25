// Folder expansion against an in-memory tree: links as Windows reports them, listings that
// fail, the walk order and the listing counter.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "fake_tree_file_system.h"
#include "item_test_support.h"
#include "items/item_list.h"

namespace nulvane::items {
namespace {

using testing::FakeTreeFileSystem;
using testing::Join;

class ItemListExpansion : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::EnsureLanguageTable(); }
  void SetUp() override {
    ItemList::ResetListingCounterForTests();
    fs_.AddFolder(root_);
  }

  std::vector<Text> StoredKeys() {
    list_.RebuildRows();
    return testing::RowPaths(list_);
  }

  const Text root_ = Join(u"", u"top");  // "/top" or "\top"
  FakeTreeFileSystem fs_;
  testing::RecordingDisplay display_;
  ItemList list_{fs_, display_};
};

TEST_F(ItemListExpansion, AJunctionOrDirectoryLinkIsStoredButNeverEntered) {
  // As Windows lists them: a reparse point with the folder flag. Its "contents" stand for what
  // a listing through it would show: files outside the user's choice.
  fs_.AddLink(Join(root_, u"junction"), /*to_folder=*/true);
  fs_.AddFile(Join(Join(root_, u"junction"), u"elsewhere.doc"), 10);
  fs_.AddLink(Join(root_, u"file-link"), /*to_folder=*/false);
  fs_.AddFile(Join(root_, u"plain.txt"), 3);

  ASSERT_TRUE(list_.AddPath(root_));

  EXPECT_EQ(StoredKeys(), (std::vector<Text>{root_, Join(root_, u"file-link"),
                                             Join(root_, u"junction"), Join(root_, u"plain.txt")}));
  EXPECT_EQ(fs_.listed, std::vector<Text>{root_});
  // A link to a folder shows as a folder in the size column.
  char16_t buffer[32];
  ASSERT_TRUE(list_.GetRowText(2, 1, buffer, 32));
  EXPECT_EQ(Text(buffer), kFolderSizeText);
}

TEST_F(ItemListExpansion, ALinkGivenDirectlyIsQueuedAsTheLink) {
  const Text link = Join(u"", u"link");
  fs_.AddLink(link, /*to_folder=*/true);
  fs_.AddFile(Join(link, u"behind.txt"), 1);

  ASSERT_TRUE(list_.AddPath(link));

  EXPECT_EQ(list_.StoredCount(), 1u);
  EXPECT_TRUE(fs_.listed.empty());
}

TEST_F(ItemListExpansion, AFolderThatCannotBeListedIsSkippedAndTheWalkGoesOn) {
  for (const TextView name : {u"a", u"b", u"c"}) {
    fs_.AddFolder(Join(root_, name));
    fs_.AddFile(Join(Join(root_, name), u"f"), 1);
  }
  fs_.FailListing(Join(root_, u"b"));

  list_.ExpandFolder(root_);

  EXPECT_EQ(StoredKeys(),
            (std::vector<Text>{Join(root_, u"a"), Join(Join(root_, u"a"), u"f"), Join(root_, u"b"),
                               Join(root_, u"c"), Join(Join(root_, u"c"), u"f")}));
  // The failed listing did not count; three did.
  EXPECT_EQ(ItemList::ListingCounter(), 3);
}

TEST_F(ItemListExpansion, EntriesListedBeforeAFailureAreKept) {
  fs_.AddFile(Join(root_, u"a"), 1);
  fs_.AddFile(Join(root_, u"b"), 2);
  fs_.FailListing(root_, /*after=*/3);  // ".", "..", "a", then the listing breaks off

  list_.ExpandFolder(root_);

  EXPECT_EQ(StoredKeys(), std::vector<Text>{Join(root_, u"a")});
  EXPECT_EQ(ItemList::ListingCounter(), 1);
}

TEST_F(ItemListExpansion, WalksDepthFirstInListingOrder) {
  fs_.AddFolder(Join(root_, u"a"));
  fs_.AddFolder(Join(Join(root_, u"a"), u"x"));
  fs_.AddFolder(Join(Join(Join(root_, u"a"), u"x"), u"deep"));
  fs_.AddFolder(Join(root_, u"b"));
  fs_.AddFile(Join(root_, u"c"), 1);

  list_.ExpandFolder(root_);

  EXPECT_EQ(fs_.listed,
            (std::vector<Text>{root_, Join(root_, u"a"), Join(Join(root_, u"a"), u"x"),
                               Join(Join(Join(root_, u"a"), u"x"), u"deep"), Join(root_, u"b")}));
}

// Where listings give identities, the rebuild that ends an expansion takes the listing's look at
// every entry it stored and asks the system nothing. A later rebuild (after a run, after another
// drop) reads a folder's rows from one listing of it: its first rows are looked at alone, the
// rest come from the listing, also after a subfolder's rows came between them ("a4" < "b\..." <
// "c1"). What the rows show is what looks would show: a file gone since is no row.
TEST_F(ItemListExpansion, ARebuildReadsEachFolderFromOneListing) {
  const Text sub = Join(root_, u"b");
  fs_.AddFolder(sub);
  for (const char16_t* name : {u"a1", u"a2", u"a3", u"a4", u"c1", u"c2", u"c3", u"c4"}) {
    fs_.AddFile(Join(root_, name), 1);
    fs_.AddFile(Join(sub, name), 2);
  }
  list_.ExpandFolder(root_);
  fs_.listed.clear();
  fs_.inspected = 0;
  list_.RebuildRows();
  EXPECT_TRUE(fs_.listed.empty());
  EXPECT_EQ(fs_.inspected, 0);
  EXPECT_EQ(testing::RowPaths(list_).size(), 17u);
  EXPECT_EQ(list_.RecordedSize(Join(sub, u"c4")), 2u);

  fs_.Remove(Join(root_, u"c2"));
  list_.RebuildRows();
  EXPECT_EQ(fs_.listed, (std::vector<Text>{root_, sub}));
  // The two folders' first three files, the folder row and the anchor's folder, never all 17.
  EXPECT_LE(fs_.inspected, 9);
  const std::vector<Text> rows = testing::RowPaths(list_);
  EXPECT_EQ(rows.size(), 17u - 1u);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), Join(root_, u"c2")), 0);
}

// Where listings tell no identities (POSIX), no rebuild lists a folder: each row is looked at by
// itself, also when a few rows are left in a large folder.
TEST_F(ItemListExpansion, NoRebuildListsAFolderWhereListingsTellNoIdentities) {
  fs_.listings_tell_identities = false;
  for (int i = 0; i < 40; ++i) {
    fs_.AddFile(Join(root_, u"f" + Text(1, char16_t(u'0' + i / 10)) + char16_t(u'0' + i % 10)), 1);
  }
  list_.ExpandFolder(root_);
  fs_.listed.clear();
  list_.RebuildRows();
  EXPECT_EQ(fs_.inspected, 40);
  std::vector<int> all_but_five(35);
  std::iota(all_but_five.begin(), all_but_five.end(), 0);
  list_.RemoveRows(all_but_five);
  fs_.inspected = 0;

  list_.RebuildRows();
  EXPECT_TRUE(fs_.listed.empty());
  EXPECT_EQ(fs_.inspected, 5);
  EXPECT_EQ(testing::RowPaths(list_).size(), 5u);
}

TEST_F(ItemListExpansion, AFolderGivenWithATrailingSeparatorGetsNoDoubledSeparator) {
  fs_.AddFile(Join(root_, u"a"), 1);

  list_.ExpandFolder(root_ + platform::kPathSeparator);

  list_.RebuildRows();
  EXPECT_EQ(testing::RowPaths(list_), std::vector<Text>{Join(root_, u"a")});
}

// Regression: a name holding a line break broke its row in the window's list.
TEST_F(ItemListExpansion, ANameWithALineBreakKeepsItsRowAndShowsTheBreak) {
  fs_.AddFile(Join(root_, u"two\nlines\r\x1B\x7F.txt"), 1);
  ASSERT_TRUE(list_.AddPath(root_));
  list_.RebuildRows();
  ASSERT_EQ(list_.RowCount(), 2);
  char16_t cell[64];
  ASSERT_TRUE(list_.GetRowText(1, 0, cell, 64));
  EXPECT_EQ(Text(cell), Join(root_, u"two\u240Alines\u240D\u241B\u2421.txt"));
  // The run still gets the name as it is.
  EXPECT_EQ(Text(list_.SnapshotRows()[1].path), Join(root_, u"two\nlines\r\x1B\x7F.txt"));
}

}  // namespace
}  // namespace nulvane::items
