// WipeItem and its helpers on the in-memory file system: what each pass writes, the fixed
// date, the renames, and every way an item can refuse to go.
#include "engine/wipe.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>

#include "engine_test_support.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "support/fake_clock.h"
#include "support/fake_file_system.h"
#include "support/recording_host.h"

namespace nulvane::engine {
namespace {

using platform::EntryKind;
using platform::Format;
using platform::IoResult;
using testing::FakeClock;
using testing::FakeError;
using testing::FakeFileSystem;
using testing::FakePath;
using testing::FsCall;
using testing::FsOp;
using testing::RecordingHost;
using testing::RunOnFreshThread;

platform::FileTime FixedTime() {
  platform::FileTime time = 0;
  EXPECT_TRUE(platform::LocalTimeToFileTime(1981, 1, 1, 0, 0, 0, time));
  return time;
}

bool IsRandomCharacter(char16_t c) { return c >= u'0' && c <= u'6'; }

TEST(RandomSource, NameCharactersAreTheSevenDigitsZeroToSix) {
  std::map<char16_t, int> seen;
  for (int i = 0; i < 7000; ++i) ++seen[RandomNameCharacter()];
  ASSERT_EQ(seen.size(), 7u);
  for (const auto& [character, count] : seen) {
    EXPECT_TRUE(IsRandomCharacter(character));
    // About 1000 each; a skewed draw (a byte taken modulo 7 without rejection gives "0" to "3"
    // an eighth more) stays far inside these bounds, a broken one does not.
    EXPECT_GT(count, 700) << static_cast<char>(character);
    EXPECT_LT(count, 1300) << static_cast<char>(character);
  }
}

// Regression: every run and every fill drew the same names, so they could be foreseen and
// created beforehand to make renames fail.
TEST(RandomSource, EveryThreadDrawsNamesOfItsOwn) {
  const Text source = FakePath(u"Data/report.old.doc");
  Text first;
  Text second;
  RunOnFreshThread([&] { first = MakeRandomName(source); });
  RunOnFreshThread([&] { second = MakeRandomName(source); });
  EXPECT_NE(first, second);
}

TEST(MakeRandomName, KeepsFolderLengthAndDots) {
  const Text source = FakePath(u"Data/report.old.doc");
  const Text name = MakeRandomName(source);
  ASSERT_EQ(name.size(), source.size());
  const std::size_t folder_end = source.rfind(platform::kPathSeparator) + 1;
  EXPECT_EQ(name.substr(0, folder_end), source.substr(0, folder_end));
  for (std::size_t i = folder_end; i < name.size(); ++i) {
    if (source[i] == u'.') {
      EXPECT_EQ(name[i], u'.');
    } else {
      EXPECT_TRUE(IsRandomCharacter(name[i])) << testing::Narrow(name);
    }
  }
}

TEST(MakeRandomName, ReplacesEverythingButDotsWhenThereIsNoFolder) {
  const Text name = MakeRandomName(u"a.bc");
  ASSERT_EQ(name.size(), 4u);
  EXPECT_TRUE(IsRandomCharacter(name[0]));
  EXPECT_EQ(name[1], u'.');
  EXPECT_TRUE(IsRandomCharacter(name[2]) && IsRandomCharacter(name[3]));
}

#ifdef _WIN32
TEST(MakeRandomName, ForwardSlashEndsTheFolderToo) {
  // Replacing the "/" would move the item into the parent folder under its rename.
  const Text name = MakeRandomName(u"C:\\a/bc");
  EXPECT_EQ(name.substr(0, 5), u"C:\\a/");
}
#endif

class WipeItemTest : public ::testing::Test {
 protected:
  WipeItemTest() { fs_.AddFolder(FakePath(u"w")); }

  // Runs WipeItem on a fresh thread, as a run does.
  void Wipe(const Text& path, int passes) {
    RunOnFreshThread(
        [&] {  // As the list hands it over: with the identity it recorded at its first look.
          const platform::EntryRef listed(path, platform::ParentAnchorLength(path),
                                          fs_.IdentityOf(path));
          WipeItem(tools_, listed, passes, tally_);
        });
  }
  std::vector<Text> Errors() const { return host_.MessagesOfKind(MessageKind::kError); }
  std::vector<std::size_t> WriteSizes() const {
    std::vector<std::size_t> sizes;
    for (const FsCall& call : fs_.CallsOf(FsOp::kWrite)) sizes.push_back(call.size);
    return sizes;
  }

