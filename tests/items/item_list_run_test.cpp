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

}  // namespace
}  // namespace nulvane::items
