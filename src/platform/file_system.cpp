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
    case IoResult::kFileTooLarge:
      return u"The file is too large for the volume";
    default:
      return nullptr;
  }
}

}  // namespace nulvane::platform
