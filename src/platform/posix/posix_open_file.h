// The system's open file: one descriptor, its writes, flush, time stamps and the uncached
// read-back, for the files the wipe overwrites and the files the fill makes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <utility>

#include "platform/file_system.h"
#include "platform/posix/posix_identity.h"
#include "platform/posix/unique_fd.h"

namespace nulvane::platform::posix {

// Owns one file descriptor. Close reports what the system says; the destructor closes silently.
class PosixOpenFile final : public OpenFile {
 public:
  // `sync_volume`: Flush also writes the whole volume's metadata in place (see Flush).
  explicit PosixOpenFile(UniqueFd fd, bool sync_volume = false)
      : fd_(std::move(fd)), sync_volume_(sync_volume) {}
  PosixOpenFile(const PosixOpenFile&) = delete;
  PosixOpenFile& operator=(const PosixOpenFile&) = delete;
  ~PosixOpenFile() override = default;

  IoResult Write(const void* data, std::size_t size, std::size_t& written) override;
  // One writev of up to IOV_MAX blocks: the same bytes as block-by-block writes at a small
  // fraction of the system calls.
  IoResult WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                         std::size_t& written) override;
  // O_DIRECT set on this very descriptor (no path is opened again), with the alignment
  // statx's STATX_DIOALIGN gives for the file, or else 4096 bytes and the page size.
  IoResult StartDirectWrites(DirectAlignment& alignment) override;
  // Sets O_DIRECT again where Write took it off. EINVAL from the first direct write (a file
  // system that accepted the flag but takes no such write) sends it and all later ones
  // through the cache.
  IoResult WriteDirect(const void* data, std::size_t size, std::size_t& written) override;
  IoResult Flush() override;
  IoResult SetTimes(FileTime time) override;
  IoResult Identity(EntryIdentity& identity) override;
  IoResult RestoreAttributes() override;
  IoResult Close() override;
  IoResult CurrentSize(std::uint64_t& size) override;
  IoResult OpenUncachedReader(std::unique_ptr<UncachedReader>& reader) override;
  IoResult Seek(std::uint64_t offset) override;
  // SEEK_DATA / SEEK_HOLE: what the file system reports as data (written or dirty pages).
  IoResult DataRanges(std::uint64_t size, std::vector<ByteRange>& ranges) override;
  IoResult OverwriteExtendedAttributes(std::vector<UnreachedAttribute>& unreached) override;

  // The mode the file had before the open gave the owner write permission; RestoreAttributes
  // puts it back.
  void RememberMode(mode_t mode) { original_mode_ = mode; }
  // What the object was when opened. An identity made of a birth time never changes while the
  // object is held (no call can set a birth time), so Identity then asks nothing.
  void RememberStatus(const Status& status);
  // Writes behind the file's end as it is written: every kWriteBehindWindow bytes the system
  // is asked to start writing them out, and the window before is waited for and dropped from
  // the page cache. A long overwrite then neither fills the cache with zeros (evicting what
  // the user had there) nor leaves all its write-back to the flush. The flush still decides.
  void WriteBehind() { write_behind_ = true; }
  static constexpr std::uint64_t kWriteBehindWindow = 8u << 20;

 private:
  // Counts `bytes` just written at the file position and starts or finishes write-back of the
  // windows behind it (WriteBehind).
  void Wrote(std::size_t bytes);
  // Sets or clears O_DIRECT on the descriptor (its other status flags as they were); false
  // with errno when the system refuses.
  bool SetDirect(bool on);
  // Write and WriteRepeated go through the cache: O_DIRECT off where WriteDirect set it.
  IoResult LeaveDirect();

  // Writes past the cache: not started, started (O_DIRECT may be on or off; direct_on_ says
  // which), or refused by the file system (everything goes through the cache).
  enum class Direct : unsigned char { kNotStarted, kStarted, kRefused };

  UniqueFd fd_;
  Direct direct_ = Direct::kNotStarted;
  bool direct_on_ = false;         // O_DIRECT is set on the descriptor now
  bool direct_confirmed_ = false;  // a direct write succeeded: EINVAL is an error from now on
  int status_flags_ = 0;           // F_GETFL's status flags, without O_DIRECT
  bool write_behind_ = false;
  std::uint64_t position_ = 0;  // the file position, while writing behind
  std::uint64_t started_ = 0;   // write-back started up to here
  std::uint64_t dropped_ = 0;   // written out and dropped from the cache up to here
  bool sync_volume_ = false;
  std::optional<mode_t> original_mode_;
  std::optional<EntryIdentity> lasting_identity_;
};

}  // namespace nulvane::platform::posix
