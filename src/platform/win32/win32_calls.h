// The system calls whose answers make up what the Windows file system decides about an entry
// (what it is, which object it is, how it is renamed and removed), gathered in one table.
//
// The program uses the system's own functions. The table exists so that a test can put a
// volume in front of them that follows rules of real Windows volumes the test machine does not
// show (FAT's position ids, deletions left pending by another program, volume mount points,
// case-sensitive folders); every call site reads the table at the moment of the call.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace nulvane::platform::win32 {

struct FileSystemCalls {
  // NtCreateFile: every open relative to a folder handle.
  NTSTATUS(NTAPI* create_file)
  (PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK io,
   PLARGE_INTEGER allocation, ULONG file_attributes, ULONG share, ULONG disposition, ULONG options,
   PVOID ea, ULONG ea_length);
  // NtSetInformationFile: renames by handle.
  NTSTATUS(NTAPI* set_information_file)
  (HANDLE handle, PIO_STATUS_BLOCK io, PVOID information, ULONG length,
   FILE_INFORMATION_CLASS information_class);
  // NtQueryInformationFile: the 64-bit file index alone (FileInternalInformation), which asks
  // nothing of the volume.
  NTSTATUS(NTAPI* query_information_file)
  (HANDLE handle, PIO_STATUS_BLOCK io, PVOID information, ULONG length,
   FILE_INFORMATION_CLASS information_class);
  BOOL(WINAPI* get_file_information)(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information);
  // GetFileInformationByHandleEx: reparse tags, file ids, folder listings.
  BOOL(WINAPI* get_file_information_ex)
  (HANDLE handle, FILE_INFO_BY_HANDLE_CLASS information_class, LPVOID buffer, DWORD size);
  // SetFileInformationByHandle: dispositions and attributes.
  BOOL(WINAPI* set_file_information)
  (HANDLE handle, FILE_INFO_BY_HANDLE_CLASS information_class, LPVOID buffer, DWORD size);
  BOOL(WINAPI* get_volume_information)
  (HANDLE handle, LPWSTR volume_name, DWORD volume_name_size, LPDWORD serial,
   LPDWORD component_length, LPDWORD flags, LPWSTR file_system_name, DWORD file_system_name_size);
  // SetFileTime: the stamp (on FAT the creation time is part of an identity).
  BOOL(WINAPI* set_file_time)
  (HANDLE handle, const FILETIME* creation, const FILETIME* access, const FILETIME* write);
  // DeviceIoControl: reading reparse data (FSCTL_GET_REPARSE_POINT).
  BOOL(WINAPI* device_io_control)
  (HANDLE handle, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
   LPDWORD returned, LPOVERLAPPED overlapped);
};

// The table the file system calls through: the system's functions unless a test replaced them.
FileSystemCalls& Calls();
// The system's own functions.
const FileSystemCalls& SystemCalls();

}  // namespace nulvane::platform::win32
