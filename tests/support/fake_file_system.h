// An in-memory FileSystem for tests. It keeps files (with their bytes and time stamps),
// folders, links (never followed), hard links (names sharing one content) and other entries,
// records every call, and can fail any call at any point: the Nth call of a kind, every call of
// a kind on a path, or the Nth call of any kind. It can also simulate short writes, a volume
// that fills up, files held open elsewhere, and the sector rules of unbuffered writes.
// Thread-safe; the observer runs without the lock, so it may query the fake.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace nulvane::testing {

enum class FsOp {
  kInspect,
  kFindEntry,
  kListFolder,
  kOpenForOverwrite,
  kOpenFolderForStamp,
  kCreateNewFile,
  kRenameNoReplace,
  kDeleteFile,
  kRemoveFolder,
  kCreateFolder,
  kGetVolumeSpace,
  kIdentifyAnchor,
  kFullPath,
  kResolveFolder,  // MakeFillFolder resolving the chosen folder
  // Calls on an OpenFile; their path is the path the file was opened under.
  kWrite,
  kWriteDirect,  // a write past the cache (OpenFile::WriteDirect)
  kFlush,
  kSetTimes,
  kClose,
  kCurrentSize,
  kOpenUncachedReader,
  kReadNext,  // on the reader: its path is the path the file was opened under
  // What a file holds beyond its unnamed data. kListStreams and kDataRanges are recorded under
  // the path the file was opened under; kOpenStream, and every call on an opened stream,
  // under "path:name".
  kDataRanges,
  kListStreams,
  kOpenStream,
};
const char* FsOpName(FsOp op);

struct FsCall {
  FsOp op;
  Text path;
  Text path2;               // RenameNoReplace: the new name
  std::uint64_t size = 0;   // Write: the bytes asked to write
  std::uint32_t error = 0;  // the outcome (0 success), filled in after the call
};

// Error codes the fake returns; the numbers are those of errno (and, for 2, of Windows).
struct FakeError {
  static constexpr std::uint32_t kNotFound = 2;
  static constexpr std::uint32_t kBadHandle = 9;
  static constexpr std::uint32_t kAccessDenied = 13;
  // What the system says of a name that is taken: platform::IsAlreadyExists knows it.
#ifdef _WIN32
  static constexpr std::uint32_t kExists = 183;  // ERROR_ALREADY_EXISTS
#else
  static constexpr std::uint32_t kExists = 17;  // EEXIST
#endif
  static constexpr std::uint32_t kNotFolder = 20;
  static constexpr std::uint32_t kIsFolder = 21;
  static constexpr std::uint32_t kInvalid = 22;
  static constexpr std::uint32_t kInUse = 32;
  static constexpr std::uint32_t kNotEmpty = 39;
  static constexpr std::uint32_t kIo = 5;
};

// A path under the fake's root in the system's style: FakePath(u"w/a.txt") is "/w/a.txt" on
// POSIX and "C:\w\a.txt" on Windows.
Text FakePath(std::u16string_view relative);

class FakeFileSystem final : public platform::FileSystem {
 public:
  struct Times {
    platform::FileTime creation = 0, access = 0, write = 0;
    bool operator==(const Times&) const = default;
  };
  // One entry as a test sees it.
  struct Entry {
    platform::EntryKind kind = platform::EntryKind::kMissing;
    std::vector<unsigned char> content;  // files
    Times times;
    Text link_target;  // links
    bool link_to_folder = false;
    bool read_only = false;
    std::uint32_t link_count = 1;  // names sharing the content
    bool operator==(const Entry&) const = default;
  };
  using Snapshot = std::map<Text, Entry>;

  FakeFileSystem();
  ~FakeFileSystem() override;

  // Building the tree. Parents are created as folders where missing; the root always exists.
  void AddFolder(TextView path);
  void AddFile(TextView path, std::vector<unsigned char> content);
  void AddFile(TextView path, std::string_view content);
  // A file of `size` bytes that are not zero (so that an overwrite shows).
  void AddFileOfSize(TextView path, std::size_t size);
  void AddLink(TextView path, TextView target, bool to_folder = false);
  // A second name for the content of the existing file `existing`.
  void AddHardLink(TextView existing, TextView path);
  // A device, pipe or socket.
  void AddOther(TextView path);
  void SetReadOnly(TextView path, bool read_only);
  // Compressed, encrypted or sparse (the opened file reports stored_elsewhere).
  void SetStoredElsewhere(TextView path, bool value);
  // Held open by another program without sharing: opening it for overwrite fails (kInUse).
  void SetHeldOpen(TextView path, bool held);
  // Puts a new object of `kind` (a file holding `content`, or an empty folder) in the place of
  // the entry at `path`, as another program would after removing it. With `reuse_number` the
  // new object gets the old one's object number, as a file system hands a freed inode number
  // out again; only its birth tells it apart.
  void ReplaceWithNewObject(TextView path, platform::EntryKind kind, std::string_view content,
                            bool reuse_number = true);
  // Moves an entry (and, for a folder, everything inside it) as another program would, replacing
  // whatever stands at `to`. Handles of the fake follow their object.
  void MoveEntry(TextView from, TextView to);
  // Identities as a file system without birth times or generations gives them: a file's change
  // time, which every write, stamp, rename and attribute change moves on; a folder has none.
  void UseChangeTimeIdentities(bool change_time);
  // Fill files made through a fill folder have no name (as O_TMPFILE files): their space is
  // taken while a handle is open and comes back when the last one closes.
  void SetNamelessFillFiles(bool nameless);

