// The item list on real folders in the test's own temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "item_test_support.h"
#include "items/item_list.h"
#include "lang/number_text.h"
#include "platform/file_system.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#endif

namespace nulvane::items {
namespace {

using testing::Join;
using testing::Key;

class ItemListOnDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::EnsureLanguageTable(); }
  void SetUp() override { ItemList::ResetListingCounterForTests(); }

  Text Folder(TextView relative) {
    const Text path = Join(temp_.path(), relative);
    EXPECT_TRUE(testing::MakeFolder(path)) << platform::TextToUtf8(path);
    return path;
  }
  Text File(TextView relative, const std::string& bytes = "data") {
    const Text path = Join(temp_.path(), relative);
    EXPECT_TRUE(testing::MakeFile(path, bytes)) << platform::TextToUtf8(path);
    return path;
  }
  static Text Sep(TextView a, TextView b) { return Join(a, b); }

  bool Stored(TextView path) { return list_.RecordedSize(path).has_value(); }

  nulvane::testing::TempFolder temp_;
  testing::RecordingDisplay display_;
  ItemList list_{platform::SystemFileSystem(), display_};
};

TEST_F(ItemListOnDisk, FolderContentsFollowTheFolderAndSiblingsMayStandBetween) {
  const Text f = Folder(u"f");
  File(Sep(u"f", u"a.txt"));
  Folder(Sep(u"f", u"sub"));
  File(Join(Sep(u"f", u"sub"), u"b.txt"));
  const Text fx = Folder(u"f-x");

  EXPECT_TRUE(list_.AddPath(f));
  EXPECT_TRUE(list_.AddPath(fx));
  list_.RebuildRows();

  EXPECT_EQ(testing::RowPaths(list_),
            (std::vector<Text>{Key(f), Key(fx), Key(Join(f, u"a.txt")), Key(Join(f, u"sub")),
                               Key(Join(Join(f, u"sub"), u"b.txt"))}));
  EXPECT_EQ(list_.RowCount(), 5);
}

TEST_F(ItemListOnDisk, ExpandedFilesShowTheirSizesAndTheTotalAfterTheRebuild) {
  const Text d = Folder(u"d");
  File(Sep(u"d", u"one"), std::string(1500, 'x'));
  File(Sep(u"d", u"two"), std::string(3000, 'y'));
  ASSERT_TRUE(list_.AddPath(d));
  list_.RebuildRows();
  ASSERT_EQ(list_.RowCount(), 3);
  char16_t cell[32];
  ASSERT_TRUE(list_.GetRowText(1, 1, cell, 32));
  EXPECT_EQ(Text(cell), lang::FormatByteSize(1500));
  ASSERT_TRUE(list_.GetRowText(2, 1, cell, 32));
  EXPECT_EQ(Text(cell), lang::FormatByteSize(3000));
  EXPECT_EQ(display_.status_texts.back(), u"Items:3 // Total: " + lang::FormatByteSize(4500));
  // Recorded at the rebuild: a file that grows afterwards still shows what was queued.
  ASSERT_TRUE(nulvane::testing::WriteTestFile(Join(temp_.path(), Sep(u"d", u"one")),
                                              std::string(9000, 'x')));
  ASSERT_TRUE(list_.GetRowText(1, 1, cell, 32));
  EXPECT_EQ(Text(cell), lang::FormatByteSize(1500));
}

TEST_F(ItemListOnDisk, DotEntriesAreNeverStoredButNamesStartingWithADotAre) {
  const Text d = Folder(u"d");
  File(Sep(u"d", u".hidden"));
  File(Sep(u"d", u"..twice"));
  Folder(Sep(u"d", u".config"));

  list_.ExpandFolder(d);

  EXPECT_EQ(list_.StoredCount(), 3u);
  EXPECT_TRUE(Stored(Join(d, u".hidden")));
  EXPECT_TRUE(Stored(Join(d, u"..twice")));
  EXPECT_TRUE(Stored(Join(d, u".config")));
  EXPECT_FALSE(Stored(Join(d, u".")));
  EXPECT_FALSE(Stored(Join(d, u"..")));
  EXPECT_FALSE(Stored(d));  // the folder itself is AddPath's to store
}

