// How paths arrive: one path given by the user, and the command line.
#include "items/item_list.h"
#include "platform/text.h"

namespace nulvane::items {

namespace {

// Folds, trims and appends one token unless nothing is left of it.
void AddToken(TextView token, std::vector<Text>& tokens) {
  Text folded = platform::FoldPathKey(token);
  std::size_t begin = 0;
  std::size_t end = folded.size();
  while (begin < end && platform::IsWhiteSpace(folded[begin])) ++begin;
  while (end > begin && platform::IsWhiteSpace(folded[end - 1])) --end;
  if (begin == end) return;
  tokens.push_back(folded.substr(begin, end - begin));
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
    Text key(path);
    StoreItem(key, found.size, 0);
    return true;
  }
  const platform::OpenFolderScope open_folders(file_system_);
  // One form for every way of naming the same entry, so that it is one item and the text that
  // is stored (and later destroyed) is the one the system resolves.
  Text key = file_system_.FullPath(path);
  platform::EntryInfo found;
  if (!file_system_.FindEntry(key, found)) return false;
  const std::size_t anchor = platform::ParentAnchorLength(key);
  StoreItem(key, found.size, anchor);
  RecordAnchor(TextView(key).substr(0, anchor));
  // Asked again under the key, and of the entry itself: a link to a folder is queued as the
  // link, never expanded.
  platform::EntryInfo info;
  if (file_system_.Inspect(platform::EntryRef(key, anchor, {}), info) &&
      info.kind == platform::EntryKind::kFolder) {
    ExpandFolder(key, anchor);
  }
  return true;
}

void ItemList::RecordAnchor(TextView anchor) {
  platform::EntryIdentity identity;
  // The newest look wins: a path added later under the same text was added in the folder that
  // text leads to now; the entries added earlier are still held to their own identities.
  if (file_system_.IdentifyAnchor(anchor, identity))
    anchors_.insert_or_assign(Text(anchor), identity);
}

void ItemList::ParseCommandLine(TextView command_line) {
  RequireOwnerThread();
  AddPathsOrWarn(CommandLineTokens(command_line));
  RebuildRows();
}

}  // namespace nulvane::items
