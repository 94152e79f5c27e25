// The system's FileSystem (overwrite, rename, removal, volume space, time) on real folders in
// the test's own temporary folder. Built and run natively and as a Windows program.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
// The interface has a method of this name; the Win32 function is always called as DeleteFileW.
#undef DeleteFile

#include "platform/win32/wide.h"
#else
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#endif

namespace nulvane::platform {
namespace {

namespace stdfs = std::filesystem;
using testing::TempFolder;

std::string Read(const Text& path) {
  std::string bytes;
  EXPECT_TRUE(testing::ReadTestFile(path, bytes));
  return bytes;
}

bool MakeSymbolicLink(const Text& target, const Text& link, bool folder = false) {
#ifdef _WIN32
  const DWORD flags = 0x2 | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  // Wine reports success for links it then cannot find again: only a visible link counts.
  return ::CreateSymbolicLinkW(Wide(link), Wide(target), flags) != 0 &&
         ::GetFileAttributesW(Wide(link)) != INVALID_FILE_ATTRIBUTES;
#else
  (void)folder;
  return ::symlink(TextToUtf8(target).c_str(), TextToUtf8(link).c_str()) == 0;
#endif
}

bool MakeHardLink(const Text& existing, const Text& link) {
#ifdef _WIN32
  return ::CreateHardLinkW(Wide(link), Wide(existing), nullptr) != 0;
#else
  return ::link(TextToUtf8(existing).c_str(), TextToUtf8(link).c_str()) == 0;
#endif
}

// Whether `time` reads 1981-01-01 00:00:00 in local time.
bool IsFixedLocalDate(FileTime time) {
#ifdef _WIN32
  FILETIME value{static_cast<DWORD>(time & 0xFFFFFFFFu), static_cast<DWORD>(time >> 32)};
  SYSTEMTIME utc, local;
  if (!::FileTimeToSystemTime(&value, &utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return false;
  }
  return local.wYear == 1981 && local.wMonth == 1 && local.wDay == 1 && local.wHour == 0 &&
         local.wMinute == 0 && local.wSecond == 0;
#else
  const std::time_t seconds =
      static_cast<std::time_t>(time / 10000000ULL) - static_cast<std::time_t>(11644473600LL);
  std::tm local{};
  if (!::localtime_r(&seconds, &local)) return false;
  return local.tm_year == 81 && local.tm_mon == 0 && local.tm_mday == 1 && local.tm_hour == 0 &&
         local.tm_min == 0 && local.tm_sec == 0;
#endif
}

// The last-write time of `path` as a FileTime, read with the system's own calls.
FileTime LastWriteTime(const Text& path) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<FileTime>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
#else
  struct stat status;
  if (::lstat(TextToUtf8(path).c_str(), &status) != 0) return 0;
  return (static_cast<FileTime>(status.st_mtime) + 11644473600ULL) * 10000000ULL;
#endif
}

class SystemFileSystemTest : public ::testing::Test {
 protected:
  Text File(TextView name, const std::string& bytes) {
    const Text path = temp_ / name;
    EXPECT_TRUE(testing::WriteTestFile(path, bytes));
    return path;
  }
  Text Folder(TextView name) {
    const Text path = temp_ / name;
    EXPECT_TRUE(fs_.CreateFolder(path));
    return path;
  }

