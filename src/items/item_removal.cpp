// Taking rows out of the item list: the folders a removed row lies in, and everything a removed
// folder holds, go with it, so that the list never claims a folder will be destroyed whole
// while part of it stays.
#include <algorithm>

#include "items/item_list.h"
#include "platform/path_rules.h"

namespace nulvane::items {

namespace {

// Whether `key` names a folder's contents from its end: a root ("/", "c:\") already ends with
// the separator its contents start with.
bool EndsWithSeparator(TextView key) {
  return !key.empty() && platform::IsPathSeparator(key.back());
}

}  // namespace

std::size_t ItemList::RemoveRows(const std::vector<int>& rows) {
  RequireOwnerThread();
  if (run_active_) return 0;
  // The keys first: erasing invalidates the row pointers.
  std::vector<Text> keys;
  keys.reserve(rows.size());
  for (const int row : rows) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) continue;
    keys.push_back(store_.KeyOf(rows_[static_cast<std::size_t>(row)]));
  }
  if (keys.empty()) return 0;

  std::size_t removed = 0;
  for (const Text& key : keys) {
    removed += store_.Erase(key) ? 1 : 0;
    // Everything inside it, at every depth.
    removed += store_.EraseBelow(EndsWithSeparator(key) ? key : key + platform::kPathSeparator);
    // Every listed folder above it: the path up to each separator, and the root with its own.
    for (std::size_t end = key.size(); end-- > 0;) {
      if (!platform::IsPathSeparator(key[end])) continue;
      if (end + 1 < key.size()) removed += store_.Erase(TextView(key).substr(0, end + 1)) ? 1 : 0;
      if (end > 0) removed += store_.Erase(TextView(key).substr(0, end)) ? 1 : 0;
    }
  }
  Rebuild(true);
  return removed;
}

}  // namespace nulvane::items
