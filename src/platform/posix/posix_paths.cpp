// NativeFileSystem: paths, volumes and times: making a path absolute and normal, the space of
// a volume, new files and folders by path (the tests' set-up; the fill makes its own through
// handles), the system's error texts and the fixed date.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/native_file_system.h"
#include "platform/posix/posix_folder_chain.h"
#include "platform/posix/posix_open_file.h"

namespace nulvane::platform {

namespace {

IoResult FromErrno(int error) { return posix::ErrnoResult(error); }
IoResult LastError() { return FromErrno(errno); }

// Seconds from 1601-01-01 (the FileTime epoch) to 1970-01-01.
constexpr std::int64_t kEpochDifferenceSeconds = 11644473600LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;

// The UTF-8 form of `path` for the system calls. A path holding U+0000 is refused: the system
// would read it only up to that point and act on another, shorter path.
bool NativePath(TextView path, std::string& native) {
  if (path.empty() || path.find(u'\0') != TextView::npos) return false;
  native = TextToUtf8(path);
  return true;
}

#define NULVANE_NATIVE_PATH(variable, path) \
  std::string variable;                     \
  if (!NativePath(path, variable)) return IoResult::Fail(static_cast<std::uint32_t>(EINVAL))

// The components of `path` with "." and empty ones (doubled or trailing separators) left out.
void AppendComponents(TextView path, std::vector<TextView>& parts) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'/', start);
    if (end == TextView::npos) end = path.size();
    const TextView part = path.substr(start, end - start);
    if (!part.empty() && part != u".") parts.push_back(part);
    start = end + 1;
  }
}

// The folder the system resolves for `path` (links and ".." as the system takes them), or
// nothing.
std::optional<Text> ResolvedFolder(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  Text out = Utf8ToText(resolved);
  std::free(resolved);
  return out;
}

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer).
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*) { return result; }
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}

}  // namespace

IoResult NativeFileSystem::CreateNewFile(TextView path, std::unique_ptr<OpenFile>& file,
                                         Caching caching) {
  file.reset();
  NULVANE_NATIVE_PATH(native, path);
  posix::UniqueFd fd(::open(native.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
  if (!fd.valid()) return LastError();
  // Direct I/O is switched on after the exclusive creation: a file system that refuses it
  // (tmpfs) would otherwise fail the open after creating the file. It then stays buffered.
  if (caching == Caching::kUnbuffered) {
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags | O_DIRECT);
  }
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  file = std::make_unique<posix::PosixOpenFile>(std::move(fd), true);
  return IoResult::Ok();
}

IoResult NativeFileSystem::CreateFolder(TextView path) {
  NULVANE_NATIVE_PATH(native, path);
  if (::mkdir(native.c_str(), 0700) != 0) return LastError();
  return IoResult::Ok();
}

IoResult NativeFileSystem::GetVolumeSpace(TextView path, VolumeSpace& space) {
  NULVANE_NATIVE_PATH(native, path);
  struct statvfs volume;
  if (::statvfs(native.c_str(), &volume) != 0) return LastError();
  const std::uint64_t unit = volume.f_frsize ? volume.f_frsize : volume.f_bsize;
  // Root may write into the blocks reserved for it (ext4: 5 % by default); the fill must
  // cover those too, and its percentage must measure against them.
  const auto free_blocks = ::geteuid() == 0 ? volume.f_bfree : volume.f_bavail;
  space.free_bytes = static_cast<std::uint64_t>(free_blocks) * unit;
  space.total_bytes = static_cast<std::uint64_t>(volume.f_blocks) * unit;
  space.sector_size = volume.f_frsize ? static_cast<std::uint32_t>(volume.f_frsize) : 512;
  return IoResult::Ok();
}

Text NativeFileSystem::FullPath(TextView path) {
  if (path.empty() || path.find(u'\0') != TextView::npos) return Text(path);
  Text absolute;
  if (path.front() != u'/') {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE || buffer.size() > (1u << 20)) return Text(path);
      buffer.resize(buffer.size() * 2);
    }
    absolute = Utf8ToText(buffer.data());
    absolute.push_back(u'/');
  }
  absolute += path;
  std::vector<TextView> parts;
  AppendComponents(absolute, parts);
  // Up to the last "..", the system decides where the path leads: "link/.." is the folder
  // that holds the link's target, not the folder that holds the link.
  std::size_t resolved_count = 0;
  for (std::size_t i = parts.size(); i-- > 0;) {
    if (parts[i] == u"..") {
      resolved_count = i + 1;
      break;
    }
  }
  Text out;
  if (resolved_count > 0) {
    Text prefix;
    for (std::size_t i = 0; i < resolved_count; ++i) {
      prefix.push_back(u'/');
      prefix += parts[i];
    }
    const std::optional<Text> folder = ResolvedFolder(TextToUtf8(prefix));
    if (!folder) return Text(path);
    if (*folder != u"/") out = *folder;
  }
  for (std::size_t i = resolved_count; i < parts.size(); ++i) {
    out.push_back(u'/');
    out += parts[i];
  }
  if (out.empty()) out = u"/";
  return out;
}

bool IsNotFound(IoResult result) { return result.error == ENOENT || result.error == ENOTDIR; }

bool IsAlreadyExists(IoResult result) { return result.error == EEXIST; }

FileSystem& SystemFileSystem() {
  static NativeFileSystem file_system;
  return file_system;
}

Text SystemErrorText(std::uint32_t error) {
  if (const char16_t* own = OwnErrorText(error)) return own;
  char buffer[256] = {};
  const char* text =
      ErrorTextOf(::strerror_r(static_cast<int>(error), buffer, sizeof buffer), buffer);
  if (!text || !*text) {
    std::snprintf(buffer, sizeof buffer, "Error %u", static_cast<unsigned>(error));
    text = buffer;
  }
  return Utf8ToText(text);
}

bool LocalTimeToFileTime(int year, int month, int day, int hour, int minute, int second,
                         FileTime& out) {
  // mktime reads the time-zone rules (a stat of /etc/localtime) on every call; a run asks for
  // the same moment once per entry, so the last answer is kept.
  struct Asked {
    int fields[6];
    FileTime time;
  };
  thread_local std::optional<Asked> last;
  const int fields[6] = {year, month, day, hour, minute, second};
  if (last && std::equal(std::begin(fields), std::end(fields), last->fields)) {
    out = last->time;
    return true;
  }
  std::tm calendar{};
  calendar.tm_year = year - 1900;
  calendar.tm_mon = month - 1;
  calendar.tm_mday = day;
  calendar.tm_hour = hour;
  calendar.tm_min = minute;
  calendar.tm_sec = second;
  calendar.tm_isdst = -1;  // the rules of that date decide, not those of today
  std::time_t seconds;
  int error;
  {
    // mktime reads (and after a change of TZ rebuilds) the C library's shared time-zone
    // rules; the workers of a run ask at once when they start. The library's own lock is
    // invisible to ThreadSanitizer: this one keeps the calls apart where it can see it.
    static std::mutex time_zone_rules;
    const std::lock_guard lock(time_zone_rules);
    errno = 0;
    seconds = std::mktime(&calendar);
    error = errno;
  }
  if (seconds == static_cast<std::time_t>(-1) && error != 0) return false;
  const std::int64_t since_1601 = static_cast<std::int64_t>(seconds) + kEpochDifferenceSeconds;
  if (since_1601 < 0) return false;
  out = static_cast<FileTime>(since_1601) * static_cast<FileTime>(kTicksPerSecond);
  last = Asked{{year, month, day, hour, minute, second}, out};
  return true;
}

}  // namespace nulvane::platform
