// NativeFileSystem: what the free-space fill needs of the volume beyond its folder. ext4 holds
// back some clusters (reserved_clusters: 2 % of the volume, at most 4096 clusters) that no
// file may take, not even root's, so that its own metadata never runs out; deleted data there
// would survive the fill. For root the fill sets them to 0 while it writes and gives them back
// afterwards. Several fills on one volume share the change; the last one restores it.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/native_file_system.h"

namespace nulvane::platform {

namespace {

constexpr unsigned long kExt4Magic = 0xEF53;

struct HeldBack {
  std::string original;  // the value found, restored by the last fill
  int fills = 0;
};

std::mutex g_mutex;
std::map<std::string, HeldBack> g_held;        // sysfs file -> its original value
std::map<std::string, std::string> g_folders;  // fill folder -> sysfs file

IoResult Errno(int error) {
  return IoResult::Fail(static_cast<std::uint32_t>(error ? error : EIO));
}

// /sys/fs/ext4/<device>/reserved_clusters of the ext4 volume holding `folder`, or empty.
std::string ReservedClustersFile(const std::string& folder) {
  struct statfs volume;
  struct stat status;
  if (::statfs(folder.c_str(), &volume) != 0 ||
      static_cast<unsigned long>(volume.f_type) != kExt4Magic ||
      ::stat(folder.c_str(), &status) != 0) {
    return {};
  }
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(status.st_dev),
                minor(status.st_dev));
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link, target, sizeof target - 1);
  if (length <= 0) return {};
  target[length] = 0;
  const char* slash = std::strrchr(target, '/');
  const std::string device = slash ? slash + 1 : target;
  return "/sys/fs/ext4/" + device + "/reserved_clusters";
}

bool ReadValue(const std::string& file, std::string& value) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[32];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return false;
  value.assign(buffer, static_cast<std::size_t>(n));
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
  return !value.empty();
}

IoResult WriteValue(const std::string& file, const std::string& value) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return Errno(errno);
  const ssize_t n = ::write(fd, value.data(), value.size());
  const int error = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(value.size())) return Errno(error);
  return IoResult::Ok();
}

}  // namespace

IoResult NativeFileSystem::PrepareFillFolder(TextView folder) {
  const std::string native = TextToUtf8(folder);
  // Only root may use every cluster; for anyone else the fill ends where their space ends.
  if (::geteuid() != 0) return IoResult::Ok();
  const std::string file = ReservedClustersFile(native);
  if (file.empty()) return IoResult::Ok();
  std::lock_guard lock(g_mutex);
  if (g_folders.count(native)) return IoResult::Ok();
  HeldBack& held = g_held[file];
  if (held.fills == 0) {
    if (!ReadValue(file, held.original)) {
      g_held.erase(file);
      return Errno(errno);
    }
    if (held.original != "0") {
      if (IoResult written = WriteValue(file, "0"); !written) {
        g_held.erase(file);
        return written;
      }
    }
  }
  ++held.fills;
  g_folders[native] = file;
  return IoResult::Ok();
}

IoResult NativeFileSystem::ReleaseFillFolder(TextView folder) {
  const std::string native = TextToUtf8(folder);
  std::lock_guard lock(g_mutex);
  const auto found = g_folders.find(native);
  if (found == g_folders.end()) return IoResult::Ok();
  const std::string file = found->second;
  g_folders.erase(found);
  HeldBack& held = g_held[file];
  IoResult result = IoResult::Ok();
  if (--held.fills <= 0) {
    if (held.original != "0") result = WriteValue(file, held.original);
    g_held.erase(file);
  }
  return result;
}

}  // namespace nulvane::platform
