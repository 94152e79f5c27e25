// What an overwrite reaches and what it says about the rest, on the in-memory file system:
// files that grow during a pass, the read-back of --verify, the system's reason after the
// fixed-shape error lines, and the line that names an item left under a random name.
#include <gtest/gtest.h>

#include <array>

#include "engine/wipe.h"
#include "engine_test_support.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "support/fake_clock.h"
#include "support/fake_file_system.h"
#include "support/recording_host.h"

namespace nulvane::engine {
namespace {

using platform::Format;
using testing::FakeClock;
using testing::FakeError;
using testing::FakeFileSystem;
using testing::FakePath;
using testing::FsCall;
using testing::FsOp;
using testing::RecordingHost;

class WipeReachTest : public ::testing::Test {
 protected:
  WipeReachTest() { fs_.AddFolder(FakePath(u"w")); }
  void Wipe(const Text& path, int passes) {
    testing::RunOnFreshThread(
        [&] {  // As the list hands it over: with the identity it recorded at its first look.
          const platform::EntryRef listed(path, platform::ParentAnchorLength(path),
                                          fs_.IdentityOf(path));
          WipeItem(tools_, listed, passes, tally_);
        });
  }
  std::vector<Text> Errors() const { return host_.MessagesOfKind(MessageKind::kError); }
  std::vector<Text> Infos() const { return host_.MessagesOfKind(MessageKind::kInfo); }
  Text Reason(std::uint32_t error) const {
    return Format(lang::Txt(lang::TextId::kReason), platform::SystemErrorText(error));
  }

  FakeFileSystem fs_;
  RecordingHost host_;
  FakeClock clock_;
  ProgressDisplay progress_{host_, clock_};
  std::array<unsigned char, 3000> zeros_{};
  WipeTools tools_{fs_, host_, progress_, zeros_};
  RunTally tally_;
  const Text file_ = FakePath(u"w/log.txt");
};

// Regression: bytes another program appended during a pass stayed in the deleted file.
TEST_F(WipeReachTest, WhatAFileGrowsByDuringAPassIsOverwrittenInThatPass) {
  fs_.AddFileOfSize(file_, 5000);
  tally_.total_bytes = 5000 * 2;
  int flushes = 0;
  bool covered_before_rename = false;
  fs_.SetObserver([&](const FsCall& call) {
    // Each pass's first flush finds 3000 new bytes: the growth is only seen afterwards.
    if (call.op == FsOp::kFlush && ++flushes % 2 == 1) fs_.Append(file_, 3000);
    if (call.op == FsOp::kRenameNoReplace && call.path == file_) {
      const auto content = fs_.Content(file_);
      covered_before_rename = content->size() == 11000 && testing::AllZero(*content);
    }
  });
  Wipe(file_, 2);
  EXPECT_TRUE(Errors().empty()) << testing::Narrow(Errors().front());
  EXPECT_TRUE(covered_before_rename);
  EXPECT_TRUE(fs_.Children(FakePath(u"w")).empty());
  // Pass 1: 5000 + 3000; pass 2: 8000 + 3000. The total grows with the file.
  EXPECT_EQ(tally_.written_bytes, 19000u);
  EXPECT_EQ(tally_.total_bytes, 16000u);
}

TEST_F(WipeReachTest, AFileThatKeepsGrowingIsKeptWithAnError) {
  fs_.AddFileOfSize(file_, 5000);
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kFlush) fs_.Append(file_, 100);
  });
  Wipe(file_, 3);
  EXPECT_EQ(Errors(), std::vector<Text>{Format(lang::Txt(lang::TextId::kKeptGrowing), file_)});
  EXPECT_EQ(tally_.error_count, 1);
  EXPECT_TRUE(fs_.Exists(file_));
  EXPECT_EQ(fs_.CountOf(FsOp::kFlush), 1 + kMaxGrowthRounds);
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 0);
  EXPECT_EQ(fs_.OpenHandles(), 0);
}

TEST_F(WipeReachTest, VerifyReadsEveryByteBackOnceAfterTheLastPass) {
  fs_.AddFileOfSize(file_, 5000);
  fs_.SetReadChunk(1024);
  tools_.verify = true;
  Wipe(file_, 3);
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenUncachedReader), 1);
  EXPECT_EQ(fs_.CountOf(FsOp::kReadNext), 6);  // five chunks and the end
  // The read-back comes after the last pass's writes, before the renames.
  const auto calls = fs_.Calls();
  std::size_t reader = 0, last_write = 0, first_rename = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].op == FsOp::kOpenUncachedReader) reader = i;
    if (calls[i].op == FsOp::kWrite) last_write = i;
    if (calls[i].op == FsOp::kRenameNoReplace && first_rename == 0) first_rename = i;
  }
  EXPECT_LT(last_write, reader);
  EXPECT_LT(reader, first_rename);
  EXPECT_TRUE(fs_.Children(FakePath(u"w")).empty());
}

