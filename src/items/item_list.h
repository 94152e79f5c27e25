// The item list: what the user has queued for destruction, the rows a list view shows of it,
// and the ways paths arrive (command line, dropped paths).
//
// Threading: an ItemList belongs to the thread that constructed it (the user-interface thread
// of the window, the main thread of the console). Every member must be called on that thread;
// a call from any other thread ends the program at once rather than race on the store. A
// deletion run's worker reaches the list only through its host, which carries RebuildRows and
// SnapshotRows over to the owning thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "items/item_store.h"
#include "platform/file_system.h"
#include "platform/queued_items.h"
#include "platform/text.h"

namespace nulvane::items {

// Where the item list shows itself: an owner-data list view and a status bar in the window, the
// terminal in the console. Called on the list's own thread.
class ItemListDisplay {
 public:
  virtual ~ItemListDisplay() = default;
  // The number of rows; the view then asks for row texts with ItemList::GetRowText.
  virtual void SetRowCount(int count) = 0;
  virtual void SetStatusText(TextView text) = 0;
  // One warning line: something the user queued could not be listed or examined, or is a
  // mount point whose contents are not queued. Nothing is ever left out without one.
  virtual void AddWarning(TextView text) = 0;
};

// The text of column 1 for a folder.
inline constexpr TextView kFolderSizeText = u"<DIR>";

class ItemList {
 public:
  ItemList(platform::FileSystem& file_system, ItemListDisplay& display);
  ItemList(const ItemList&) = delete;
  ItemList& operator=(const ItemList&) = delete;

  // --- The store ---

  // Stores `path` under its key (platform::FoldPathKey: lower case on Windows, unchanged on
  // POSIX) with `size` and its anchor (by default its parent folder: see platform::EntryRef), or
  // replaces the size recorded for that key. The key orders the rows and makes one item of
  // every spelling of a path; `path` itself, as the system spelt it, is what the rows are
  // looked at and destroyed by (a folder that distinguishes case knows no other spelling).
  void StoreItem(TextView path, std::uint64_t size, std::size_t anchor_length);
  void StoreItem(TextView path, std::uint64_t size) {
    StoreItem(path, size, platform::ParentAnchorLength(path));
  }

  // Stores every entry below `folder`, at every depth, each with the size its directory entry
  // gives; `folder` itself is not stored. Folders are walked depth first, each reached through
  // the handles below `anchor_length` (its parent folder by default), never through a path
  // resolved again. A link (symbolic link, junction) is stored as an entry of its own and never
  // descended into; so is a mount point, with a warning. A folder that cannot be listed gets a
  // warning line with the reason, and the walk goes on. Paths are built whole, whatever their
  // length. Every listing that starts counts toward the process-wide listing counter: after
  // every 21 listings the status text shows "Items:<n>", n being the number of stored entries.
  void ExpandFolder(TextView folder, std::size_t anchor_length);
  void ExpandFolder(TextView folder) { ExpandFolder(folder, platform::ParentAnchorLength(folder)); }

  // Adds one path the user gave: makes it absolute and lexically normal (FileSystem::FullPath:
  // "sel/", "./sel" and "sel" are one item), stores it with the size its own directory entry
  // gives and, when it is a real folder (not a link), expands it. Its parent folder is its
  // anchor: resolved as typed. A path without a directory entry (missing, a root) adds nothing
  // and shows nothing. Returns whether the path was stored. Does not rebuild the rows.
  bool AddPath(TextView path);

  // Adds the paths of the program's command line (the text after the program name; on Windows
  // widened from the ANSI code page). Every token is a path: quoted tokens first, then the
  // blank-separated rest; a token that names no entry gets the "not found" warning line. Ends
  // with RebuildRows, also when nothing was added.
  void ParseCommandLine(TextView command_line);

  // A batch of dropped paths, each taken whole. While no run is active they are added and the
  // rows rebuilt (the caller does not rebuild again). While a run is active they are held back
  // and added, with a rebuild, by EndRun. A path that names no entry gets the "not found"
  // warning line when it would be added.
  void HandleDroppedFiles(const std::vector<Text>& paths);

  // --- The rows ---

