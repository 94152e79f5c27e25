// The item list's store, rows, reset and the hold-back of paths dropped during a run.
#include "items/item_list.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "lang/language_table.h"
#include "lang/number_text.h"
#include "platform/format.h"
#include "platform/system.h"

namespace nulvane::items {

namespace {

using lang::TextId;

// `path` as one line of a list: each control character stands as its picture (U+2400 + code,
// U+2421 for DEL, U+2424 for the Unicode line breaks), so that a name holding a line break
// keeps its row and shows where the break is. Nothing else changes.
Text AsOneLine(TextView path) {
  Text line(path);
  for (char16_t& c : line) {
    if (c < 0x20) {
      c = static_cast<char16_t>(0x2400 + c);
    } else if (c == 0x7F) {
      c = 0x2421;
    } else if (c == 0x85 || c == 0x2028 || c == 0x2029) {
      c = 0x2424;
    }
  }
  return line;
}

// The looks of a rebuild. Where a listing gives whole identities without a look of its own at
// each entry (Windows, NTFS), the rows of one folder are looked at through one listing of it
// instead of one open each: a plain file found there is exactly what Inspect would say of it.
// (A POSIX listing tells no identities: there each row is looked at by itself, and no folder is
// listed in vain.) The first rows of a folder are looked at one by one, so that a few entries
// queued from a large folder never cost its whole listing; every row the listing does not
// answer (a folder, a link, a name spelt otherwise, a file gone or new since) is looked at by
// itself.
// Only the listed files that are queued are kept, in one name buffer with a sorted index, so a
// huge folder costs little memory for the few rows that are looked up in it.
//
// Rows come in key order, where a folder's files and its subfolders' contents interleave
// ("a.txt" < "a\..." < "ab.txt"): the folders on the way to the current row keep what they
// learnt, so each folder is listed at most once while the walk is inside it.
class RowLooks {
 public:
  // Whether `name` in `folder` (ending in a separator) is queued.
  using Queued = std::function<bool(TextView folder, TextView name)>;

  RowLooks(platform::FileSystem& file_system, Queued queued)
      : file_system_(file_system),
        queued_(std::move(queued)),
        // Where listings tell no identities, each row is looked at by itself.
        listings_help_(file_system.ListingsTellIdentities()) {}

  platform::IoResult Inspect(TextView path, std::size_t anchor_length, platform::EntryInfo& info) {
    const std::size_t separator = path.rfind(platform::kPathSeparator);
    if (listings_help_ && separator != TextView::npos && separator + 1 < path.size() &&
        separator + 1 >= anchor_length) {
      Folder& folder = Enter(path.substr(0, separator + 1), anchor_length);
      if (!folder.listed && ++folder.rows > kRowsLookedAtAlone) List(folder);
      if (folder.listed && Find(folder, path.substr(separator + 1), info)) {
        return platform::IoResult::Ok();
      }
    }
    return file_system_.Inspect(platform::EntryRef(path, anchor_length, {}), info);
  }

 private:
  static constexpr int kRowsLookedAtAlone = 3;

  struct ListedFile {
    std::size_t hash;
    std::size_t offset;  // of the name in `names`
    std::size_t length;
    platform::EntryInfo info;
  };
  struct Folder {
    Text path;  // ends in a separator
    std::size_t anchor_length = 0;
    int rows = 0;
    bool listed = false;
    Text names;
    std::vector<ListedFile> files;  // sorted by hash
  };

  static std::size_t HashOf(TextView name) { return std::hash<TextView>{}(name); }

  // The state of `path`, with the folders that do not hold it left behind.
  Folder& Enter(TextView path, std::size_t anchor_length) {
    while (!folders_.empty() &&
           (folders_.back().anchor_length != anchor_length ||
            path.substr(0, folders_.back().path.size()) != folders_.back().path)) {
      folders_.pop_back();
    }
    if (folders_.empty() || folders_.back().path.size() != path.size()) {
      folders_.push_back(Folder{Text(path), anchor_length, 0, false, {}, {}});
    }
    return folders_.back();
  }

