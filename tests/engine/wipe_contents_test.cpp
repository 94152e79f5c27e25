// What a file holds beyond the data of its unnamed stream, on the in-memory file system: named
// data streams (NTFS keeps them beside the file's data; the fake models them, since Wine has
// none) and the holes of sparse files.
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

using platform::ByteRange;
using platform::Format;
using testing::FakeClock;
using testing::FakeError;
using testing::FakeFileSystem;
using testing::FakePath;
using testing::FsCall;
using testing::FsOp;
using testing::RecordingHost;

class WipeContentsTest : public ::testing::Test {
 protected:
  WipeContentsTest() { fs_.AddFolder(FakePath(u"w")); }
  void Wipe(const Text& path, int passes) {
    testing::RunOnFreshThread([&] {
      const platform::EntryRef listed(path, platform::ParentAnchorLength(path),
                                      fs_.IdentityOf(path));
      WipeItem(tools_, listed, passes, tally_);
    });
  }
  std::vector<Text> Errors() const { return host_.MessagesOfKind(MessageKind::kError); }
  // The sum of the bytes asked to be written to the object shown as `path`, through the
  // cache or past it.
  std::uint64_t WrittenTo(const Text& path) const {
    std::uint64_t bytes = 0;
    for (const FsCall& call : fs_.Calls()) {
      const bool write = call.op == FsOp::kWrite || call.op == FsOp::kWriteDirect;
      if (write && call.path == path) bytes += call.size;
    }
    return bytes;
  }

  FakeFileSystem fs_;
  RecordingHost host_;
  FakeClock clock_;
  ProgressDisplay progress_{host_, clock_};
  std::array<unsigned char, 3000> zeros_{};
  WipeTools tools_{fs_, host_, progress_, zeros_};
  RunTally tally_;
  const Text file_ = FakePath(u"w/setup.exe");
};

// Regression: only the unnamed stream was zeroed; a downloaded file's Zone.Identifier (with the
// address it came from) and every other named stream went with the file, unoverwritten.
TEST_F(WipeContentsTest, EveryNamedStreamIsOverwrittenInEachPassAndReadBackBeforeTheFileGoes) {
  fs_.AddFileOfSize(file_, 5000);
  const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/secret\r\n";
  fs_.AddStream(file_, u"Zone.Identifier", zone);
  fs_.AddStream(file_, u"thumbnail", std::string(7000, 'T'));
  tally_.total_bytes = 5000 * 2;  // the listed size: streams join as they are found
  tools_.verify = true;
  bool zeroed_before_rename = false;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op != FsOp::kRenameNoReplace || call.path != file_) return;
    const auto zone_now = fs_.StreamContent(file_, u"Zone.Identifier");
    const auto thumbnail_now = fs_.StreamContent(file_, u"thumbnail");
    zeroed_before_rename = zone_now && zone_now->size() == zone.size() &&
                           testing::AllZero(*zone_now) && thumbnail_now &&
                           thumbnail_now->size() == 7000 && testing::AllZero(*thumbnail_now);
  });
  Wipe(file_, 2);
  EXPECT_TRUE(Errors().empty()) << testing::Narrow(Errors().front());
  EXPECT_TRUE(zeroed_before_rename);
  EXPECT_FALSE(fs_.Exists(file_));
  EXPECT_TRUE(fs_.Children(FakePath(u"w")).empty());
  // Each pass writes every stream; the last one reads each back.
  EXPECT_EQ(WrittenTo(file_ + u":Zone.Identifier"), 2 * zone.size());
  EXPECT_EQ(WrittenTo(file_ + u":thumbnail"), 2u * 7000);
  int stream_reads = 0;
  for (const FsCall& call : fs_.CallsOf(FsOp::kOpenUncachedReader)) {
    stream_reads += call.path != file_;
  }
  EXPECT_EQ(stream_reads, 2);
  EXPECT_EQ(tally_.total_bytes, 2 * (5000 + zone.size() + 7000));
  EXPECT_EQ(tally_.written_bytes, tally_.total_bytes);
  EXPECT_EQ(fs_.OpenHandles(), 0);
}

