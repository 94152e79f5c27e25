// What a Windows file holds beyond its unnamed data, on real files: named data streams and the
// allocated ranges of sparse files. NTFS has both; where the system running the tests keeps
// none (Wine stores no named streams and marks no file sparse), the part that needs them is
// skipped with what the system did, and the engine's handling of both is shown on the fake
// file system (tests/engine/wipe_contents_test.cpp).
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>
#undef DeleteFile

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_path.h"
#include "support/temp_folder.h"

namespace nulvane::platform {
namespace {

HANDLE CreateNew(const Text& path, DWORD access = GENERIC_WRITE) {
  return ::CreateFileW(Wide(win32::ExtendedPath(path)), access, 0, nullptr, CREATE_NEW, 0, nullptr);
}

bool WriteAll(HANDLE handle, const std::string& bytes) {
  DWORD written = 0;
  return ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string ReadWhole(const Text& path) {
  HANDLE handle = ::CreateFileW(Wide(win32::ExtendedPath(path)), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(4096, '\0');
  DWORD read = 0;
  ::ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  ::CloseHandle(handle);
  bytes.resize(read);
  return bytes;
}

class Win32FileContents : public ::testing::Test {
 protected:
  void TearDown() override { fs_.ForgetOpenFolders(); }
  testing::TempFolder temp_;
  FileSystem& fs_ = SystemFileSystem();
};

TEST_F(Win32FileContents, NamedStreamsAreListedAndOverwrittenThroughTheFilesOwnHandle) {
  const Text file = temp_ / u"download.exe";
  HANDLE handle = CreateNew(file);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteAll(handle, "program"));
  ::CloseHandle(handle);

  // A plain file lists no named stream, and listing them is no failure.
  std::unique_ptr<OpenFile> opened;
  OpenedFileInfo info;
  ASSERT_TRUE(fs_.OpenForOverwrite(file, opened, info));
  std::vector<StreamInfo> streams;
  ASSERT_TRUE(opened->ListStreams(streams));
  EXPECT_TRUE(streams.empty());
  ASSERT_TRUE(opened->Close());

  const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/x\r\n";
  handle = CreateNew(file + u":Zone.Identifier");
  if (handle == INVALID_HANDLE_VALUE) {
    GTEST_SKIP() << "this system keeps no named streams: CreateFileW(\"file:name\") fails with "
                 << ::GetLastError();
  }
  ASSERT_TRUE(WriteAll(handle, zone));
  ::CloseHandle(handle);
  ASSERT_TRUE(fs_.OpenForOverwrite(file, opened, info));
  ASSERT_TRUE(opened->ListStreams(streams));
  if (streams.empty()) {
    GTEST_SKIP() << "CreateFileW(\"file:name\") succeeded, but the file lists no named stream: "
                    "this system keeps \"file:name\" as something else than a stream of file";
  }
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].name, u"Zone.Identifier");
  EXPECT_EQ(streams[0].size, zone.size());
  std::unique_ptr<OpenFile> stream;
  OpenedFileInfo stream_info;
  ASSERT_TRUE(opened->OpenStream(streams[0].name, stream, stream_info));
  EXPECT_EQ(stream_info.size, zone.size());
  const std::string zeros(zone.size(), '\0');
  std::size_t written = 0;
  ASSERT_TRUE(stream->Write(zeros.data(), zeros.size(), written));
  ASSERT_TRUE(stream->Flush());
  ASSERT_TRUE(stream->Close());
  ASSERT_TRUE(opened->Close());
  EXPECT_EQ(ReadWhole(file + u":Zone.Identifier"), zeros);
  EXPECT_EQ(ReadWhole(file), "program");
}

TEST_F(Win32FileContents, OnlyTheAllocatedRangesOfASparseFileAreItsData) {
  const Text file = temp_ / u"disk.vhd";
  HANDLE handle = CreateNew(file, GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  const BOOL made_sparse =
      ::DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  const std::string chunk(64 * 1024, 'D');
  LARGE_INTEGER far_away;
  far_away.QuadPart = 64LL << 20;
  const bool written = WriteAll(handle, chunk) &&
                       ::SetFilePointerEx(handle, far_away, nullptr, FILE_BEGIN) &&
                       WriteAll(handle, chunk);
  ::CloseHandle(handle);
  ASSERT_TRUE(written);
  const DWORD attributes = ::GetFileAttributesW(Wide(win32::ExtendedPath(file)));
  if (!made_sparse || (attributes & FILE_ATTRIBUTE_SPARSE_FILE) == 0) {
    // Wine answers FSCTL_SET_SPARSE with success and keeps the file as it was (and refuses
    // FSCTL_QUERY_ALLOCATED_RANGES with ERROR_NOT_SUPPORTED).
    GTEST_SKIP() << "this system marks no file sparse (FSCTL_SET_SPARSE: " << made_sparse
                 << ", attributes " << attributes << ")";
  }
  std::unique_ptr<OpenFile> opened;
  OpenedFileInfo info;
  ASSERT_TRUE(fs_.OpenForOverwrite(file, opened, info));
  EXPECT_TRUE(info.may_have_holes);
  EXPECT_FALSE(info.stored_elsewhere) << "a sparse file's data is overwritten in place";
  std::vector<ByteRange> ranges;
  ASSERT_TRUE(opened->DataRanges(info.size, ranges));
  ASSERT_FALSE(ranges.empty());
  std::uint64_t allocated = 0;
  for (const ByteRange& range : ranges) allocated += range.length;
  EXPECT_LT(allocated, info.size) << "the hole between the two chunks is not data";
  EXPECT_EQ(ranges.front().offset, 0u);
  EXPECT_EQ(ranges.back().offset + ranges.back().length, info.size);
  ASSERT_TRUE(opened->Close());
}

}  // namespace
}  // namespace nulvane::platform
#endif  // _WIN32