TEST_F(ItemListOnDisk, HiddenSystemAndReadOnlyEntriesAreStoredAndWalked) {
  const Text d = Folder(u"d");
  const Text read_only = File(Sep(u"d", u"read-only.txt"), "12345");
  const Text locked = Folder(Sep(u"d", u"locked"));
  const Text inner = File(Join(Sep(u"d", u"locked"), u"inner.txt"), "123");
  namespace fs = std::filesystem;
  fs::permissions(fs::path(read_only), fs::perms::owner_read | fs::perms::group_read);
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesW(platform::Wide(locked), FILE_ATTRIBUTE_HIDDEN |
                                                             FILE_ATTRIBUTE_SYSTEM |
                                                             FILE_ATTRIBUTE_READONLY));
#else
  // Read and search only: listing works, nothing inside could be created or removed.
  fs::permissions(fs::path(locked), fs::perms::owner_read | fs::perms::owner_exec);
#endif

  list_.ExpandFolder(d);

  EXPECT_EQ(list_.RecordedSize(read_only), 5u);
  EXPECT_TRUE(Stored(locked));
  EXPECT_EQ(list_.RecordedSize(inner), 3u);

  fs::permissions(fs::path(read_only), fs::perms::owner_all);
#ifdef _WIN32
  SetFileAttributesW(platform::Wide(locked), FILE_ATTRIBUTE_NORMAL);
#else
  fs::permissions(fs::path(locked), fs::perms::owner_all);
#endif
}

TEST_F(ItemListOnDisk, RebuildLeavesOutVanishedPathsAndTotalsOnlyTheRows) {
  std::vector<Text> files;
  const std::pair<TextView, std::size_t> specimens[] = {
      {u"a", 1}, {u"b", 10}, {u"c", 100}, {u"d", 1000}, {u"e", 10000}};
  for (const auto& [name, size] : specimens) {
    files.push_back(File(name, std::string(size, 'x')));
    list_.AddPath(files.back());
  }
  list_.RebuildRows();
  ASSERT_EQ(list_.RowCount(), 5);

  ASSERT_TRUE(testing::RemoveEntry(files[2]));
  display_.row_counts.clear();
  list_.RebuildRows();

  EXPECT_EQ(testing::RowPaths(list_),
            (std::vector<Text>{Key(files[0]), Key(files[1]), Key(files[3]), Key(files[4])}));
  // The view hears "no rows" before the index changes and the new count once it is complete.
  EXPECT_EQ(display_.row_counts, (std::vector<int>{0, 4}));
  EXPECT_EQ(display_.status_texts.back(),
            u"Items:4 // Total: " + lang::FormatByteSize(1 + 10 + 1000 + 10000));
  // The vanished path stays stored (until the list is reset) and comes back as a row if it
  // reappears.
  EXPECT_EQ(list_.StoredCount(), 5u);
  File(u"c", "x");
  list_.RebuildRows();
  EXPECT_EQ(list_.RowCount(), 5);
}

TEST_F(ItemListOnDisk, RowTextsAreCutToTheCallersRoomAndOutOfRangeWritesNothing) {
  const Text d = Folder(u"d");
  const Text file = File(Sep(u"d", u"file.bin"), std::string(1536, 'x'));
  list_.AddPath(d);
  list_.RebuildRows();
  ASSERT_EQ(list_.RowCount(), 2);

  char16_t buffer[600];
  ASSERT_TRUE(list_.GetRowText(0, 0, buffer, 600));
  EXPECT_EQ(Text(buffer), Key(d));
  ASSERT_TRUE(list_.GetRowText(0, 1, buffer, 600));
  EXPECT_EQ(Text(buffer), kFolderSizeText);
  ASSERT_TRUE(list_.GetRowText(1, 1, buffer, 600));
  EXPECT_EQ(Text(buffer), lang::FormatByteSize(1536));

  // Cut: capacity 5 holds 4 units and the terminator; the unit after it is not touched.
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  ASSERT_TRUE(list_.GetRowText(1, 0, buffer, 5));
  EXPECT_EQ(Text(buffer, 5), Key(file).substr(0, 4) + u'\0');
  EXPECT_EQ(buffer[5], u'#');

  std::fill(std::begin(buffer), std::end(buffer), u'#');
  for (const int row : {-1, 2, 1000}) {
    EXPECT_FALSE(list_.GetRowText(row, 0, buffer, 600)) << row;
    EXPECT_FALSE(list_.GetRowText(row, 1, buffer, 600)) << row;
  }
  EXPECT_FALSE(list_.GetRowText(0, 2, buffer, 600));
  EXPECT_FALSE(list_.GetRowText(0, 0, buffer, 0));
  EXPECT_TRUE(
      std::all_of(std::begin(buffer), std::end(buffer), [](char16_t c) { return c == u'#'; }));
}