  TempFolder temp_;
  FileSystem& fs_ = SystemFileSystem();
};

TEST_F(SystemFileSystemTest, InspectTellsFilesFoldersAndMissingEntries) {
  const Text file = File(u"a.txt", "12345");
  const Text folder = Folder(u"d");
  EntryInfo info;
  ASSERT_TRUE(fs_.Inspect(file, info));
  EXPECT_EQ(info.kind, EntryKind::kFile);
  EXPECT_EQ(info.size, 5u);
  ASSERT_TRUE(fs_.Inspect(folder, info));
  EXPECT_EQ(info.kind, EntryKind::kFolder);
  const IoResult missing = fs_.Inspect(temp_ / u"nothing", info);
  EXPECT_FALSE(missing);
  EXPECT_EQ(info.kind, EntryKind::kMissing);
}

TEST_F(SystemFileSystemTest, OverwriteWritesInPlaceKeepsTheLengthAndStampsTheDate) {
  const Text file = File(u"a.txt", "abcdefgh");
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  ASSERT_TRUE(fs_.OpenForOverwrite(file, open, info));
  EXPECT_EQ(info.size, 8u);
  EXPECT_EQ(info.link_count, 1u);
  const char zeros[4] = {};
  std::size_t written = 0;
  ASSERT_TRUE(open->Write(zeros, 4, written));
  EXPECT_EQ(written, 4u);
  EXPECT_TRUE(open->Flush());
  FileTime fixed = 0;
  ASSERT_TRUE(LocalTimeToFileTime(1981, 1, 1, 0, 0, 0, fixed));
  EXPECT_TRUE(IsFixedLocalDate(fixed));
  EXPECT_TRUE(open->SetTimes(fixed));
  EXPECT_TRUE(open->Close());
  // A closed file refuses further calls.
  EXPECT_FALSE(open->Write(zeros, 4, written));
  EXPECT_FALSE(open->Close());
  EXPECT_EQ(Read(file), std::string(4, '\0') + "efgh");
  EXPECT_TRUE(IsFixedLocalDate(LastWriteTime(file)));
}

TEST_F(SystemFileSystemTest, RepeatedBlocksLandInPlaceOneAfterTheOther) {
  // 40 blocks of 2048 bytes and a tail: the file's length does not change.
  const std::string original(40 * 2048 + 100, 'x');
  const Text file = File(u"blocks.bin", original);
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  ASSERT_TRUE(fs_.OpenForOverwrite(file, open, info));
  const char block[2048] = {};
  std::size_t done = 0;
  while (done < 40 * 2048) {
    std::size_t written = 0;
    ASSERT_TRUE(open->WriteRepeated(block, sizeof block, 40 - done / 2048, written));
    ASSERT_GT(written, 0u);
    done += written;
  }
  EXPECT_EQ(done, 40u * 2048);
  ASSERT_TRUE(open->Close());
  EXPECT_EQ(Read(file), std::string(40 * 2048, '\0') + std::string(100, 'x'));
}

TEST_F(SystemFileSystemTest, OverwriteRefusesFoldersAndLinksWithoutTouchingTheTarget) {
  const Text folder = Folder(u"d");
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_FALSE(fs_.OpenForOverwrite(folder, open, info));
  EXPECT_FALSE(open);

  TempFolder outside;
  const Text target = outside / u"target.txt";
  ASSERT_TRUE(testing::WriteTestFile(target, "target"));
  const Text link = temp_ / u"link.txt";
  if (!MakeSymbolicLink(target, link)) GTEST_SKIP() << "symbolic links cannot be made here";
  EntryInfo entry;
  ASSERT_TRUE(fs_.Inspect(link, entry));
  EXPECT_EQ(entry.kind, EntryKind::kLink);
  const IoResult opened = fs_.OpenForOverwrite(link, open, info);
  EXPECT_EQ(opened.error, IoResult::kNotRegularFile);
  EXPECT_FALSE(open);
  // Removing the link leaves what it pointed at.
  EXPECT_TRUE(fs_.DeleteFile(link));
  EXPECT_FALSE(testing::PathExists(link));
  EXPECT_EQ(Read(target), "target");
}

TEST_F(SystemFileSystemTest, OpeningALinkNeverChangesWhatItPointsAt) {
  TempFolder outside;
  const Text target = outside / u"target.txt";
  ASSERT_TRUE(testing::WriteTestFile(target, "target"));
  stdfs::permissions(stdfs::path(target), stdfs::perms::owner_write, stdfs::perm_options::remove);
  const Text link = temp_ / u"link.txt";
  if (!MakeSymbolicLink(target, link)) GTEST_SKIP() << "symbolic links cannot be made here";
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_FALSE(fs_.OpenForOverwrite(link, open, info));
  const auto perms = stdfs::status(stdfs::path(target)).permissions();
  EXPECT_EQ(perms & stdfs::perms::owner_write, stdfs::perms::none);
}

TEST_F(SystemFileSystemTest, OpenForOverwriteMakesTheListedReadOnlyFileWritable) {
  const Text file = File(u"ro.txt", "ro");
  stdfs::permissions(stdfs::path(file), stdfs::perms::owner_write, stdfs::perm_options::remove);
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  ASSERT_TRUE(fs_.OpenForOverwrite(file, open, info));
  const auto perms = stdfs::status(stdfs::path(file)).permissions();
  EXPECT_NE(perms & stdfs::perms::owner_write, stdfs::perms::none);
}

TEST_F(SystemFileSystemTest, AHardLinkedFileIsRefusedBeforeItsModeChanges) {
  // The other name lies outside what was queued; the file must come out as it went in.
  TempFolder outside;
  const Text kept = outside / u"kept.txt";
  ASSERT_TRUE(testing::WriteTestFile(kept, "shared"));
  stdfs::permissions(stdfs::path(kept), stdfs::perms::owner_write, stdfs::perm_options::remove);
  const Text file = temp_ / u"a.txt";
  if (!MakeHardLink(kept, file)) GTEST_SKIP() << "hard links cannot be made here";
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_EQ(fs_.OpenForOverwrite(file, open, info).error, IoResult::kHardLinked);
  EXPECT_FALSE(open);
  const auto perms = stdfs::status(stdfs::path(kept)).permissions();
  EXPECT_EQ(perms & stdfs::perms::owner_write, stdfs::perms::none);
  EXPECT_EQ(Read(kept), "shared");
}

TEST_F(SystemFileSystemTest, RenameNeverReplacesAnExistingEntry) {
  const Text a = File(u"a.txt", "a");
  const Text b = File(u"b.txt", "b");
  EXPECT_FALSE(fs_.RenameNoReplace(a, b));
  EXPECT_EQ(Read(a), "a");
  EXPECT_EQ(Read(b), "b");
  // A folder is not moved over an empty folder either.
  const Text d = Folder(u"d");
  const Text e = Folder(u"e");
  EXPECT_FALSE(fs_.RenameNoReplace(d, e));
  EXPECT_TRUE(stdfs::is_directory(stdfs::path(d)));
  // A free name works, for files and folders.
  EXPECT_TRUE(fs_.RenameNoReplace(a, temp_ / u"c.txt"));
  EXPECT_EQ(Read(temp_ / u"c.txt"), "a");
  EXPECT_FALSE(testing::PathExists(a));
  EXPECT_TRUE(fs_.RenameNoReplace(d, temp_ / u"f"));
  EXPECT_TRUE(stdfs::is_directory(stdfs::path(temp_ / u"f")));
}

TEST_F(SystemFileSystemTest, CreationAndRemovalRefuseWhatIsInTheWay) {
  const Text file = File(u"a.txt", "a");
  std::unique_ptr<OpenFile> open;
  EXPECT_FALSE(fs_.CreateNewFile(file, open));
  EXPECT_EQ(Read(file), "a");
  const Text folder = Folder(u"d");
  EXPECT_FALSE(fs_.CreateFolder(folder));
  ASSERT_TRUE(testing::WriteTestFile(folder + kPathSeparator + u"x", "x"));
  EXPECT_FALSE(fs_.RemoveFolder(folder));
  EXPECT_FALSE(fs_.DeleteFile(folder));
  EXPECT_TRUE(fs_.DeleteFile(folder + kPathSeparator + u"x"));
  EXPECT_TRUE(fs_.RemoveFolder(folder));
  EXPECT_FALSE(testing::PathExists(folder));

  const Text fresh = temp_ / u"new.bin";
  ASSERT_TRUE(fs_.CreateNewFile(fresh, open));
  std::size_t written = 0;
  EXPECT_TRUE(open->Write("xyz", 3, written));
  EXPECT_TRUE(open->Close());
  EXPECT_EQ(Read(fresh), "xyz");
}

TEST_F(SystemFileSystemTest, FolderTimeStampsCanBeSet) {
  const Text folder = Folder(u"d");
  std::unique_ptr<OpenFile> open;
  ASSERT_TRUE(fs_.OpenFolderForStamp(folder, open));
  FileTime fixed = 0;
  ASSERT_TRUE(LocalTimeToFileTime(1981, 1, 1, 0, 0, 0, fixed));
  EXPECT_TRUE(open->SetTimes(fixed));
  EXPECT_TRUE(open->Close());
  EXPECT_TRUE(IsFixedLocalDate(LastWriteTime(folder)));
  const Text file = File(u"a.txt", "a");
  EXPECT_FALSE(fs_.OpenFolderForStamp(file, open));
}

TEST_F(SystemFileSystemTest, VolumeSpaceIsPlausible) {
  VolumeSpace space;
  ASSERT_TRUE(fs_.GetVolumeSpace(temp_.path(), space));
  EXPECT_GT(space.total_bytes, 0u);
  EXPECT_LE(space.free_bytes, space.total_bytes);
  EXPECT_GE(space.sector_size, 512u);
}

// The fill folder is made in the chosen folder and held: its files land in it whatever is put
// under its name meanwhile, they leave nothing behind when closed (where the system can make
// them nameless), and the folder is removed only while its name still names it.
TEST_F(SystemFileSystemTest, FillFolderIsHeldThroughItsHandle) {
  Folder(u"chosen");
  Folder(u"elsewhere");
  std::unique_ptr<FillFolder> folder;
  ASSERT_TRUE(fs_.MakeFillFolder(temp_ / u"chosen", u"Nulvane0000ABCD", folder));
  EXPECT_TRUE(stdfs::is_directory(stdfs::path(temp_ / u"chosen/Nulvane0000ABCD")));
  EXPECT_FALSE(fs_.MakeFillFolder(temp_ / u"chosen", u"Nulvane0000ABCD", folder).ok());
  ASSERT_TRUE(fs_.MakeFillFolder(temp_ / u"chosen", u"Nulvane0000ABCD2", folder));
  VolumeSpace space;
  ASSERT_TRUE(folder->GetSpace(space));
  EXPECT_GT(space.total_bytes, 0u);

  // Moved away and replaced by a link to another folder, as a hostile neighbour would.
  const stdfs::path made(temp_ / u"chosen/Nulvane0000ABCD2");
  const stdfs::path moved(temp_ / u"chosen/moved");
  std::error_code moving;
  stdfs::rename(made, moved, moving);
#ifdef _WIN32
  // Held without delete sharing: nobody can move it while the fill works.
  EXPECT_TRUE(moving);
  EXPECT_TRUE(folder->Remove());
  EXPECT_FALSE(stdfs::exists(made));
  return;
#endif
  ASSERT_FALSE(moving);
  if (!MakeSymbolicLink(temp_ / u"elsewhere", made.u16string(), true)) {
    GTEST_SKIP() << "symbolic links cannot be made here";
  }
  std::unique_ptr<OpenFile> file;
  bool named = false;
  ASSERT_TRUE(folder->MakeFile(u"tmp_ttt_1.xxx", Caching::kBuffered, file, named));
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("zeros", 5, written));
  EXPECT_TRUE(stdfs::is_empty(stdfs::path(temp_ / u"elsewhere")));
  ASSERT_TRUE(file->Close());
  if (named) {
    EXPECT_TRUE(stdfs::exists(moved / "tmp_ttt_1.xxx"));
    EXPECT_TRUE(folder->RemoveFile(u"tmp_ttt_1.xxx"));
  }
  EXPECT_TRUE(stdfs::is_empty(moved));
  EXPECT_EQ(folder->Remove().error, IoResult::kChangedEntry);
  EXPECT_TRUE(stdfs::is_symlink(made));
}

#ifdef _WIN32
TEST_F(SystemFileSystemTest, FullPathResolvesDotDotOnTheRealFolder) {
  // A ".." is resolved by the system on the folder it stands in; where that folder does not
  // exist, nothing can be resolved and the path comes back as it was.
  const Text folder = Folder(u"a");
  EXPECT_TRUE(fs_.CreateFolder(folder + u"\\b"));
  EXPECT_EQ(fs_.FullPath(folder + u"\\b\\..\\c\\.\\d"), folder + u"\\c\\d");
  EXPECT_EQ(fs_.FullPath(u"C:\\a\\\\c\\.\\d\\"), u"C:\\a\\c\\d");
  const Text missing = temp_ / u"missing\\..\\d";
  EXPECT_EQ(fs_.FullPath(missing), missing);
#else
TEST_F(SystemFileSystemTest, FullPathIsLexicallyNormalAndLeavesDotDotToTheSystem) {
  EXPECT_EQ(fs_.FullPath(u"/a//b/"), u"/a/b");
  EXPECT_EQ(fs_.FullPath(u"/a/./b/."), u"/a/b");
  EXPECT_EQ(fs_.FullPath(u"/.."), u"/");
  // "link/.." is where the system goes: the folder above the link's target, not the folder
  // that holds the link. Cutting the text would name a folder the user never meant.
  const Text target = Folder(u"real");
  stdfs::create_directories(stdfs::path(target + u"/deeper"));
  const Text link = temp_ / u"link";
  if (MakeSymbolicLink(target + u"/deeper", link)) {
    const Text resolved = Utf8ToText(stdfs::canonical(stdfs::path(target)).string());
    EXPECT_EQ(fs_.FullPath(link + u"/../x/./y//"), resolved + u"/x/y");
  }
#endif
  const Text relative = fs_.FullPath(u"x");
  EXPECT_EQ(relative.back(), u'x');
  EXPECT_GT(relative.size(), 2u);
}

#ifndef _WIN32
TEST_F(SystemFileSystemTest, DotAndDotDotBelowTheAnchorAreRefusedInTheFolderJustReached) {
  // Reaching an entry of "a" leaves the chain standing there; the next names in "a" take the
  // short way, which must refuse what would lead out of the folder all the same.
  const Text folder = Folder(u"a");
  const Text file = File(u"a/f", "x");
  const Text other = File(u"a/\u00e9\u4e2d\U0001F600", "yz");
  const std::size_t anchor = temp_.path().size();
  const OpenFolderScope scope(fs_);  // the chain stays in "a" between the calls
  EntryInfo info;
  ASSERT_TRUE(fs_.Inspect(EntryRef(file, anchor, {}), info));
  for (const TextView name : {TextView(u"."), TextView(u".."), TextView(u"f\0", 2)}) {
    Text path = folder + u"/";
    path.append(name);
    EXPECT_EQ(fs_.Inspect(EntryRef(path, anchor, {}), info).error, IoResult::kInvalidName);
    EXPECT_FALSE(fs_.DeleteFile(EntryRef(path, anchor, {})));
  }
  EXPECT_EQ(Read(file), "x");
  ASSERT_TRUE(fs_.Inspect(EntryRef(other, anchor, {}), info));
  EXPECT_EQ(info.kind, EntryKind::kFile);
  EXPECT_EQ(info.size, 2u);
  ASSERT_TRUE(fs_.Inspect(EntryRef(file, anchor, {}), info));
  EXPECT_EQ(info.size, 1u);
}

TEST_F(SystemFileSystemTest, TheSameFolderTextBelowAnotherAnchorIsReachedInThatAnchor) {
  // Inside one scope the chain stays in the folder last reached; an entry below another anchor
  // with the very same text after it lies in another folder, and only that one is touched.
  Folder(u"one");
  Folder(u"one/a");
  Folder(u"two");
  Folder(u"two/a");
  const Text first = File(u"one/a/f", "1");
  const Text second = File(u"two/a/f", "22");
  const std::size_t anchor = (temp_ / u"one").size();
  ASSERT_EQ(anchor, (temp_ / u"two").size());
  const OpenFolderScope scope(fs_);
  EntryInfo info;
  ASSERT_TRUE(fs_.Inspect(EntryRef(first, anchor, {}), info));
  EXPECT_EQ(info.size, 1u);
  ASSERT_TRUE(fs_.Inspect(EntryRef(second, anchor, {}), info));
  EXPECT_EQ(info.size, 2u);
  EXPECT_TRUE(fs_.DeleteFile(EntryRef(second, anchor, {})));
  EXPECT_EQ(Read(first), "1");
  EXPECT_FALSE(stdfs::exists(stdfs::path(std::u16string(second))));
}
#endif

TEST_F(SystemFileSystemTest, PathWithANulCharacterIsRefusedNotCutShort) {
  const Text file = File(u"a", "a");
  Text cut = file;
  cut.push_back(u'\0');
  cut += u"b";
  EXPECT_FALSE(fs_.DeleteFile(cut));
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_FALSE(fs_.OpenForOverwrite(cut, open, info));
  EXPECT_EQ(Read(file), "a");
}

TEST_F(SystemFileSystemTest, LongPathsAreHandledWholeOrRefused) {
#ifdef _WIN32
  // Beyond MAX_PATH: the extended-length form carries it whole.
  Text folder = temp_.path();
  for (int i = 0; i < 6; ++i) {
    folder += u"\\" + Text(50, static_cast<char16_t>(u'a' + i));
    ASSERT_TRUE(fs_.CreateFolder(folder)) << i;
  }
  ASSERT_GT(folder.size(), 300u);
  const Text file = folder + u"\\file.txt";
  std::unique_ptr<OpenFile> open;
  ASSERT_TRUE(fs_.CreateNewFile(file, open));
  std::size_t written = 0;
  ASSERT_TRUE(open->Write("long", 4, written));
  ASSERT_TRUE(open->Close());
  OpenedFileInfo info;
  ASSERT_TRUE(fs_.OpenForOverwrite(file, open, info));
  EXPECT_EQ(info.size, 4u);
  ASSERT_TRUE(open->Close());
  EXPECT_TRUE(fs_.RenameNoReplace(file, folder + u"\\moved.txt"));
  EXPECT_TRUE(fs_.DeleteFile(folder + u"\\moved.txt"));
  EntryInfo entry;
  EXPECT_FALSE(fs_.Inspect(folder + u"\\moved.txt", entry));
#else
  // A name longer than the system takes is refused as such, never cut.
  const Text name = temp_ / Text(300, u'n');
  EXPECT_EQ(fs_.CreateFolder(name).error, IoResult::kPathTooLong);
  EntryInfo entry;
  EXPECT_EQ(fs_.Inspect(name, entry).error, IoResult::kPathTooLong);
#endif
}

#ifdef _WIN32
TEST_F(SystemFileSystemTest, DevicesAreNeverOpenedForOverwrite) {
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_EQ(fs_.OpenForOverwrite(u"\\\\.\\PhysicalDrive0", open, info).error,
            IoResult::kNotRegularFile);
  EXPECT_FALSE(fs_.OpenForOverwrite(temp_ / u"NUL", open, info));
  EXPECT_FALSE(open);
}
#else
TEST_F(SystemFileSystemTest, PipeIsRefusedWithoutBlocking) {
  const Text pipe = temp_ / u"pipe";
  ASSERT_EQ(::mkfifo(TextToUtf8(pipe).c_str(), 0600), 0);
  EntryInfo entry;
  ASSERT_TRUE(fs_.Inspect(pipe, entry));
  EXPECT_EQ(entry.kind, EntryKind::kOther);
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_EQ(fs_.OpenForOverwrite(pipe, open, info).error, IoResult::kNotRegularFile);
}
#endif

// Everything read back through a reader opened from the handle.
std::string ReadBack(OpenFile& open) {
  std::unique_ptr<UncachedReader> reader;
  EXPECT_TRUE(open.OpenUncachedReader(reader));
  std::string bytes;
  if (!reader) return bytes;
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  while (reader->ReadNext(data, size) && size > 0) {
    bytes.append(reinterpret_cast<const char*>(data), size);
  }
  return bytes;
}

TEST_F(SystemFileSystemTest, TheOpenHandleReportsItsSizeAndReadsBackWhatWasWritten) {
  const Text path = File(u"grows.bin", std::string(3000, 'x'));
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  ASSERT_TRUE(fs_.OpenForOverwrite(path, open, info));
  EXPECT_FALSE(info.stored_elsewhere);
  std::string pattern;
  for (int i = 0; i < 5000; ++i) pattern.push_back(static_cast<char>('a' + i % 26));
  std::size_t written = 0;
  ASSERT_TRUE(open->Write(pattern.data(), pattern.size(), written));
  ASSERT_EQ(written, pattern.size());
  ASSERT_TRUE(open->Flush());
  std::uint64_t size = 0;
  ASSERT_TRUE(open->CurrentSize(size));
  EXPECT_EQ(size, 5000u);
  EXPECT_EQ(ReadBack(*open), pattern);
#ifndef _WIN32
  // Renamed meanwhile, the handle still reaches the same object. (Windows refuses to rename a
  // file open without delete sharing.)
  ASSERT_TRUE(fs_.RenameNoReplace(path, temp_ / u"renamed.bin"));
  EXPECT_EQ(ReadBack(*open), pattern);
#endif
  EXPECT_TRUE(open->Close());
}

TEST_F(SystemFileSystemTest, WriteRepeatedPutsEveryCopyOfTheBlockInOrder) {
  const Text path = temp_ / u"fill.bin";
  std::unique_ptr<OpenFile> open;
  ASSERT_TRUE(fs_.CreateNewFile(path, open, Caching::kBuffered));
  std::string block(4096, 0);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  std::size_t written = 0;
  ASSERT_TRUE(open->WriteRepeated(block.data(), block.size(), 16, written));
  EXPECT_EQ(written, 16u * 4096);
  ASSERT_TRUE(open->Close());
  std::string expected;
  for (int i = 0; i < 16; ++i) expected += block;
  EXPECT_EQ(Read(path), expected);
}

#ifndef _WIN32
// Regression: "--fill a/link/.." was resolved as text (to "a") instead of as the system
// resolves it (the parent of the link's target). The chosen folder itself must be no link.
TEST_F(SystemFileSystemTest, FillFolderGoesWhereTheSystemResolvesTheChosenPath) {
  Folder(u"a");
  Folder(u"b");
  Folder(u"b/sub");
  ASSERT_TRUE(MakeSymbolicLink(temp_ / u"b/sub", temp_ / u"a/link", true));
  std::unique_ptr<FillFolder> folder;
  ASSERT_TRUE(fs_.MakeFillFolder(temp_ / u"a/link/..", u"Nulvane00000001", folder));
  const Text b = stdfs::canonical(stdfs::path(temp_ / u"b")).u16string();
  EXPECT_EQ(folder->ChosenPath(), b);
  EXPECT_EQ(folder->Path(), b + u"/Nulvane00000001");
  EXPECT_EQ(fs_.FullPath(temp_ / u"a/link/.."), b);  // FullPath asks the system too
  EXPECT_TRUE(folder->Remove());
  EXPECT_FALSE(stdfs::exists(stdfs::path(b + u"/Nulvane00000001")));
  EXPECT_FALSE(fs_.MakeFillFolder(File(u"plain.txt", "x"), u"Nulvane00000002", folder));
  EXPECT_FALSE(fs_.MakeFillFolder(temp_ / u"a/link", u"Nulvane00000003", folder));
  EXPECT_FALSE(stdfs::exists(stdfs::path(temp_ / u"b/sub/Nulvane00000003")));
}
#endif

TEST(SystemErrorText, GivesOneLineForSystemAndOwnCodes) {
  for (const std::uint32_t code : {2u, 5u, IoResult::kDiskFull, IoResult::kPathTooLong}) {
    const Text text = SystemErrorText(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.find(u'\n'), Text::npos) << code;
    EXPECT_NE(text.back(), u'\r');
  }
  EXPECT_NE(SystemErrorText(IoResult::kDiskFull), SystemErrorText(IoResult::kPathTooLong));
}

TEST(SystemClock, SleepingMovesTheClockOn) {
  Clock& clock = SystemClock();
  const std::uint32_t before = clock.NowMs();
  clock.SleepMs(50);
  EXPECT_GE(static_cast<std::uint32_t>(clock.NowMs() - before), 10u);
}

TEST(PrepareForWriting, LeavesWhatTheMemoryHoldsAsItWas) {
  // Asked of memory already written (a store's block reused, a range that starts and ends
  // mid-page), it maps pages and changes no byte.
  std::vector<unsigned char> memory(std::size_t{3} << 20);
  for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<unsigned char>(i * 7 + 1);
  const std::vector<unsigned char> before = memory;
  PrepareForWriting(memory.data() + 5, memory.size() - 11);
  PrepareForWriting(memory.data(), memory.size());
  EXPECT_TRUE(memory == before);
}

#ifndef _WIN32
TEST(PrepareForWriting, MapsEveryWholePageInsideTheRangeAndNoOther) {
  // Fresh anonymous pages are resident only once something maps them: after the call exactly
  // the pages that lie whole inside the range are, the two it starts and ends in are not.
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  constexpr std::size_t kPages = 8;
  void* const mapped =
      ::mmap(nullptr, kPages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  auto* const bytes = static_cast<unsigned char*>(mapped);
  if (::madvise(bytes + 7 * page, page, MADV_POPULATE_WRITE) != 0) {
    ::munmap(mapped, kPages * page);
    GTEST_SKIP() << "the kernel cannot map pages ahead";
  }
  PrepareForWriting(bytes + page + 1, 6 * page - 2);  // whole pages 2 to 5
  unsigned char resident[kPages] = {};
  ASSERT_EQ(::mincore(mapped, kPages * page, resident), 0);
  for (std::size_t i = 0; i < kPages; ++i) {
    const bool expected = (i >= 2 && i <= 5) || i == 7;
    EXPECT_EQ((resident[i] & 1) != 0, expected) << "page " << i;
  }
  for (std::size_t i = 0; i < kPages * page; ++i) ASSERT_EQ(bytes[i], 0) << i;
  ::munmap(mapped, kPages * page);
}
#endif

}  // namespace
}  // namespace nulvane::platform
