// How paths arrive: one path given by the user, and the command line.
#include "items/item_list.h"
#include "platform/text.h"

namespace nulvane::items {

namespace {

// Trims and appends one token unless nothing is left of it. Its spelling stays: it is what the
// system finds the entry by; the item list makes the key.
void AddToken(TextView token, std::vector<Text>& tokens) {
  std::size_t begin = 0;
  std::size_t end = token.size();
  while (begin < end && platform::IsWhiteSpace(token[begin])) ++begin;
  while (end > begin && platform::IsWhiteSpace(token[end - 1])) --end;
  if (begin == end) return;
  tokens.emplace_back(token.substr(begin, end - begin));
}

// A line of three units or fewer is not looked at: on Windows it holds at most a bare drive
// root such as "C:\", which names no entry. (On POSIX this also passes over a path as short as
// "a.c"; the line is kept the same on both systems.)
constexpr std::size_t kShortestCommandLine = 4;

}  // namespace

std::vector<Text> CommandLineTokens(TextView command_line) {
  std::vector<Text> tokens;
  if (command_line.size() < kShortestCommandLine) return tokens;
  Text rest(command_line);

  // Quoted pass: each pair of double quotes gives the token between them and is cut out of the
  // line together with it. A lone quote stays in the line.
  for (;;) {
    const std::size_t open = rest.find(u'"');
    if (open == Text::npos) break;
    const std::size_t close = rest.find(u'"', open + 1);
    if (close == Text::npos) break;
    AddToken(TextView(rest).substr(open + 1, close - open - 1), tokens);
    rest.erase(open, close - open + 1);
  }

  // Blank collapse: no two blanks remain next to each other.
  Text collapsed;
  collapsed.reserve(rest.size());
  for (const char16_t c : rest) {
    if (c == u' ' && !collapsed.empty() && collapsed.back() == u' ') continue;
    collapsed.push_back(c);
  }

  // Blank pass: every field between blanks, the empty ones at either end included (they are
  // dropped by AddToken).
  std::size_t start = 0;
  for (;;) {
    const std::size_t blank = collapsed.find(u' ', start);
    if (blank == Text::npos) {
      AddToken(TextView(collapsed).substr(start), tokens);
      break;
    }
    AddToken(TextView(collapsed).substr(start, blank - start), tokens);
    start = blank + 1;
  }
  return tokens;
}

bool ItemList::AddPath(TextView path) {
  RequireOwnerThread();
  if (path == u"." || path == u"..") {
    // The current folder or the one above it, named bare, is stored as typed and never
    // expanded: nobody queues the folder they stand in by accident with all it holds.
    platform::EntryInfo found;
    if (!file_system_.FindEntry(path, found)) return false;
    StoreItem(path, found.size, 0);
    return true;
  }
  const platform::OpenFolderScope open_folders(file_system_);
  // One form for every way of naming the same entry, so that it is one item and the text that
  // is stored (and later destroyed) is the one the system resolves.
  const Text full = file_system_.FullPath(path);
  platform::EntryInfo found;
  if (!file_system_.FindEntry(full, found)) return false;
  const std::size_t anchor = platform::ParentAnchorLength(full);
  StoreItem(full, found.size, anchor);
  RecordAnchor(TextView(full).substr(0, anchor));
  // Asked again, of the entry itself: a link to a folder is queued as the link, never expanded.
  platform::EntryInfo info;
  if (file_system_.Inspect(platform::EntryRef(full, anchor, {}), info) &&
      info.kind == platform::EntryKind::kFolder) {
    ExpandFolder(full, anchor);
  }
  return true;
}

void ItemList::RecordAnchor(TextView anchor) {
  platform::EntryIdentity identity;
  // The newest look wins: a path added later under the same text was added in the folder that
  // text leads to now; the entries added earlier are still held to their own identities.
  if (file_system_.IdentifyAnchor(anchor, identity))
    anchors_.insert_or_assign(platform::FoldPathKey(anchor), identity);
}

void ItemList::ParseCommandLine(TextView command_line) {
  RequireOwnerThread();
  AddPathsOrWarn(CommandLineTokens(command_line));
  RebuildRows();
}

}  // namespace nulvane::items
