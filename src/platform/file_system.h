// The file-system services of the engine and the item list, behind one interface so that tests
// can substitute a fake that fails any call. One implementation per operating system.
//
// Contract shared by every implementation:
//  - No call ever follows a symbolic link, junction or other reparse point. A link is an entry
//    of its own (EntryKind::kLink) that can be renamed and removed, never opened for writing.
//  - No call ever replaces an existing entry (RenameNoReplace, CreateNewFile).
//  - Paths are handled whole, whatever their length (Win32: extended-length form), or refused
//    with an error; they are never cut short and then acted upon.
//  - Every result is reported: IoResult carries the system's error code.
//  - Below the folder a path's anchor names (see EntryRef), every step goes through an open
//    handle of the folder that holds the entry, never through a path the system resolves
//    again; no link is followed on the way and no other volume is entered. An entry whose
//    identity is known is changed only when the opened object is that same entry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/path_rules.h"
#include "platform/text.h"

namespace nulvane::platform {

// The outcome of one call: error 0 is success, anything else the system's error code
// (errno on POSIX, GetLastError on Windows) or one of the program's own codes below.
struct IoResult {
  std::uint32_t error = 0;

  bool ok() const { return error == 0; }
  explicit operator bool() const { return ok(); }
  static IoResult Ok() { return {}; }
  static IoResult Fail(std::uint32_t code) { return {code == 0 ? kGenericFailure : code}; }

  // The program's own codes, with bit 29 set (the range Windows leaves to applications).
  static constexpr std::uint32_t kGenericFailure = 0x20000000;
  // The entry is not a regular file (a device, pipe, socket, folder or link) and was not opened.
  static constexpr std::uint32_t kNotRegularFile = 0x20000001;
  // The path is longer than the system can take.
  static constexpr std::uint32_t kPathTooLong = 0x20000002;
  // The volume is full, or the caller's quota is used up (ENOSPC, EDQUOT / ERROR_DISK_FULL,
  // ERROR_HANDLE_DISK_FULL, ERROR_DISK_QUOTA_EXCEEDED).
  static constexpr std::uint32_t kDiskFull = 0x20000003;
  // The entry found under the name is not the one that was listed (another object was put in
  // its place, or a folder on the way was replaced): nothing about it was changed.
  static constexpr std::uint32_t kChangedEntry = 0x20000004;
  // The entry, or a folder on the way to it, lies on another volume (a mount point): it is
  // neither entered nor changed.
  static constexpr std::uint32_t kOtherVolume = 0x20000005;
  // The path holds a character the system cannot take as part of a name (U+0000, or on POSIX a
  // lone surrogate that stands for no byte): acting on it would name another entry.
  static constexpr std::uint32_t kInvalidName = 0x20000006;
  // The file has more than one name (hard links): its content also belongs to names nobody
  // chose, so it was neither opened for writing nor changed.
  static constexpr std::uint32_t kHardLinked = 0x20000007;
  // The file cannot grow any further (EFBIG / ERROR_FILE_TOO_LARGE: a FAT volume's 4 GiB).
  static constexpr std::uint32_t kFileTooLarge = 0x20000008;
};

// The system's own message for an error code, without a trailing line break or full stop
// handling; for the program's own codes a short English text.
Text SystemErrorText(std::uint32_t error);
// The text of one of IoResult's own codes; null for a system code.
const char16_t* OwnErrorText(std::uint32_t error);
// True when the system said the entry, or a folder on the way to it, does not exist (POSIX
// ENOENT or ENOTDIR; Windows ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND).
bool IsNotFound(IoResult result);
// True when the system said an entry of that name exists already (POSIX EEXIST; Windows
// ERROR_FILE_EXISTS or ERROR_ALREADY_EXISTS).
bool IsAlreadyExists(IoResult result);

// What a directory entry is. Nothing here ever looks through a link.
enum class EntryKind : std::uint8_t {
  kMissing,  // no such entry
  kFile,     // a regular file
  kFolder,   // a real folder (not a link to one)
  kLink,     // a symbolic link, junction or any other reparse point
  kOther,    // a device, pipe, socket or anything else that is not a file or folder
};

// How an identity tells a new object apart from an old one that had the same object number
// (an inode number or file id the system gave out again after the old object went).
enum class IdentityStamp : std::uint8_t {
  kNone,          // the number alone: it carries its own reuse count (NTFS, ReFS)
  kBirthTime,     // POSIX: the birth time (statx STATX_BTIME)
  kGeneration,    // POSIX: the inode generation (FS_IOC_GETVERSION)
  kChangeTime,    // POSIX files without either: the change time, carried forward by our steps
  kCreationTime,  // Windows FAT and exFAT: ids are entry positions; the creation time, carried
};

// What an entry is on its volume, independent of its name: device, inode number and birth time
// or generation (POSIX); volume serial number, the full file id and, where ids are positions,
// the creation time (Windows). Two names with equal known identities are the same object; no
// other object can share a known identity while a run lasts.
//
// Our own steps may change what an identity is made of (a stamp changes a change time or a
// creation time; a rename on FAT moves the id): every such step hands back the identity read
// from its handle afterwards, and the next step is checked against that.
struct EntryIdentity {
  std::uint64_t volume = 0;
  std::uint64_t object = 0;       // inode number, or the low half of a file id
  std::uint64_t object_high = 0;  // the high half of a 128-bit file id (ReFS)
  std::uint64_t stamp = 0;        // see `stamp_kind`
  IdentityStamp stamp_kind = IdentityStamp::kNone;
  bool known = false;

