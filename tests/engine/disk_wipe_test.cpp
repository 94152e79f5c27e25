// Runs and single items on the real file system, in the test's own temporary folder. A wrapper
// around the system's FileSystem reads the disk back while the run is working: after every
// pass and before the renames.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/deletion_run.h"
#include "engine_test_support.h"
#include "observing_file_system.h"
#include "support/fake_clock.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>
// The interface has a method of this name; the Win32 function is always called as DeleteFileW.
#undef DeleteFile

#include "platform/win32/wide.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#endif

namespace nulvane::engine {
namespace {

namespace stdfs = std::filesystem;
using platform::IoResult;
using platform::OpenFile;
using testing::FakeClock;
using testing::ObservingFileSystem;
using testing::RecordingHost;
using testing::TempFolder;

std::string ReadAll(const Text& path) {
  std::string bytes;
  EXPECT_TRUE(testing::ReadTestFile(path, bytes)) << testing::Narrow(path);
  return bytes;
}

bool AllZeroBytes(const std::string& bytes) {
  return bytes.find_first_not_of('\0') == std::string::npos;
}

// Whether the entry's time stamps all read 1981-01-01 00:00:00 in local time. The creation
// time is checked where the system keeps one that can be set.
bool StampedWithFixedDate(const Text& path) {
#ifdef _WIN32
  const HANDLE handle =
      ::CreateFileW(platform::Wide(path), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FILETIME times[3];
  const BOOL read = ::GetFileTime(handle, &times[0], &times[1], &times[2]);
  ::CloseHandle(handle);
  if (!read) return false;
  for (const FILETIME& time : times) {
    SYSTEMTIME utc, local;
    if (!::FileTimeToSystemTime(&time, &utc) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
      return false;
    }
    if (local.wYear != 1981 || local.wMonth != 1 || local.wDay != 1 || local.wHour != 0 ||
        local.wMinute != 0 || local.wSecond != 0) {
      return false;
    }
  }
  return true;
#else
  struct stat status;
  if (::lstat(platform::TextToUtf8(path).c_str(), &status) != 0) return false;
  for (const std::time_t time : {status.st_atime, status.st_mtime}) {
    std::tm local{};
    if (!::localtime_r(&time, &local)) return false;
    if (local.tm_year != 81 || local.tm_mon != 0 || local.tm_mday != 1 || local.tm_hour != 0 ||
        local.tm_min != 0 || local.tm_sec != 0) {
      return false;
    }
  }
  return true;
#endif
}

std::vector<Text> Entries(const Text& folder) {
  std::vector<Text> names;
  for (const auto& entry : stdfs::directory_iterator(stdfs::path(folder))) {
    names.push_back(entry.path().filename().u16string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool MakeSymbolicLink(const Text& target, const Text& link) {
#ifdef _WIN32
  // 0x2: SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE (developer mode).
  // Wine reports success for links it then cannot find again: only a visible link counts.
  return ::CreateSymbolicLinkW(platform::Wide(link), platform::Wide(target), 0x2) != 0 &&
         ::GetFileAttributesW(platform::Wide(link)) != INVALID_FILE_ATTRIBUTES;
#else
  return ::symlink(platform::TextToUtf8(target).c_str(), platform::TextToUtf8(link).c_str()) == 0;
#endif
}

class DiskWipe : public ::testing::Test {
 protected:
  Text File(TextView name, const std::string& bytes) {
    const Text path = temp_ / name;
    EXPECT_TRUE(testing::WriteTestFile(path, bytes)) << testing::Narrow(path);
    return path;
  }
  Text Folder(TextView name) {
    const Text path = temp_ / name;
    stdfs::create_directories(stdfs::path(path));
    return path;
  }
  RunResult Run(std::vector<Text> items, int passes) {
    host_.SetItems(std::move(items), [&](TextView path) {
      platform::EntryInfo info;
      fs_.Inspect(path, info);
      return info.identity;
    });
    RunContext context(host_, fs_, clock_, flags_);
    context.passes = passes;
    context.delay = 0;
    RunResult result;
    testing::RunOnFreshThread([&] { result = RunDeletion(context); });
    return result;
  }
  TempFolder temp_;
  ObservingFileSystem fs_;
  RecordingHost host_;
  FakeClock clock_;
  RunFlags flags_;
};

TEST_F(DiskWipe, EachPassLeavesZerosTheDateComesBeforeTheRenamesAndOnlyTheListGoes) {
  const Text keep = File(u"keep.txt", "keep me");
  const Text folder = Folder(u"sub");
  const Text a =
      File(u"sub" + Text(1, platform::kPathSeparator) + u"a.bin", std::string(5000, 'x'));
  const Text b = File(u"b.bin", std::string(3001, 'y'));
  const Text empty = File(u"empty.bin", "");
  std::map<Text, int> passes_seen;
  std::map<Text, std::size_t> lengths = {{a, 5000}, {b, 3001}, {empty, 0}};
  std::set<Text> stamped;
  std::map<Text, bool> stamped_at_close;
  fs_.after_overwrite_closed = [&](const Text& path) {
    // Looked at before the read below, which may move the access time on.
    stamped_at_close[path] = StampedWithFixedDate(path);
    const std::string bytes = ReadAll(path);
    EXPECT_EQ(bytes.size(), lengths[path]) << testing::Narrow(path);
    EXPECT_TRUE(AllZeroBytes(bytes)) << testing::Narrow(path);
    ++passes_seen[path];
  };
  fs_.before_rename = [&](const Text& from) {
    if (lengths.count(from) || from == folder) {
      // A file was last read back by the test itself right after its last pass was closed.
      EXPECT_TRUE(from == folder ? StampedWithFixedDate(from) : stamped_at_close[from])
          << testing::Narrow(from);
      stamped.insert(from);
    }
  };
  const RunResult result = Run({b, empty, folder, a}, 3);

  EXPECT_EQ(result.error_count, 0) << testing::Narrow(host_.MessageTexts().back());
  EXPECT_EQ(passes_seen, (std::map<Text, int>{{a, 3}, {b, 3}, {empty, 3}}));
  EXPECT_EQ(stamped, (std::set<Text>{a, b, empty, folder}));
  EXPECT_EQ(result.written_bytes, 3u * 8001u);
  EXPECT_EQ(Entries(temp_.path()), std::vector<Text>{u"keep.txt"});
  EXPECT_EQ(ReadAll(keep), "keep me");
  EXPECT_EQ(host_.LastStatus(), u"100.0 % // Error: 0 ");
}

TEST_F(DiskWipe, LinkToAFileOutsideTheListIsRemovedAndItsTargetIsUntouched) {
  TempFolder outside_folder;
  const Text outside = outside_folder / u"outside.txt";
  ASSERT_TRUE(testing::WriteTestFile(outside, "outside"));
  const Text link = temp_ / u"link.txt";
  if (!MakeSymbolicLink(outside, link)) GTEST_SKIP() << "symbolic links cannot be made here";
  const RunResult result = Run({link}, 2);
  EXPECT_EQ(result.error_count, 0);
  EXPECT_TRUE(Entries(temp_.path()).empty());
  EXPECT_EQ(ReadAll(outside), "outside");
}

}  // namespace
}  // namespace nulvane::engine