  void List(Folder& folder) {
    folder.listed = true;
    bool any_file = false;
    bool any_identity = false;
    // Named as an expansion names it, without its last separator, unless that separator ends
    // the anchor.
    TextView listed_path = folder.path;
    if (listed_path.size() > folder.anchor_length) listed_path.remove_suffix(1);
    const platform::IoResult listed = file_system_.ListFolder(
        platform::EntryRef(listed_path, folder.anchor_length, {}),
        [&](TextView name, const platform::EntryInfo& info) {
          if (info.kind != platform::EntryKind::kFile) return;
          any_file = true;
          if (!info.identity.known) return;
          any_identity = true;
          if (!queued_(folder.path, name)) return;
          folder.files.push_back({HashOf(name), folder.names.size(), name.size(), info});
          folder.names.append(name);
        });
    if (!listed) {
      folder.files.clear();
      folder.names.clear();
      return;
    }
    // A file system whose listings give files no identity is not listed again in this rebuild.
    if (any_file && !any_identity) listings_help_ = false;
    std::sort(folder.files.begin(), folder.files.end(),
              [](const ListedFile& a, const ListedFile& b) { return a.hash < b.hash; });
  }

  static bool Find(const Folder& folder, TextView name, platform::EntryInfo& info) {
    const std::size_t hash = HashOf(name);
    auto it = std::lower_bound(folder.files.begin(), folder.files.end(), hash,
                               [](const ListedFile& file, std::size_t h) { return file.hash < h; });
    for (; it != folder.files.end() && it->hash == hash; ++it) {
      if (TextView(folder.names).substr(it->offset, it->length) == name) {
        info = it->info;
        return true;
      }
    }
    return false;
  }

