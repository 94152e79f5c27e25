// A small volume of its own for a test: an image file in a temporary folder, formatted and
// mounted through a loop device (root only), unmounted and removed when the object goes, the
// test's failures included. Never the machine's real disk. POSIX only.
#pragma once

#ifndef _WIN32

#include <cstddef>
#include <string>

#include "support/temp_folder.h"

namespace nulvane::testing {

class LoopVolume {
 public:
  // `type` is "ext4", "btrfs" or "xfs"; `megabytes` the image's size; `mkfs_options` more
  // options for its mkfs ("-O ^has_journal": an ext4 without a journal). When the volume
  // cannot be made (not root, no mkfs for it, no such file system in the kernel), ready() is
  // false and skip_reason() says why.
  LoopVolume(const std::string& type, int megabytes, const std::string& mkfs_options = {});
  ~LoopVolume();
  LoopVolume(const LoopVolume&) = delete;
  LoopVolume& operator=(const LoopVolume&) = delete;

  bool ready() const { return mounted_; }
  const std::string& skip_reason() const { return skip_reason_; }
  const std::string& mount_point() const { return mount_point_; }
  const std::string& image() const { return image_; }

  // Unmounts (idempotent), so that the image holds everything the volume wrote.
  bool Unmount();
  // How often `marker` occurs in the image, read as raw bytes.
  std::size_t CountInImage(const std::string& marker) const;

 private:
  TempFolder folder_;
  std::string image_;
  std::string mount_point_;
  std::string skip_reason_;
  bool mounted_ = false;
};

// Writes `bytes` bytes of `marker` lines to a new file at `path` and forces them to the
// device; false when the volume took less (a full volume ends the file where it is).
bool WriteMarkerFile(const std::string& path, const std::string& marker, std::size_t bytes);

// The marker line the forensic tests write and look for.
inline const std::string kForensicMarker = "NULVANE-FORENSIC-MARKER-7f3a9c\n";

}  // namespace nulvane::testing

#endif  // _WIN32
