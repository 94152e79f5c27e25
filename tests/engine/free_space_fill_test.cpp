// The free-space fill on the in-memory file system: block sizes, disk full, stop requests,
// clean-up after every kind of failure, and a fault injected into every call in turn.
#include "engine/free_space_fill.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "engine/run_session.h"
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
using CallKind = testing::RecordingHost::CallKind;

TEST(FillBlockSize, IsTheLargestSectorMultipleNotAbove64000) {
  EXPECT_EQ(FillBlockSize(512), 64000u);
  EXPECT_EQ(FillBlockSize(4096), 61440u);
  EXPECT_EQ(FillBlockSize(520), 63960u);
  EXPECT_EQ(FillBlockSize(0), 64000u);
  EXPECT_EQ(FillBlockSize(65536), 65536u);
}

TEST(FillFolderPath, LiesInsideTheChosenFolderNamedAfterTheProgramAndTheTick) {
#ifdef _WIN32
  EXPECT_EQ(FillFolderPath(u"D:\\Data", 0x0A1B2C3D), u"D:\\Data\\Nulvane0A1B2C3D");
  EXPECT_EQ(FillFolderPath(u"D:\\", 0x0A1B2C3D), u"D:\\Nulvane0A1B2C3D");
  // A network path keeps its leading pair of backslashes.
  EXPECT_EQ(FillFolderPath(u"\\\\server\\share\\dir\\", 255),
            u"\\\\server\\share\\dir\\Nulvane000000FF");
#else
  EXPECT_EQ(FillFolderPath(u"/mnt/data", 0x0A1B2C3D), u"/mnt/data/Nulvane0A1B2C3D");
  EXPECT_EQ(FillFolderPath(u"/", 0x0A1B2C3D), u"/Nulvane0A1B2C3D");
#endif
}

class FillTest : public ::testing::Test {
 protected:
  FillTest() { fs_.AddFolder(chosen_); }
  FillResult Fill() {
    FillResult result;
    testing::RunOnFreshThread([&] {
      RunContext context(host_, fs_, clock_, flags_);
      context.fill_folder = folder_to_fill_;
      result = RunFreeSpaceFill(context);
    });
    return result;
  }
  Text FillFolder() const { return FillFolderPath(chosen_, 1000); }
  std::vector<std::size_t> WriteSizes() const {
    std::vector<std::size_t> sizes;
    for (const FsCall& call : fs_.CallsOf(FsOp::kWrite)) sizes.push_back(call.size);
    return sizes;
  }
  std::vector<Text> Errors() const { return host_.MessagesOfKind(MessageKind::kError); }
  // Neither the fill folder nor anything in it is left.
  void ExpectCleanedUp() const {
    EXPECT_TRUE(fs_.Children(chosen_).empty());
    EXPECT_EQ(fs_.OpenHandles(), 0);
  }

  const Text chosen_ = FakePath(u"vol/Data");
  // The folder the fill is started on (chosen before its worker starts).
  Text folder_to_fill_ = chosen_;
  FakeFileSystem fs_;
  RecordingHost host_;
  FakeClock clock_{1000};
  RunFlags flags_;
};

TEST_F(FillTest, FillsTheVolumeToItsEndThenRemovesFileAndFolder) {
  fs_.SetCapacity(300000);
  bool full_before_delete = false;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kDeleteFile) {
      full_before_delete = fs_.UsedBytes() == 300000 && testing::AllZero(*fs_.Content(call.path));
    }
  });
  const FillResult result = Fill();

  ASSERT_TRUE(result.chosen);
  EXPECT_TRUE(full_before_delete);
  const Text prefix = FillFolder() + platform::kPathSeparator + u"tmp_ttt_";
  // The file's name: the prefix, fifteen random characters "0" to "6" and ".xxx".
  const std::vector<FsCall> created = fs_.CallsOf(FsOp::kCreateNewFile);
  ASSERT_FALSE(created.empty());
  const Text file = created[0].path;
  ASSERT_EQ(file.size(), prefix.size() + 15 + 4) << testing::Narrow(file);
  EXPECT_EQ(file.substr(0, prefix.size()), prefix);
  EXPECT_EQ(file.substr(prefix.size() + 15), u".xxx");
  for (std::size_t i = prefix.size(); i < prefix.size() + 15; ++i)
    EXPECT_TRUE(file[i] >= u'0' && file[i] <= u'6') << testing::Narrow(file);
  EXPECT_EQ(host_.MessageTexts(),
            (std::vector<Text>{u"300000 Byte", u"File:" + file, u"100.00 %", u"Ready"}));
  EXPECT_EQ(result.state.written_bytes, 300000u);
  // The end is where the volume refused a one-sector write, not where the target said.
  EXPECT_TRUE(result.state.volume_full);
  EXPECT_EQ(fs_.CallsOf(FsOp::kCreateFolder).at(0).path, FillFolder());
  EXPECT_EQ(fs_.CountOf(FsOp::kFlush), 1);
  EXPECT_EQ(host_.LastTitle(), u"Nulvane 4.21");
  EXPECT_EQ(host_.LastProgress(), lang::Txt(lang::TextId::kInstructions));
  EXPECT_EQ(flags_.fill_running.load(), 0);
  EXPECT_EQ(flags_.stop.load(), 1);
  // Commands go off only after the folder was chosen, and on again at the end.
  const auto toggles = host_.CallsOf(CallKind::kSetCommandsEnabled);
  ASSERT_EQ(toggles.size(), 2u);
  EXPECT_EQ(toggles[0].number, 0);
  EXPECT_EQ(toggles[1].number, 1);
  ExpectCleanedUp();
}

