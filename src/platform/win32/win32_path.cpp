#include <windows.h>

#include "platform/win32/win32_path.h"

#include "platform/win32/wide.h"

namespace nulvane::platform::win32 {

namespace {

bool StartsWith(TextView text, TextView prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool IsExtended(TextView path) {
  return path.size() >= 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' &&
         path[3] == u'\\';
}

// The end of the next component from `position`: the next separator or the end.
std::size_t ComponentEnd(TextView path, std::size_t position, bool slash_separates) {
  while (position < path.size() && path[position] != u'\\' &&
         !(slash_separates && path[position] == u'/')) {
    ++position;
  }
  return position;
}

Text CurrentDirectory() {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  if (needed == 0) return Text();
  Text buffer(needed, u'\0');
  const DWORD length = ::GetCurrentDirectoryW(needed, Wide(buffer));
  if (length == 0 || length >= needed) return Text();
  buffer.resize(length);
  return buffer;
}

// The current directory of drive `letter` ("C:" gives C's current directory).
Text DriveDirectory(char16_t letter) {
  const Text drive{letter, u':'};
  const DWORD needed = ::GetFullPathNameW(Wide(drive), 0, nullptr, nullptr);
  if (needed == 0) return Text();
  Text buffer(needed, u'\0');
  const DWORD length = ::GetFullPathNameW(Wide(drive), needed, Wide(buffer), nullptr);
  if (length == 0 || length >= needed) return Text();
  buffer.resize(length);
  return buffer;
}

Text JoinTo(Text base, TextView rest) {
  if (base.empty()) return base;
  if (!IsSeparator(base.back())) base.push_back(u'\\');
  base.append(rest);
  return base;
}

}  // namespace

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDevicePath(TextView path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == u'.' &&
      IsSeparator(path[3])) {
    return true;
  }
  if (!IsExtended(path)) return false;
  const TextView rest = path.substr(4);
  if (rest.size() >= 4 && (rest[0] == u'U' || rest[0] == u'u') &&
      (rest[1] == u'N' || rest[1] == u'n') && (rest[2] == u'C' || rest[2] == u'c') &&
      rest[3] == u'\\') {
    return false;
  }
  return !(rest.size() >= 2 && IsDriveLetter(rest[0]) && rest[1] == u':' &&
           (rest.size() == 2 || rest[2] == u'\\'));
}

Text AbsolutePath(TextView path) {
  if (path.empty()) return CurrentDirectory();
  if (IsExtended(path) || IsDevicePath(path)) return Text(path);
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return Text(path);
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':') {
    if (path.size() >= 3 && IsSeparator(path[2])) return Text(path);
    return JoinTo(DriveDirectory(path[0]), path.substr(2));
  }
  const Text current = CurrentDirectory();
  if (IsSeparator(path[0])) {
    // "\name": the root of the current directory's volume.
    Text root;
    std::vector<TextView> ignored;
    if (!SplitAbsolute(current, root, ignored)) return Text();
    return JoinTo(root, path.substr(1));
  }
  return JoinTo(current, path);
}

bool SplitAbsolute(TextView path, Text& root, std::vector<TextView>& components) {
  root.clear();
  components.clear();
  const bool extended = IsExtended(path);
  std::size_t position = 0;
  if (extended) {
    TextView rest = path.substr(4);
    if (rest.size() >= 4 && (rest.substr(0, 3) == u"UNC" || rest.substr(0, 3) == u"unc") &&
        rest[3] == u'\\') {
      // \\?\UNC\server\share
      std::size_t server_end = ComponentEnd(path, 8, false);
      if (server_end == 8 || server_end >= path.size()) return false;
      std::size_t share_end = ComponentEnd(path, server_end + 1, false);
      if (share_end == server_end + 1) return false;
      root = Text(path.substr(0, share_end)) + u"\\";
      position = share_end;
    } else {
      // \\?\C:\ or \\?\Volume{...}\: the first component after the prefix.
      std::size_t end = ComponentEnd(path, 4, false);
      if (end == 4) return false;
      root = Text(path.substr(0, end)) + u"\\";
      position = end;
    }
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    if (path.size() >= 3 && (path[2] == u'.' || path[2] == u'?') &&
        (path.size() == 3 || IsSeparator(path[3]))) {
      return false;  // device namespace
    }
    std::size_t server_end = ComponentEnd(path, 2, true);
    if (server_end == 2 || server_end >= path.size()) return false;
    std::size_t share_end = ComponentEnd(path, server_end + 1, true);
    if (share_end == server_end + 1) return false;
    root = u"\\\\" + Text(path.substr(2, server_end - 2)) + u"\\" +
           Text(path.substr(server_end + 1, share_end - server_end - 1)) + u"\\";
    position = share_end;
  } else if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == u':' &&
             IsSeparator(path[2])) {
    root = Text(path.substr(0, 2)) + u"\\";
    position = 3;
  } else {
    return false;
  }
  while (position < path.size()) {
    if (IsSeparator(path[position]) && (!extended || path[position] == u'\\')) {
      ++position;
      continue;
    }
    const std::size_t end = ComponentEnd(path, position, !extended);
    const TextView component = path.substr(position, end - position);
    if (component != u".") components.push_back(component);
    position = end;
  }
  return true;
}

Text NormalPath(TextView path) {
  Text root;
  std::vector<TextView> components;
  if (!SplitAbsolute(path, root, components)) return Text();
  Text normal = root;
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) normal.push_back(u'\\');
    normal.append(components[i]);
  }
  return normal;
}

Text ExtendedPath(TextView normal) {
  if (IsExtended(normal) || IsDevicePath(normal)) return Text(normal);
  if (normal.size() >= 2 && normal[0] == u'\\' && normal[1] == u'\\') {
    return u"\\\\?\\UNC\\" + Text(normal.substr(2));
  }
  if (normal.size() >= 3 && IsDriveLetter(normal[0]) && normal[1] == u':' && normal[2] == u'\\') {
    return u"\\\\?\\" + Text(normal);
  }
  return Text();
}

Text ClassicPath(TextView path) {
  if (StartsWith(path, u"\\\\?\\UNC\\")) return u"\\\\" + Text(path.substr(8));
  if (IsExtended(path) && path.size() >= 6 && IsDriveLetter(path[4]) && path[5] == u':') {
    return Text(path.substr(4));
  }
  return Text(path);
}

bool IsNameSurrogate(std::uint32_t reparse_tag) { return IsReparseTagNameSurrogate(reparse_tag); }

EntryKind KindOf(std::uint32_t attributes, std::uint32_t reparse_tag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(reparse_tag)) {
    return EntryKind::kLink;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kFolder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::kOther;
  return EntryKind::kFile;
}

}  // namespace nulvane::platform::win32