  platform::FileSystem& file_system_;
  Queued queued_;
  bool listings_help_;
  std::vector<Folder>
      folders_;  // the current row's folder and the ones that hold it, outermost first
};

}  // namespace

ItemList::ItemList(platform::FileSystem& file_system, ItemListDisplay& display)
    : file_system_(file_system), display_(display), owner_(std::this_thread::get_id()) {}

void ItemList::RequireOwnerThread() const {
  // The store and the rows carry no lock: a second thread would race on them, and a torn
  // store could hand the run a wrong path. Such a call is a programming error; stop here.
  if (std::this_thread::get_id() != owner_) {
    std::fputs("nulvane: the item list was used from a thread that does not own it\n", stderr);
    std::terminate();
  }
}

void ItemList::StoreItem(TextView path, std::uint64_t size, std::size_t anchor_length) {
  RequireOwnerThread();
  StoreUnderKey(path, size, anchor_length);
}

ItemStore::EntryId ItemList::StoreUnderKey(TextView path, std::uint64_t size,
                                           std::size_t anchor_length) {
  // Where keys are not folded a path is its own key, stored without a copy.
  Text folded;
  if constexpr (platform::kPathKeysFolded) folded = platform::FoldPathKey(path);
  const TextView key = platform::kPathKeysFolded ? TextView(folded) : path;
  return store_.Store(key, size, static_cast<std::uint32_t>(std::min(anchor_length, key.size())),
                      path);
}

namespace {

// An entry that is simply gone (or whose folder is) is no row; anything else that keeps it
// from being examined is the user's to know.
bool IsGone(const platform::IoResult& result) { return platform::IsNotFound(result); }

}  // namespace

void ItemList::RebuildRows() {
  RequireOwnerThread();
  Rebuild(true);
}

void ItemList::Rebuild(bool show_summary) {
  // The view is told "no rows" before the index changes, so it asks for none meanwhile.
  display_.SetRowCount(0);
  rows_.clear();
  // The store's order is brought up to date first: merging what was stored since takes memory
  // for a moment, and the rows' memory is not taken on top of it.
  const ItemStore::const_iterator first = store_.begin();
  const ItemStore::const_iterator last = store_.end();
  rows_.reserve(store_.size());
  platform::PrepareForWriting(rows_.data(), rows_.capacity() * sizeof(ItemStore::EntryId));
  std::uint64_t total = 0;
  platform::EntryInfo info;
  Text path;
  // A folder handle this thread kept open would leave that folder pending deletion when a run
  // on another thread removes it (Windows): nothing stays open past the rebuild.
  const platform::OpenFolderScope open_folders(file_system_);
  Text listed_path;
  RowLooks looks(file_system_, [&](TextView folder, TextView name) {
    listed_path.assign(folder);
    listed_path.append(name);
    return store_.Find(platform::FoldPathKey(listed_path)) != ItemStore::kNoEntry;
  });
  for (auto it = first; it != last; ++it) {
    const ItemStore::EntryId entry = *it;
    if (rows_.size() >= static_cast<std::size_t>(INT_MAX)) break;
    if (store_.TakeListed(entry)) {
      // Stored by the listing of this very batch, with all a look would find: the row shows
      // what the listing saw moments ago. A file removed since stays a row, and the run says it
      // is gone; anything put in its place since is refused by the identity the listing took.
      rows_.push_back(entry);
      total += store_.SizeOf(entry);
      continue;
    }
    store_.SpellingOf(entry, path);
    const platform::IoResult looked = looks.Inspect(path, store_.AnchorOf(entry), info);
    if (!looked) {
      if (IsGone(looked)) continue;
      display_.AddWarning(platform::Format(lang::Txt(TextId::kCannotExamine), path,
                                           platform::SystemErrorText(looked.error)));
      if (store_.SizeOf(entry) == ItemStore::kSizeNotRead) store_.ResolveSize(entry, 0);
      store_.SetFolder(entry, false);
    } else {
      if (info.kind == platform::EntryKind::kMissing) continue;
      // A size the listing left unread is taken from this check, which happens anyway: one
      // look at each entry instead of two.
      if (store_.SizeOf(entry) == ItemStore::kSizeNotRead) store_.ResolveSize(entry, info.size);
      // What the entry was when the list first looked: a run refuses anything put in its place
      // since.
      if (!store_.IdentityOf(entry).known) store_.SetIdentity(entry, info.identity);
      // The row shows what this look found; the next rebuild (after a drop or a run) looks
      // again.
      store_.SetFolder(entry, info.kind == platform::EntryKind::kFolder ||
                                  (info.kind == platform::EntryKind::kLink && info.link_to_folder));
    }
    rows_.push_back(entry);
    total += store_.SizeOf(entry);
  }
  const int count = static_cast<int>(rows_.size());
  display_.SetRowCount(count);
  if (!show_summary) return;
  display_.SetStatusText(platform::Format(u"%s:%d // %s: %s", lang::Txt(TextId::kItems), count,
                                          lang::Txt(TextId::kTotal), lang::FormatByteSize(total)));
}

int ItemList::RowCount() const {
  RequireOwnerThread();
  return static_cast<int>(rows_.size());
}

bool ItemList::GetRowText(int row, int column, char16_t* buffer, std::size_t capacity) const {
  RequireOwnerThread();
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return false;
  if (!buffer || capacity == 0) return false;
  const ItemStore::EntryId entry = rows_[static_cast<std::size_t>(row)];
  Text shown;
  TextView text;
  if (column == 0) {
    // The key, as the list has always shown it.
    shown = AsOneLine(store_.KeyOf(entry));
    text = shown;
  } else if (column == 1) {
    // What the rebuild's look found: a view asks for row texts often (every repaint, every
    // line of a listing), and asking the file system each time would cost a walk per row.
    if (store_.IsFolder(entry)) {
      text = kFolderSizeText;
    } else {
      std::uint64_t size = store_.SizeOf(entry);
      if (size == ItemStore::kSizeNotRead) size = 0;
      // A listing asks for every row in turn, and neighbours often have one size (empty
      // files, files of one kind): the text made last is kept with its size.
      if (!size_text_made_ || size != size_text_of_) {
        size_text_ = lang::FormatByteSize(size);
        size_text_of_ = size;
        size_text_made_ = true;
      }
      text = size_text_;
    }
  } else {
    return false;
  }
  const std::size_t length = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), length, buffer);
  buffer[length] = u'\0';
  return true;
}

bool ItemList::GetRowPath(int row, Text& out) const {
  RequireOwnerThread();
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return false;
  store_.SpellingOf(rows_[static_cast<std::size_t>(row)], out);
  return true;
}

namespace {

// The rows of a run: entry numbers read through a frozen copy of the store, so that the list may
// go on changing (on its own thread) while the run reads them (on another).
class StoreRows final : public platform::QueuedItems::Source {
 public:
  // Each anchor identity with the first row it holds for; the first from row 0.
  using AnchorRuns = std::vector<std::pair<std::size_t, platform::EntryIdentity>>;

  StoreRows(std::shared_ptr<const ItemStore::Frozen> store, std::vector<ItemStore::EntryId> rows,
            AnchorRuns anchors)
      : store_(std::move(store)), rows_(std::move(rows)), anchors_(std::move(anchors)) {}

