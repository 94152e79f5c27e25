// The serial floor of destroying a tree of small files: the same job as one pass of
// nulvane-cli, written plainly, one file after another, with no checks. For each file: open,
// write zeros over its size, fdatasync, set its times to 1981-01-01, seven renames to random
// names in its folder, unlink; each folder after its contents. The benchmark script times it
// beside nulvane-cli on the same tree, so that the ratio says what the checks and the
// structure cost, and what running several files at once wins.
//
// Usage: serial_floor DIR
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::mt19937_64 random_names{12345};

std::string RandomName() { return std::to_string(random_names() % 1000000000); }

bool DestroyFile(int folder, const char* name, off_t size) {
  const int fd = ::openat(folder, name, O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  static const std::vector<char> zeros(1 << 20, 0);
  for (off_t done = 0; done < size;) {
    const auto chunk = static_cast<size_t>(std::min<off_t>(size - done, zeros.size()));
    const ssize_t written = ::write(fd, zeros.data(), chunk);
    if (written <= 0) break;
    done += written;
  }
  ::fdatasync(fd);
  const timespec times[2] = {{347155200, 0}, {347155200, 0}};
  ::futimens(fd, times);
  ::close(fd);
  std::string current = name;
  for (int i = 0; i < 7; ++i) {
    const std::string next = RandomName();
    if (::renameat(folder, current.c_str(), folder, next.c_str()) == 0) current = next;
  }
  return ::unlinkat(folder, current.c_str(), 0) == 0;
}

bool DestroyFolder(int parent, const char* name) {
  const int folder = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (folder < 0) return false;
  DIR* listing = ::fdopendir(::dup(folder));
  std::vector<std::pair<std::string, bool>> entries;
  while (dirent* entry = listing ? ::readdir(listing) : nullptr) {
    if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
    entries.emplace_back(entry->d_name, entry->d_type == DT_DIR);
  }
  if (listing) ::closedir(listing);
  for (const auto& [entry, is_folder] : entries) {
    if (is_folder) {
      DestroyFolder(folder, entry.c_str());
    } else {
      struct stat status;
      if (::fstatat(folder, entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        DestroyFile(folder, entry.c_str(), status.st_size);
      }
    }
  }
  ::close(folder);
  return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  return DestroyFolder(AT_FDCWD, argv[1]) ? 0 : 1;
}
