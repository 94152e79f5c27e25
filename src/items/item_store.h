// The item store: every queued path key with the size recorded when it was stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <memory_resource>
#include <vector>

#include "platform/file_system.h"
#include "platform/text.h"

namespace nulvane::items {

// Bump allocation in fixed blocks, given back all at once. The store never frees a single
// key or node, so this is all it needs: no per-allocation header and at most one partly used
// block.
class BlockArena final : public std::pmr::memory_resource {
 public:
  BlockArena() = default;
  BlockArena(const BlockArena&) = delete;
  BlockArena& operator=(const BlockArena&) = delete;

  void* Allocate(std::size_t size, std::size_t alignment);
  // Gives every block back; everything allocated before is gone.
  void Release();

 private:
  void* do_allocate(std::size_t size, std::size_t alignment) override {
    return Allocate(size, alignment);
  }
  void do_deallocate(void*, std::size_t, std::size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  static constexpr std::size_t kBlockSize = 1 << 20;

  std::vector<std::unique_ptr<std::byte[]>> blocks_;
  std::byte* free_ = nullptr;  // the unused rest of the newest normal block
  std::size_t left_ = 0;
};

// What the store keeps of one path besides its key: the size recorded when it was stored, the
// length of its anchor (the part of the path the system resolves as typed; see
// platform::EntryRef), whether it is spelt otherwise than its key, and what the entry was (its
// identity, whether a folder) when the list last looked at it.
struct ItemRecord {
  std::uint64_t size = 0;
  std::uint32_t anchor_length : 31 = 0;
  // The list's last look found a folder (or a link to one): its row shows no size.
  std::uint32_t folder : 1 = 0;
  // 0 when the path is spelt as its key, else 1 + the index of its spelling in the store's
  // table (ItemStore::SpellingOf). Takes room the record leaves unused anyway.
  std::uint32_t spelling = 0;
  platform::EntryIdentity identity;
};

// An ordered map from path key to its record. Keys compare by their UTF-16 code units as
// unsigned numbers from the left; at the first difference the smaller unit sorts first, and a
// key that is a prefix of another sorts first. No locale and no case folding take part.
// Consequence the deletion run relies on: every path inside a folder (the folder's key, a
// separator, more) sorts after the folder's own key, so walking from the last key to the first
// reaches a folder's contents before the folder.
//
// A key is stored once; storing it again replaces its size. Entries leave one by one through
// Erase and EraseBelow, or all at once through Clear.
//
// Keys may be folded (lower case on Windows, see platform::FoldPathKey); the path as the system
// spells it is what every file operation needs, since a folder that distinguishes case finds an
// entry only by its own spelling. A spelling that differs from its key is kept as the units
// that differ (most paths differ in a few capitals only); a key that is its own spelling costs
// nothing more.
//
// Size: a million paths must fit in well under 200 MB. Each key is therefore kept in an arena
// as a length and an order-preserving byte encoding of its units (one byte for ASCII, two up to
// U+3FFF, three above; see item_store.cpp), and the map node holds only a pointer to it. Byte
// order of encodings equals code-unit order of keys, so comparing is a memcmp. Entries (and
// pointers to them) stay valid until they are erased or the store is cleared. An erased entry's
// memory stays in the arena until Clear: removing rows is rare and small next to adding them.
class ItemStore {
 public:
  // Points at an encoded key in the arena.
  using KeyRecord = const std::uint8_t*;
  struct KeyLess {
    bool operator()(KeyRecord a, KeyRecord b) const;
  };
  using Map = std::pmr::map<KeyRecord, ItemRecord, KeyLess>;
  using Entry = Map::value_type;  // first: the encoded key, second: its record
  using const_iterator = Map::const_iterator;

  ItemStore() = default;
  ItemStore(const ItemStore&) = delete;
  ItemStore& operator=(const ItemStore&) = delete;

  // The recorded size of an entry whose size its listing did not read (see ItemList).
  static constexpr std::uint64_t kSizeNotRead = ~std::uint64_t{0};
  // An anchor is held in 31 bits; no path comes near that length.
  static constexpr std::uint32_t kAnchorMask = 0x7fffffff;

  // Inserts `key` with `size` and `anchor_length`, or replaces the size of the key already
  // present. A key stored again keeps the shorter of its anchors: more of its path is then
  // reached through handles. Its identity is recorded anew by the next look (SetIdentity).
  // `spelling`, when given, is the path as the system spells it, of the key's length (folding
  // keeps the length); the newest spelling stored for a key is its spelling.
  const Entry& Store(TextView key, std::uint64_t size, std::uint32_t anchor_length = 0,
                     TextView spelling = {});
  // Records the size of an entry stored with kSizeNotRead. The size is no part of the key,
  // so the order stays as it is.
  void ResolveSize(const Entry& entry, std::uint64_t size) {
    const_cast<Entry&>(entry).second.size = size;
  }
  void SetIdentity(const Entry& entry, const platform::EntryIdentity& identity) {
    const_cast<Entry&>(entry).second.identity = identity;
  }
  void SetFolder(const Entry& entry, bool folder) {
    const_cast<Entry&>(entry).second.folder = folder ? 1 : 0;
  }
  // The entry of `key`, or null.
  const Entry* Find(TextView key) const;

  // The key text of an entry.
  static Text KeyOf(const Entry& entry);
  static void KeyOf(const Entry& entry, Text& out);
  // The entry's path as the system spells it (its key where it was stored without another).
  Text SpellingOf(const Entry& entry) const;
  void SpellingOf(const Entry& entry, Text& out) const;

  std::size_t size() const { return map_.size(); }
  bool empty() const { return map_.empty(); }
  const_iterator begin() const { return map_.begin(); }
  const_iterator end() const { return map_.end(); }

  // Removes the entry of `key`; returns whether there was one.
  bool Erase(TextView key);
  // Removes every entry whose key starts with `prefix` and is longer than it (with a prefix
  // ending in a separator: everything inside that folder, at every depth); returns how many.
  std::size_t EraseBelow(TextView prefix);

  // Removes every entry and gives the memory back.
  void Clear();

 private:
  // Encodes `key` as a record into `scratch_` and returns it.
  KeyRecord Encode(TextView key) const;
  // The ItemRecord::spelling value for `spelling` of `key`: 0 when they are the same text, else
  // a new entry of the spelling table.
  std::uint32_t AddSpelling(TextView key, TextView spelling);

  mutable std::vector<std::uint8_t> scratch_;
  // Each spelling as the units where it differs from its key (see item_store.cpp), in arena_.
  std::vector<const std::uint8_t*> spellings_;
  BlockArena arena_;
  Map map_{&arena_};  // declared after its arena: destroyed before it
};

}  // namespace nulvane::items
