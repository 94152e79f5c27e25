// Handle-relative access below an entry's anchor: the one owner type of a handle, the
// thread's chain of open folders, and the checks every opened entry goes through.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/file_system.h"

namespace nulvane::platform::win32 {

// Owns one handle; null and INVALID_HANDLE_VALUE are both empty (neither is ever a file).
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(HANDLE handle = nullptr) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

IoResult FromError(DWORD error);
IoResult LastError();
IoResult FromStatus(long status);

// What a volume's file ids are, told by its file system's name. Every identity on a volume is
// read by the one rule its kind gives, so that two reads of one object always compare equal.
enum class VolumeIds : std::uint8_t {
  // The 64-bit file index is the whole id (NTFS: its 128-bit id is the index, zero-extended).
  kIndex,
  // The positions of directory entries (FAT, FAT32, exFAT): the creation time is compared too.
  kPositions,
  // Anything else (ReFS's 128-bit ids, a file system that does not say): the full id
  // (FileIdInfo) where the volume gives it.
  kFull,
};

// What an opened entry is, read from its handle.
struct Examined {
  DWORD attributes = 0;
  DWORD reparse_tag = 0;
  std::uint64_t size = 0;
  std::uint32_t link_count = 1;
  EntryIdentity identity;
  EntryKind kind = EntryKind::kMissing;
  bool disk = true;  // GetFileType says FILE_TYPE_DISK
  // A volume mount point: a name-surrogate reparse point whose target is a volume
  // (\??\Volume{...}\). `kind` is then kFolder; the entry stands for another volume and is
  // never entered, stamped, renamed or removed (CheckSame refuses it with kOtherVolume).
  bool mount_point = false;
  VolumeIds ids = VolumeIds::kFull;  // of the volume that holds the entry
};
// Reads what the opened entry is. Its identity is the volume serial number and the full file
// id (FileIdInfo: 128 bits, where the volume gives it; else the 64-bit file index) and, on
// volumes whose file ids are the positions of directory entries (FAT, FAT32, exFAT, told by
// the file system name), the creation time as well: a new file put in a freed position gets
// the old position's id, never the old creation time to the 100 ns.
IoResult Examine(HANDLE handle, Examined& out);
// The same for the entry `handle` opened by name inside the placed folder, for a look that
// records or shows it (Inspect). On Windows such an entry (FILE_OPEN_REPARSE_POINT, one
// component) lies on that folder's volume, so a plain file on a volume of 64-bit ids takes the
// folder's volume facts instead of asking the volume again, which costs a round trip to the
// mount manager per question under Wine; a folder, a reparse point or any other volume gets
// the whole Examine. The result is the one Examine gives, with one exception that only Wine
// shows: a Unix link or bind mount there looks like a plain file of another file system and is
// given the folder's volume. The checks before anything changes therefore use Examine, which
// asks the entry's own volume and refuses such a file.
struct Placement;
IoResult ExamineIn(HANDLE handle, const Placement& placement, Examined& out);
// Whether a 64-bit file index names one file: 0 (a file system without ids) and all ones (one it
// cannot give) name none.
bool IsWholeIndex(std::uint64_t index);
// Only the identity of the opened entry, as Examine gives it. Asks nothing else of the handle
// (GetFileType, under Wine, moves the access time a stamp has just set).
IoResult ReadIdentity(HANDLE handle, EntryIdentity& identity);

// Whether the name-surrogate reparse point open as `handle` (its tag IO_REPARSE_TAG_MOUNT_POINT)
// is a volume mount point rather than a junction to a folder. A reparse point whose data cannot
// be read counts as a mount point: it is left alone rather than removed.
bool IsVolumeMountPoint(HANDLE handle);

// Where a reference leads: the open folder that holds the entry and the entry's name in it.
// When nothing follows the anchor, the entry is the anchor folder itself: `name` is empty and
// `anchor_path` is its extended-length form.
struct Placement {
  HANDLE folder = nullptr;  // owned by the thread's chain; valid until its next call
  std::uint32_t folder_volume = 0;
  VolumeIds folder_ids = VolumeIds::kFull;
  TextView name;
  Text anchor_path;
};

// Opens `name` inside `folder` itself (FILE_OPEN_REPARSE_POINT: never what a link names),
// with SYNCHRONIZE and synchronous I/O added to `access` and `options`.
IoResult OpenRelative(HANDLE folder, TextView name, ACCESS_MASK access, ULONG share, ULONG options,
                      UniqueHandle& out);

// The same with another disposition: FILE_CREATE makes a new entry and gives the handle of the
// very entry it made.
IoResult CreateRelative(HANDLE folder, TextView name, ACCESS_MASK access, ULONG share,
                        ULONG disposition, ULONG options, UniqueHandle& out);

// Opens the entry a placement leads to: relative to its folder, or the anchor itself.
IoResult OpenPlaced(const Placement& placement, ACCESS_MASK access, ULONG share, ULONG options,
                    UniqueHandle& out);

// The checks before anything about an opened entry changes: it must be the entry `entry`
// names (kChangedEntry) and lie on the volume of its folder, not be a mount point
// (kOtherVolume).
IoResult CheckSame(const EntryRef& entry, const Placement& placement, const Examined& examined);

// `path` made absolute and normal, its ".." resolved on the real folders (see FullPath). Empty
// when that fails.
Text ResolvedFullPath(TextView path);

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace nulvane::platform::win32