  bool operator==(const EntryIdentity&) const = default;
  // True when both are known and name the same object. An unknown identity matches nothing.
  bool Matches(const EntryIdentity& other) const { return known && other.known && *this == other; }
};

struct EntryInfo {
  EntryKind kind = EntryKind::kMissing;
  std::uint64_t size = 0;  // the entry's recorded size (a folder: what the system says, often 0)
  bool link_to_folder = false;  // kLink: removed with RemoveFolder rather than DeleteFile (Windows)
  // False when a listing left a file's size unread (POSIX reads it with a stat of its own;
  // the item list takes it when it checks the entry anyway). `size` is then 0.
  bool size_known = true;
  // Filled by Inspect (and, where the system gives it without a look of its own, by listings).
  EntryIdentity identity;
  // The entry lies on another volume than the folder that holds it: a mount point. It is never
  // entered, stamped, renamed or removed.
  bool other_volume = false;
};

// Names one entry for the calls that look at it or change it.
//
// `path` is the entry's whole path. Its first `anchor_length` units (empty, or ending in a
// separator) name the folder the user's own path stands in; the system resolves that part as
// typed, so links the user chose on the way there are followed. Every component after it is
// reached from the folder before it through an open handle: a link there is never followed,
// another volume never entered.
//
// `identity`, when known, is what the entry was when it was listed (or after our last step on
// it); a call refuses (kChangedEntry) an object that is not it. `anchor_identity`, when known,
// is what the anchor folder was when the user's path was added; a call refuses (kChangedEntry)
// an anchor that resolves to another folder now (a link on the way turned elsewhere). A
// reference made from a path alone checks neither: it serves looks (listing, inspection) and
// the tests' own set-up; the engine never changes an entry through one.
struct EntryRef {
  TextView path;
  std::size_t anchor_length = 0;
  EntryIdentity identity;
  EntryIdentity anchor_identity;

  // The entry at `path`, its parent folder resolved as typed, its identity not checked.
  EntryRef(TextView whole_path);  // NOLINT(google-explicit-constructor): a path is a reference
  EntryRef(const char16_t* whole_path) : EntryRef(TextView(whole_path)) {}  // NOLINT
  EntryRef(const Text& whole_path) : EntryRef(TextView(whole_path)) {}      // NOLINT
  EntryRef(TextView whole_path, std::size_t anchor, EntryIdentity expected,
           EntryIdentity expected_anchor = {})
      : path(whole_path),
        anchor_length(anchor),
        identity(expected),
        anchor_identity(expected_anchor) {}

  // The same entry under another path in the same anchor (after a rename), expected to be
  // `now`.
  EntryRef Renamed(TextView new_path, const EntryIdentity& now) const {
    return EntryRef(new_path, anchor_length, now, anchor_identity);
  }
  // Whether `found` may be the entry: always for a reference that names no identity.
  bool Admits(const EntryIdentity& found) const {
    return !identity.known || identity.Matches(found);
  }
  bool AdmitsAnchor(const EntryIdentity& found) const {
    return !anchor_identity.known || anchor_identity.Matches(found);
  }
};

// The length of the parent folder part of `path`: up to and including its last separator, 0
// when it has none. (Windows: "C:" of "C:name" too.)
std::size_t ParentAnchorLength(TextView path);

// One row of the item list as a deletion run receives it: the entry's whole path, the length
// of its anchor (see EntryRef), the identity the list recorded for it at its first look
// (unknown when it could not be examined) and the identity its anchor had when it was added.
struct QueuedItem {
  Text path;
  std::size_t anchor_length = 0;
  EntryIdentity identity;
  EntryIdentity anchor_identity;

