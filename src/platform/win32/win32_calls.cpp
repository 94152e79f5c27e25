#include "platform/win32/win32_calls.h"

namespace nulvane::platform::win32 {

const FileSystemCalls& SystemCalls() {
  static const FileSystemCalls calls{
      ::NtCreateFile,
      ::NtSetInformationFile,
      ::NtQueryInformationFile,
      ::GetFileInformationByHandle,
      ::GetFileInformationByHandleEx,
      ::SetFileInformationByHandle,
      ::GetVolumeInformationByHandleW,
      ::SetFileTime,
      ::DeviceIoControl,
  };
  return calls;
}

FileSystemCalls& Calls() {
  static FileSystemCalls calls = SystemCalls();
  return calls;
}

}  // namespace nulvane::platform::win32