TEST_F(ItemListOnDisk, AVanishedRowShowsItsRecordedSizeNotAFolderMark) {
  const Text file = File(u"gone.bin", std::string(999, 'x'));
  list_.AddPath(file);
  list_.RebuildRows();
  ASSERT_TRUE(testing::RemoveEntry(file));
  char16_t buffer[64];
  ASSERT_TRUE(list_.GetRowText(0, 1, buffer, 64));
  EXPECT_EQ(Text(buffer), lang::FormatByteSize(999));
}

TEST_F(ItemListOnDisk, ResetEmptiesTheViewKeepsTheStatusAndTheNextDropStartsANewList) {
  const Text d = Folder(u"d");
  File(Sep(u"d", u"x"));
  list_.HandleDroppedFiles({d});
  ASSERT_EQ(list_.RowCount(), 2);
  const auto statuses = display_.status_texts;
  const int counter = ItemList::ListingCounter();

  list_.ResetList();

  EXPECT_EQ(list_.RowCount(), 0);
  EXPECT_EQ(list_.StoredCount(), 0u);
  EXPECT_EQ(display_.row_counts.back(), 0);
  EXPECT_EQ(display_.status_texts, statuses);
  EXPECT_EQ(ItemList::ListingCounter(), counter);

  const Text other = File(u"other");
  list_.HandleDroppedFiles({other});
  EXPECT_EQ(testing::RowPaths(list_), std::vector<Text>{Key(other)});
}

TEST_F(ItemListOnDisk, The22ndListingShowsTheCountAndTheCounterOutlivesOneExpansion) {
  const Text first = Folder(u"first");
  for (int i = 0; i < 21; ++i) Folder(Sep(u"first", platform::Utf8ToText("s" + std::to_string(i))));
  const Text second = Folder(u"second");
  for (int i = 0; i < 20; ++i) {
    Folder(Sep(u"second", platform::Utf8ToText("s" + std::to_string(i))));
  }

  // 22 listings: the folder and its 21 subfolders. The text shows at the 22nd, when the 21
  // subfolders are stored.
  list_.ExpandFolder(first);
  EXPECT_EQ(display_.status_texts, std::vector<Text>{u"Items:21"});
  EXPECT_EQ(ItemList::ListingCounter(), 1);

  list_.ResetList();  // does not reset the counter
  EXPECT_EQ(ItemList::ListingCounter(), 1);

  // 21 listings more: the counter, not restarted, reaches the text again at the last one.
  list_.ExpandFolder(second);
  EXPECT_EQ(display_.status_texts, (std::vector<Text>{u"Items:21", u"Items:20"}));
}

TEST_F(ItemListOnDisk, ALinkToAFolderOutsideIsQueuedAsTheLinkOnly) {
  const Text outside = Folder(u"outside");
  const Text secret = File(Sep(u"outside", u"keep-me.txt"));
  const Text dropped = Folder(u"dropped");
  const Text own = File(Sep(u"dropped", u"own.txt"));
  const Text link = Join(dropped, u"link");
  if (!testing::MakeFolderLink(outside, link)) GTEST_SKIP() << "no folder links here";
  const Text direct_link = Join(temp_.path(), u"direct-link");
  ASSERT_TRUE(testing::MakeFolderLink(outside, direct_link));

  list_.HandleDroppedFiles({dropped, direct_link});

  EXPECT_TRUE(Stored(own));
  EXPECT_TRUE(Stored(link));
  EXPECT_TRUE(Stored(direct_link));
  EXPECT_FALSE(Stored(Join(link, u"keep-me.txt")));
  EXPECT_FALSE(Stored(Join(direct_link, u"keep-me.txt")));
  EXPECT_FALSE(Stored(secret));
  EXPECT_EQ(list_.StoredCount(), 4u);  // dropped, own.txt, link, direct-link

  // The links go before the folder is cleared away: the clean-up must not walk through them.
  EXPECT_TRUE(testing::RemoveEntry(link));
  EXPECT_TRUE(testing::RemoveEntry(direct_link));
  EXPECT_TRUE(nulvane::testing::PathExists(secret));
}

