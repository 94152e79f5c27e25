// Destroying a selection on Windows volumes as Microsoft documents them, where Wine is lenient:
// FAT's file ids that are entry positions, ReFS' 128-bit ids, files a scanner still holds,
// read-only links, volume mount points, folders that distinguish case, data kept by ProjFS or
// container isolation. The list is built and run as the program does, on real folders of a
// volume the fake (support/fake_windows_volume.h) makes behave as the named file system.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>
#undef DeleteFile

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "engine/deletion_run.h"
#include "engine/observing_file_system.h"
#include "item_test_support.h"
#include "items/item_list.h"
#include "lang/language_table.h"
#include "platform/file_system.h"
#include "platform/format.h"
#include "platform/win32/wide.h"
#include "support/fake_clock.h"
#include "support/fake_windows_volume.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace nulvane::items {
namespace {

using namespace std::chrono_literals;
using nulvane::testing::FakeWindowsVolume;
using platform::Wide;
using Format = FakeWindowsVolume::Format;

DWORD AttributesOf(const Text& path) { return ::GetFileAttributesW(Wide(u"\\\\?\\" + path)); }
bool Exists(const Text& path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }

std::string Content(const Text& path) {
  std::string bytes;
  return nulvane::testing::ReadTestFile(path, bytes) ? bytes : "<missing>";
}

bool AnyLineHas(const std::vector<Text>& lines, const Text& part) {
  for (const Text& line : lines)
    if (line.find(part) != Text::npos) return true;
  return false;
}

class WindowsVolume : public ::testing::TestWithParam<Format> {
 protected:
  static void SetUpTestSuite() { testing::EnsureLanguageTable(); }
  void TearDown() override { fs_.ForgetOpenFolders(); }

  Text Folder(TextView relative) {
    const Text path = testing::Join(root_, relative);
    EXPECT_TRUE(testing::MakeFolder(path)) << platform::TextToUtf8(path);
    return path;
  }
  Text File(TextView relative, const std::string& bytes, DWORD attributes = 0) {
    const Text path = testing::Join(root_, relative);
    EXPECT_TRUE(testing::MakeFile(path, bytes)) << platform::TextToUtf8(path);
    if (attributes) ::SetFileAttributesW(Wide(u"\\\\?\\" + path), attributes);
    return path;
  }

  // Queues `paths` as the window and the console do, then runs one pass with no countdown.
  // `before_run` comes between the list and the run (the countdown, so to speak).
  engine::RunResult Destroy(const std::vector<Text>& paths,
                            const std::function<void()>& before_run = nullptr) {
    for (const Text& path : paths) list_.AddPath(path);
    list_.RebuildRows();
    host_.SetQueuedItems(list_.SnapshotRows());
    if (before_run) before_run();
    engine::RunContext context(host_, fs_, clock_, flags_);
    context.passes = 1;
    context.delay = 0;
    engine::RunResult result;
    std::thread worker([&] { result = engine::RunDeletion(context); });
    worker.join();
    return result;
  }
  std::vector<Text> Lines(engine::MessageKind kind) const { return host_.MessagesOfKind(kind); }
  Text Line(lang::TextId id, const Text& path) const {
    return platform::Format(lang::Txt(id), path);
  }
  // Where the run left `path` (a folder it could not remove), as its line names it.
  Text LeftBehindAs(const Text& path) const {
    const Text start = platform::Format(lang::Txt(lang::TextId::kLeftBehind), path, u"");
    for (const Text& line : host_.MessageTexts()) {
      if (line.rfind(start, 0) == 0) return line.substr(start.size());
    }
    return path;
  }

