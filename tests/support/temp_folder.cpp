#include "support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_system.h"
#include "platform/system.h"

namespace nulvane::testing {

namespace fs = std::filesystem;

namespace {
fs::path ToPath(const Text& text) { return fs::path(text); }
}  // namespace

TempFolder::TempFolder() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::u16string name = u"nulvane-test-";
  const std::string suffix = std::to_string(stamp) + "-" + std::to_string(counter++);
  name += platform::Utf8ToText(suffix);
  fs::path base = fs::temp_directory_path() / fs::path(name);
  fs::create_directories(base);
  path_ = base.u16string();
}

TempFolder::~TempFolder() {
  // Folders this thread's file system keeps open would stay behind, pending deletion (Windows).
  platform::SystemFileSystem().ForgetOpenFolders();
  std::error_code ignored;
  // remove_all does not follow symbolic links: a link inside removes only the link.
  fs::remove_all(ToPath(path_), ignored);
}

Text TempFolder::operator/(TextView name) const {
  return path_ + platform::kPathSeparator + Text(name);
}

bool WriteTestFile(const Text& path, const std::string& bytes) {
  std::ofstream out(ToPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool ReadTestFile(const Text& path, std::string& bytes) {
  std::ifstream in(ToPath(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  bytes = buffer.str();
  return true;
}

bool PathExists(const Text& path) {
  std::error_code ignored;
  return fs::symlink_status(ToPath(path), ignored).type() != fs::file_type::not_found;
}

}  // namespace nulvane::testing
