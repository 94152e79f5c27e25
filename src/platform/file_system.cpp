#include "platform/file_system.h"

namespace nulvane::platform {

const char16_t* OwnErrorText(std::uint32_t error) {
  switch (error) {
    case IoResult::kGenericFailure:
      return u"The operation failed";
    case IoResult::kNotRegularFile:
      return u"Not a regular file";
    case IoResult::kPathTooLong:
      return u"The path is too long";
    case IoResult::kDiskFull:
      return u"The volume is full";
    case IoResult::kChangedEntry:
      return u"The entry was replaced since it was listed";
    case IoResult::kOtherVolume:
      return u"The entry is on another volume";
    case IoResult::kInvalidName:
      return u"The name holds a character no file name can hold";
    case IoResult::kHardLinked:
      return u"The file has other names (hard links)";
    case IoResult::kFileTooLarge:
      return u"The file is too large for the volume";
    default:
      return nullptr;
  }
}

std::size_t ParentAnchorLength(TextView path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (IsPathSeparator(path[i]) || (kDriveNamesFolder && i == 1 && path[i] == u':')) {
      return i + 1;
    }
  }
  return 0;
}

namespace {
thread_local int open_folder_scopes = 0;
}  // namespace

OpenFolderScope::OpenFolderScope(FileSystem& fs) : fs_(fs) {
  if (open_folder_scopes++ == 0) fs_.ForgetOpenFolders();
}

OpenFolderScope::~OpenFolderScope() {
  if (--open_folder_scopes == 0) fs_.ForgetOpenFolders();
}

bool OpenFolderScope::Active() { return open_folder_scopes > 0; }

EntryRef::EntryRef(TextView whole_path)
    : path(whole_path), anchor_length(ParentAnchorLength(whole_path)) {}

}  // namespace nulvane::platform
