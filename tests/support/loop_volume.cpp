#include "support/loop_volume.h"

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/text.h"

namespace nulvane::testing {

namespace {

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string MakeCommand(const std::string& type, const std::string& image,
                        const std::string& options) {
  const std::string tail = (options.empty() ? "" : options + " ") + Quoted(image);
  if (type == "ext4") {
    // The default 5 % of blocks reserved for root stay reserved: the fill must reach them.
    return "mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 " + tail;
  }
  if (type == "btrfs") return "mkfs.btrfs -q -f " + tail;
  if (type == "xfs") return "mkfs.xfs -q -f -m reflink=1 " + tail;
  return {};
}

}  // namespace

LoopVolume::LoopVolume(const std::string& type, int megabytes, const std::string& mkfs_options) {
  if (::geteuid() != 0) {
    skip_reason_ = "needs root to make and mount a " + type + " loop volume";
    return;
  }
  const std::string mkfs = type == "ext4" ? "mkfs.ext4" : "mkfs." + type;
  if (!Run("command -v " + mkfs)) {
    skip_reason_ = mkfs + " is not installed (scripts/packages.sh names its package)";
    return;
  }
  const std::string base = platform::TextToUtf8(folder_.path());
  image_ = base + "/volume.img";
  mount_point_ = base + "/mnt";
  ::mkdir(mount_point_.c_str(), 0700);
  const int fd = ::open(image_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(megabytes) << 20) != 0) {
    skip_reason_ = "cannot make the image: " + std::string(std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return;
  }
  ::close(fd);
  if (!Run(MakeCommand(type, image_, mkfs_options))) {
    skip_reason_ = mkfs + " failed on a " + std::to_string(megabytes) + " MiB image";
    return;
  }
  // "-o loop" gives the loop device the autoclear flag: unmounting frees it.
  if (!Run("mount -t " + type + " -o loop " + Quoted(image_) + " " + Quoted(mount_point_))) {
    skip_reason_ = "cannot mount a " + type + " loop volume here (no kernel module?)";
    return;
  }
  mounted_ = true;
}

LoopVolume::~LoopVolume() {
  Unmount();
  // TempFolder removes the image and the mount point; a volume still mounted there (a
  // lazy unmount that is not finished) is not entered by remove_all's unlinks of the image.
}

bool LoopVolume::Unmount() {
  if (!mounted_) return true;
  if (Run("umount " + Quoted(mount_point_))) {
    mounted_ = false;
    return true;
  }
  // Something still holds it: detach it at least, so that no test leaves a mount behind.
  Run("umount -l " + Quoted(mount_point_));
  mounted_ = false;
  return false;
}

std::size_t LoopVolume::CountInImage(const std::string& marker) const {
  std::ifstream in(image_, std::ios::binary);
  if (!in || marker.empty()) return 0;
  std::vector<char> buffer(1 << 20);
  std::string window;  // the end of the previous chunk, for markers that cross chunks
  std::size_t count = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    std::string text = window;
    text.append(buffer.data(), got);
    for (std::size_t at = text.find(marker); at != std::string::npos;
         at = text.find(marker, at + marker.size())) {
      ++count;
    }
    const std::size_t keep = std::min(text.size(), marker.size() - 1);
    window = text.substr(text.size() - keep);
  }
  return count;
}

bool WriteMarkerFile(const std::string& path, const std::string& marker, std::size_t bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string chunk;
  while (chunk.size() < (1u << 20)) chunk += marker;
  std::size_t done = 0;
  bool complete = true;
  while (done < bytes) {
    const std::size_t want = std::min(chunk.size(), bytes - done);
    const ssize_t n = ::write(fd, chunk.data(), want);
    if (n <= 0) {
      complete = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) complete = false;
  ::close(fd);
  return complete;
}

}  // namespace nulvane::testing

#endif  // _WIN32
