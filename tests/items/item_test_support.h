// Helpers shared by the item list's tests: a display that records what it was told, the
// language table, and building trees on disk (any path length) inside a test's own folder.
#pragma once

#include <string>
#include <vector>

#include "items/item_list.h"
#include "platform/text.h"

namespace nulvane::items::testing {

class RecordingDisplay final : public ItemListDisplay {
 public:
  void SetRowCount(int count) override { row_counts.push_back(count); }
  void SetStatusText(TextView text) override { status_texts.emplace_back(text); }
  void AddWarning(TextView text) override { warnings.emplace_back(text); }

  std::vector<int> row_counts;
  std::vector<Text> status_texts;
  std::vector<Text> warnings;
};

// The keys of the list's rows (their paths folded as the list folds them), in row order.
std::vector<Text> RowPaths(const ItemList& list);

// Loads the built-in language table once per test program (English texts).
void EnsureLanguageTable();

// `folder` + separator + `name`.
Text Join(TextView folder, TextView name);

// Creates a folder or a file with `bytes` at `path`, whatever the path's length. Returns
// success.
bool MakeFolder(const Text& path);
bool MakeFile(const Text& path, const std::string& bytes);
// Creates a symbolic link at `link` to the folder `target`; false where the system (or Wine)
// cannot make one.
bool MakeFolderLink(const Text& target, const Text& link);
// Removes a file or an empty folder at `path`, whatever the path's length.
bool RemoveEntry(const Text& path);

// The item list's own key for `path`.
Text Key(TextView path);

}  // namespace nulvane::items::testing
