// Taking rows out of the item list: what goes with a row, what stays, and what the status text
// then counts.
#include <gtest/gtest.h>

#include "fake_tree_file_system.h"
#include "item_test_support.h"
#include "items/item_list.h"
#include "lang/number_text.h"

namespace nulvane::items {
namespace {

using testing::FakeTreeFileSystem;
using testing::Join;

class ItemRemoval : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::EnsureLanguageTable(); }
  void SetUp() override {
    // top/ { a, sub/ { b, c }, subling/ { d } }, and a file beside top.
    fs_.AddFolder(top_);
    fs_.AddFile(Join(top_, u"a"), 1);
    fs_.AddFolder(sub_);
    fs_.AddFile(Join(sub_, u"b"), 10);
    fs_.AddFile(Join(sub_, u"c"), 100);
    // Sorts right after "sub" and shares its first letters: not inside it.
    fs_.AddFolder(Join(top_, u"subling"));
    fs_.AddFile(Join(Join(top_, u"subling"), u"d"), 1000);
    fs_.AddFile(beside_, 5);
    list_.HandleDroppedFiles({top_, beside_});
  }

  int RowOf(const Text& path) const {
    const std::vector<Text> rows = testing::RowPaths(list_);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i] == testing::Key(path)) return static_cast<int>(i);
    }
    return -1;
  }

  const Text top_ = Join(u"", u"top");
  const Text sub_ = Join(top_, u"sub");
  const Text beside_ = Join(u"", u"beside");
  FakeTreeFileSystem fs_;
  testing::RecordingDisplay display_;
  ItemList list_{fs_, display_};
};

TEST_F(ItemRemoval, AFolderRowTakesItsContentsButNotANeighbourWithTheSameStart) {
  ASSERT_EQ(list_.RowCount(), 8);
  // sub, b, c, and top: the folder above can no longer be destroyed whole.
  EXPECT_EQ(list_.RemoveRows({RowOf(sub_)}), 4u);
  EXPECT_EQ(testing::RowPaths(list_),
            (std::vector<Text>{testing::Key(beside_), testing::Key(Join(top_, u"a")),
                               testing::Key(Join(top_, u"subling")),
                               testing::Key(Join(Join(top_, u"subling"), u"d"))}));
}

TEST_F(ItemRemoval, ARowInsideAQueuedFolderTakesTheFoldersAboveItAndLeavesItsSiblings) {
  EXPECT_EQ(list_.RemoveRows({RowOf(Join(sub_, u"b"))}), 3u);
  EXPECT_EQ(testing::RowPaths(list_),
            (std::vector<Text>{testing::Key(beside_), testing::Key(Join(top_, u"a")),
                               testing::Key(Join(sub_, u"c")), testing::Key(Join(top_, u"subling")),
                               testing::Key(Join(Join(top_, u"subling"), u"d"))}));
  // The count and the total follow: 5 + 1 + 100 + 1000 bytes in five rows.
  ASSERT_FALSE(display_.status_texts.empty());
  EXPECT_EQ(display_.status_texts.back(), u"Items:5 // Total: " + lang::FormatByteSize(1106));
  // Nothing on the disk changed, and a later drop of the folder lists it whole again.
  list_.HandleDroppedFiles({top_});
  EXPECT_EQ(list_.RowCount(), 8);
}

TEST_F(ItemRemoval, SeveralRowsAtOnceAndRowsOutOfRangeAreFine) {
  EXPECT_EQ(list_.RemoveRows({RowOf(beside_), RowOf(Join(top_, u"subling")), 99, -1}), 4u);
  EXPECT_EQ(testing::RowPaths(list_),
            (std::vector<Text>{testing::Key(Join(top_, u"a")), testing::Key(sub_),
                               testing::Key(Join(sub_, u"b")), testing::Key(Join(sub_, u"c"))}));
  EXPECT_EQ(list_.RemoveRows({}), 0u);
}

TEST_F(ItemRemoval, NothingIsRemovedWhileARunOwnsTheRows) {
  list_.BeginRun();
  EXPECT_EQ(list_.RemoveRows({0, 1, 2}), 0u);
  EXPECT_EQ(list_.RowCount(), 8);
  list_.EndRun();
}

}  // namespace
}  // namespace nulvane::items