  // Renumbers the rows 0..n-1, in store order, for exactly the stored paths that exist now,
  // tells the display the count (0 first, n when the rows are complete) and shows the summary
  // "Items:<n> // Total: <size>" (in the current language), the total being the recorded sizes
  // of those rows. Each entry's identity is recorded at its first look and kept; an entry that
  // cannot be examined (other than by being gone) stays a row and gets a warning line. An entry
  // whose listing in the expansion just before told its kind, size and identity is taken as that
  // listing saw it (see ItemStore::SetListed), without a look of its own.
  void RebuildRows();

  int RowCount() const;

  // The text of one cell, cut to `capacity` units including the terminating null: column 0 the
  // row's path on one line (each control character shown as its picture, U+2400 + code),
  // column 1 "<DIR>" for a folder or else the recorded size as FormatByteSize gives
  // it (a path that has vanished since the rebuild shows its recorded size). A row outside
  // 0..RowCount()-1, a column other than 0 and 1, or no room writes nothing and returns false.
  bool GetRowText(int row, int column, char16_t* buffer, std::size_t capacity) const;

  // The path of one row as the system spells it (a listing prints it); false outside
  // 0..RowCount()-1.
  bool GetRowPath(int row, Text& out) const;

  // The rows in row order, each as the system spells its path, with its anchor, its recorded
  // identity and its anchor's identity when its path was added: what a deletion run works on.
  platform::QueuedItems SnapshotRows() const;

  // Takes the entries of `rows` out of the list without touching the disk (item_removal.cpp).
  // A folder's row takes everything listed inside it along. A row inside a folder that is
  // itself listed takes the rows of every listed folder above it along too: such a folder can
  // no longer be destroyed whole, while the rest of its contents stays listed. Rows outside
  // 0..RowCount()-1 are passed over. Then the rows are rebuilt with the summary. While a run is
  // active nothing is removed (the run owns the rows it took). Returns how many entries left.
  std::size_t RemoveRows(const std::vector<int>& rows);

  // Empties the store and the rows and shows no rows. The status text stays as it is and the
  // listing counter goes on counting.
  void ResetList();

  // --- Runs ---

  // A deletion run is starting: dropped paths are held back from now on.
  void BeginRun();
  // The run has ended (after its own final RebuildRows): the held-back paths are added and, if
  // there were any, the rows rebuilt. The status text keeps the run's summary.
  void EndRun();
  bool RunActive() const;
  std::size_t HeldBackCount() const;

  // --- Inspection ---

  std::size_t StoredCount() const;
  // The size recorded for `path` (folded to its key first); nothing when it is not stored.
  std::optional<std::uint64_t> RecordedSize(TextView path) const;

  // The process-wide listing counter, and setting it back to 0 (tests only).
  static int ListingCounter();
  static void ResetListingCounterForTests();

 private:
  void RequireOwnerThread() const;
  // StoreItem's work: stores `path` under its key and gives its entry.
  ItemStore::EntryId StoreUnderKey(TextView path, std::uint64_t size, std::size_t anchor_length);
  // StoreItem for an entry a listing reported as `info`; what the listing told in full is kept
  // for the next rebuild (ItemStore::SetListed).
  void StoreListed(TextView path, const platform::EntryInfo& info, std::size_t anchor_length);
  void CountListing();
  // Records what the folder `anchor` (the text before a path the user gave) is now.
  void RecordAnchor(TextView anchor);
  // AddPath for each path, with the "not found" warning line for each that adds nothing.
  void AddPathsOrWarn(const std::vector<Text>& paths);
  // RebuildRows, with the summary in the status text only when `show_summary`.
  void Rebuild(bool show_summary);

  platform::FileSystem& file_system_;
  ItemListDisplay& display_;
  const std::thread::id owner_;
  ItemStore store_;
  std::vector<ItemStore::EntryId> rows_;
  // The identity of each anchor folder when a path in it was added, by its text's key: a run
  // refuses to act below an anchor that resolves to another folder by then (a link turned
  // elsewhere).
  std::map<Text, platform::EntryIdentity, std::less<>> anchors_;
  bool run_active_ = false;
  std::vector<Text> held_back_;
  // The size text GetRowText made last and the size it shows (the number format is the
  // process's own, so a size's text never changes).
  mutable bool size_text_made_ = false;
  mutable std::uint64_t size_text_of_ = 0;
  mutable Text size_text_;
};

// The tokens of a command line, each trimmed and spelt as given, in the order they are added:
// the quoted tokens, then the blank-separated fields of what is left. Empty tokens are left out.
std::vector<Text> CommandLineTokens(TextView command_line);

}  // namespace nulvane::items