  FakeFileSystem fs_;
  RecordingHost host_;
  FakeClock clock_;
  ProgressDisplay progress_{host_, clock_};
  std::array<unsigned char, 3000> zeros_{};
  WipeTools tools_{fs_, host_, progress_, zeros_};
  RunTally tally_;
  const Text file_ = FakePath(u"w/report.old.doc");
};

TEST_F(WipeItemTest, EachPassWritesZerosInBlocksAndTheDateComesBeforeTheRenames) {
  fs_.AddFileOfSize(file_, 5000);
  int passes_checked = 0;
  bool stamped_before_rename = false;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kClose && call.path == file_) {
      const auto content = fs_.Content(file_);
      ASSERT_TRUE(content);
      EXPECT_EQ(content->size(), 5000u);
      EXPECT_TRUE(testing::AllZero(*content));
      ++passes_checked;
    }
    if (call.op == FsOp::kRenameNoReplace && call.path == file_) {
      stamped_before_rename =
          fs_.TimesOf(file_) == FakeFileSystem::Times{FixedTime(), FixedTime(), FixedTime()};
    }
  });
  tally_.total_bytes = 10000;
  Wipe(file_, 2);

  EXPECT_EQ(passes_checked, 2);
  EXPECT_TRUE(stamped_before_rename);
  EXPECT_EQ(WriteSizes(), (std::vector<std::size_t>{2048, 2048, 904, 2048, 2048, 904}));
  EXPECT_EQ(tally_.written_bytes, 10000u);
  EXPECT_EQ(tally_.error_count, 0);
  EXPECT_TRUE(host_.Messages().empty());
  // Each pass is forced to the device before the next one starts.
  EXPECT_EQ(fs_.CountOf(FsOp::kFlush), 2);
  // Seven renames to names of the same shape, then the removal under the last of them.
  const auto renames = fs_.CallsOf(FsOp::kRenameNoReplace);
  ASSERT_EQ(renames.size(), 7u);
  for (const FsCall& rename : renames) {
    EXPECT_EQ(rename.path2.size(), file_.size());
    EXPECT_EQ(rename.error, 0u);
  }
  const auto deletes = fs_.CallsOf(FsOp::kDeleteFile);
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].path, renames.back().path2);
  EXPECT_TRUE(fs_.Children(FakePath(u"w")).empty());
  EXPECT_EQ(fs_.OpenHandles(), 0);
}

TEST_F(WipeItemTest, ZeroLengthFileIsStampedRenamedAndDeletedWithoutWrites) {
  fs_.AddFile(file_, std::string_view());
  Wipe(file_, 3);
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 3);
  EXPECT_EQ(fs_.CountOf(FsOp::kWrite), 0);
  EXPECT_EQ(fs_.CountOf(FsOp::kSetTimes), 3);
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 7);
  EXPECT_FALSE(fs_.Exists(file_));
  EXPECT_EQ(tally_.written_bytes, 0u);
  EXPECT_EQ(tally_.error_count, 0);
}

TEST_F(WipeItemTest, ReadOnlyFileIsWipedLikeAnyOther) {
  fs_.AddFileOfSize(file_, 100);
  fs_.SetReadOnly(file_, true);
  Wipe(file_, 1);
  EXPECT_FALSE(fs_.Exists(file_));
  EXPECT_EQ(tally_.error_count, 0);
}

TEST_F(WipeItemTest, FileHeldOpenElsewhereIsListedByItsPathAndStays) {
  fs_.AddFile(file_, "keep");
  fs_.SetHeldOpen(file_, true);
  Wipe(file_, 2);
  EXPECT_EQ(Errors(), std::vector<Text>{file_});
  EXPECT_EQ(tally_.error_count, 1);
  EXPECT_EQ(fs_.Content(file_), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 0);
}