// Regression: as root, ext4's reserved blocks lay beyond the free space reported to users,
// and the fill stopped at the reported figure, leaving deleted data in them.
TEST_F(FillTest, WritesPastATargetThatIsTooLowUpToTheRealEnd) {
  fs_.SetCapacity(2000000);
  fs_.ReportFreeBytes(1000000);
  bool full_before_delete = false;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kDeleteFile) full_before_delete = fs_.UsedBytes() == 2000000;
  });
  const FillResult result = Fill();
  EXPECT_TRUE(full_before_delete);
  EXPECT_TRUE(result.state.volume_full);
  EXPECT_EQ(result.state.error_count, 0);
  EXPECT_EQ(result.state.written_bytes, 2000000u);
  EXPECT_EQ(host_.MessageTexts()[2], u"200.00 %");
  ExpectCleanedUp();
}

TEST_F(FillTest, DiskFullHalvesTheBlockDownToOneSectorThenCountsAsFull) {
  fs_.SetCapacity(100000);
  fs_.ReportFreeBytes(1000000);  // the measurement promised more than there is
  const FillResult result = Fill();
  EXPECT_TRUE(result.state.volume_full);
  EXPECT_EQ(result.state.error_count, 0);
  // Failed writes count nothing.
  EXPECT_EQ(result.state.written_bytes, 100000u);
  EXPECT_EQ(host_.MessageTexts()[2], u"10.00 %");
  // The first file's writes; a fresh file then finds no sector either and ends the fill.
  const Text first = fs_.CallsOf(FsOp::kCreateNewFile).at(0).path;
  std::vector<std::size_t> sizes;
  for (const FsCall& call : fs_.CallsOf(FsOp::kWrite))
    if (call.path == first) sizes.push_back(call.size);
  EXPECT_EQ(fs_.CountOf(FsOp::kCreateNewFile), 2);
  ASSERT_GE(sizes.size(), 4u);
  EXPECT_EQ(sizes[0], 64000u);
  EXPECT_EQ(sizes[1], 64000u);  // took 36000, a short write
  EXPECT_EQ(sizes[2], 64000u);  // the first to find no space
  for (std::size_t i = 3; i < sizes.size(); ++i) {
    EXPECT_LT(sizes[i], sizes[i - 1]);
    EXPECT_EQ(sizes[i] % 512, 0u);
  }
  EXPECT_EQ(sizes.back(), 512u);
  ExpectCleanedUp();
}

TEST_F(FillTest, WritesSuitUnbufferedRulesOnLargeSectors) {
  fs_.SetSectorSize(4096);
  fs_.RequireSectorAlignedWrites(true);
  fs_.SetCapacity(200000);
  fs_.ReportFreeBytes(1000000);
  const FillResult result = Fill();
  EXPECT_TRUE(fs_.LastCreatedUnbuffered()) << "the fill bypasses the system's cache";
  EXPECT_EQ(result.state.error_count, 0);
  EXPECT_TRUE(result.state.volume_full);
  for (std::size_t size : WriteSizes()) EXPECT_EQ(size % 4096, 0u);
  EXPECT_EQ(WriteSizes().front(), 61440u);
  EXPECT_EQ(result.state.written_bytes, 200000u);
  ExpectCleanedUp();
}