  nulvane::testing::TempFolder temp_;
  const Text root_ = temp_ / u"vol";
  FakeWindowsVolume volume_{root_, GetParam()};
  nulvane::testing::ObservingFileSystem fs_;
  testing::RecordingDisplay display_;
  ItemList list_{fs_, display_};
  nulvane::testing::RecordingHost host_;
  nulvane::testing::FakeClock clock_;
  engine::RunFlags flags_;
};

using AnyVolume = WindowsVolume;
using FatVolume = WindowsVolume;
using NtfsVolume = WindowsVolume;
using RefsVolume = WindowsVolume;

// A file a virus scanner holds right after our writes, and a read-only link that nothing ever
// opened for writing: both go, and so does their folder. On NTFS and ReFS the name goes at once
// (POSIX semantics) while the scanner still holds the file; on FAT the classic deletion leaves
// the file pending until the scanner lets go, and the folder waits for that.
TEST_P(AnyVolume, AHeldFileAndAReadOnlyLinkGoAndTheirFolderWithThem) {
  const Text sel = Folder(u"Sel");
  const Text held = File(u"Sel\\Scan Me.pdf", "listed");
  const Text link = File(u"Sel\\Shortcut", "link data", FILE_ATTRIBUTE_READONLY);
  volume_.SetReparseTag(link, IO_REPARSE_TAG_SYMLINK);
  volume_.Hold(held);
  const bool waits = GetParam() == Format::kFat32;
  std::atomic<bool> done{false};
  std::thread scanner([&] {
    if (waits) {
      // The scanner lets go 200 ms after the file was marked for deletion.
      while (!done.load() && !volume_.PendingDeletion(held)) std::this_thread::sleep_for(5ms);
      std::this_thread::sleep_for(200ms);
    } else {
      while (!done.load()) std::this_thread::sleep_for(5ms);
    }
    volume_.Release(held);
  });
  const engine::RunResult result = Destroy({sel});
  const bool removed_while_held = !Exists(sel);
  done.store(true);
  scanner.join();

  EXPECT_TRUE(removed_while_held || waits);
  EXPECT_FALSE(Exists(sel));
  EXPECT_EQ(result.error_count, 0) << platform::TextToUtf8(host_.MessageTexts().back());
  EXPECT_TRUE(Lines(engine::MessageKind::kError).empty());
}

// A scanner that never lets go: the folder is tried again for at most a second, then reported.
TEST_P(FatVolume, AFolderWhoseFileStaysHeldIsReportedAfterAShortWait) {
  const Text sel = Folder(u"sel");
  const Text held = File(u"sel\\held.txt", "listed");
  volume_.Hold(held);
  const auto start = std::chrono::steady_clock::now();
  const engine::RunResult result = Destroy({sel});
  const auto waited = std::chrono::steady_clock::now() - start;

  EXPECT_TRUE(volume_.PendingDeletion(held));
  EXPECT_EQ(result.error_count, 1);
  EXPECT_TRUE(AnyLineHas(Lines(engine::MessageKind::kInfo),
                         platform::SystemErrorText(ERROR_DIR_NOT_EMPTY)));
  // Not a bound on speed: a sign that the wait ends rather than hangs.
  EXPECT_LT(waited, std::chrono::seconds(20));
  volume_.Release(held);
}

// Names that need long-name slots ("Notes.txt", "Photos") become 8.3 names on the first
// rename, so the entry moves and its id changes: every later step follows it.
TEST_P(FatVolume, EntriesWhoseIdsMoveOnARenameAreFollowedToTheEnd) {
  const Text sel = Folder(u"Sel");
  File(u"Sel\\Notes.txt", "notes");
  Folder(u"Sel\\Photos");
  File(u"Sel\\Photos\\Holiday at the Sea.jpg", "photo");
  // The file's id before each of its renames (its names are the only ones of 5 + 1 + 3 units).
  std::vector<std::uint64_t> ids;
  fs_.before_rename = [&](const Text& from) {
    if (from.rfind(sel + u"\\", 0) != 0) return;
    const TextView name = TextView(from).substr(sel.size() + 1);
    if (name.size() == 9 && name[5] == u'.') ids.push_back(volume_.FileIdOf(from));
  };
  const engine::RunResult result = Destroy({sel});

  ASSERT_EQ(ids.size(), 7u);
  EXPECT_NE(ids[0], ids[1]);  // "Notes.txt" took two slots, its 8.3 successor one
  EXPECT_FALSE(Exists(sel));
  EXPECT_EQ(result.error_count, 0) << platform::TextToUtf8(host_.MessageTexts().back());
}

// The listed file is removed and a new one made under its name while the run is on its way:
// it takes the freed directory entry and so the old id. Its creation time tells it apart.
TEST_P(FatVolume, ANewFileInAFreedPositionIsNotTakenForTheListedOne) {
  Folder(u"sel");
  const Text file = File(u"sel\\a.txt", "OLD");
  File(u"sel\\b.txt", "other");
  const std::uint64_t listed_id = volume_.FileIdOf(file);
  Destroy({file}, [&] {
    volume_.ReplaceFile(file, "NEW-UNLISTED");
    EXPECT_EQ(volume_.FileIdOf(file), listed_id);
  });

  EXPECT_EQ(Content(file), "NEW-UNLISTED");
  EXPECT_TRUE(AnyLineHas(Lines(engine::MessageKind::kWarning),
                         Line(lang::TextId::kChangedWhileOpening, file)));
}

// ReFS ids are 128 bits: a new file whose low 64 bits are the old one's is another file.
TEST_P(RefsVolume, ANewFileSharingTheLowHalfOfTheIdIsNotTakenForTheListedOne) {
  Folder(u"sel");
  const Text file = File(u"sel\\a.txt", "OLD");
  Destroy({file}, [&] { volume_.ReplaceFile(file, "NEW-UNLISTED"); });

  EXPECT_EQ(Content(file), "NEW-UNLISTED");
  EXPECT_TRUE(AnyLineHas(Lines(engine::MessageKind::kWarning),
                         Line(lang::TextId::kChangedWhileOpening, file)));
}

// A volume mounted in a queued folder carries a junction's tag: it stays mounted under its
// name, with the mount-point warning when listed and when its turn comes. A junction to a
// folder is a link and goes as itself; the folder it names is untouched.
TEST_P(NtfsVolume, AMountPointStaysAndAJunctionGoesAsItself) {
  const Text outside = Folder(u"outside");
  const Text kept = File(u"outside\\kept.txt", "kept");
  const Text sel = Folder(u"sel");
  const Text mount = testing::Join(sel, u"Backup Disk");
  volume_.MakeMountPoint(mount);
  const Text junction = testing::Join(sel, u"to outside");
  volume_.MakeJunction(junction, outside);
  File(u"sel\\f.txt", "f");
  const engine::RunResult result = Destroy({sel});

  // Still mounted under its name, in the folder that could not go for it.
  EXPECT_TRUE(Exists(testing::Join(LeftBehindAs(sel), u"Backup Disk")));
  EXPECT_TRUE(AnyLineHas(display_.warnings, Line(lang::TextId::kOtherVolume, mount)));
  EXPECT_TRUE(
      AnyLineHas(Lines(engine::MessageKind::kWarning), Line(lang::TextId::kOtherVolume, mount)));
  EXPECT_FALSE(Exists(testing::Join(LeftBehindAs(sel), u"to outside")));
  EXPECT_FALSE(Exists(testing::Join(LeftBehindAs(sel), u"f.txt")));
  EXPECT_EQ(Content(kept), "kept");
  // The mount point, and the folder that still holds it.
  EXPECT_EQ(result.error_count, 2);
}

// In a folder that distinguishes case (the default for folders made from WSL) an entry is
// found only by its own spelling, which the list keeps.
TEST_P(NtfsVolume, AFolderThatDistinguishesCaseIsDestroyedByTheNamesAsSpelt) {
  const Text sel = Folder(u"Sel");
  volume_.MakeCaseSensitive(sel);
  File(u"Sel\\Readme.md", "readme");
  Folder(u"Sel\\Notes");
  volume_.MakeCaseSensitive(testing::Join(sel, u"Notes"));
  File(u"Sel\\Notes\\Draft.TXT", "draft");
  const engine::RunResult result = Destroy({sel});

  EXPECT_FALSE(Exists(sel));
  EXPECT_EQ(result.error_count, 0) << platform::TextToUtf8(host_.MessageTexts().back());
}

// Files whose data ProjFS or container isolation keep in a layer beneath them are overwritten
// with the warning that old copies may survive.
TEST_P(NtfsVolume, ProjectedAndContainerFilesGetTheStoredElsewhereWarning) {
  const Text sel = Folder(u"sel");
  const Text projected = File(u"sel\\projected.txt", "p");
  const Text isolated = File(u"sel\\isolated.txt", "c");
  volume_.SetReparseTag(projected, 0x9000001C);
  volume_.SetReparseTag(isolated, 0x80000018);
  Destroy({sel});

  const std::vector<Text> warnings = Lines(engine::MessageKind::kWarning);
  EXPECT_TRUE(AnyLineHas(warnings, Line(lang::TextId::kStoredElsewhere, projected)));
  EXPECT_TRUE(AnyLineHas(warnings, Line(lang::TextId::kStoredElsewhere, isolated)));
}

// Another program has the file open and shares only reading: the write open fails after
// read-only, hidden and system were cleared. The file keeps them, and the lines say why it was
// not overwritten.
TEST_P(NtfsVolume, AFileThatCannotBeOpenedForWritingKeepsItsAttributes) {
  const Text sel = Folder(u"sel");
  constexpr DWORD kAttributes =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const Text file = File(u"sel\\locked.txt", "locked", kAttributes);
  volume_.Hold(file, FILE_SHARE_READ);
  Destroy({file});
  volume_.Release(file);

  EXPECT_EQ(Content(file), "locked");
  EXPECT_EQ(AttributesOf(file) & kAttributes, kAttributes);
  EXPECT_TRUE(AnyLineHas(Lines(engine::MessageKind::kError), file));
  EXPECT_TRUE(AnyLineHas(Lines(engine::MessageKind::kInfo),
                         platform::SystemErrorText(ERROR_SHARING_VIOLATION)));
}

// One form of identity from every call: the list's look, the open handle after a stamp, the
// rename's own handle and the anchor's identification.
TEST_P(AnyVolume, EveryCallGivesTheIdentityInTheSameForm) {
  platform::FileSystem& fs = platform::SystemFileSystem();
  const Text folder = Folder(u"Same");
  const Text file = File(u"Same\\one.txt", "x");
  platform::EntryInfo listed;
  ASSERT_TRUE(fs.Inspect(file, listed));
  std::unique_ptr<platform::OpenFile> opened;
  platform::OpenedFileInfo info;
  ASSERT_TRUE(fs.OpenForOverwrite(platform::EntryRef(file, root_.size() + 1, listed.identity),
                                  opened, info));
  platform::EntryIdentity held;
  ASSERT_TRUE(opened->Identity(held));
  ASSERT_TRUE(opened->Close());
  EXPECT_EQ(held, listed.identity);

  // A name of the same number of directory slots: the entry stays where it is.
  const Text renamed = testing::Join(folder, u"two.txt");
  platform::EntryIdentity after;
  ASSERT_TRUE(fs.RenameNoReplace(platform::EntryRef(file, root_.size() + 1, listed.identity),
                                 renamed, after));
  platform::EntryInfo now;
  ASSERT_TRUE(fs.Inspect(renamed, now));
  EXPECT_EQ(after, now.identity);
  EXPECT_EQ(after, listed.identity);

  platform::EntryInfo folder_info;
  ASSERT_TRUE(fs.Inspect(folder, folder_info));
  platform::EntryIdentity anchor;
  ASSERT_TRUE(fs.IdentifyAnchor(folder + u"\\", anchor));
  EXPECT_EQ(anchor, folder_info.identity);
  EXPECT_EQ(listed.identity.stamp_kind, GetParam() == Format::kFat32
                                            ? platform::IdentityStamp::kCreationTime
                                            : platform::IdentityStamp::kNone);
}

// The rows of a folder with many files are read from one listing of it where the listing gives
// whole identities (NTFS). Whatever the volume, the identities recorded so are the ones the
// run's checks read: every file goes, none is taken for another.
TEST_P(AnyVolume, TheFilesOfALargeFolderAreRecordedInTheFormTheRunChecks) {
  const Text folder = Folder(u"many");
  std::vector<Text> files;
  for (int i = 0; i < 12; ++i) {
    files.push_back(File(u"many\\file" + platform::Utf8ToText(std::to_string(i)) + u".txt", "x"));
  }
  const engine::RunResult result = Destroy({folder});

  for (const Text& file : files) EXPECT_FALSE(Exists(file)) << platform::TextToUtf8(file);
  EXPECT_FALSE(Exists(folder));
  EXPECT_TRUE(Lines(engine::MessageKind::kWarning).empty());
  EXPECT_EQ(result.items_destroyed, 13);
  EXPECT_EQ(result.error_count, 0);
}

std::string FormatName(const ::testing::TestParamInfo<Format>& info) {
  switch (info.param) {
    case Format::kNtfs:
      return "Ntfs";
    case Format::kRefs:
      return "Refs";
    case Format::kFat32:
      return "Fat32";
  }
  return "?";
}

INSTANTIATE_TEST_SUITE_P(Formats, AnyVolume,
                         ::testing::Values(Format::kNtfs, Format::kRefs, Format::kFat32),
                         FormatName);
INSTANTIATE_TEST_SUITE_P(Fat, FatVolume, ::testing::Values(Format::kFat32), FormatName);
INSTANTIATE_TEST_SUITE_P(Ntfs, NtfsVolume, ::testing::Values(Format::kNtfs), FormatName);
INSTANTIATE_TEST_SUITE_P(Refs, RefsVolume, ::testing::Values(Format::kRefs), FormatName);

}  // namespace
}  // namespace nulvane::items

#endif  // _WIN32