  EntryRef Ref() const { return EntryRef(path, anchor_length, identity, anchor_identity); }
};

// 100-nanosecond intervals since 1601-01-01 00:00 UTC (the Windows FILETIME scale).
using FileTime = std::uint64_t;

struct OpenedFileInfo {
  std::uint64_t size = 0;
  std::uint32_t link_count = 1;  // names (hard links) the opened file has
  // The file system may write the new data elsewhere and keep the old blocks, so an overwrite
  // in place is not guaranteed to cover them: copy-on-write file systems, compressed,
  // encrypted or sparse files, extents shared with other files or snapshots, files that a
  // cloud provider, deduplication or compression on demand (WOF) keep elsewhere.
  bool stored_elsewhere = false;
  // The file lies on a layered file system (overlayfs, aufs): the name seen sits over a lower
  // layer's copy that an overwrite never reaches. Empty elsewhere; else the file system's name.
  Text layered_file_system;
  // The file may have holes (POSIX: fewer blocks than its size needs; Windows: a sparse file),
  // told from what the open read anyway: only then is it worth asking for its data ranges.
  bool may_have_holes = false;
};

// The bytes [offset, offset + length) of a file.
struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool operator==(const ByteRange&) const = default;
};

// A named data stream of a file or folder (Windows: the streams beside the unnamed one).
struct StreamInfo {
  Text name;  // as the system lists it, without the leading ':' and the ":$DATA" type
  std::uint64_t size = 0;
};

