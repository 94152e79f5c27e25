// A Windows volume that follows the rules Microsoft documents where Wine is lenient, for the
// tests of the Windows file system (the Windows test programs only).
//
// While it lives it stands in front of the file system's system calls (platform::win32::Calls)
// and answers for the real folders and files below `root` as the chosen file system would; Wine
// keeps their names and bytes, and everything outside `root` passes through unchanged.
//
// Every format:
//  - An entry held open by another program (Hold: a virus scanner, say) that is marked for
//    deletion the classic way (FileDispositionInfo) stays pending until the holder lets go: its
//    name stays in its folder, so the folder is "not empty", and no open reaches it
//    (STATUS_DELETE_PENDING). A classic disposition refuses a read-only entry.
//  - Reparse points on real folders and files: volume mount points and junctions (tag
//    IO_REPARSE_TAG_MOUNT_POINT, their data read with FSCTL_GET_REPARSE_POINT), symbolic links
//    and any other tag, shown in the entry's attributes, its tag and its folder's listing.
//  - Folders that distinguish case: an open by a name spelt otherwise than the entry's finds
//    nothing, whatever OBJ_CASE_INSENSITIVE says.
// kNtfs: the file system name "NTFS"; FileDispositionInfoEx with POSIX semantics takes the name
//   away at once, even from a held entry, and with IGNORE_READONLY from a read-only one.
// kRefs: "ReFS"; as kNtfs, with 128-bit file ids whose high half the 64-bit file index leaves
//   out.
// kFat32: "FAT32"; file ids are the positions of directory entries (the folder and the byte
//   offset of the entry's last 32-byte slot): a name that is not a plain 8.3 name takes long-name
//   slots before its short one, a rename to a name that needs another number of slots moves the
//   entry (and so its id), and a new entry takes the first free slots, so a freed position goes
//   to the next file made. The creation time is the entry's own (set when it is made or by
//   SetFileTime, to 10 ms), not Wine's, which follows the change time. FileIdInfo and
//   FileDispositionInfoEx are refused.
#pragma once
#ifdef _WIN32

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win32/win32_calls.h"

namespace nulvane::testing {

class FakeWindowsVolume {
 public:
  enum class Format { kNtfs, kRefs, kFat32 };

  FakeWindowsVolume(const Text& root, Format format);
  ~FakeWindowsVolume();  // the system's calls again
  FakeWindowsVolume(const FakeWindowsVolume&) = delete;
  FakeWindowsVolume& operator=(const FakeWindowsVolume&) = delete;

  // Makes the real, empty folder `path` (created where missing) a volume mount point.
  void MakeMountPoint(const Text& path);
  // Makes the real, empty folder `path` a junction to the folder `target`.
  void MakeJunction(const Text& path, const Text& target);
  // Gives the real file or folder `path` the reparse tag `tag` (a symbolic link's, ProjFS' …).
  void SetReparseTag(const Text& path, DWORD tag);
  // The folder `path` distinguishes case from now on.
  void MakeCaseSensitive(const Text& path);

  // Another program opens `path` for reading and keeps it open until Release; by default it
  // shares everything, as a virus scanner does.
  static constexpr DWORD kShareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  void Hold(const Text& path, DWORD share = kShareEverything);
  void Release(const Text& path);
  // Whether the held entry `path` is pending deletion (marked, waiting for its holder).
  bool PendingDeletion(const Text& path);

  // Another program removes the file `path` and makes a new one of that name holding `bytes`.
  // On FAT the new file takes the first free position, which is the old one's; on ReFS it gets
  // the old file's 64-bit index with another high half.
  void ReplaceFile(const Text& path, const std::string& bytes);

  // The file id the volume gives for `path` now (the low 64 bits).
  std::uint64_t FileIdOf(const Text& path);

 private:
  struct Reparse {
    DWORD tag = 0;
    Text target;  // what FSCTL_GET_REPARSE_POINT names (mount points and junctions)
  };
  struct Position {
    std::uint64_t folder = 0;  // the real id of the folder the entry is in
    int first = 0;             // its first 32-byte slot
    int count = 1;             // slots taken: long-name slots and the short one
  };
  struct Id128 {
    std::uint64_t low = 0, high = 0;
  };

  // The system's calls, as the fake stands in for them.
  static NTSTATUS NTAPI CreateFileHook(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                       PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
  static NTSTATUS NTAPI SetInformationFileHook(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS);
  static BOOL WINAPI GetFileInformationHook(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
  static BOOL WINAPI GetFileInformationExHook(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  static BOOL WINAPI SetFileInformationHook(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  static BOOL WINAPI GetVolumeInformationHook(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD,
                                              LPWSTR, DWORD);
  static BOOL WINAPI SetFileTimeHook(HANDLE, const FILETIME*, const FILETIME*, const FILETIME*);
  static BOOL WINAPI DeviceIoControlHook(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                         LPOVERLAPPED);

  // All under mutex_.
  bool Inside(HANDLE handle) const;
  Text NameOf(HANDLE handle) const;
  std::uint64_t ParentIdOf(HANDLE handle) const;
  const Position& PositionOf(HANDLE handle, std::uint64_t real);
  std::uint64_t PositionId(const Position& position) const;
  Position Allocate(std::uint64_t folder, int count);
  void Free(const Position& position);
  Id128 IdOf(std::uint64_t real);
  FILETIME CreationOf(std::uint64_t real, const FILETIME& seen);
  void Forget(std::uint64_t real);
  // A folder was renamed from `from` to `to` (final paths): pending entries in it moved along.
  void Moved(const Text& from, const Text& to);
  BOOL Disposition(HANDLE handle, bool ex, ULONG flags);

  static std::uint64_t RealId(HANDLE handle);
  static std::uint64_t RealIdOf(const Text& path);

  const platform::win32::FileSystemCalls real_;
  const Text root_;  // extended-length, as the system gives final paths
  const Text parking_;
  const Format format_;
  mutable std::recursive_mutex mutex_;
  std::map<std::uint64_t, Reparse> reparse_;
  std::set<std::uint64_t> case_sensitive_;
  std::map<Text, HANDLE> holders_;      // by the path the test gave
  std::map<std::uint64_t, Text> held_;  // real id -> the path it was held under
  // Held and marked for deletion: where each stands (kept up to date through renames of the
  // folders above it). The fake removes it when its holder lets go.
  std::map<std::uint64_t, Text> pending_;
  std::map<std::uint64_t, Position> positions_;
  std::map<std::uint64_t, std::vector<bool>> slots_;  // per folder: which slots are taken
  std::map<std::uint64_t, Id128> ids_;                // ReFS
  std::map<std::uint64_t, std::uint64_t> creation_;   // FAT
  int parked_ = 0;
};

}  // namespace nulvane::testing

#endif  // _WIN32
