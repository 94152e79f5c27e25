// Folder expansion: walking a dropped or passed folder into the item store.
#include <atomic>
#include <utility>

#include "items/item_list.h"
#include "lang/language_table.h"
#include "platform/format.h"

namespace nulvane::items {

namespace {

using lang::TextId;

// Listings since the program started (since the status text last showed, to be exact). It is
// shared by every expansion of the process and never reset by ResetList, so a second folder
// may show the text after fewer listings.
std::atomic<int> listing_counter{0};

constexpr int kListingsPerStatus = 21;

bool IsDotOrDotDot(TextView name) { return name == u"." || name == u".."; }

}  // namespace

int ItemList::ListingCounter() { return listing_counter.load(std::memory_order_relaxed); }

void ItemList::ResetListingCounterForTests() {
  listing_counter.store(0, std::memory_order_relaxed);
}

void ItemList::CountListing() {
  // The status bar is touched only once every 21 listings, so a long expansion is not slowed
  // by painting: first at the 22nd listing of the run of the program, then at every 21st.
  int counter = listing_counter.load(std::memory_order_relaxed);
  if (counter > kListingsPerStatus - 1) {
    display_.SetStatusText(platform::Format(u"%s:%d", lang::Txt(TextId::kItems),
                                            static_cast<long long>(store_.size())));
    counter = 0;
  }
  listing_counter.store(counter + 1, std::memory_order_relaxed);
}

void ItemList::StoreListed(TextView path, const platform::EntryInfo& info,
                           std::size_t anchor_length) {
  RequireOwnerThread();
  const ItemStore::EntryId entry =
      StoreUnderKey(path, info.size_known ? info.size : ItemStore::kSizeNotRead, anchor_length);
  // A file or folder the listing told all about (kind, size, identity, on the folder's volume)
  // was looked at just now, by the same handles a look of its own would take: the rebuild that
  // ends this batch takes that look instead of asking the system a second time. Links, mount
  // points and anything the listing left unsaid are looked at by the rebuild itself.
  const bool whole =
      (info.kind == platform::EntryKind::kFile || info.kind == platform::EntryKind::kFolder) &&
      info.size_known && info.identity.known && !info.other_volume;
  if (whole) store_.SetListed(entry, info.identity, info.kind == platform::EntryKind::kFolder);
}

void ItemList::ExpandFolder(TextView folder, std::size_t anchor_length) {
  RequireOwnerThread();
  // The folders on the way stay open for the walk, and only for it.
  const platform::OpenFolderScope open_folders(file_system_);
  // Folders still to be listed, the next one last. The walk keeps its own stack rather than
  // recursing; the file system keeps the folders on the way open, so each listing is reached
  // from the one before it through handles, whatever the depth.
  std::vector<Text> pending;
  pending.emplace_back(folder);
  std::vector<Text> subfolders;
  Text path;
  while (!pending.empty()) {
    const Text current = std::move(pending.back());
    pending.pop_back();

    Text prefix = current;
    if (prefix.empty() || prefix.back() != platform::kPathSeparator) {
      prefix.push_back(platform::kPathSeparator);
    }
    subfolders.clear();
    bool counted = false;
    const platform::IoResult listed = file_system_.ListFolder(
        platform::EntryRef(current, anchor_length, {}),
        [&](TextView name, const platform::EntryInfo& info) {
          if (!counted) {
            CountListing();
            counted = true;
          }
          if (info.kind == platform::EntryKind::kFolder && IsDotOrDotDot(name)) return;
          if (name.empty()) return;
          path.assign(prefix);
          path.append(name);
          StoreListed(path, info, anchor_length);
          // Only a real folder is descended into. A link to a folder is stored above as an
          // entry of its own and removed as a link; what lies behind it is not the user's
          // choice and is never queued. A mount point is refused by its own listing.
          if (info.kind == platform::EntryKind::kFolder && !info.other_volume) {
            subfolders.push_back(path);
          } else if (info.other_volume) {
            display_.AddWarning(platform::Format(lang::Txt(TextId::kOtherVolume), path));
          }
        });
    if (listed.ok() && !counted) CountListing();
    if (!listed) {
      if (listed.error == platform::IoResult::kOtherVolume) {
        display_.AddWarning(platform::Format(lang::Txt(TextId::kOtherVolume), current));
      } else {
        display_.AddWarning(platform::Format(lang::Txt(TextId::kCannotList), current,
                                             platform::SystemErrorText(listed.error)));
      }
    }
    // Depth first: the first subfolder's tree is finished before the second is listed.
    for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) {
      pending.push_back(std::move(*it));
    }
  }
}

}  // namespace nulvane::items