// An open file or folder. Destruction closes it without reporting; Close reports.
class OpenFile {
 public:
  virtual ~OpenFile() = default;
  // Writes at most `size` bytes at the current position; `written` receives what was taken.
  virtual IoResult Write(const void* data, std::size_t size, std::size_t& written) = 0;
  // Writes `count` copies of the `block_size` bytes at `block`, one after the other, in as few
  // requests as the system allows (POSIX: one writev). `written` receives the bytes taken; less
  // than count * block_size is a short write, as with Write. By default block by block.
  virtual IoResult WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                                 std::size_t& written) {
    written = 0;
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t taken = 0;
      const IoResult result = Write(block, block_size, taken);
      written += taken;
      if (!result || taken < block_size) return result;
    }
    return IoResult::Ok();
  }
  // What writes past the system's cache demand of each request: its file offset and length
  // multiples of `block`, its buffer's address a multiple of `memory` (both powers of two).
  struct DirectAlignment {
    std::uint32_t block = 0;
    std::uint32_t memory = 0;
  };
  // Readies WriteDirect for this object and says what it demands. A failure means the file
  // system takes no such writes for it: Write, through the cache, is the way then. None by
  // default.
  virtual IoResult StartDirectWrites(DirectAlignment& alignment) {
    alignment = DirectAlignment{};
    return IoResult::Fail(IoResult::kGenericFailure);
  }
  // Writes at most `size` bytes at the current position past the system's cache (O_DIRECT /
  // FILE_FLAG_NO_BUFFERING), once StartDirectWrites succeeded: the position, `size` and `data`
  // follow its alignment. Should the file system refuse the first of them after all (EINVAL /
  // ERROR_INVALID_PARAMETER), it and every later one go through the cache, as Write; a later
  // Write goes through the cache in any case. `written` as with Write. By default Write.
  virtual IoResult WriteDirect(const void* data, std::size_t size, std::size_t& written) {
    return Write(data, size, written);
  }
  // Forces everything written so far to the device (FlushFileBuffers / fdatasync), what went
  // past the cache included.
  virtual IoResult Flush() = 0;
  // Sets creation (where the system keeps one), last-access and last-write time to `time`.
  virtual IoResult SetTimes(FileTime time) = 0;
  // The identity of the object this handle holds, read from the handle as it is now (after a
  // stamp: with the stamp's effect), in the form Inspect gives.
  virtual IoResult Identity(EntryIdentity& identity) = 0;
  // Closes the handle; later calls on this object fail.
  virtual IoResult Close() = 0;
  // Gives the file back the attributes the open for overwrite changed (a read-only file made
  // writable), for a file whose overwrite failed and that stays as it was. Nothing when the
  // open changed nothing.
  virtual IoResult RestoreAttributes() = 0;

  // ---- Work on the object this handle already holds (growing files, read-back) ----
  // Neither call looks at a path again: both reach exactly the object that was opened, even
  // when it has been renamed meanwhile.

  // The object's size as it is now (fstat / GetFileSizeEx on the handle).
  virtual IoResult CurrentSize(std::uint64_t& size) = 0;
  // Opens the same object again for reading that bypasses the system's cache, so that what is
  // read is what the device holds (POSIX: O_DIRECT through /proc/self/fd; Windows: ReOpenFile
  // with FILE_FLAG_NO_BUFFERING). Where the system refuses that, the reader drops the cached
  // pages of the flushed file and reads normally (`reader->uncached` is then false).
  virtual IoResult OpenUncachedReader(std::unique_ptr<class UncachedReader>& reader) = 0;

  // ---- Everything else the object holds (sparse ranges, named streams, attributes) ----

  // Moves the position the next Write starts at to `offset` from the start.
  virtual IoResult Seek(std::uint64_t offset) = 0;
  // The ranges of [0, size) where the file system has allocated data, in order, none empty
  // (POSIX: SEEK_DATA / SEEK_HOLE; Windows: FSCTL_QUERY_ALLOCATED_RANGES). A hole holds no
  // data: the rest of [0, size) reads as zeros and has no block to overwrite. Moves the
  // position (Seek before writing). A failure means the ranges are unknown: the caller
  // overwrites the whole. By default the whole file is one range.
  virtual IoResult DataRanges(std::uint64_t size, std::vector<ByteRange>& ranges) {
    ranges.clear();
    if (size > 0) ranges.push_back({0, size});
    return IoResult::Ok();
  }
  // The named data streams of the object (never the unnamed one that Write reaches). None
  // where the system has no such streams (POSIX).
  virtual IoResult ListStreams(std::vector<StreamInfo>& streams) {
    streams.clear();
    return IoResult::Ok();
  }
  // Opens the named data stream `name` (as ListStreams gives it) of this very object for
  // writing from offset 0, relative to this handle (never by a path looked up again). `info`
  // describes the stream as OpenForOverwrite describes a file.
  virtual IoResult OpenStream(TextView /*name*/, std::unique_ptr<OpenFile>& stream,
                              OpenedFileInfo& /*info*/) {
    stream.reset();
    return IoResult::Fail(IoResult::kGenericFailure);
  }
  // Overwrites the value of each extended attribute that holds the owner's data (POSIX:
  // "user." and "trusted."; "security." and "system." are labels and access lists that go with
  // the file) with zeros of the same length in place, forces that to the device (fsync: an
  // attribute is metadata) and then removes the attributes. `unreached` receives the names of
  // the attributes whose value could not be overwritten, with the system's error. A failure
  // means the attributes could not be listed. Nothing where the system keeps none (Windows).
  struct UnreachedAttribute {
    Text name;
    IoResult reason;
  };
  virtual IoResult OverwriteExtendedAttributes(std::vector<UnreachedAttribute>& unreached) {
    unreached.clear();
    return IoResult::Ok();
  }
};

// Reads one object from offset 0 to its end in chunks that the reader aligns itself, as the
// uncached modes demand. Made by OpenFile::OpenUncachedReader.
class UncachedReader {
 public:
  virtual ~UncachedReader() = default;
  // Reads the next chunk into the reader's own buffer: `data` and `size` describe it until the
  // next call. `size` 0 is the end of the object.
  virtual IoResult ReadNext(const unsigned char*& data, std::size_t& size) = 0;
  // The next ReadNext starts at `offset` or a little before it (an uncached read must start at
  // an aligned offset): `at` receives where. A sparse file's holes need not be read.
  virtual IoResult Seek(std::uint64_t offset, std::uint64_t& at) = 0;
  // False when the system refused uncached reads and the chunks come through its cache (the
  // reader dropped the cached pages of the file first).
  bool uncached = true;
};

struct VolumeSpace {
  // Bytes the caller may still write: on POSIX the blocks reserved for root count for root
  // (f_bfree) and not for others (f_bavail); on Windows what the caller's quota allows.
  std::uint64_t free_bytes = 0;
  std::uint64_t total_bytes = 0;
  std::uint32_t sector_size = 512;
  // What the file system holds back for its own use, which no file may take, not even root's
  // (ext4's reserved clusters); 0 where there is nothing such or it cannot be read.
  std::uint64_t held_back_bytes = 0;
};

