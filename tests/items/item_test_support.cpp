#include "item_test_support.h"

#include <filesystem>
#include <mutex>

#include "lang/language_table.h"
#include "platform/file_system.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace nulvane::items::testing {

void EnsureLanguageTable() {
  static std::once_flag once;
  std::call_once(once, [] { lang::LoadLanguageTable(); });
}

Text Join(TextView folder, TextView name) {
  Text path(folder);
  path.push_back(platform::kPathSeparator);
  path.append(name);
  return path;
}

Text Key(TextView path) { return platform::FoldPathKey(path); }

#ifdef _WIN32
namespace {
// Test paths are absolute drive paths; the \\?\ form takes them at any length.
Text Extended(const Text& path) { return u"\\\\?\\" + path; }
}  // namespace

bool MakeFolder(const Text& path) {
  return CreateDirectoryW(platform::Wide(Extended(path)), nullptr) != 0;
}

bool MakeFile(const Text& path, const std::string& bytes) {
  HANDLE file = CreateFileW(platform::Wide(Extended(path)), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                             &written, nullptr);
  return CloseHandle(file) && ok && written == bytes.size();
}

bool RemoveEntry(const Text& path) {
  const Text extended = Extended(path);
  const DWORD attributes = GetFileAttributesW(platform::Wide(extended));
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return RemoveDirectoryW(platform::Wide(extended)) != 0;
  }
  SetFileAttributesW(platform::Wide(extended), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(platform::Wide(extended)) != 0;
}
#else
bool MakeFolder(const Text& path) { return mkdir(platform::TextToUtf8(path).c_str(), 0755) == 0; }

bool MakeFile(const Text& path, const std::string& bytes) {
  const int fd = open(platform::TextToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  const ssize_t written = bytes.empty() ? 0 : write(fd, bytes.data(), bytes.size());
  return close(fd) == 0 && written == static_cast<ssize_t>(bytes.size());
}

bool RemoveEntry(const Text& path) {
  const std::string native = platform::TextToUtf8(path);
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) return false;
  return (S_ISDIR(st.st_mode) ? rmdir(native.c_str()) : unlink(native.c_str())) == 0;
}
#endif

bool MakeFolderLink(const Text& target, const Text& link) {
#ifdef _WIN32
  // Directory link, allowed without elevation where developer mode is on (Wine allows it).
  // Wine reports success and creates nothing: the link is looked for afterwards.
  const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2;
  if (!CreateSymbolicLinkW(platform::Wide(link), platform::Wide(target), flags)) return false;
  const DWORD attributes = GetFileAttributesW(platform::Wide(link));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
  std::error_code error;
  std::filesystem::create_directory_symlink(std::filesystem::path(target),
                                            std::filesystem::path(link), error);
  return !error;
#endif
}

std::vector<Text> RowPaths(const ItemList& list) {
  std::vector<Text> paths;
  for (const platform::QueuedItem& item : list.SnapshotRows()) {
    paths.push_back(platform::FoldPathKey(item.path));
  }
  return paths;
}

}  // namespace nulvane::items::testing
