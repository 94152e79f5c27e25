// The settings file's text format on systems without the Windows profile functions. The file
// is UTF-8; reading accepts a UTF-8 byte-order mark and CRLF or LF line ends, writing keeps
// every line it does not change, including its line ends.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/ini.h"
#include "platform/posix/unique_fd.h"

namespace nulvane::platform {

namespace {

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
    --end;
  return std::string(text.substr(begin, end - begin));
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Reads the settings file at `path` into `content` when it is usable (see CheckIniFile). Only
// a regular file is opened at all; it is opened without blocking and checked again through
// the descriptor, so that a FIFO or a device put in its place meanwhile is never read.
IniFileState ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  struct stat named {};
  if (stat(path.c_str(), &named) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? IniFileState::kMissing : IniFileState::kIgnored;
  }
  if (!S_ISREG(named.st_mode)) return IniFileState::kIgnored;
  const posix::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return errno == ENOENT ? IniFileState::kMissing : IniFileState::kIgnored;
  struct stat opened {};
  if (fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
      opened.st_size > static_cast<off_t>(kMaxIniFileSize)) {
    return IniFileState::kIgnored;
  }
  // The size the system reports is not trusted (some file systems report 0): at most one
  // byte more than the limit is read, and a file that has it is ignored.
  content.resize(kMaxIniFileSize + 1);
  std::size_t done = 0;
  bool ok = true;
  while (done < content.size()) {
    const ssize_t n = read(fd.get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (!ok || done > kMaxIniFileSize) {
    content.clear();
    return IniFileState::kIgnored;
  }
  content.resize(done);
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
  return IniFileState::kUsable;
}

// Splits into lines, each keeping its line end, so that writing back changes nothing else.
std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    end = (end == std::string::npos) ? content.size() : end + 1;
    lines.push_back(content.substr(start, end - start));
    start = end;
  }
  return lines;
}

// "[name]" -> name; anything else -> nothing.
bool SectionName(const std::string& line, std::string& name) {
  const std::string trimmed = Trim(line.substr(0, line.find('\n')));
  if (trimmed.size() < 2 || trimmed.front() != '[') return false;
  const std::size_t close = trimmed.find(']');
  if (close == std::string::npos) return false;
  name = Trim(std::string_view(trimmed).substr(1, close - 1));
  return true;
}

bool KeyOf(const std::string& line, std::string& key, std::string& value) {
  const std::string body = line.substr(0, line.find('\n'));
  const std::size_t equals = body.find('=');
  if (equals == std::string::npos) return false;
  key = Trim(std::string_view(body).substr(0, equals));
  value = Trim(std::string_view(body).substr(equals + 1));
  // The profile functions drop one pair of quotes around a value.
  if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                            (value.front() == '\'' && value.back() == '\''))) {
    value = value.substr(1, value.size() - 2);
  }
  return !key.empty();
}

}  // namespace

IniFileState CheckIniFile(TextView file) {
  std::string content;
  return ReadWholeFile(TextToUtf8(file), content);
}

bool ReadIniValue(TextView file, TextView section, TextView key, Text& value) {
  value.clear();
  std::string content;
  if (ReadWholeFile(TextToUtf8(file), content) != IniFileState::kUsable) return false;
  const std::string wanted_section = TextToUtf8(section);
  const std::string wanted_key = TextToUtf8(key);
  bool in_section = false;
  for (const std::string& line : SplitLines(content)) {
    std::string name;
    if (SectionName(line, name)) {
      in_section = SameName(name, wanted_section);
      continue;
    }
    std::string line_key;
    std::string line_value;
    if (in_section && KeyOf(line, line_key, line_value) && SameName(line_key, wanted_key)) {
      value = Utf8ToText(line_value);
      return true;
    }
  }
  return false;
}

bool WriteIniValue(TextView file, TextView section, TextView key, TextView value) {
  const std::string path = TextToUtf8(file);
  // The name itself must be a regular file or nothing: a link is never written through (nor
  // replaced), and a device or FIFO is left alone.
  struct stat named {};
  if (lstat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) return false;
  std::string content;
  if (ReadWholeFile(path, content) == IniFileState::kIgnored) return false;
  std::vector<std::string> lines = SplitLines(content);
  const std::string wanted_section = TextToUtf8(section);
  const std::string wanted_key = TextToUtf8(key);
  const std::string eol = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string new_line = wanted_key + "=" + TextToUtf8(value) + eol;
  if (!lines.empty() && lines.back().back() != '\n') lines.back() += eol;

  bool in_section = false;
  std::ptrdiff_t section_end = -1;  // index after the last non-blank line of the section
  bool replaced = false;
  for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
    std::string name;
    if (SectionName(lines[i], name)) {
      if (in_section) break;
      in_section = SameName(name, wanted_section);
      if (in_section) section_end = static_cast<std::ptrdiff_t>(i) + 1;
      continue;
    }
    if (!in_section) continue;
    std::string line_key;
    std::string line_value;
    if (KeyOf(lines[i], line_key, line_value) && SameName(line_key, wanted_key)) {
      lines[i] = new_line;
      replaced = true;
    } else if (!Trim(lines[i].substr(0, lines[i].find('\n'))).empty()) {
      section_end = static_cast<std::ptrdiff_t>(i) + 1;
    }
  }
  if (!replaced) {
    if (section_end >= 0) {
      lines.insert(lines.begin() + section_end, new_line);
    } else {
      lines.push_back("[" + wanted_section + "]" + eol);
      lines.push_back(new_line);
    }
  }
  std::string out;
  for (const std::string& line : lines) out += line;
  return WriteFileAtomically(file, out.data(), out.size());
}

bool EnsureHiddenFile(TextView file) {
  // POSIX has no hidden attribute; renaming the file with a leading dot would move it away
  // from the name the program looks for. Whatever stands under the name already is left
  // unopened: opening a FIFO for writing would wait for a reader.
  const posix::UniqueFd fd(open(TextToUtf8(file).c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                                0644));
  return fd.valid() || errno == EEXIST;
}

bool FileExists(TextView file) {
  struct stat info {};
  return stat(TextToUtf8(file).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool WriteFileAtomically(TextView file, const void* bytes, std::size_t size) {
  const std::string path = TextToUtf8(file);
  std::string temporary = path + ".XXXXXX";
  posix::UniqueFd held(mkstemp(temporary.data()));
  if (!held.valid()) return false;
  const int fd = held.get();
  // Keep the permissions of the file being replaced.
  struct stat old {};
  if (stat(path.c_str(), &old) == 0)
    fchmod(fd, old.st_mode & 07777);
  else
    fchmod(fd, 0644);
  const char* data = static_cast<const char*>(bytes);
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  // The close's own result counts here: a write the system could not complete may be
  // reported only by it.
  ok = (close(held.release()) == 0) && ok;
  ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

}  // namespace nulvane::platform