TEST_F(WipeItemTest, WriteFailingHalfWayEndsTheItemWithoutRenameOrDeletion) {
  fs_.AddFileOfSize(file_, 5000);
  fs_.FailNth(FsOp::kWrite, 2, FakeError::kIo);
  Wipe(file_, 2);
  EXPECT_EQ(Errors(), std::vector<Text>{file_ + u": " + platform::SystemErrorText(FakeError::kIo)});
  EXPECT_EQ(tally_.error_count, 1);
  // Only what the system accepted counts.
  EXPECT_EQ(tally_.written_bytes, 2048u);
  EXPECT_TRUE(fs_.Exists(file_));
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 0);
  EXPECT_EQ(fs_.CountOf(FsOp::kDeleteFile), 0);
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 1);  // no second pass
  EXPECT_EQ(fs_.OpenHandles(), 0);
}

TEST_F(WipeItemTest, ShortWritesGoOnWithTheRestOfTheBlock) {
  fs_.AddFileOfSize(file_, 5000);
  fs_.SetMaxWriteChunk(700);
  bool zero_at_close = false;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kClose)
      zero_at_close = testing::AllZero(*fs_.Content(file_)) && fs_.Content(file_)->size() == 5000;
  });
  Wipe(file_, 1);
  EXPECT_TRUE(zero_at_close);
  EXPECT_EQ(tally_.written_bytes, 5000u);
  EXPECT_EQ(tally_.error_count, 0);
  EXPECT_FALSE(fs_.Exists(file_));
  // 2048 = 700 + 700 + 648: no block is cut short.
  const auto sizes = WriteSizes();
  ASSERT_GE(sizes.size(), 3u);
  EXPECT_EQ(sizes[0], 2048u);
  EXPECT_EQ(sizes[1], 1348u);
  EXPECT_EQ(sizes[2], 648u);
}

TEST_F(WipeItemTest, FailedFlushEndsTheItemAndKeepsTheFile) {
  fs_.AddFileOfSize(file_, 3000);
  fs_.FailNth(FsOp::kFlush, 1, FakeError::kIo);
  Wipe(file_, 1);
  EXPECT_EQ(Errors(), std::vector<Text>{file_ + u": " + platform::SystemErrorText(FakeError::kIo)});
  EXPECT_TRUE(fs_.Exists(file_));
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 0);
}

TEST_F(WipeItemTest, FailedCloseEndsTheItemAndKeepsTheFile) {
  fs_.AddFileOfSize(file_, 3000);
  fs_.FailNth(FsOp::kClose, 1, FakeError::kIo);
  Wipe(file_, 2);
  EXPECT_EQ(tally_.error_count, 1);
  EXPECT_TRUE(fs_.Exists(file_));
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 1);
}

TEST_F(WipeItemTest, LinkIsRemovedAndWhatItPointsAtIsNeverOpened) {
  const Text outside = FakePath(u"elsewhere/precious.txt");
  fs_.AddFile(outside, "precious");
  const Text link = FakePath(u"w/link.txt");
  fs_.AddLink(link, outside);
  const auto before = fs_.EntryAt(outside);
  Wipe(link, 3);
  EXPECT_FALSE(fs_.Exists(link));
  EXPECT_EQ(fs_.EntryAt(outside), before);
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 0);
  EXPECT_EQ(tally_.error_count, 0);
  EXPECT_TRUE(fs_.Children(FakePath(u"w")).empty());
}

TEST_F(WipeItemTest, LinkToFolderIsRemovedAsAFolderLink) {
  fs_.AddFolder(FakePath(u"elsewhere/dir"));
  fs_.AddFile(FakePath(u"elsewhere/dir/x"), "x");
  const Text link = FakePath(u"w/junction");
  fs_.AddLink(link, FakePath(u"elsewhere/dir"), true);
  Wipe(link, 1);
  EXPECT_FALSE(fs_.Exists(link));
  EXPECT_TRUE(fs_.Exists(FakePath(u"elsewhere/dir/x")));
  EXPECT_EQ(tally_.error_count, 0);
}

