// The system's open file on Windows: one handle, its writes, flush, time stamps, identity and
// the uncached read-back, for the files the wipe overwrites and the files the fill makes.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "platform/file_system.h"

namespace nulvane::platform::win32 {

// Memory from VirtualAlloc: aligned to the allocation granularity (64 KiB), which suits every
// sector size an unbuffered transfer demands. Move-only owner.
class AlignedBlock {
 public:
  AlignedBlock() = default;
  explicit AlignedBlock(std::size_t size);
  AlignedBlock(const AlignedBlock&) = delete;
  AlignedBlock& operator=(const AlignedBlock&) = delete;
  AlignedBlock& operator=(AlignedBlock&& other) noexcept;
  ~AlignedBlock();
  unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Sets the attributes of the opened entry (FILE_ATTRIBUTE_NORMAL for none); times unchanged.
IoResult SetAttributes(HANDLE handle, DWORD attributes);

// Owns one handle; INVALID_HANDLE_VALUE is empty. Close reports, the destructor closes silently.
class Win32OpenFile final : public OpenFile {
 public:
  explicit Win32OpenFile(HANDLE handle) : handle_(handle) {}
  Win32OpenFile(const Win32OpenFile&) = delete;
  Win32OpenFile& operator=(const Win32OpenFile&) = delete;
  ~Win32OpenFile() override;

  IoResult Write(const void* data, std::size_t size, std::size_t& written) override;
  // One WriteFile for all `count` blocks: they are copied one after the other into an aligned
  // buffer that the handle keeps for its next requests, so that an unbuffered handle gets
  // whole sectors from an aligned address in a single request.
  IoResult WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                         std::size_t& written) override;
  // Writes past the cache go through a handle opened with FILE_FLAG_NO_BUFFERING in the place
  // of this one (see Reopen), with the alignment FileStorageInfo gives (Windows 8), else 4096
  // bytes. ERROR_INVALID_PARAMETER from the first of them sends it and all later ones through
  // the cache.
  IoResult StartDirectWrites(DirectAlignment& alignment) override;
  IoResult WriteDirect(const void* data, std::size_t size, std::size_t& written) override;
  IoResult CurrentSize(std::uint64_t& size) override;
  IoResult OpenUncachedReader(std::unique_ptr<UncachedReader>& reader) override;
  IoResult Flush() override;
  IoResult SetTimes(FileTime time) override;
  IoResult Identity(EntryIdentity& identity) override;
  IoResult RestoreAttributes() override;
  IoResult Close() override;

  // The file's contents beyond its unnamed stream (win32_file_contents.cpp).
  IoResult Seek(std::uint64_t offset) override;
  // FSCTL_QUERY_ALLOCATED_RANGES, through a second handle with read access (the control code
  // demands it; this handle only writes).
  IoResult DataRanges(std::uint64_t size, std::vector<ByteRange>& ranges) override;
  // FileStreamInfo of this handle: every named data stream ("::$DATA" is the unnamed one).
  IoResult ListStreams(std::vector<StreamInfo>& streams) override;
  // ":name:$DATA" opened relative to this handle (NtCreateFile with it as RootDirectory), so
  // that the stream belongs to this very object whatever its name is now.
  IoResult OpenStream(TextView name, std::unique_ptr<OpenFile>& stream,
                      OpenedFileInfo& info) override;

  // The attributes the entry had before the open cleared read-only, hidden and system;
  // RestoreAttributes puts them back.
  void RememberAttributes(DWORD attributes) { original_attributes_ = attributes; }

 private:
  // Puts a new handle of the same object, unbuffered or not, in the place of handle_, at the
  // same position. The writer shares reading only (as the open for overwrite chose), so a
  // second writer of ours would be refused: the old one is closed first, and the new one is
  // opened relative to pin_, a handle of this object without data access that no sharing
  // refuses. Reopened relative to a handle with no name, it is that handle's object and no
  // other; its identity is compared all the same. Should another program take the file for
  // writing in between, the reopen fails: the failure is reported and every later write
  // reports it too (the file is kept).
  IoResult Reopen(bool unbuffered);
  // Write and WriteRepeated go through the cache: a buffered handle where WriteDirect left an
  // unbuffered one.
  IoResult LeaveUnbuffered();
  // What a call on a handle that is gone reports: the failure that lost it, if any.
  IoResult Gone() const;

  enum class Direct : unsigned char { kNotStarted, kStarted, kRefused };

  HANDLE handle_;
  AlignedBlock scratch_;  // WriteRepeated's request, kept for the next one
  std::optional<DWORD> original_attributes_;
  HANDLE pin_ = INVALID_HANDLE_VALUE;  // see Reopen
  Direct direct_ = Direct::kNotStarted;
  bool unbuffered_ = false;        // handle_ was opened with FILE_FLAG_NO_BUFFERING
  bool direct_confirmed_ = false;  // a write past the cache succeeded
  std::uint64_t position_ = 0;     // handle_'s file position, carried over to a reopened handle
  DWORD lost_error_ = ERROR_INVALID_HANDLE;
};

}  // namespace nulvane::platform::win32
