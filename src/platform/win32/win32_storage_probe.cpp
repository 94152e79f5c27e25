#include "platform/win32/win32_storage_probe.h"

#include "platform/win32/win32_calls.h"

namespace nulvane::platform {

namespace {

// Attributes and tags newer than some headers.
constexpr DWORD kIntegrityStream = 0x00008000;     // FILE_ATTRIBUTE_INTEGRITY_STREAM
constexpr DWORD kRecallOnOpen = 0x00040000;        // FILE_ATTRIBUTE_RECALL_ON_OPEN
constexpr DWORD kRecallOnDataAccess = 0x00400000;  // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
constexpr DWORD kTagDedup = 0x80000013;            // IO_REPARSE_TAG_DEDUP
constexpr DWORD kTagWof = 0x80000017;              // IO_REPARSE_TAG_WOF
constexpr DWORD kTagHsm = 0xC0000004;              // IO_REPARSE_TAG_HSM
constexpr DWORD kTagHsm2 = 0x80000006;             // IO_REPARSE_TAG_HSM2
constexpr DWORD kTagOneDrive = 0x80000021;         // IO_REPARSE_TAG_ONEDRIVE
constexpr DWORD kTagCloud = 0x9000001A;            // IO_REPARSE_TAG_CLOUD, _CLOUD_1 .. _CLOUD_F
constexpr DWORD kTagCloudMask = 0xFFFF0FFF;
constexpr DWORD kTagProjFs = 0x9000001C;      // IO_REPARSE_TAG_PROJFS: projected file system
constexpr DWORD kTagContainer = 0x80000018;   // IO_REPARSE_TAG_WCI: container isolation
constexpr DWORD kTagContainer1 = 0x90001018;  // IO_REPARSE_TAG_WCI_1: the same filter

bool TagKeepsDataElsewhere(DWORD tag) {
  if ((tag & kTagCloudMask) == kTagCloud) return true;
  return tag == kTagDedup || tag == kTagWof || tag == kTagHsm || tag == kTagHsm2 ||
         tag == kTagOneDrive || tag == kTagProjFs || tag == kTagContainer || tag == kTagContainer1;
}

}  // namespace

bool IsStoredElsewhere(HANDLE handle, DWORD attributes) {
  // Sparse files are not among them: only their allocated ranges hold data, and those are
  // overwritten in place; the holes never held any.
  constexpr DWORD kElsewhere = FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ENCRYPTED |
                               FILE_ATTRIBUTE_OFFLINE | kIntegrityStream | kRecallOnOpen |
                               kRecallOnDataAccess;
  if (attributes & kElsewhere) return true;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag_info{};
  if (!win32::Calls().get_file_information_ex(handle, FileAttributeTagInfo, &tag_info,
                                              sizeof tag_info)) {
    return false;
  }
  return TagKeepsDataElsewhere(tag_info.ReparseTag);
}

}  // namespace nulvane::platform