  // The volume: capacity in bytes (default 1 GiB) and sector size (default 512). Writes that
  // would pass the capacity write what fits, then fail with IoResult::kDiskFull.
  void SetCapacity(std::uint64_t bytes);
  void SetSectorSize(std::uint32_t bytes);
  // Whether the free space is reported from the capacity (true) or as `bytes` (false after
  // this call): lets a test report a free space that differs from what really fits.
  void ReportFreeBytes(std::optional<std::uint64_t> bytes);
  // The volume's size as GetVolumeSpace reports it, when it is not the capacity (a volume
  // that stores more than its size, as one that compresses zeros does).
  void ReportTotalBytes(std::optional<std::uint64_t> bytes);
  // Files cannot grow beyond this many bytes (FAT's 4 GiB): writes past it write what fits,
  // then fail with IoResult::kFileTooLarge. 0 for no limit.
  void SetMaxFileSize(std::uint64_t bytes);
  // Writes take at most this many bytes each (short writes); 0 for no limit.
  void SetMaxWriteChunk(std::size_t bytes);
  // Files made by CreateNewFile take only writes whose size and buffer address are multiples
  // of the sector size (as unbuffered writes demand on real Windows); others fail kInvalid.
  void RequireSectorAlignedWrites(bool required);
  // Whether opened files offer writes past the cache (StartDirectWrites; by default they do).
  // Those follow the rule of unbuffered handles on Windows: the file offset, the size and the
  // buffer address each a multiple of the sector size, else kInvalid and nothing written.
  void OfferDirectWrites(bool offered);
  // The current folder FullPath resolves relative paths against.
  void SetCurrentFolder(TextView folder);
  // ResolveFolder gives `resolved` for `path` (as the system would after following a link);
  // without such an entry it resolves the text as FullPath does.
  void SetResolvedFolder(TextView path, TextView resolved);
  // Adds `size` bytes that are not zero to the end of the file, also while it is open (what
  // another program appending to it does).
  void Append(TextView path, std::size_t size);
  // The read-back of the file (OpenUncachedReader) shows a non-zero byte at `offset`, as a
  // device that did not take the overwrite would.
  void CorruptReadBack(TextView path, std::uint64_t offset);
  // Readers hand out at most this many bytes per chunk (default 64 KiB).
  void SetReadChunk(std::size_t bytes);

  // ---- What a file or folder holds beyond its unnamed data ----
  // A named data stream `name` of the file or folder at `path` (NTFS keeps them beside the
  // unnamed one; a downloaded file's "Zone.Identifier", say). Its calls are recorded and can
  // be failed under "path:name" (FailAlways(FsOp::kOpenStream, error, path + u":name")).
  void AddStream(TextView path, TextView name, std::string_view content);
  // The content of that stream, when the entry and the stream exist.
  std::optional<std::vector<unsigned char>> StreamContent(TextView path, TextView name) const;
  // Makes the file sparse: only `data` holds data, the rest of it are holes (read as zeros).
  // The opened file then says it may have holes and gives these ranges when asked.
  void MakeSparse(TextView path, std::vector<platform::ByteRange> data);

  // Fault injection. Counts start at 1 and include every call since construction.
  void FailNth(FsOp op, int nth, std::uint32_t error);
  // Every call of `op` (on `path` only, when given).
  void FailAlways(FsOp op, std::uint32_t error, TextView path = {});
  // The `nth` call of any kind.
  void FailNthCall(int nth, std::uint32_t error);
  void ClearFaults();

  // Called before each call is carried out (the call's error is not known yet).
  void SetObserver(std::function<void(const FsCall&)> observer);

  // Observation.
  bool Exists(TextView path) const;
  platform::EntryKind KindOf(TextView path) const;
  std::optional<std::vector<unsigned char>> Content(TextView path) const;
  std::optional<Times> TimesOf(TextView path) const;
  std::optional<Entry> EntryAt(TextView path) const;
  // Every entry, keyed by path.
  Snapshot TakeSnapshot() const;
  // The entries directly in `folder`, sorted.
  std::vector<Text> Children(TextView folder) const;
  std::vector<FsCall> Calls() const;
  std::vector<FsCall> CallsOf(FsOp op) const;
  int CallCount() const;
  int CountOf(FsOp op) const;
  std::uint64_t UsedBytes() const;
  int OpenHandles() const;
  // The identity Inspect reports for the entry at `path` (unknown when there is none). Every
  // entry the fake makes is a new object with a birth of its own; hard links share theirs; a
  // rename keeps it.
  platform::EntryIdentity IdentityOf(TextView path) const;
  static constexpr std::uint64_t kFakeVolume = 1;

