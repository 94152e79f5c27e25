// The Windows file system on real folders under Wine: extended-length paths, names the classic
// path rules would change, identity checks before changes, and the link rule. Wine shows Unix
// links to Windows code as plain files and makes no symbolic links of its own, so the rule
// "a link is exactly a name-surrogate reparse tag" is tested on the classifying function.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>
#undef DeleteFile

#include <algorithm>
#include <map>
#include <string>

#include "platform/file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_path.h"
#include "support/temp_folder.h"

namespace nulvane::platform {
namespace {

using testing::TempFolder;

std::string ReadWhole(const Text& path) {
  const Text extended = win32::ExtendedPath(path);
  HANDLE handle = ::CreateFileW(Wide(extended), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(4096, '\0');
  DWORD read = 0;
  ::ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  ::CloseHandle(handle);
  bytes.resize(read);
  return bytes;
}

DWORD Attributes(const Text& path) { return ::GetFileAttributesW(Wide(win32::ExtendedPath(path))); }

class Win32FileSystem : public ::testing::Test {
 protected:
  void TearDown() override { fs_.ForgetOpenFolders(); }
  Text Make(const Text& path, const std::string& bytes) {
    std::unique_ptr<OpenFile> file;
    EXPECT_TRUE(fs_.CreateNewFile(path, file)) << TextToUtf8(path);
    if (!file) return path;
    std::size_t written = 0;
    EXPECT_TRUE(file->Write(bytes.data(), bytes.size(), written));
    EXPECT_TRUE(file->Close());
    return path;
  }
  std::map<Text, EntryInfo> List(const EntryRef& folder) {
    std::map<Text, EntryInfo> entries;
    EXPECT_TRUE(fs_.ListFolder(
        folder, [&](TextView name, const EntryInfo& info) { entries[Text(name)] = info; }));
    return entries;
  }
  bool Overwrite(const EntryRef& entry) {
    std::unique_ptr<OpenFile> file;
    OpenedFileInfo info;
    if (!fs_.OpenForOverwrite(entry, file, info)) return false;
    const std::string zeros(info.size, '\0');
    std::size_t written = 0;
    return file->Write(zeros.data(), zeros.size(), written) && file->Close();
  }

  TempFolder temp_;
  FileSystem& fs_ = SystemFileSystem();
};

TEST(Win32PathRules, OnlyNameSurrogateReparseTagsAreLinks) {
  constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
  EXPECT_EQ(win32::KindOf(kReparse, IO_REPARSE_TAG_SYMLINK), EntryKind::kLink);
  EXPECT_EQ(win32::KindOf(kReparse | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT),
            EntryKind::kLink);
  // Cloud placeholder, deduplicated and WOF-compressed files hold content of their own.
  for (const DWORD tag : {0x9000001Au, 0x80000013u, 0x80000017u}) {
    EXPECT_EQ(win32::KindOf(kReparse, tag), EntryKind::kFile) << tag;
    EXPECT_EQ(win32::KindOf(kReparse | FILE_ATTRIBUTE_DIRECTORY, tag), EntryKind::kFolder) << tag;
  }
  // Without the attribute a stray tag means nothing.
  EXPECT_EQ(win32::KindOf(FILE_ATTRIBUTE_ARCHIVE, IO_REPARSE_TAG_SYMLINK), EntryKind::kFile);
}

TEST(Win32PathRules, PathsBecomeAbsoluteNormalAndExtendedWithoutLosingNames) {
  EXPECT_EQ(win32::NormalPath(u"C:\\a\\\\b.\\.\\c \\"), u"C:\\a\\b.\\c ");
  EXPECT_EQ(win32::NormalPath(u"c:/a/b/"), u"c:\\a\\b");
  EXPECT_EQ(win32::NormalPath(u"C:\\"), u"C:\\");
  EXPECT_EQ(win32::NormalPath(u"\\\\srv\\share\\x\\"), u"\\\\srv\\share\\x");
  EXPECT_EQ(win32::NormalPath(u"C:relative"), u"");
  EXPECT_EQ(win32::ExtendedPath(u"C:\\a."), u"\\\\?\\C:\\a.");
  EXPECT_EQ(win32::ExtendedPath(u"\\\\srv\\share\\x"), u"\\\\?\\UNC\\srv\\share\\x");
  EXPECT_EQ(win32::ClassicPath(u"\\\\?\\UNC\\srv\\share\\x"), u"\\\\srv\\share\\x");
  EXPECT_TRUE(win32::IsDevicePath(u"\\\\.\\PhysicalDrive0"));
  EXPECT_TRUE(win32::IsDevicePath(u"\\\\?\\GLOBALROOT\\Device\\X"));
  EXPECT_FALSE(win32::IsDevicePath(u"\\\\?\\C:\\x"));

  // A relative name keeps its final dot and blank; a relative path of 200 units whose
  // absolute form passes MAX_PATH is given the extended form all the same.
  const Text relative = Text(120, u'r') + u"\\" + Text(78, u's') + u" .";
  const Text absolute = win32::AbsolutePath(relative);
  ASSERT_GT(absolute.size(), relative.size());
  EXPECT_EQ(absolute.substr(absolute.size() - relative.size()), relative);
  EXPECT_EQ(win32::ExtendedPath(win32::NormalPath(absolute)).substr(0, 4), u"\\\\?\\");
}

TEST_F(Win32FileSystem, FullPathResolvesDotDotOnTheRealFolderAndKeepsFinalDots) {
  ASSERT_TRUE(fs_.CreateFolder(temp_ / u"a"));
  ASSERT_TRUE(fs_.CreateFolder(temp_ / u"a\\b"));
  EXPECT_EQ(fs_.FullPath(temp_ / u"a\\b\\..\\c."), temp_ / u"a\\c.");
  EXPECT_EQ(fs_.FullPath(temp_ / u"a\\.\\\\b\\"), temp_ / u"a\\b");
  // A ".." under a folder that does not exist cannot be resolved: the path stays as it was.
  const Text unresolvable = temp_ / u"missing\\..\\x";
  EXPECT_EQ(fs_.FullPath(unresolvable), unresolvable);
}

TEST_F(Win32FileSystem, DeepTreesAndLongRelativePathsAreHandledWhole) {
  // A tree deeper than 260 units, reached from a relative path: each step is short.
  wchar_t previous[MAX_PATH * 4];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH * 4, previous), 0u);
  ASSERT_TRUE(::SetCurrentDirectoryW(Wide(temp_.path())));
  Text folder;
  for (int i = 0; i < 8; ++i) {
    folder += (folder.empty() ? u"" : u"\\") + Text(40, static_cast<char16_t>(u'a' + i));
    ASSERT_TRUE(fs_.CreateFolder(folder)) << i;
  }
  const Text file = Make(folder + u"\\deep.txt", "deep");
  ASSERT_GT(fs_.FullPath(file).size(), 340u);
  EntryInfo info;
  ASSERT_TRUE(fs_.Inspect(file, info));
  EXPECT_EQ(info.kind, EntryKind::kFile);
  EXPECT_TRUE(info.identity.known);
  const auto entries = List(folder);
  ASSERT_TRUE(entries.count(u"deep.txt"));
  EXPECT_EQ(entries.at(u"deep.txt").kind, EntryKind::kFile);
  EXPECT_TRUE(Overwrite(EntryRef(file, ParentAnchorLength(file), info.identity)));
  EXPECT_TRUE(fs_.RenameNoReplace(file, folder + u"\\moved"));
  EXPECT_TRUE(fs_.DeleteFile(folder + u"\\moved"));
  // The folders, deepest first, as a run removes them: the handles kept open for the
  // chain never stand in the way of a folder's own rename and removal.
  while (!folder.empty()) {
    const Text renamed = folder.substr(0, ParentAnchorLength(folder)) + u"0";
    EXPECT_TRUE(fs_.RenameNoReplace(folder, renamed)) << TextToUtf8(folder);
    EXPECT_TRUE(fs_.RemoveFolder(renamed)) << TextToUtf8(renamed);
    EXPECT_EQ(Attributes(fs_.FullPath(renamed)), INVALID_FILE_ATTRIBUTES) << "not left pending";
    const std::size_t cut = folder.rfind(u'\\');
    folder = cut == Text::npos ? Text() : folder.substr(0, cut);
  }
  fs_.ForgetOpenFolders();
  ASSERT_TRUE(::SetCurrentDirectoryW(previous));
  EXPECT_TRUE(List(temp_.path()).count(u"0") == 0);
}

TEST_F(Win32FileSystem, NamesEndingInADotOrABlankAreDestroyedWithoutTouchingTheirNeighbour) {
  const Text plain = Make(temp_ / u"name", "plain");
  const Text dot = Make(temp_ / u"name.", "dot");
  const Text blank = Make(temp_ / u"name ", "blank");
  EXPECT_EQ(ReadWhole(plain), "plain");
  const auto entries = List(temp_.path());
  EXPECT_TRUE(entries.count(u"name.") && entries.count(u"name ") && entries.count(u"name"));
  for (const Text& odd : {dot, blank}) {
    EXPECT_TRUE(Overwrite(odd)) << TextToUtf8(odd);
    const Text renamed = odd + u"x.";
    EXPECT_TRUE(fs_.RenameNoReplace(odd, renamed));
    EXPECT_EQ(ReadWhole(renamed), std::string(odd == dot ? 3 : 5, '\0'));
    EXPECT_TRUE(fs_.DeleteFile(renamed));
    EXPECT_EQ(Attributes(renamed), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_EQ(ReadWhole(plain), "plain");
  // A folder named with a final dot is listed, stamped and removed as itself.
  const Text folder = temp_ / u"sub.";
  ASSERT_TRUE(fs_.CreateFolder(folder));
  EXPECT_TRUE(List(folder).size() <= 2u);
  std::unique_ptr<OpenFile> stamp;
  EXPECT_TRUE(fs_.OpenFolderForStamp(folder, stamp));
  stamp.reset();
  EXPECT_TRUE(fs_.RemoveFolder(folder));
  EXPECT_EQ(ReadWhole(plain), "plain");
}

TEST_F(Win32FileSystem, AnEntryReplacedSinceItWasListedIsLeftAlone) {
  const Text file = Make(temp_ / u"f.txt", "first");
  EntryInfo listed;
  ASSERT_TRUE(fs_.Inspect(file, listed));
  // Another file takes the name, read-only, between the look and the overwrite (the first
  // one stays, so that the new one cannot be given its file id again).
  ASSERT_TRUE(fs_.RenameNoReplace(file, temp_ / u"aside"));
  Make(file, "second");
  ASSERT_TRUE(::SetFileAttributesW(Wide(win32::ExtendedPath(file)), FILE_ATTRIBUTE_READONLY));
  const EntryRef stale(file, ParentAnchorLength(file), listed.identity);
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_EQ(fs_.OpenForOverwrite(stale, open, info).error, IoResult::kChangedEntry);
  EXPECT_FALSE(open);
  EXPECT_EQ(fs_.RenameNoReplace(stale, temp_ / u"g").error, IoResult::kChangedEntry);
  EXPECT_EQ(fs_.DeleteFile(stale).error, IoResult::kChangedEntry);
  EXPECT_EQ(ReadWhole(file), "second");
  EXPECT_NE(Attributes(file) & FILE_ATTRIBUTE_READONLY, 0u) << "the refused file kept its mode";
  // The current identity is admitted, and the read-only mark is cleared only then.
  EntryInfo current;
  ASSERT_TRUE(fs_.Inspect(file, current));
  EXPECT_NE(current.identity, listed.identity);
  EXPECT_TRUE(Overwrite(EntryRef(file, ParentAnchorLength(file), current.identity)));
  EXPECT_EQ(Attributes(file) & FILE_ATTRIBUTE_READONLY, 0u);
}

// A file looked at inside its held folder takes that folder's volume facts; looked at as an
// anchor of its own, it asks its volume. Both reads must give one identity, or every check
// after a listing would refuse the entry it listed.
TEST_F(Win32FileSystem, AnEntryHasOneIdentityWhetherReachedThroughItsFolderOrByItself) {
  const Text file = Make(temp_ / u"f.txt", "bytes");
  ASSERT_TRUE(fs_.CreateFolder(temp_ / u"d"));
  for (const Text& path : {file, temp_ / u"d"}) {
    EntryInfo inside, alone;
    ASSERT_TRUE(fs_.Inspect(EntryRef(path, ParentAnchorLength(path), {}), inside));
    ASSERT_TRUE(fs_.Inspect(EntryRef(path, path.size(), {}), alone));
    EXPECT_TRUE(inside.identity.known);
    EXPECT_EQ(inside.identity, alone.identity) << TextToUtf8(path);
    EXPECT_EQ(inside.kind, alone.kind);
    EXPECT_EQ(inside.size, alone.size);
    EXPECT_FALSE(inside.other_volume);
  }
  // Wine's drive reads as NTFS, whose listings give a plain file's or folder's identity: the
  // one Inspect gives.
  const auto listed = List(EntryRef(temp_.path(), temp_.path().size(), {}));
  for (const Text& name : {Text(u"f.txt"), Text(u"d")}) {
    ASSERT_EQ(listed.count(name), 1u);
    const Text path = temp_ / name;
    EntryInfo inspected;
    ASSERT_TRUE(fs_.Inspect(EntryRef(path, ParentAnchorLength(path), {}), inspected));
    const EntryIdentity& from_listing = listed.at(name).identity;
    ASSERT_TRUE(from_listing.known) << TextToUtf8(name);
    EXPECT_EQ(from_listing, inspected.identity) << TextToUtf8(name);
  }
}

TEST_F(Win32FileSystem, AHardLinkedFileIsRefusedBeforeItsModeChanges) {
  const Text file = Make(temp_ / u"a.txt", "shared");
  if (!::CreateHardLinkW(Wide(temp_ / u"b.txt"), Wide(file), nullptr)) {
    GTEST_SKIP() << "hard links cannot be made here";
  }
  ASSERT_TRUE(::SetFileAttributesW(Wide(file), FILE_ATTRIBUTE_READONLY));
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_EQ(fs_.OpenForOverwrite(file, open, info).error, IoResult::kHardLinked);
  EXPECT_NE(Attributes(file) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(ReadWhole(file), "shared");
}

TEST_F(Win32FileSystem, RenameByHandleNeverReplaces) {
  const Text a = Make(temp_ / u"a", "a");
  const Text b = Make(temp_ / u"b.", "b");
  EXPECT_FALSE(fs_.RenameNoReplace(a, b));
  EXPECT_EQ(ReadWhole(a), "a");
  EXPECT_EQ(ReadWhole(b), "b");
  ASSERT_TRUE(fs_.CreateFolder(temp_ / u"d"));
  EXPECT_FALSE(fs_.RenameNoReplace(temp_ / u"d", a));
  EXPECT_EQ(ReadWhole(a), "a");
  // Only the last component of the target counts: the entry stays in its folder.
  EXPECT_TRUE(fs_.RenameNoReplace(a, temp_ / u"d\\c"));
  EXPECT_EQ(ReadWhole(temp_ / u"c"), "a");
  EXPECT_EQ(fs_.RenameNoReplace(temp_ / u"c", temp_ / u"..").error,
            static_cast<std::uint32_t>(ERROR_INVALID_NAME));
  // The classic path rules that the temporary folder's clean-up follows cannot name "b.".
  EXPECT_TRUE(fs_.DeleteFile(b));
}

TEST_F(Win32FileSystem, ADotDotBelowTheAnchorAndANulAreRefused) {
  ASSERT_TRUE(fs_.CreateFolder(temp_ / u"d"));
  const Text file = Make(temp_ / u"x", "x");
  const Text climbing = temp_ / u"d\\..\\x";
  const EntryRef below(climbing, temp_.path().size() + 1, EntryIdentity{});
  EXPECT_EQ(fs_.DeleteFile(below).error, IoResult::kInvalidName);
  Text cut = file;
  cut += Text(1, u'\0') + u"y";
  EXPECT_EQ(fs_.DeleteFile(cut).error, IoResult::kInvalidName);
  EXPECT_EQ(ReadWhole(file), "x");
  // Typed as part of the anchor, the ".." is the user's own and is resolved.
  EXPECT_TRUE(fs_.DeleteFile(climbing));
}

// Writes past the cache swap the writer for an unbuffered handle of the same object: the body
// and then the tail land where they belong, and while it writes, others may still read the
// file but not write to it, as with the buffered writer.
TEST_F(Win32FileSystem, AnUnbufferedWriterKeepsThePositionAndLetsOthersOnlyRead) {
  constexpr std::size_t kSize = 3 * 65536 + 100;
  const Text file = Make(temp_ / u"big.bin", std::string(kSize, 'x'));
  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  ASSERT_TRUE(fs_.OpenForOverwrite(file, open, info));
  OpenFile::DirectAlignment alignment;
  ASSERT_TRUE(open->StartDirectWrites(alignment));
  ASSERT_TRUE(alignment.block != 0 && 65536 % alignment.block == 0);
  void* block = ::VirtualAlloc(nullptr, 65536, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(block, nullptr);
  std::size_t written = 0;
  EXPECT_TRUE(open->WriteDirect(block, 65536, written));
  EXPECT_EQ(written, 65536u);
  const auto try_open = [&](DWORD access) {
    const HANDLE other =
        ::CreateFileW(Wide(win32::ExtendedPath(file)), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = other == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    if (other != INVALID_HANDLE_VALUE) ::CloseHandle(other);
    return error;
  };
  EXPECT_EQ(try_open(GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(try_open(GENERIC_READ), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(open->Seek(2 * 65536));  // a second range, as a sparse file's
  EXPECT_TRUE(open->WriteDirect(block, 65536, written));
  EXPECT_TRUE(open->Write(block, 100, written));  // the tail, through the cache
  EXPECT_EQ(try_open(GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(open->Flush());
  EXPECT_TRUE(open->Close());
  ::VirtualFree(block, 0, MEM_RELEASE);
  std::string expected(kSize, '\0');
  std::fill_n(expected.begin() + 65536, 65536, 'x');
  std::string back;
  ASSERT_TRUE(testing::ReadTestFile(file, back));
  EXPECT_EQ(back, expected);
}

// Wine shows a Unix symbolic link as the plain file it leads to, and that file may lie on
// another file system. Such a file is not on its folder's volume: it is refused, and the file
// the link leads to keeps its bytes.
TEST_F(Win32FileSystem, AUnixLinkToAFileOnAnotherFileSystemIsNotWrittenThrough) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unix_name = reinterpret_cast<UnixName>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
  if (!unix_name) GTEST_SKIP() << "needs Wine";
  const Text target =
      u"Z:\\dev\\shm\\nulvane-link-target-" + Utf8ToText(std::to_string(::GetCurrentProcessId()));
  // Wine gives the same process ids run after run: whatever an earlier run left goes first,
  // and the target goes however this one ends.
  ::DeleteFileW(Wide(target));
  struct Cleanup {
    const Text& path;
    ~Cleanup() { ::DeleteFileW(Wide(path)); }
  } cleanup{target};
  const Text target_made = Make(target, "elsewhere");
  const Text link = temp_ / u"link.txt";
  char* link_unix = unix_name(Wide(link));
  char* target_unix = unix_name(Wide(target));
  ASSERT_TRUE(link_unix && target_unix);
  std::wstring command = L"Z:\\bin\\ln -s ";
  for (const char* c = target_unix; *c; ++c) command.push_back(static_cast<wchar_t>(*c));
  command.push_back(L' ');
  for (const char* c = link_unix; *c; ++c) command.push_back(static_cast<wchar_t>(*c));
  ::HeapFree(::GetProcessHeap(), 0, link_unix);
  ::HeapFree(::GetProcessHeap(), 0, target_unix);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(::CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
  ::WaitForSingleObject(process.hProcess, 10000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  // Wine may report a Unix program ended before its work shows: wait for the link itself.
  for (int i = 0; i < 200 && Attributes(link) == INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(50);
  ASSERT_NE(Attributes(link), INVALID_FILE_ATTRIBUTES) << "the link could not be made";
  EntryInfo alone, inside;
  ASSERT_TRUE(fs_.Inspect(EntryRef(target_made, target_made.size(), {}), alone));
  ASSERT_TRUE(fs_.Inspect(EntryRef(link, ParentAnchorLength(link), {}), inside));
  EntryIdentity folder;
  ASSERT_TRUE(fs_.IdentifyAnchor(temp_.path(), folder));
  if (alone.identity.volume == folder.volume) {
    GTEST_SKIP() << "/dev/shm lies on the temporary folder's file system";
  }

  std::unique_ptr<OpenFile> open;
  OpenedFileInfo info;
  EXPECT_EQ(
      fs_.OpenForOverwrite(EntryRef(link, ParentAnchorLength(link), inside.identity), open, info)
          .error,
      IoResult::kOtherVolume);
  EXPECT_FALSE(open);
  EXPECT_EQ(ReadWhole(target), "elsewhere");
  ::DeleteFileW(Wide(temp_ / u"link.txt"));
}

}  // namespace
}  // namespace nulvane::platform
#endif  // _WIN32