TEST_F(WipeItemTest, HardLinkedFileIsRefusedAndBothNamesKeepTheirContent) {
  fs_.AddFile(file_, "shared");
  const Text other = FakePath(u"other/name.doc");
  fs_.AddHardLink(file_, other);
  Wipe(file_, 1);
  EXPECT_EQ(Errors(), std::vector<Text>{Format(lang::Txt(lang::TextId::kHardLinks), file_)});
  EXPECT_EQ(tally_.error_count, 1);
  EXPECT_EQ(fs_.CountOf(FsOp::kWrite), 0);
  EXPECT_EQ(fs_.Content(file_), fs_.Content(other));
  EXPECT_EQ(fs_.Content(other)->size(), 6u);
  EXPECT_EQ(fs_.OpenHandles(), 0);
}

TEST_F(WipeItemTest, RenameNeverReplacesAnUnrelatedFileOfTheCandidateName) {
  // A one-character name has only seven random forms: six of them are taken by unrelated
  // files, so that most attempts meet one of them and the only free form is "6".
  const Text file = FakePath(u"w/a");
  fs_.AddFileOfSize(file, 10);
  std::vector<Text> unrelated;
  for (char16_t c = u'0'; c <= u'5'; ++c) {
    unrelated.push_back(FakePath(u"w/") + c);
    fs_.AddFile(unrelated.back(), "unrelated");
  }
  Wipe(file, 1);
  const std::string kept = "unrelated";
  for (const Text& other : unrelated)
    EXPECT_EQ(fs_.Content(other), std::vector<unsigned char>(kept.begin(), kept.end()));
  const auto renames = fs_.CallsOf(FsOp::kRenameNoReplace);
  ASSERT_EQ(renames.size(), 7u);
  for (const FsCall& rename : renames) {
    if (rename.path2 != FakePath(u"w/6")) {
      EXPECT_EQ(rename.error, FakeError::kExists);
    }
  }
  EXPECT_FALSE(fs_.Exists(file));
  EXPECT_FALSE(fs_.Exists(FakePath(u"w/6")));
  EXPECT_EQ(fs_.Children(FakePath(u"w")), unrelated);
  EXPECT_EQ(tally_.error_count, 0);
}

TEST_F(WipeItemTest, EveryRenameFailingDeletesUnderTheListedName) {
  fs_.AddFileOfSize(file_, 10);
  fs_.FailAlways(FsOp::kRenameNoReplace, FakeError::kAccessDenied);
  Wipe(file_, 1);
  const auto deletes = fs_.CallsOf(FsOp::kDeleteFile);
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].path, file_);
  EXPECT_FALSE(fs_.Exists(file_));
}

TEST_F(WipeItemTest, CompressedOrSparseFileIsWipedWithOneWarning) {
  fs_.AddFileOfSize(file_, 10);
  fs_.SetStoredElsewhere(file_, true);
  Wipe(file_, 3);
  EXPECT_EQ(host_.MessagesOfKind(MessageKind::kWarning),
            std::vector<Text>{Format(lang::Txt(lang::TextId::kStoredElsewhere), file_)});
  EXPECT_FALSE(fs_.Exists(file_));
  EXPECT_EQ(tally_.error_count, 0);
}

TEST_F(WipeItemTest, FailedDeletionIsReported) {
  fs_.AddFileOfSize(file_, 10);
  fs_.FailAlways(FsOp::kDeleteFile, FakeError::kAccessDenied);
  Wipe(file_, 1);
  EXPECT_EQ(Errors(),
            std::vector<Text>{file_ + u": " + platform::SystemErrorText(FakeError::kAccessDenied)});
  EXPECT_EQ(tally_.error_count, 1);
}

TEST_F(WipeItemTest, FileReplacedByALinkWhileOpeningIsLeftUntouched) {
  fs_.AddFileOfSize(file_, 10);
  const Text outside = FakePath(u"elsewhere/target");
  fs_.AddFile(outside, "target");
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kOpenForOverwrite) fs_.AddLink(file_, outside);
  });
  Wipe(file_, 1);
  EXPECT_EQ(host_.MessagesOfKind(MessageKind::kWarning),
            std::vector<Text>{Format(lang::Txt(lang::TextId::kChangedWhileOpening), file_)});
  EXPECT_EQ(tally_.error_count, 1);
  EXPECT_EQ(fs_.Content(outside)->size(), 6u);
  EXPECT_EQ(fs_.KindOf(file_), EntryKind::kLink);
}