// How a new file's writes reach the device.
enum class Caching : std::uint8_t { kBuffered, kUnbuffered };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // What the entry is, identity included; never follows a link. A missing entry gives kind
  // kMissing and the system's error.
  virtual IoResult Inspect(const EntryRef& entry, EntryInfo& info) = 0;

  // Looks up the directory entry named by `path` itself, as a listing of that one name would
  // (Windows: FindFirstFileW, where wildcards match the first entry they fit; POSIX: lstat).
  virtual IoResult FindEntry(TextView path, EntryInfo& info) = 0;

  // The identity of the folder an anchor names (the first `anchor_length` units of an
  // EntryRef's path: empty for the current folder), resolved as every call resolves an anchor,
  // links followed as typed. Recorded when the user's path is added; see EntryRef.
  virtual IoResult IdentifyAnchor(TextView anchor, EntryIdentity& identity) = 0;

  // Calls `visit` for every entry of `folder` in the system's order, "." and ".." included
  // where the system reports them. `folder` must itself be a real folder on the volume of the
  // folder that holds it, not a link (kNotRegularFile) and not a mount point (kOtherVolume).
  virtual IoResult ListFolder(
      const EntryRef& folder,
      const std::function<void(TextView name, const EntryInfo&)>& visit) = 0;
  // Whether listings may tell entries' identities (EntryInfo::identity) without a look of their
  // own at each entry: a Windows listing carries the ids on NTFS. A POSIX listing tells none (a
  // stat per entry would cost what looking at each entry costs).
  virtual bool ListingsTellIdentities() const { return true; }

  // Opens the regular file for writing from offset 0, without sharing. Refuses anything else
  // (kNotRegularFile: a link, folder, device or pipe; kChangedEntry: not the listed entry;
  // kOtherVolume), checked on the object itself before anything about it changes. Only then
  // does it clear read-only, hidden and system (Windows) or give the owner write permission
  // (POSIX) where the file lacks it. A file with more than one name is refused with
  // kHardLinked before any change. `info` describes the opened file.
  virtual IoResult OpenForOverwrite(const EntryRef& file_entry, std::unique_ptr<OpenFile>& file,
                                    OpenedFileInfo& info) = 0;

  // Opens the real folder so that its time stamps can be set, after the same checks as
  // OpenForOverwrite; gives the owner the permissions needed for that and for emptying it.
  virtual IoResult OpenFolderForStamp(const EntryRef& folder_entry,
                                      std::unique_ptr<OpenFile>& folder) = 0;

  // Creates a new regular file; fails if any entry of that name exists. kUnbuffered: writes
  // bypass the system's cache and go to the device as they are made (O_DIRECT /
  // FILE_FLAG_NO_BUFFERING); the caller then writes whole sectors from a sector-aligned
  // buffer. Where the file system cannot bypass its cache (tmpfs) the file is buffered.
  virtual IoResult CreateNewFile(TextView path, std::unique_ptr<OpenFile>& file,
                                 Caching caching = Caching::kBuffered) = 0;

  // Renames the entry `from` to `to`, a path in the same folder (only its last component is
  // used); fails (never replaces) when `to` exists. On success `after` is the identity of the
  // object that was renamed, read from a handle held across the rename (a rename may change it:
  // the change time on POSIX, the file id on FAT); the next step names the entry with it.
  virtual IoResult RenameNoReplace(const EntryRef& from, TextView to, EntryIdentity& after) = 0;
  // The same, for a caller that takes no further step on the entry.
  IoResult RenameNoReplace(const EntryRef& from, TextView to) {
    EntryIdentity after;
    return RenameNoReplace(from, to, after);
  }

  // Removes a file, or a link (to a file, or on POSIX to anything), never what it points at.
  virtual IoResult DeleteFile(const EntryRef& entry) = 0;

  // Removes an empty folder, or on Windows a link to a folder (the link only).
  virtual IoResult RemoveFolder(const EntryRef& entry) = 0;

  virtual IoResult CreateFolder(TextView path) = 0;

  // Space of the volume that holds `path`.
  virtual IoResult GetVolumeSpace(TextView path, VolumeSpace& space) = 0;

  // Makes the free-space fill's folder `name` inside the folder `chosen` and holds it open.
  // `chosen` is resolved as the user typed it (links on the way followed) and must itself be a
  // real folder, not a link (see ChosenKind). The new folder is made relative to that folder's
  // handle, never through a link, held open and checked to be the folder just made, on the
  // chosen folder's volume (kChangedEntry, kOtherVolume otherwise; nothing is left made then).
  // Fails with the system's error when the name exists. Files made in it are stored plainly
  // (not compressed, Windows).
  virtual IoResult MakeFillFolder(TextView chosen, TextView name,
                                  std::unique_ptr<class FillFolder>& folder) = 0;

  // `path` made absolute against the current directory and lexically normal: "." components
  // and doubled and trailing separators removed. A ".." is resolved by the system on the real
  // folder it stands in (never by cutting text across a link): the part up to the last ".."
  // is replaced by the folder the system resolves. Returns `path` unchanged when that fails.
  virtual Text FullPath(TextView path) = 0;

  // Closes the folder handles kept open between calls of the calling thread, so that the next
  // call resolves every anchor and folder anew. Called where a new walk begins (a run, an
  // expansion, a rebuild of the rows), so that a handle kept from earlier never stands for a
  // folder that has since been replaced.
  virtual void ForgetOpenFolders() {}
};