TEST_F(WipeReachTest, VerifyKeepsAFileWhoseReadBackIsNotZero) {
  fs_.AddFileOfSize(file_, 5000);
  fs_.CorruptReadBack(file_, 4321);
  fs_.SetReadChunk(1000);
  tools_.verify = true;
  Wipe(file_, 1);
  EXPECT_EQ(Errors(), std::vector<Text>{Format(lang::Txt(lang::TextId::kNotZero), file_, 4321)});
  EXPECT_EQ(tally_.error_count, 1);
  EXPECT_TRUE(fs_.Exists(file_));
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 0);
  EXPECT_EQ(fs_.CountOf(FsOp::kDeleteFile), 0);
  EXPECT_EQ(fs_.OpenHandles(), 0);
}

TEST_F(WipeReachTest, WithoutVerifyNothingIsReadBack) {
  fs_.AddFileOfSize(file_, 5000);
  fs_.CorruptReadBack(file_, 0);
  Wipe(file_, 1);
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenUncachedReader), 0);
  EXPECT_FALSE(fs_.Exists(file_));
}

TEST_F(WipeReachTest, AReadBackThatFailsKeepsTheFileAndSaysWhy) {
  fs_.AddFileOfSize(file_, 5000);
  fs_.FailAlways(FsOp::kReadNext, FakeError::kIo);
  tools_.verify = true;
  Wipe(file_, 1);
  EXPECT_EQ(Errors(), std::vector<Text>{Format(lang::Txt(lang::TextId::kCannotReadBack), file_,
                                               platform::SystemErrorText(FakeError::kIo))});
  EXPECT_TRUE(fs_.Exists(file_));
}

TEST_F(WipeReachTest, AFileThatCannotBeOpenedKeepsItsBarePathLineAndGetsTheReasonAfterIt) {
  fs_.AddFileOfSize(file_, 100);
  fs_.SetHeldOpen(file_, true);
  Wipe(file_, 1);
  EXPECT_EQ(host_.MessageTexts(), (std::vector<Text>{file_, Reason(FakeError::kInUse)}));
  EXPECT_EQ(Errors(), std::vector<Text>{file_});
  EXPECT_EQ(tally_.error_count, 1);
}

TEST_F(WipeReachTest, AFolderLeftUnderARandomNameIsNamedWithTheReason) {
  const Text folder = FakePath(u"w/Photos");
  fs_.AddFile(FakePath(u"w/Photos/late.jpg"), "late");
  Wipe(folder, 1);
  const auto left = fs_.Children(FakePath(u"w"));
  ASSERT_EQ(left.size(), 1u);
  ASSERT_NE(left[0], folder);
  EXPECT_EQ(host_.MessageTexts(),
            (std::vector<Text>{u"0 <dir>" + folder, Reason(FakeError::kNotEmpty),
                               Format(lang::Txt(lang::TextId::kLeftBehind), folder, left[0])}));
  EXPECT_EQ(tally_.error_count, 1);
}

TEST_F(WipeReachTest, AFileWhoseDeletionFailsIsNamedWhereItNowStands) {
  fs_.AddFileOfSize(file_, 100);
  fs_.FailAlways(FsOp::kDeleteFile, FakeError::kAccessDenied);
  Wipe(file_, 1);
  const auto left = fs_.Children(FakePath(u"w"));
  ASSERT_EQ(left.size(), 1u);
  ASSERT_NE(left[0], file_);
  EXPECT_EQ(Infos(),
            std::vector<Text>{Format(lang::Txt(lang::TextId::kLeftBehind), file_, left[0])});
  EXPECT_EQ(tally_.error_count, 1);
}

TEST_F(WipeReachTest, AnItemWhoseRenamesAllFailedGetsNoWhereaboutsLine) {
  fs_.AddFileOfSize(file_, 100);
  fs_.FailAlways(FsOp::kRenameNoReplace, FakeError::kAccessDenied);
  fs_.FailAlways(FsOp::kDeleteFile, FakeError::kAccessDenied);
  Wipe(file_, 1);
  EXPECT_TRUE(Infos().empty());
  EXPECT_EQ(Errors().size(), 1u);
}

TEST_F(WipeReachTest, StoredElsewhereWarnsOnceAndStillDestroys) {
  fs_.AddFileOfSize(file_, 100);
  fs_.SetStoredElsewhere(file_, true);
  Wipe(file_, 3);
  EXPECT_EQ(host_.MessagesOfKind(MessageKind::kWarning),
            std::vector<Text>{Format(lang::Txt(lang::TextId::kStoredElsewhere), file_)});
  EXPECT_FALSE(fs_.Exists(file_));
}

}  // namespace
}  // namespace nulvane::engine
