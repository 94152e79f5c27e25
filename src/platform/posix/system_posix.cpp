#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "platform/system.h"

extern char** environ;

namespace nulvane::platform {

namespace {

// The first of the variables that is set and not empty, as the C library picks a category.
std::string LocaleName(const char* category_variable) {
  for (const char* name : {"LC_ALL", category_variable, "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return "C";
}

bool StartsWithLanguage(const std::string& locale, const char* language) {
  const std::size_t n = std::strlen(language);
  return locale.compare(0, n, language) == 0 &&
         (locale.size() == n || locale[n] == '_' || locale[n] == '.' || locale[n] == '@' ||
          locale[n] == '-');
}

bool ExistsOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string folders = path;
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start);
    if (candidate.empty()) candidate = ".";
    candidate += "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

Text ExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return Text();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return Utf8ToText(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::uint16_t SystemDefaultLanguageId() {
  return StartsWithLanguage(LocaleName("LC_MESSAGES"), "de") ? 0x0407 : 0x0409;
}

Text TempFolder() {
  std::string folder = "/tmp";
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      folder = value;
      break;
    }
  }
  if (folder.back() != '/') folder += '/';
  return Utf8ToText(folder);
}

bool OpenWithShell(TextView path) {
  if (!ExistsOnPath("xdg-open")) return false;
  const std::string file = TextToUtf8(path);
  char program[] = "xdg-open";
  std::vector<char> argument(file.begin(), file.end());
  argument.push_back('\0');
  char* argv[] = {program, argument.data(), nullptr};
  pid_t child = 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The opener must not write into a terminal the user is reading, nor hold our descriptors.
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int result = posix_spawnp(&child, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  return result == 0;
}

void PrepareForWriting(void* memory, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  static const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(memory);
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t end = (start + size) & ~(page - 1);
  // Failure (an old kernel) only leaves the pages to be faulted in one by one as before.
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)memory;
  (void)size;
#endif
}

bool SystemRandomBytes(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    // Blocks only until the kernel's pool was first initialised, early in the boot.
    const ssize_t n = getrandom(out + done, size - done, 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == ENOSYS) break;
    return false;
  }
  if (done == size) return true;
  // A kernel older than getrandom (before 3.17): the same source through its device.
  const posix::UniqueFd fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  while (done < size) {
    const ssize_t n = read(fd.get(), out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done == size;
}

NumberFormat UserNumberFormat() {
  NumberFormat format;
  const std::string name = LocaleName("LC_NUMERIC");
  if (locale_t locale = newlocale(LC_NUMERIC_MASK, name.c_str(), static_cast<locale_t>(0))) {
    const char* decimal = nl_langinfo_l(RADIXCHAR, locale);
    const char* thousands = nl_langinfo_l(THOUSEP, locale);
    const locale_t previous = uselocale(locale);
    const lconv* conventions = localeconv();
    const int grouping = (conventions && conventions->grouping && *conventions->grouping > 0 &&
                          *conventions->grouping < 127)
                             ? *conventions->grouping
                             : 0;
    uselocale(previous);
    if (decimal && *decimal) format.decimal_separator = Utf8ToText(decimal);
    format.thousands_separator = thousands ? Utf8ToText(thousands) : Text();
    format.grouping = format.thousands_separator.empty() ? 0 : grouping;
    freelocale(locale);
    if (name != "C" && name != "POSIX") return format;
    // The "C" locale groups nothing; the program's own default groups by three like en-US.
    return NumberFormat{};
  }
  // The locale is not installed: the conventions of the common languages, so a German user
  // still reads 1.863,0 GB.
  static const char* const kCommaDecimal[] = {"de", "nl", "it", "es", "pt", "tr", "ro", "el",
                                              "bg", "ru", "cs", "sv", "fr", "da", "fi", "pl"};
  for (const char* language : kCommaDecimal) {
    if (StartsWithLanguage(name, language)) {
      format.decimal_separator = u",";
      const bool space = StartsWithLanguage(name, "fr") || StartsWithLanguage(name, "ru") ||
                         StartsWithLanguage(name, "cs") || StartsWithLanguage(name, "sv") ||
                         StartsWithLanguage(name, "bg") || StartsWithLanguage(name, "fi") ||
                         StartsWithLanguage(name, "pl");
      format.thousands_separator = space ? u"\u00A0" : u".";
      return format;
    }
  }
  return format;
}

}  // namespace nulvane::platform