TEST_F(WipeItemTest, DeviceOrPipeIsRefusedUntouched) {
  const Text pipe = FakePath(u"w/pipe");
  fs_.AddOther(pipe);
  Wipe(pipe, 1);
  EXPECT_EQ(Errors(), std::vector<Text>{Format(lang::Txt(lang::TextId::kNotRegularFile), pipe)});
  EXPECT_EQ(fs_.KindOf(pipe), EntryKind::kOther);
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 0);
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 0);
}

TEST_F(WipeItemTest, TooLongPathIsRefusedWithItsOwnLine) {
  fs_.AddFile(file_, "listed");
  fs_.FailAlways(FsOp::kInspect, IoResult::kPathTooLong);
  Wipe(file_, 1);
  EXPECT_EQ(Errors(), std::vector<Text>{Format(lang::Txt(lang::TextId::kPathTooLong), file_)});
  EXPECT_EQ(fs_.CallCount(), 1);
}

TEST_F(WipeItemTest, EmptyFolderIsStampedEachPassAndRemovedOnTheLast) {
  const Text folder = FakePath(u"w/Photos");
  fs_.AddFolder(folder);
  bool stamped_before_rename = false;
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kRenameNoReplace && call.path == folder) {
      stamped_before_rename = fs_.TimesOf(folder)->write == FixedTime();
    }
  });
  Wipe(folder, 2);
  EXPECT_TRUE(stamped_before_rename);
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenFolderForStamp), 2);
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 7);
  EXPECT_TRUE(fs_.Children(FakePath(u"w")).empty());
  EXPECT_EQ(tally_.error_count, 0);
}

TEST_F(WipeItemTest, FolderStillHoldingAnEntryStaysUnderARandomNameWithADirLine) {
  const Text folder = FakePath(u"w/Photos");
  fs_.AddFile(FakePath(u"w/Photos/late.jpg"), "late");
  Wipe(folder, 1);
  EXPECT_EQ(Errors(), std::vector<Text>{u"0 <dir>" + folder});
  EXPECT_EQ(tally_.error_count, 1);
  const auto left = fs_.Children(FakePath(u"w"));
  ASSERT_EQ(left.size(), 1u);
  EXPECT_NE(left[0], folder);
  EXPECT_EQ(fs_.Content(left[0] + platform::kPathSeparator + u"late.jpg")->size(), 4u);
}

TEST_F(WipeItemTest, FolderThatCannotBeOpenedIsReportedNotDroppedSilently) {
  const Text folder = FakePath(u"w/Photos");
  fs_.AddFolder(folder);
  fs_.FailAlways(FsOp::kOpenFolderForStamp, FakeError::kAccessDenied);
  Wipe(folder, 3);
  EXPECT_EQ(Errors(), std::vector<Text>{u"0 <dir>" + folder});
  EXPECT_TRUE(fs_.Exists(folder));
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 0);
}

// Regression: an entry gone before its turn was handled as a folder and reported as
// "0 <dir>path", an error. What the user wanted gone is gone: one warning, no error.
TEST_F(WipeItemTest, AnEntryGoneBeforeItsTurnIsAWarningNotAnError) {
  const Text gone = FakePath(u"w/gone");
  fs_.AddFile(gone, "listed");
  const platform::EntryIdentity listed = fs_.IdentityOf(gone);
  fs_.MoveEntry(gone, FakePath(u"elsewhere"));
  RunOnFreshThread([&] {
    WipeItem(tools_, platform::EntryRef(gone, platform::ParentAnchorLength(gone), listed), 4,
             tally_);
  });
  EXPECT_EQ(host_.MessagesOfKind(MessageKind::kWarning),
            std::vector<Text>{platform::Format(lang::Txt(lang::TextId::kGone), gone)});
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(tally_.error_count, 0);
  const std::string kept = "listed";
  EXPECT_EQ(fs_.Content(FakePath(u"elsewhere")),
            std::vector<unsigned char>(kept.begin(), kept.end()));
}