  std::size_t size() const override { return rows_.size(); }

  void Read(std::size_t index, platform::QueuedItemView& view) const override {
    const ItemStore::EntryId entry = rows_[index];
    store_->SpellingOf(entry, view.path);
    view.anchor_length = std::min<std::size_t>(store_->AnchorOf(entry), view.path.size());
    view.identity = store_->IdentityOf(entry);
    const auto run = std::upper_bound(
        anchors_.begin(), anchors_.end(), index,
        [](std::size_t row, const AnchorRuns::value_type& start) { return row < start.first; });
    view.anchor_identity = run == anchors_.begin() ? platform::EntryIdentity{} : (run - 1)->second;
  }

 private:
  std::shared_ptr<const ItemStore::Frozen> store_;
  std::vector<ItemStore::EntryId> rows_;
  AnchorRuns anchors_;
};

}  // namespace

platform::QueuedItems ItemList::SnapshotRows() const {
  RequireOwnerThread();
  // The anchor's identity is looked up once per run of rows with the same anchor, and kept once
  // per run of rows with the same identity.
  StoreRows::AnchorRuns anchors;
  Text key;
  Text last_anchor_text;
  platform::EntryIdentity anchor_identity;
  bool have_anchor = false;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    store_.KeyOf(rows_[row], key);
    const TextView anchor = TextView(key).substr(0, store_.AnchorOf(rows_[row]));
    if (!have_anchor || anchor != TextView(last_anchor_text)) {
      last_anchor_text.assign(anchor);
      const auto found = anchors_.find(anchor);
      anchor_identity = found != anchors_.end() ? found->second : platform::EntryIdentity{};
      have_anchor = true;
    }
    if (anchors.empty() || !(anchors.back().second == anchor_identity)) {
      anchors.emplace_back(row, anchor_identity);
    }
  }
  return platform::QueuedItems(
      std::make_shared<const StoreRows>(store_.Freeze(), rows_, std::move(anchors)));
}

void ItemList::ResetList() {
  RequireOwnerThread();
  display_.SetRowCount(0);
  rows_.clear();
  store_.Clear();
  anchors_.clear();
}

void ItemList::BeginRun() {
  RequireOwnerThread();
  run_active_ = true;
}

void ItemList::EndRun() {
  RequireOwnerThread();
  run_active_ = false;
  if (held_back_.empty()) return;
  std::vector<Text> paths;
  paths.swap(held_back_);
  AddPathsOrWarn(paths);
  // The status text shows the run's summary, which the user has yet to read.
  Rebuild(false);
}

bool ItemList::RunActive() const {
  RequireOwnerThread();
  return run_active_;
}

std::size_t ItemList::HeldBackCount() const {
  RequireOwnerThread();
  return held_back_.size();
}

void ItemList::HandleDroppedFiles(const std::vector<Text>& paths) {
  RequireOwnerThread();
  if (run_active_) {
    // The run works on the rows it took at its start; what arrives now waits for its end, so
    // that it is neither mistaken for part of the run nor expanded while the run goes on.
    held_back_.insert(held_back_.end(), paths.begin(), paths.end());
    return;
  }
  AddPathsOrWarn(paths);
  RebuildRows();
}

void ItemList::AddPathsOrWarn(const std::vector<Text>& paths) {
  for (const Text& path : paths) {
    if (!AddPath(path)) display_.AddWarning(platform::Format(lang::Txt(TextId::kNotFound), path));
  }
}

std::size_t ItemList::StoredCount() const {
  RequireOwnerThread();
  return store_.size();
}

std::optional<std::uint64_t> ItemList::RecordedSize(TextView path) const {
  RequireOwnerThread();
  const ItemStore::EntryId entry = store_.Find(platform::FoldPathKey(path));
  if (entry == ItemStore::kNoEntry) return std::nullopt;
  if (store_.SizeOf(entry) == ItemStore::kSizeNotRead) {
    // Not read yet (the next rebuild records it): what the entry says now.
    platform::EntryInfo info;
    const Text spelt = store_.SpellingOf(entry);
    return file_system_.Inspect(platform::EntryRef(spelt, store_.AnchorOf(entry), {}), info).ok()
               ? info.size
               : 0;
  }
  return store_.SizeOf(entry);
}

}  // namespace nulvane::items