TEST_F(FillTest, UnreadableFreeSpaceGivesAnErrorLineAndNoFill) {
  fs_.FailAlways(FsOp::kGetVolumeSpace, FakeError::kIo);
  const FillResult result = Fill();
  EXPECT_EQ(Errors(),
            std::vector<Text>{Format(lang::Txt(lang::TextId::kFreeSpaceUnreadable), FillFolder())});
  EXPECT_EQ(fs_.CountOf(FsOp::kCreateNewFile), 0);
  EXPECT_EQ(host_.MessageTexts().back(), u"Ready");
  EXPECT_EQ(host_.MessageTexts().size(), 2u);  // no free-space line, no percentage
  EXPECT_EQ(result.state.error_count, 1);
  ExpectCleanedUp();
}

TEST_F(FillTest, NoFreeSpaceReportsZeroPercentWithoutAFile) {
  for (const std::uint64_t free_bytes : {0ULL, 1023ULL}) {
    FakeFileSystem fs;
    fs.AddFolder(chosen_);
    fs.ReportFreeBytes(free_bytes);
    RecordingHost host;
    testing::RunOnFreshThread([&] {
      RunContext context(host, fs, clock_, flags_);
      context.fill_folder = chosen_;
      RunFreeSpaceFill(context);
    });
    EXPECT_EQ(host.MessageTexts(),
              (std::vector<Text>{Format(u"%I64u Byte", free_bytes), u"0.00 %", u"Ready"}));
    EXPECT_EQ(fs.CountOf(FsOp::kCreateNewFile), 0);
    EXPECT_TRUE(fs.Children(chosen_).empty());
  }
}

TEST_F(FillTest, EightFailedCreationsGiveTheErrorFileLine) {
  fs_.FailAlways(FsOp::kCreateNewFile, FakeError::kAccessDenied);
  const FillResult result = Fill();
  const auto creations = fs_.CallsOf(FsOp::kCreateNewFile);
  ASSERT_EQ(creations.size(), 8u);
  EXPECT_NE(creations[0].path, creations[1].path);
  EXPECT_EQ(Errors(), std::vector<Text>{u"Error-File:" + creations.back().path});
  EXPECT_EQ(result.state.error_count, 1);
  ExpectCleanedUp();
}

TEST_F(FillTest, StopRequestEndsTheFillAndCleansUp) {
  fs_.SetCapacity(10000000);
  flags_.after_run.store(AfterRun::kEndProgram);
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kWrite && fs_.CountOf(FsOp::kWrite) == 3) flags_.stop.store(1);
  });
  const FillResult result = Fill();
  EXPECT_TRUE(result.state.stopped);
  // The request under way (16 blocks) completes; no further request is made.
  EXPECT_EQ(fs_.CountOf(FsOp::kWrite), static_cast<int>(kFillBlocksPerRequest));
  const auto messages = host_.MessageTexts();
  EXPECT_NE(
      std::find(messages.begin(), messages.end(), Text(lang::Txt(lang::TextId::kFillStopped))),
      messages.end());
  const auto ends = host_.CallsOf(CallKind::kRunEnded);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].number, static_cast<int>(AfterRun::kNone)) << "a stopped fill ends nothing";
  ExpectCleanedUp();
}

TEST_F(FillTest, ClearingTheRunningFlagStopsTheFillToo) {
  fs_.SetCapacity(10000000);
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kWrite) flags_.fill_running.store(0);
  });
  const FillResult result = Fill();
  EXPECT_TRUE(result.state.stopped);
  EXPECT_EQ(fs_.CountOf(FsOp::kWrite), static_cast<int>(kFillBlocksPerRequest));
  ExpectCleanedUp();
}

TEST_F(FillTest, FailedWriteIsReportedAndCleanedUp) {
  fs_.SetCapacity(1000000);
  fs_.FailNth(FsOp::kWrite, 2, FakeError::kIo);
  const FillResult result = Fill();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(result.state.written_bytes, 64000u);
  EXPECT_EQ(fs_.CountOf(FsOp::kWrite), 2);
  ExpectCleanedUp();
}

TEST_F(FillTest, CleanUpIsRetriedWhenSomethingHoldsTheFileForAMoment) {
  fs_.SetCapacity(100000);
  fs_.FailNth(FsOp::kDeleteFile, 1, FakeError::kInUse);
  fs_.FailNth(FsOp::kRemoveFolder, 1, FakeError::kInUse);
  const FillResult result = Fill();
  EXPECT_EQ(result.state.error_count, 0);
  EXPECT_EQ(clock_.Sleeps(), 2);
  ExpectCleanedUp();
}