TEST_F(WipeContentsTest, AStreamThatCannotBeOpenedOrWrittenIsNamedAndKeepsTheFile) {
  const Text stream = file_ + u":Zone.Identifier";
  for (const FsOp failing : {FsOp::kOpenStream, FsOp::kWrite, FsOp::kListStreams}) {
    SCOPED_TRACE(testing::FsOpName(failing));
    FakeFileSystem fs;
    RecordingHost host;
    ProgressDisplay progress{host, clock_};
    WipeTools tools{fs, host, progress, zeros_};
    RunTally tally;
    fs.AddFileOfSize(file_, 3000);
    fs.SetReadOnly(file_, true);
    fs.AddStream(file_, u"Zone.Identifier", "HostUrl=https://example.org/secret");
    fs.FailAlways(failing, FakeError::kAccessDenied,
                  failing == FsOp::kListStreams ? file_ : stream);
    testing::RunOnFreshThread([&] {
      WipeItem(tools,
               platform::EntryRef(file_, platform::ParentAnchorLength(file_), fs.IdentityOf(file_)),
               3, tally);
    });
    const Text reason = platform::SystemErrorText(FakeError::kAccessDenied);
    const Text expected = failing == FsOp::kListStreams
                              ? Format(lang::Txt(lang::TextId::kStreamsUnlisted), file_, reason)
                              : stream + u": " + reason;
    EXPECT_EQ(host.MessagesOfKind(MessageKind::kError), std::vector<Text>{expected});
    EXPECT_EQ(tally.error_count, 1);
    // Kept where it was, as it was: no rename, no removal, read-only again.
    EXPECT_TRUE(fs.Exists(file_));
    EXPECT_TRUE(fs.EntryAt(file_)->read_only);
    EXPECT_EQ(fs.CountOf(FsOp::kRenameNoReplace), 0);
    EXPECT_EQ(fs.CountOf(FsOp::kOpenForOverwrite), 1);  // no second pass
    EXPECT_EQ(fs.OpenHandles(), 0);
  }
}

TEST_F(WipeContentsTest, AFoldersNamedStreamsAreOverwrittenBeforeItIsRemoved) {
  const Text folder = FakePath(u"w/Project");
  fs_.AddFolder(folder);
  fs_.AddStream(folder, u"notes", "the folder's own secret notes");
  bool zeroed_before_rename = false;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op != FsOp::kRenameNoReplace || call.path != folder) return;
    const auto notes = fs_.StreamContent(folder, u"notes");
    zeroed_before_rename = notes && notes->size() == 29 && testing::AllZero(*notes);
  });
  Wipe(folder, 1);
  EXPECT_TRUE(Errors().empty()) << testing::Narrow(Errors().front());
  EXPECT_TRUE(zeroed_before_rename);
  EXPECT_TRUE(fs_.Children(FakePath(u"w")).empty());
}

// Regression: the holes of a sparse file were written with zeros, so a large sparse file
// filled the volume before the data behind its holes was reached.
TEST_F(WipeContentsTest, OnlyTheDataOfASparseFileIsWrittenAndItsHolesCountAsDone) {
  constexpr std::uint64_t kSize = 1 << 20;
  fs_.AddFileOfSize(file_, kSize);
  fs_.MakeSparse(file_, {{0, 4096}, {900000, 8192}});
  const Text plain = FakePath(u"w/plain.txt");
  fs_.AddFileOfSize(plain, 6000);
  tally_.total_bytes = 2 * (kSize + 6000);
  // Between the passes another program writes into a hole: the second pass reaches it too.
  int closes = 0;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kClose && call.path == file_ && ++closes == 1) {
      fs_.MakeSparse(file_, {{0, 4096}, {500000, 4096}, {900000, 8192}});
    }
  });
  Wipe(file_, 2);
  Wipe(plain, 2);
  EXPECT_TRUE(Errors().empty()) << testing::Narrow(Errors().front());
  EXPECT_FALSE(fs_.Exists(file_));
  EXPECT_EQ(WrittenTo(file_), (4096 + 8192) + (4096 + 4096 + 8192));
  // The progress ends at the whole: holes need no writing, they are done.
  EXPECT_EQ(tally_.written_bytes, tally_.total_bytes);
  // Read once per pass, and only for the file that has holes: a plain file costs no call.
  EXPECT_EQ(fs_.CountOf(FsOp::kDataRanges), 2);
  for (const FsCall& call : fs_.CallsOf(FsOp::kDataRanges)) EXPECT_EQ(call.path, file_);
}

TEST_F(WipeContentsTest, ASparseFileWhoseRangesCannotBeReadIsOverwrittenWhole) {
  fs_.AddFileOfSize(file_, 100000);
  fs_.MakeSparse(file_, {{0, 4096}});
  fs_.FailAlways(FsOp::kDataRanges, FakeError::kIo);
  Wipe(file_, 1);
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(WrittenTo(file_), 100000u);
  EXPECT_FALSE(fs_.Exists(file_));
}

}  // namespace
}  // namespace nulvane::engine
