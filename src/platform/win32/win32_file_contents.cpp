// What a Windows file holds beyond the data of its unnamed stream: the allocated ranges of a
// sparse file and the named data streams of a file or folder.
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_open_file.h"

namespace nulvane::platform::win32 {

IoResult Win32OpenFile::Seek(std::uint64_t offset) {
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) return LastError();
  position_ = offset;
  return IoResult::Ok();
}

IoResult Win32OpenFile::DataRanges(std::uint64_t size, std::vector<ByteRange>& ranges) {
  ranges.clear();
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  // Others may read and write beside our writer, which shares reading only: that is all a
  // second handle of ours must allow.
  UniqueHandle reader(::ReOpenFile(handle_, FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
  if (!reader.valid()) return LastError();
  FILE_ALLOCATED_RANGE_BUFFER query{};
  FILE_ALLOCATED_RANGE_BUFFER found[64];
  std::uint64_t at = 0;
  while (at < size) {
    query.FileOffset.QuadPart = static_cast<LONGLONG>(at);
    query.Length.QuadPart = static_cast<LONGLONG>(size - at);
    DWORD returned = 0;
    const BOOL complete = ::DeviceIoControl(reader.get(), FSCTL_QUERY_ALLOCATED_RANGES, &query,
                                            sizeof query, found, sizeof found, &returned, nullptr);
    const DWORD error = complete ? ERROR_SUCCESS : ::GetLastError();
    if (!complete && error != ERROR_MORE_DATA) {
      ranges.clear();
      return FromError(error);
    }
    const std::size_t count = returned / sizeof found[0];
    for (std::size_t i = 0; i < count; ++i) {
      const auto start = static_cast<std::uint64_t>(found[i].FileOffset.QuadPart);
      const std::uint64_t end = std::min<std::uint64_t>(
          start + static_cast<std::uint64_t>(found[i].Length.QuadPart), size);
      if (start < at || end <= start) continue;
      ranges.push_back({start, end - start});
      at = end;
    }
    if (complete) break;
    if (count == 0) {  // "more data" without any: the caller overwrites the whole
      ranges.clear();
      return FromError(ERROR_MORE_DATA);
    }
  }
  return IoResult::Ok();
}

namespace {

constexpr wchar_t kDataType[] = L":$DATA";
constexpr std::size_t kDataTypeLength = 6;

}  // namespace

IoResult Win32OpenFile::ListStreams(std::vector<StreamInfo>& streams) {
  streams.clear();
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  std::vector<std::uint64_t> buffer(512);  // 4 KiB, aligned as the entries demand
  for (;;) {
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof buffer[0]);
    if (::GetFileInformationByHandleEx(handle_, FileStreamInfo, buffer.data(), bytes)) break;
    const DWORD error = ::GetLastError();
    // A folder without streams, or a file system that keeps none (FAT, exFAT, most network
    // shares): nothing beyond the unnamed data.
    if (error == ERROR_HANDLE_EOF || error == ERROR_INVALID_PARAMETER ||
        error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED) {
      return IoResult::Ok();
    }
    if (error != ERROR_MORE_DATA || buffer.size() >= (64u << 20) / sizeof buffer[0]) {
      return FromError(error);
    }
    buffer.resize(buffer.size() * 4);
  }
  const auto* base = reinterpret_cast<const unsigned char*>(buffer.data());
  const std::size_t limit = buffer.size() * sizeof buffer[0];
  for (std::size_t offset = 0; offset + sizeof(FILE_STREAM_INFO) <= limit;) {
    const auto* entry = reinterpret_cast<const FILE_STREAM_INFO*>(base + offset);
    const std::size_t length = std::min<std::size_t>(entry->StreamNameLength / sizeof(wchar_t),
                                                     (limit - offset) / sizeof(wchar_t));
    const std::wstring name(entry->StreamName, length);
    // ":name:$DATA"; "::$DATA" is the unnamed stream that Write reaches.
    if (name.size() > kDataTypeLength + 1 && name.front() == L':' &&
        name.compare(name.size() - kDataTypeLength, kDataTypeLength, kDataType) == 0) {
      const std::wstring bare = name.substr(1, name.size() - 1 - kDataTypeLength);
      streams.push_back(
          {Text(bare.begin(), bare.end()), static_cast<std::uint64_t>(entry->StreamSize.QuadPart)});
    }
    if (entry->NextEntryOffset == 0) break;
    offset += entry->NextEntryOffset;
  }
  return IoResult::Ok();
}

IoResult Win32OpenFile::OpenStream(TextView name, std::unique_ptr<OpenFile>& stream,
                                   OpenedFileInfo& info) {
  stream.reset();
  info = OpenedFileInfo{};
  if (handle_ == INVALID_HANDLE_VALUE) return FromError(ERROR_INVALID_HANDLE);
  if (name.empty() || name.find_first_of(u":\\/") != TextView::npos ||
      name.find(u'\0') != TextView::npos) {
    return IoResult::Fail(IoResult::kInvalidName);
  }
  Text relative = u":";
  relative += name;
  relative += u":$DATA";
  // Others may only read it while we write, as the file's own data.
  UniqueHandle handle;
  if (IoResult opened = OpenRelative(handle_, relative, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ, 0, handle);
      !opened) {
    return opened;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(handle.get(), &size)) return LastError();
  FILE_BASIC_INFO basic{};
  if (::GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof basic)) {
    info.may_have_holes = (basic.FileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
  }
  info.size = static_cast<std::uint64_t>(size.QuadPart);
  stream = std::make_unique<Win32OpenFile>(handle.release());
  return IoResult::Ok();
}

}  // namespace nulvane::platform::win32
