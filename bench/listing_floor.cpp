// The least work a listing of a tree can do, written plainly, for the listing figures to stand
// beside:
//   listing_floor sorted DIR  each folder listed, its names sorted, each entry then examined
//                             (fstatat through the folder's descriptor) and its size printed in
//                             that order, a folder before its contents: the work nulvane-cli
//                             --list cannot do without, since its rows come in order and each
//                             shows what a look at the entry found;
//   listing_floor wine DIR    for each entry, the system calls Wine's directory listing makes
//                             (a stat and a read of the DOS attribute, by name in the listed
//                             folder), nothing printed and nothing sorted: no Windows program
//                             lists a tree under Wine for less.
// Both print nothing else; the benchmark scripts time them beside find DIR -printf '%s\n'.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The names in the folder `fd` stands for, in readdir's order; the descriptor is consumed.
std::vector<std::string> Names(int fd) {
  std::vector<std::string> names;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsDotOrDotDot(entry->d_name)) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

void ListSorted(int folder) {
  std::vector<std::string> names = Names(::openat(folder, ".", O_RDONLY | O_DIRECTORY));
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    struct stat status;
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::printf("%lld\n", static_cast<long long>(status.st_size));
    if (S_ISDIR(status.st_mode)) {
      const int below = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW);
      if (below < 0) continue;
      ListSorted(below);
      ::close(below);
    }
  }
}

void ListLikeWine(int folder) {
  const std::vector<std::string> names = Names(::openat(folder, ".", O_RDONLY | O_DIRECTORY));
  std::vector<std::string> folders;
  if (::fchdir(folder) != 0) return;
  for (const std::string& name : names) {
    struct stat status;
    if (::fstatat(AT_FDCWD, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // Read by name as Wine reads it (a link is followed).
    char attribute[64];
    (void)::getxattr(name.c_str(), "user.DOSATTRIB", attribute, sizeof attribute);
    if (S_ISDIR(status.st_mode)) folders.push_back(name);
  }
  for (const std::string& name : folders) {
    const int below = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW);
    if (below < 0) continue;
    ListLikeWine(below);
    ::close(below);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "sorted") != 0 && std::strcmp(argv[1], "wine") != 0)) {
    std::fprintf(stderr, "usage: listing_floor sorted|wine DIR\n");
    return 2;
  }
  const int root = ::open(argv[2], O_PATH | O_DIRECTORY);
  if (root < 0) {
    std::perror(argv[2]);
    return 1;
  }
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  if (argv[1][0] == 's') {
    // The folder itself first, as find prints it.
    struct stat status;
    if (::fstat(root, &status) == 0) std::printf("%lld\n", static_cast<long long>(status.st_size));
    ListSorted(root);
  } else {
    ListLikeWine(root);
  }
  return 0;
}