TEST_F(ItemListOnDisk, PathsLongerThanAnyFixedBufferAreStoredWhole) {
  // Six levels of 100-character names: the deepest file's path passes 600 characters.
  Text relative;
  Text top;
  for (int level = 0; level < 6; ++level) {
    const Text name = platform::Utf8ToText(std::to_string(level)) + Text(99, u'n');
    relative = relative.empty() ? name : Join(relative, name);
    const Text folder = Folder(relative);
    if (level == 0) top = folder;
  }
  const Text deepest = File(Join(relative, u"last.txt"), "1234567");
  ASSERT_GT(deepest.size(), 600u);

  ASSERT_TRUE(list_.AddPath(top));
  list_.RebuildRows();

  EXPECT_EQ(list_.RecordedSize(deepest), 7u);
  EXPECT_EQ(list_.StoredCount(), 7u);
  const std::vector<Text> rows = testing::RowPaths(list_);
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows.back(), Key(deepest));

  // Remove bottom-up: the tree is longer than some tools handle. The folders the expansion
  // kept open would otherwise stay behind, pending deletion, until closed (Windows).
  platform::SystemFileSystem().ForgetOpenFolders();
  EXPECT_TRUE(testing::RemoveEntry(deepest));
  for (Text folder = relative; !folder.empty();) {
    EXPECT_TRUE(testing::RemoveEntry(Join(temp_.path(), folder)));
    const std::size_t cut = folder.rfind(platform::kPathSeparator);
    folder = cut == Text::npos ? Text() : folder.substr(0, cut);
  }
}

TEST_F(ItemListOnDisk, PathsWithoutAnEntryOfTheirOwnAddNothing) {
  const Text d = Folder(u"d");
  File(Sep(u"d", u"x"));
  EXPECT_FALSE(list_.AddPath(Join(temp_.path(), u"missing")));
  EXPECT_FALSE(list_.AddPath(u""));
#ifdef _WIN32
  EXPECT_FALSE(list_.AddPath(d.substr(0, 3)));  // the drive root, "C:\"
#else
  EXPECT_FALSE(list_.AddPath(u"/"));
#endif
  EXPECT_EQ(list_.StoredCount(), 0u);
  EXPECT_EQ(ItemList::ListingCounter(), 0);

  // The folder comes with its tree, however it is written: a trailing separator (as tab
  // completion types it), "./", doubled separators all name the one item.
  EXPECT_TRUE(list_.AddPath(d + platform::kPathSeparator));
  EXPECT_EQ(list_.StoredCount(), 2u);
  EXPECT_TRUE(list_.AddPath(d));
  const Text dotted = Join(Join(temp_.path(), u"."), u"d");
  EXPECT_TRUE(list_.AddPath(dotted + platform::kPathSeparator + platform::kPathSeparator));
  EXPECT_EQ(list_.StoredCount(), 2u);
  list_.RebuildRows();
  EXPECT_EQ(testing::RowPaths(list_), (std::vector<Text>{Key(d), Key(Join(d, u"x"))}));
}

TEST_F(ItemListOnDisk, DotAndDotDotAreStoredButNeverExpanded) {
  EXPECT_TRUE(list_.AddPath(u"."));
  EXPECT_TRUE(list_.AddPath(u".."));
  EXPECT_EQ(list_.StoredCount(), 2u);
  EXPECT_EQ(ItemList::ListingCounter(), 0);
}

#ifdef _WIN32
TEST_F(ItemListOnDisk, AWildcardPathIsStoredUnderItsOwnTextButGetsNoRow) {
  const Text d = Folder(u"d");
  File(Sep(u"d", u"one.txt"), "123");
  const Text pattern = Join(d, u"*.txt");
  ASSERT_TRUE(list_.AddPath(pattern));
  list_.RebuildRows();
  EXPECT_EQ(list_.RecordedSize(pattern), 3u);
  EXPECT_EQ(list_.RowCount(), 0);
}
#else
TEST_F(ItemListOnDisk, NamesDifferingOnlyInCaseAreDifferentItems) {
  const Text upper = File(u"Data.TXT", "12");
  const Text lower = File(u"data.txt", "12345");
  list_.HandleDroppedFiles({upper, lower});
  EXPECT_EQ(testing::RowPaths(list_), (std::vector<Text>{upper, lower}));
  EXPECT_EQ(list_.RecordedSize(upper), 2u);
  EXPECT_EQ(list_.RecordedSize(lower), 5u);
}
#endif

}  // namespace
}  // namespace nulvane::items
