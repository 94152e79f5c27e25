// Folder expansion: walking a dropped or passed folder into the item store.
#include <atomic>
#include <utility>

#include "items/item_list.h"
#include "lang/language_table.h"
#include "platform/format.h"

namespace nulvane::items {

namespace {

constexpr int kItemsTextId = 33;  // "Items"

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
    display_.SetStatusText(
        platform::Format(u"%s:%d", lang::Txt(kItemsTextId), static_cast<long long>(store_.size())));
    counter = 0;
  }
  listing_counter.store(counter + 1, std::memory_order_relaxed);
}

void ItemList::ExpandFolder(TextView folder) {
  RequireOwnerThread();
  // Folders still to be listed, the next one last. The walk keeps its own stack rather than
  // recursing, and closes each listing before the next opens, so neither the call stack nor
  // the open handles grow with the depth of the tree.
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
    const platform::IoResult listed =
        file_system_.ListFolder(current, [&](TextView name, const platform::EntryInfo& info) {
          if (!counted) {
            CountListing();
            counted = true;
          }
          if (info.kind == platform::EntryKind::kFolder && IsDotOrDotDot(name)) return;
          if (name.empty()) return;
          path.assign(prefix);
          path.append(name);
          StoreItem(path, info.size_known ? info.size : ItemStore::kSizeNotRead);
          // Only a real folder is descended into. A link to a folder is stored above as an
          // entry of its own and removed as a link; what lies behind it is not the user's
          // choice and is never queued.
          if (info.kind == platform::EntryKind::kFolder) subfolders.push_back(path);
        });
    if (listed.ok() && !counted) CountListing();
    // Depth first: the first subfolder's tree is finished before the second is listed.
    for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) {
      pending.push_back(std::move(*it));
    }
  }
}

}  // namespace nulvane::items