  // FileSystem
  platform::IoResult Inspect(const platform::EntryRef& entry, platform::EntryInfo& info) override;
  platform::IoResult FindEntry(TextView path, platform::EntryInfo& info) override;
  platform::IoResult IdentifyAnchor(TextView anchor, platform::EntryIdentity& identity) override;
  platform::IoResult ListFolder(
      const platform::EntryRef& folder,
      const std::function<void(TextView name, const platform::EntryInfo&)>& visit) override;
  // Refuses (kChangedEntry) an entry whose object is not the expected one, and a file with
  // other names (kHardLinked) before it clears read-only.
  platform::IoResult OpenForOverwrite(const platform::EntryRef& entry,
                                      std::unique_ptr<platform::OpenFile>& file,
                                      platform::OpenedFileInfo& info) override;
  platform::IoResult OpenFolderForStamp(const platform::EntryRef& entry,
                                        std::unique_ptr<platform::OpenFile>& folder) override;
  platform::IoResult CreateNewFile(
      TextView path, std::unique_ptr<platform::OpenFile>& file,
      platform::Caching caching = platform::Caching::kBuffered) override;
  // Whether the last file made by CreateNewFile was asked for unbuffered.
  bool LastCreatedUnbuffered() const { return last_created_unbuffered_; }
  platform::IoResult RenameNoReplace(const platform::EntryRef& from, TextView to,
                                     platform::EntryIdentity& after) override;
  platform::IoResult DeleteFile(const platform::EntryRef& entry) override;
  platform::IoResult RemoveFolder(const platform::EntryRef& entry) override;
  platform::IoResult CreateFolder(TextView path) override;
  platform::IoResult GetVolumeSpace(TextView path, platform::VolumeSpace& space) override;
  // Resolves `chosen` as SetResolvedFolder says (kResolveFolder), then makes the folder
  // (kCreateFolder). Its files are made as kCreateNewFile, removed as kDeleteFile, and the folder
  // removed as kRemoveFolder, each recorded under the path the fill shows.
  platform::IoResult MakeFillFolder(TextView chosen, TextView name,
                                    std::unique_ptr<platform::FillFolder>& folder) override;
  Text FullPath(TextView path) override;

 private:
  class FakeOpenFile;
  class FakeReader;
  class FakeFillFolder;
  struct Node;
  platform::IoResult LookUp(FsOp op, TextView path, platform::EntryInfo& info);
  struct Data;
  struct Fault {
    std::optional<FsOp> op;
    int nth = 0;  // 0: every matching call
    Text path;
    std::uint32_t error = 0;
  };

  // Records the call, runs the observer and decides whether a fault hits it. Returns the
  // injected error (0 for none) and the call's index for Finish.
  std::uint32_t Begin(FsOp op, TextView path, TextView path2, std::uint64_t size,
                      std::size_t& index);
  platform::IoResult Finish(std::size_t index, platform::IoResult result);

  // All under mutex_.
  Node* Find(TextView path);
  const Node* Find(TextView path) const;
  bool ParentIsFolder(TextView path) const;
  void EnsureParents(TextView path);
  std::uint64_t UsedBytesLocked() const;
  std::uint64_t FreeBytesLocked() const;
  platform::EntryInfo InfoOf(const Node& node) const;
  bool Admits(const platform::EntryRef& entry, const Node& node) const;
  const Node* AnchorNode(TextView anchor) const;
  platform::EntryIdentity IdentityOfData(const Data& data) const;
  Entry EntryOf(const Node& node) const;
  void Put(TextView path, Node node);

  mutable std::mutex mutex_;
  std::map<Text, Node, std::less<>> nodes_;
  std::vector<FsCall> calls_;
  std::map<FsOp, int> op_counts_;
  std::vector<Fault> faults_;
  std::function<void(const FsCall&)> observer_;
  std::uint64_t capacity_ = 1ULL << 30;
  std::optional<std::uint64_t> reported_free_;
  std::optional<std::uint64_t> reported_total_;
  std::uint64_t max_file_size_ = 0;
  std::uint32_t sector_size_ = 512;
  std::size_t max_write_chunk_ = 0;
  bool sector_aligned_writes_ = false;
  bool direct_writes_offered_ = true;
  Text current_folder_;
  std::map<Text, Text, std::less<>> resolved_folders_;
  std::size_t read_chunk_ = 64 * 1024;
  int open_handles_ = 0;
  bool last_created_unbuffered_ = false;
  bool nameless_fill_files_ = false;
  bool change_time_identities_ = false;
  std::vector<std::shared_ptr<Data>> nameless_files_;  // open nameless fill files
  std::unique_ptr<Node> root_;                         // the root folder (its identity)
};

}  // namespace nulvane::testing
