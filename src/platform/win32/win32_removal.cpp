#include "platform/win32/win32_removal.h"

#include <winternl.h>

#include <algorithm>
#include <vector>

#include "platform/win32/win32_calls.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_open_file.h"

namespace nulvane::platform::win32 {

namespace {

// FILE_DISPOSITION_INFO_EX (FileDispositionInfoEx, class 21 of FILE_INFO_BY_HANDLE_CLASS) and
// its flags, by their documented numbers: headers for older systems declare none of them.
struct DispositionInfoEx {
  ULONG flags;
};
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;

constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056);
constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034);
// The attributes FileBasicInfo can set (FILE_ATTRIBUTE_VALID_SET_FLAGS).
constexpr DWORD kSettableAttributes = 0x31A7;

// Opens `name` relative to `folder` (an empty name: the folder itself) for a look only.
NTSTATUS OpenForLook(HANDLE folder, const wchar_t* name, USHORT name_bytes, ACCESS_MASK access,
                     ULONG options, UniqueHandle& out) {
  UNICODE_STRING object_name;
  object_name.Buffer = const_cast<wchar_t*>(name);
  object_name.Length = name_bytes;
  object_name.MaximumLength = name_bytes;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status = Calls().create_file(
      &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, kShareAll, FILE_OPEN,
      options | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT |
          FILE_SYNCHRONOUS_IO_NONALERT,
      nullptr, 0);
  if (NT_SUCCESS(status)) out.reset(handle);
  return status;
}

// True when every entry the folder open as `folder` still holds is pending deletion: the
// system refuses to open it (STATUS_DELETE_PENDING) until the program that holds it lets go.
// An entry that is gone by the time it is looked at counts as such.
bool OnlyPendingDeletions(HANDLE folder) {
  UniqueHandle listing;
  if (!NT_SUCCESS(OpenForLook(folder, L"", 0, FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE, listing))) {
    return false;
  }
  std::vector<std::uint64_t> buffer(16 * 1024 / sizeof(std::uint64_t));
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
       kind = FileIdBothDirectoryInfo) {
    if (!Calls().get_file_information_ex(listing.get(), kind, buffer.data(),
                                         static_cast<DWORD>(buffer.size() * sizeof buffer[0]))) {
      return ::GetLastError() == ERROR_NO_MORE_FILES;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
      const std::size_t length = entry->FileNameLength / sizeof(wchar_t);
      const bool dots = (length == 1 && entry->FileName[0] == L'.') ||
                        (length == 2 && entry->FileName[0] == L'.' && entry->FileName[1] == L'.');
      if (!dots) {
        UniqueHandle child;
        const NTSTATUS status =
            OpenForLook(listing.get(), entry->FileName, static_cast<USHORT>(entry->FileNameLength),
                        FILE_READ_ATTRIBUTES, 0, child);
        if (status != kStatusDeletePending && status != kStatusNameNotFound) return false;
      }
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

}  // namespace

IoResult MarkForDeletion(HANDLE handle, DWORD attributes) {
  DispositionInfoEx ex{kDispositionDelete | kDispositionPosixSemantics |
                       kDispositionIgnoreReadOnly};
  if (Calls().set_file_information(handle, kFileDispositionInfoEx, &ex, sizeof ex)) {
    return IoResult::Ok();
  }
  const DWORD error = ::GetLastError();
  // Systems and volumes without it say so in one of these ways; anything else is the answer.
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION &&
      error != ERROR_NOT_SUPPORTED) {
    return FromError(error);
  }
  // The classic disposition refuses a read-only entry (a read-only link is never opened for
  // writing, so nothing cleared it before): read-only goes first, and comes back if the entry
  // stays.
  const bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  const DWORD kept = attributes & kSettableAttributes;
  if (read_only) SetAttributes(handle, kept & ~FILE_ATTRIBUTE_READONLY);
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFileW = TRUE;  // the field's name, turned by the DeleteFile macro
  if (!Calls().set_file_information(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
    const DWORD refused = ::GetLastError();
    if (read_only) SetAttributes(handle, kept);
    return FromError(refused);
  }
  return IoResult::Ok();
}

IoResult MarkFolderForDeletion(HANDLE handle, DWORD attributes) {
  const ULONGLONG start = ::GetTickCount64();
  DWORD pause = 50;
  for (;;) {
    const IoResult result = MarkForDeletion(handle, attributes);
    if (result.error != ERROR_DIR_NOT_EMPTY) return result;
    const ULONGLONG waited = ::GetTickCount64() - start;
    if (waited >= kPendingWaitMs || !OnlyPendingDeletions(handle)) return result;
    ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, kPendingWaitMs - waited)));
    pause *= 2;
  }
}

}  // namespace nulvane::platform::win32