TEST_F(FillTest, WithoutAFolderNothingHappensAndNothingIsSaid) {
  folder_to_fill_.clear();
  const FillResult result = Fill();
  EXPECT_FALSE(result.chosen);
  EXPECT_EQ(fs_.CallCount(), 0);
  EXPECT_TRUE(host_.Calls().empty());
}

TEST_F(FillTest, FolderThatCannotBeCreatedIsReportedAndNothingIsWritten) {
  fs_.FailAlways(FsOp::kCreateFolder, FakeError::kAccessDenied);
  const FillResult result = Fill();
  EXPECT_EQ(Errors(), std::vector<Text>{FillFolder() + u": " +
                                        platform::SystemErrorText(FakeError::kAccessDenied)});
  EXPECT_EQ(fs_.CountOf(FsOp::kCreateNewFile), 0);
  EXPECT_TRUE(host_.CommandsEnabled());
  EXPECT_EQ(result.state.error_count, 1);
}

TEST_F(FillTest, TheFolderIsChosenOnTheStartingThreadAndTheFillWorksThereOnItsWorker) {
  fs_.SetCapacity(200000);
  RunSession session(fs_, clock_);
  std::thread::id chosen_on;
  std::thread::id worker_id;
  FillResult result;
  RunRequest request;
  request.kind = RunKind::kFill;
  request.choose_folder = [&] {
    chosen_on = std::this_thread::get_id();
    return std::optional<Text>(chosen_);
  };
  request.done = [&](const RunOutcome& outcome) {
    worker_id = std::this_thread::get_id();
    result = outcome.fill;
  };
  ASSERT_EQ(session.Start(host_, std::move(request)), StartResult::kStarted);
  EXPECT_EQ(chosen_on, std::this_thread::get_id());
  while (session.Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_NE(worker_id, std::this_thread::get_id());
  EXPECT_TRUE(result.chosen);
  EXPECT_EQ(result.state.error_count, 0);
  ASSERT_EQ(fs_.CountOf(FsOp::kCreateFolder), 1);
  EXPECT_EQ(fs_.CallsOf(FsOp::kCreateFolder)[0].path, FillFolder());
  ASSERT_FALSE(host_.Calls().empty());
  for (const auto& call : host_.Calls()) EXPECT_EQ(call.thread, worker_id);
  ExpectCleanedUp();
}

TEST(FillFaultInjection, EachCallFailingInTurnLeavesNothingBehind) {
  const Text chosen = FakePath(u"vol/Data");
  const auto fill = [&](FakeFileSystem& fs, RecordingHost& host) {
    fs.AddFolder(chosen);
    fs.SetCapacity(130000);  // three writes
    FakeClock clock;
    RunFlags flags;
    FillResult result;
    testing::RunOnFreshThread([&] {
      RunContext context(host, fs, clock, flags);
      context.fill_folder = chosen;
      result = RunFreeSpaceFill(context);
    });
    return result;
  };
  int clean_calls = 0;
  {
    FakeFileSystem fs;
    RecordingHost host;
    ASSERT_EQ(fill(fs, host).state.error_count, 0);
    clean_calls = fs.CallCount();
  }
  ASSERT_GE(clean_calls, 12);
  for (int n = 1; n <= clean_calls; ++n) {
    FakeFileSystem fs;
    RecordingHost host;
    fs.FailNthCall(n, FakeError::kIo);
    const FillResult result = fill(fs, host);
    const FsCall failed = fs.Calls().at(n - 1);
    SCOPED_TRACE(std::string("call ") + std::to_string(n) + " " + testing::FsOpName(failed.op));
    int expected = 0;
    switch (failed.op) {
      case FsOp::kResolveFolder:
      case FsOp::kCreateFolder:
      case FsOp::kWrite:
      case FsOp::kFlush:
      case FsOp::kClose:
        expected = 1;
        break;
      case FsOp::kGetVolumeSpace:
        // The first measures the target; the second only guards against a full volume.
        expected = fs.CallsOf(FsOp::kGetVolumeSpace).size() == 1 ? 1 : 0;
        break;
      default:  // creation takes a new name, removals are retried, looks around only inform
        break;
    }
    EXPECT_EQ(result.state.error_count, expected);
    EXPECT_EQ(static_cast<int>(host.MessagesOfKind(MessageKind::kError).size()), expected);
    EXPECT_TRUE(fs.Children(chosen).empty());
    EXPECT_EQ(fs.OpenHandles(), 0);
    EXPECT_EQ(fs.Children(FakePath(u"vol")), std::vector<Text>{chosen});
  }
}

// Regression: the zero buffer held 64000 bytes while 65536-byte sectors make 65536-byte blocks,
// so every write read past its end (AddressSanitizer reports it; the fake refuses unaligned
// addresses, as unbuffered writes on such a device would).
TEST_F(FillTest, SixtyFourKibibyteSectorsGetWholeAlignedBlocks) {
  fs_.SetSectorSize(65536);
  fs_.RequireSectorAlignedWrites(true);
  fs_.SetCapacity(65536 * 20);
  const FillResult result = Fill();
  EXPECT_EQ(result.state.error_count, 0) << testing::Narrow(host_.MessageTexts().back());
  EXPECT_TRUE(result.state.volume_full);
  EXPECT_EQ(result.state.written_bytes, 65536u * 20);
  for (std::size_t size : WriteSizes()) EXPECT_EQ(size, 65536u);
  ExpectCleanedUp();
}

// Regression: "--fill a/link/.." filled the volume of "a", not that of the folder the system
// reaches through the link.
TEST_F(FillTest, WorksInTheFolderTheSystemResolvesNotTheOneTheTextNames) {
  const Text typed = FakePath(u"vol/Data/link/..");
  const Text reached = FakePath(u"other/mnt");
  fs_.AddFolder(reached);
  fs_.SetResolvedFolder(typed, reached);
  folder_to_fill_ = typed;
  fs_.SetCapacity(100000);
  const FillResult result = Fill();
  EXPECT_EQ(result.state.error_count, 0);
  ASSERT_EQ(fs_.CountOf(FsOp::kCreateFolder), 1);
  EXPECT_EQ(fs_.CallsOf(FsOp::kCreateFolder)[0].path, FillFolderPath(reached, 1000));
  EXPECT_TRUE(fs_.Children(reached).empty());
}

TEST_F(FillTest, AFolderThatCannotBeResolvedIsAnErrorAndNothingIsWritten) {
  folder_to_fill_ = FakePath(u"vol/Data/nothing-here");
  const FillResult result = Fill();
  EXPECT_EQ(result.state.error_count, 1);
  EXPECT_EQ(fs_.CountOf(FsOp::kCreateFolder), 0);
  EXPECT_EQ(fs_.CountOf(FsOp::kWrite), 0);
}

TEST_F(FillTest, FilesThatCannotGrowAreFollowedByMoreUntilTheVolumeIsFull) {
  fs_.SetCapacity(300000);
  fs_.SetMaxFileSize(128000);  // as FAT's 4 GiB, scaled down
  std::uint64_t used_at_first_delete = 0;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kDeleteFile && used_at_first_delete == 0)
      used_at_first_delete = fs_.UsedBytes();
  });
  const FillResult result = Fill();
  EXPECT_EQ(result.state.error_count, 0);
  // Three take the space; a fourth finds none and ends the fill.
  EXPECT_EQ(result.state.file_count, 4);
  EXPECT_EQ(used_at_first_delete, 300000u);
  EXPECT_EQ(result.state.written_bytes, 300000u);
  EXPECT_EQ(fs_.CountOf(FsOp::kDeleteFile), 4);
  ExpectCleanedUp();
}

TEST_F(FillTest, AVolumeThatNeverFillsIsGivenUpWithAWarning) {
  // It says it holds 1 MiB but takes everything: it stores the zeros in less than they are.
  fs_.ReportTotalBytes(1 << 20);
  fs_.ReportFreeBytes(1 << 20);
  const FillResult result = Fill();
  EXPECT_TRUE(result.state.never_full);
  EXPECT_FALSE(result.state.volume_full);
  EXPECT_GT(result.state.written_bytes, (1u << 20) + kFillOverrunAllowance);
  EXPECT_LT(result.state.written_bytes, (1u << 20) + kFillOverrunAllowance + (2u << 20));
  const auto warnings = host_.MessagesOfKind(MessageKind::kWarning);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], lang::Txt(lang::TextId::kNeverFull));
  ExpectCleanedUp();
}

}  // namespace
}  // namespace nulvane::engine
