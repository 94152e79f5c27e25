// The item list while a deletion run is active, and its thread ownership.
#include <gtest/gtest.h>

#include <thread>

#include "fake_tree_file_system.h"
#include "item_test_support.h"
#include "items/item_list.h"

namespace nulvane::items {
namespace {

using testing::FakeTreeFileSystem;
using testing::Join;

class ItemListRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::EnsureLanguageTable(); }
  void SetUp() override {
    fs_.AddFolder(folder_);
    fs_.AddFile(Join(folder_, u"queued"), 1);
    fs_.AddFile(Join(folder_, u"late"), 2);
    fs_.AddFolder(Join(folder_, u"late-folder"));
    fs_.AddFile(Join(Join(folder_, u"late-folder"), u"x"), 3);
  }

  const Text folder_ = Join(u"", u"d");
  FakeTreeFileSystem fs_;
  testing::RecordingDisplay display_;
  ItemList list_{fs_, display_};
};

TEST_F(ItemListRun, PathsDroppedDuringARunWaitForItsEndAndLeaveItsSummaryStanding) {
  list_.HandleDroppedFiles({Join(folder_, u"queued")});
  ASSERT_EQ(testing::RowPaths(list_), std::vector<Text>{Join(folder_, u"queued")});

  list_.BeginRun();
  display_ = {};
  list_.HandleDroppedFiles(
      {Join(folder_, u"late"), Join(folder_, u"gone"), Join(folder_, u"late-folder")});

  // Nothing stored, nothing expanded, nothing shown while the run goes on.
  EXPECT_EQ(list_.StoredCount(), 1u);
  EXPECT_EQ(list_.HeldBackCount(), 3u);
  EXPECT_TRUE(fs_.listed.empty());
  EXPECT_TRUE(display_.row_counts.empty());
  EXPECT_TRUE(display_.status_texts.empty());
  EXPECT_TRUE(display_.warnings.empty());
  // The run's own rebuild at its end does not take them in either.
  fs_.Remove(Join(folder_, u"queued"));
  list_.RebuildRows();
  EXPECT_TRUE(testing::RowPaths(list_).empty());

  // What the run wrote into the status text stays: the rows change, the summary does not.
  display_ = {};
  list_.EndRun();
  EXPECT_TRUE(display_.status_texts.empty());
  EXPECT_EQ(display_.warnings, std::vector<Text>{Join(folder_, u"gone") + u": not found"});

  EXPECT_FALSE(list_.RunActive());
  EXPECT_EQ(list_.HeldBackCount(), 0u);
  EXPECT_EQ(testing::RowPaths(list_),
            (std::vector<Text>{Join(folder_, u"late"), Join(folder_, u"late-folder"),
                               Join(Join(folder_, u"late-folder"), u"x")}));
  EXPECT_EQ(display_.row_counts.back(), 3);
}

TEST_F(ItemListRun, EndingARunWithNothingHeldLeavesTheRunsSummaryStanding) {
  list_.HandleDroppedFiles({Join(folder_, u"queued")});
  list_.BeginRun();
  list_.RebuildRows();
  display_ = {};
  list_.EndRun();
  EXPECT_TRUE(display_.row_counts.empty());
  EXPECT_TRUE(display_.status_texts.empty());
}

TEST_F(ItemListRun, TheSnapshotIsTheRowsInRowOrderNotTheStore) {
  list_.HandleDroppedFiles({folder_});
  fs_.Remove(Join(folder_, u"late"));
  // Stored but not rebuilt yet: the snapshot is what the rows show.
  EXPECT_EQ(testing::RowPaths(list_).size(), 5u);
  list_.RebuildRows();
  EXPECT_EQ(testing::RowPaths(list_), (std::vector<Text>{folder_, Join(folder_, u"late-folder"),
                                                         Join(Join(folder_, u"late-folder"), u"x"),
                                                         Join(folder_, u"queued")}));
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST_F(ItemListRun, UseFromAnotherThreadStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        std::thread worker([this] { list_.RebuildRows(); });
        worker.join();
      },
      "does not own it");
}
#endif

TEST_F(ItemListRun, ARunsRowsStayAsTakenWhileTheListChangesAndEmpties) {
  const Text other = Join(Join(u"", u"e"), u"f");
  fs_.AddFolder(Join(u"", u"e"));
  fs_.AddFile(other, 4);
  list_.HandleDroppedFiles({folder_, other});
  const std::vector<platform::QueuedItem> expected = [&] {
    std::vector<platform::QueuedItem> rows;
    for (const platform::QueuedItemView row : list_.SnapshotRows()) rows.push_back(row);
    return rows;
  }();
  ASSERT_EQ(expected.size(), 6u);
  const platform::QueuedItems taken = list_.SnapshotRows();

  // The list's thread goes on: a row stored again with a shorter anchor, rows removed, everything
  // reset and other paths added; the run reads its rows on its own thread meanwhile.
  const auto change_the_list = [&] {
    list_.HandleDroppedFiles({Join(u"", u"e")});
    list_.RemoveRows({0});
    list_.HandleDroppedFiles({folder_});
    list_.ResetList();
    list_.HandleDroppedFiles({Join(folder_, u"late"), other});
  };
  change_the_list();
  std::vector<platform::QueuedItem> read;
  std::thread run([&] {
    for (int round = 0; round < 50; ++round) {
      read.clear();
      for (std::size_t i = taken.size(); i-- > 0;) read.push_back(taken[i]);
    }
  });
  for (int round = 0; round < 20; ++round) change_the_list();
  run.join();

  ASSERT_EQ(read.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const platform::QueuedItem& row = read[expected.size() - 1 - i];
    EXPECT_EQ(row.path, expected[i].path);
    EXPECT_EQ(row.anchor_length, expected[i].anchor_length);
    EXPECT_EQ(row.identity, expected[i].identity);
    EXPECT_TRUE(row.anchor_identity.known);
    EXPECT_EQ(row.anchor_identity, expected[i].anchor_identity);
  }
  // The second added path has an anchor of its own: its row says which.
  EXPECT_EQ(expected.back().path, other);
  EXPECT_NE(expected.back().anchor_identity, expected.front().anchor_identity);
}

}  // namespace
}  // namespace nulvane::items