// The free-space fill's folder, made and held open by FileSystem::MakeFillFolder. Everything the
// fill makes or removes goes through this handle, never through a path the system would
// resolve again, so that a link put in the folder's place cannot steer a write onto another
// volume. Destruction closes the folder without removing it.
class FillFolder {
 public:
  virtual ~FillFolder() = default;

  // The folder's path as it was made (for the lines the fill shows), and the chosen folder's
  // path as the system resolved it.
  virtual const Text& Path() const = 0;
  virtual const Text& ChosenPath() const = 0;

  // Creates a new file in this folder. Where the system can, the file has no name that
  // outlives its handle (Linux: O_TMPFILE; Windows: deleted when its last handle closes), so
  // that its space comes back when the handle closes, also when the process is killed; then
  // `named` is false. Otherwise it is made as `name`, never replacing an entry, and `named` is
  // true. kUnbuffered as for CreateNewFile.
  virtual IoResult MakeFile(TextView name, Caching caching, std::unique_ptr<OpenFile>& file,
                            bool& named) = 0;
  // Removes the named file `name` made by MakeFile in this folder.
  virtual IoResult RemoveFile(TextView name) = 0;
  // Space of the folder's volume, read through the held handle. `held_back_bytes` tells what
  // the file system keeps for its own use that no file may take (ext4's reserved clusters).
  virtual IoResult GetSpace(VolumeSpace& space) = 0;
  // Removes the folder, when its name in the chosen folder still names this very folder and it
  // is empty; kChangedEntry, with nothing removed, when the name now names something else.
  virtual IoResult Remove() = 0;
  // Calls `visit` for each entry of the chosen folder (not "." or ".."), read through the held
  // handle: the fill names folders an earlier, killed fill left there.
  virtual IoResult ListChosen(const std::function<void(TextView name, EntryKind kind)>& visit) = 0;
};

// While one of these lives on a thread, the file system keeps the folder handles of that
// thread's last entry open between calls, so that a walk over many entries of the same folders
// does not reopen them for each. Outside every scope nothing stays open after a call: an idle
// program holds no handle that would keep a volume from being unmounted or ejected. A scope
// begins and ends with ForgetOpenFolders, so that no handle from before it stands for a folder
// replaced since.
class OpenFolderScope {
 public:
  explicit OpenFolderScope(FileSystem& fs);
  ~OpenFolderScope();
  OpenFolderScope(const OpenFolderScope&) = delete;
  OpenFolderScope& operator=(const OpenFolderScope&) = delete;

  // Whether the calling thread is inside a scope.
  static bool Active();

 private:
  FileSystem& fs_;
};

// The operating system's file system.
FileSystem& SystemFileSystem();

// The key under which a path is stored in the item list: lower-cased with the system's
// mapping where the file system ignores case (Windows), unchanged where it does not (POSIX).
// kPathKeysFolded (path_rules.h) says which: where it is false, a path is its own key and
// callers may store it without this copy.
Text FoldPathKey(TextView path);

// Converts a local calendar time to a UTC file time; false when the system cannot.
bool LocalTimeToFileTime(int year, int month, int day, int hour, int minute, int second,
                         FileTime& out);

}  // namespace nulvane::platform