// Regression: an entry the list could not examine kept no identity, and an unknown identity
// admitted anything: what was put in its place during the countdown was destroyed.
TEST_F(WipeItemTest, AnEntryTheListCouldNotExamineIsNeverChanged) {
  fs_.AddFile(file_, "put there during the countdown");
  const auto before = fs_.TakeSnapshot();
  RunOnFreshThread([&] {
    WipeItem(tools_, platform::EntryRef(file_, platform::ParentAnchorLength(file_), {}), 3, tally_);
  });
  EXPECT_EQ(fs_.TakeSnapshot(), before);
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 0);
  EXPECT_EQ(host_.MessagesOfKind(MessageKind::kWarning),
            std::vector<Text>{platform::Format(lang::Txt(lang::TextId::kNotExamined), file_)});
  EXPECT_EQ(tally_.error_count, 1);
}

// Regression: the identity was device + inode only, so a new file that was given the listed
// file's freed inode number passed the check and was destroyed. Its birth tells it apart.
TEST_F(WipeItemTest, ANewObjectWithTheListedObjectsNumberIsLeftUntouched) {
  fs_.AddFile(file_, "listed");
  const platform::EntryIdentity listed = fs_.IdentityOf(file_);
  for (const platform::EntryKind kind :
       {platform::EntryKind::kFile, platform::EntryKind::kFolder}) {
    fs_.ReplaceWithNewObject(file_, kind, "NEW-UNLISTED");
    ASSERT_EQ(fs_.IdentityOf(file_).object, listed.object);
    const auto before = fs_.TakeSnapshot();
    RunOnFreshThread([&] {
      WipeItem(tools_, platform::EntryRef(file_, platform::ParentAnchorLength(file_), listed), 2,
               tally_);
    });
    EXPECT_EQ(fs_.TakeSnapshot(), before);
  }
  EXPECT_EQ(
      host_.MessagesOfKind(MessageKind::kWarning),
      std::vector<Text>(2, platform::Format(lang::Txt(lang::TextId::kChangedWhileOpening), file_)));
  EXPECT_EQ(tally_.error_count, 2);
}

// Where a file system keeps neither birth times nor generations, a file is known by its change
// time, which every write, stamp and rename of ours moves on: each step hands back the
// identity as it is after it, so the next step still finds the listed file, and a new file
// with the old number is still refused.
TEST_F(WipeItemTest, ChangeTimeIdentitiesAreCarriedFromStepToStep) {
  fs_.UseChangeTimeIdentities(true);
  fs_.AddFileOfSize(file_, 5000);
  fs_.SetReadOnly(file_, true);
  Wipe(file_, 3);
  EXPECT_EQ(tally_.error_count, 0) << testing::Narrow(host_.MessageTexts().back());
  EXPECT_TRUE(fs_.Children(FakePath(u"w")).empty());
  EXPECT_EQ(fs_.CountOf(FsOp::kRenameNoReplace), 7);

  const Text other = FakePath(u"w/other.txt");
  fs_.AddFile(other, "listed");
  const platform::EntryIdentity listed = fs_.IdentityOf(other);
  fs_.ReplaceWithNewObject(other, platform::EntryKind::kFile, "NEW");
  RunOnFreshThread([&] {
    WipeItem(tools_, platform::EntryRef(other, platform::ParentAnchorLength(other), listed), 1,
             tally_);
  });
  EXPECT_EQ(fs_.Content(other), std::vector<unsigned char>({'N', 'E', 'W'}));
  EXPECT_EQ(tally_.error_count, 1);
}

// A read-only file whose overwrite failed is left as it was found: read-only.
TEST_F(WipeItemTest, AReadOnlyFileWhoseOverwriteFailedStaysReadOnly) {
  fs_.AddFileOfSize(file_, 5000);
  fs_.SetReadOnly(file_, true);
  fs_.FailNth(FsOp::kWrite, 1, FakeError::kIo);
  Wipe(file_, 1);
  ASSERT_EQ(tally_.error_count, 1);
  EXPECT_TRUE(fs_.EntryAt(file_)->read_only);
}

}  // namespace
}  // namespace nulvane::engine
