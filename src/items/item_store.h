// The item store: every queued path key with the size recorded when it was stored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/text.h"

namespace nulvane::items {

// Bump allocation of bytes in fixed blocks, given back all at once, each allocation named by a
// 32-bit position (block number and offset) rather than a pointer. Nothing allocated ever moves
// or changes, so the bytes at a position stay valid until Release. A copy shares the blocks and
// keeps them alive: it reads what was allocated before it was made (a copy that allocates
// writes only into bytes no earlier allocation holds).
class TextArena {
 public:
  using Position = std::uint32_t;

  // Room for `size` bytes; throws std::bad_alloc when the positions are used up (4 GB).
  Position Allocate(std::size_t size);
  std::uint8_t* At(Position position) {
    return blocks_[position >> kOffsetBits].get() + Offset(position);
  }
  const std::uint8_t* At(Position position) const {
    return blocks_[position >> kOffsetBits].get() + Offset(position);
  }
  // Gives every block back; every position is invalid after it.
  void Release();

 private:
  static constexpr unsigned kOffsetBits = 20;
  static constexpr std::size_t kBlockSize = std::size_t{1} << kOffsetBits;
  static std::size_t Offset(Position position) { return position & (kBlockSize - 1); }

  // The newest normal block is mapped ahead of its use in steps of this many bytes.
  static constexpr std::size_t kPrepareStep = std::size_t{16} << 10;

  std::vector<std::shared_ptr<std::uint8_t[]>> blocks_;
  std::size_t used_ = kBlockSize;      // bytes used of the newest normal block
  std::size_t prepared_ = kBlockSize;  // bytes of it mapped ahead
  std::size_t current_ = 0;            // the newest normal block
};

namespace item_store_detail {

// A 64-bit value in two halves: a record then needs only 4-byte alignment and no padding.
struct Halves {
  std::uint32_t low;
  std::uint32_t high;
};
inline std::uint64_t Join(const Halves& halves) {
  return (std::uint64_t{halves.high} << 32) | halves.low;
}
inline void Split(std::uint64_t value, Halves& halves) {
  halves.low = static_cast<std::uint32_t>(value);
  halves.high = static_cast<std::uint32_t>(value >> 32);
}

// Trivial, so that a new chunk's unused rest stays unwritten; Record{} is all zeros.
struct Record {
  // The size, or kSizeUnread, or kSizeElsewhere when it is kept in ItemStore::large_sizes_.
  std::uint32_t size;
  std::uint32_t object;  // the identity's object number, its low 32 bits (see `volume`)
  Halves stamp;
  std::uint32_t folder_part;  // index in Tables::folder_parts
  std::uint32_t name;         // TextArena position of the encoded units after the folder part
  std::uint32_t anchor_length : 31;
  // The list's last look found a folder (or a link to one): its row shows no size.
  std::uint32_t folder : 1;
  // Index in Tables::volumes of the identity's volume and the high bits of its object number,
  // or kOwnIdentity when the identity is kept whole in Tables::own_identities (the table is
  // full).
  std::uint16_t volume;
  std::uint8_t stamp_kind;
  std::uint8_t flags;  // kKnown, kErased, kListed
};
static_assert(sizeof(Record) == 32 && std::is_trivial_v<Record>);
inline constexpr std::uint32_t kSizeUnread = 0xFFFFFFFF;
inline constexpr std::uint32_t kSizeElsewhere = 0xFFFFFFFE;
inline constexpr std::uint8_t kKnown = 1;
inline constexpr std::uint8_t kErased = 2;
// The listing that stored the entry told its kind, size and identity (see ItemStore::SetListed).
inline constexpr std::uint8_t kListed = 4;
inline constexpr std::uint16_t kOwnIdentity = 0xFFFF;
inline constexpr unsigned kChunkBits = 12;  // records are kept in chunks of 4096

// An encoded text: its bytes (without the length in front).
using Bytes = std::basic_string_view<std::uint8_t>;

// Everything an entry is read from: what a frozen copy shares with the store.
struct Tables {
  TextArena arena;
  std::vector<std::shared_ptr<Record[]>> chunks;
  // Every distinct folder part (index 0: the empty one) and each spelling, in the arena.
  std::vector<std::uint32_t> folder_parts;
  std::vector<std::uint32_t> spellings;
  // By entry number: 0 when the path is spelt as its key, else 1 + the index of its spelling in
  // `spellings`. Made only when a first spelling differs (never on POSIX, where keys are not
  // folded) and only as long as needed: an entry beyond its end has none.
  std::vector<std::uint32_t> spelling_of;
  // Each volume with the bits of object numbers above their low 32 (the high half ReFS sets,
  // and the top of a 64-bit inode number, which varies little on a volume) once.
  struct Volume {
    std::uint64_t volume = 0;
    std::uint64_t object_high = 0;
    std::uint32_t object_top = 0;
    bool operator==(const Volume&) const = default;
  };
  std::vector<Volume> volumes;
  std::unordered_map<std::uint32_t, platform::EntryIdentity> own_identities;

  const Record& Get(std::uint32_t entry) const {
    return chunks[entry >> kChunkBits][entry & ((1u << kChunkBits) - 1)];
  }
  std::uint32_t SpellingIndex(std::uint32_t entry) const {
    return entry < spelling_of.size() ? spelling_of[entry] : 0;
  }
  Bytes BytesAt(std::uint32_t position) const;
  Bytes NameOf(const Record& record) const { return BytesAt(record.name); }
  Bytes FolderPartOf(const Record& record) const {
    return BytesAt(folder_parts[record.folder_part]);
  }
  void KeyOf(std::uint32_t entry, Text& out) const;
  void SpellingOf(std::uint32_t entry, Text& out) const;
  // Turns `key`, the entry's key, into its spelling.
  void ApplySpelling(std::uint32_t entry, Text& key) const;
  platform::EntryIdentity IdentityOf(std::uint32_t entry) const;
};

}  // namespace item_store_detail

// An ordered set of path keys, each with what the store keeps of it: the size recorded when it
// was stored, the length of its anchor (the part of the path the system resolves as typed; see
// platform::EntryRef), whether it is spelt otherwise than its key, and what the entry was (its
// identity, whether a folder) when the list last looked at it.
//
// Keys compare by their UTF-16 code units as unsigned numbers from the left; at the first
// difference the smaller unit sorts first, and a key that is a prefix of another sorts first. No
// locale and no case folding take part. Consequence the deletion run relies on: every path
// inside a folder (the folder's key, a separator, more) sorts after the folder's own key, so
// walking from the last key to the first reaches a folder's contents before the folder. This is
// not the order of a tree walk: "x.b" sorts between "x" and "x/a", since "." is below "/".
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
// Size: 100,000 entries must fit in a few megabytes. A key is kept as its folder part (up to and
// including its last separator), stored once for every key that shares it, and its name after
// it; both in an arena as a length and an order-preserving byte encoding of their units (one
// byte for ASCII, two up to U+3FFF, three above; see item_store.cpp). Byte order of encodings
// equals code-unit order of keys, so comparing is a memcmp. An entry's record is 32 bytes (the
// identity's volume kept once in a table); the order is a sorted array of entry numbers that
// takes newly stored keys in batches, sorted and merged when the order is next read, so that
// storing a whole folder costs no search per entry. Look-ups go through a hash table of entry
// numbers. An entry number stays valid until the entry is erased or the store cleared; an
// erased entry's memory stays until Clear: removing rows is rare and small next to adding them.
//
// A deletion run reads the rows it was given on its own thread while the list goes on (Freeze):
// the records, folder parts, names and spellings are shared with such a frozen copy rather than
// copied. The store changes a block of records a frozen copy still reads only after making the
// block its own (copy on write), and text is never changed once written.
class ItemStore {
 public:
  using EntryId = std::uint32_t;
  static constexpr EntryId kNoEntry = ~EntryId{0};
  using const_iterator = std::vector<EntryId>::const_iterator;

  ItemStore();
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
  EntryId Store(TextView key, std::uint64_t size, std::uint32_t anchor_length = 0,
                TextView spelling = {});
  // The entry of `key`, or kNoEntry.
  EntryId Find(TextView key) const;

  std::uint64_t SizeOf(EntryId entry) const;
  std::uint32_t AnchorOf(EntryId entry) const { return Get(entry).anchor_length; }
  bool IsFolder(EntryId entry) const { return Get(entry).folder != 0; }
  bool HasSpelling(EntryId entry) const { return tables_.SpellingIndex(entry) != 0; }
  platform::EntryIdentity IdentityOf(EntryId entry) const { return tables_.IdentityOf(entry); }

  // Records the size of an entry stored with kSizeNotRead. The size is no part of the key,
  // so the order stays as it is.
  void ResolveSize(EntryId entry, std::uint64_t size);
  void SetIdentity(EntryId entry, const platform::EntryIdentity& identity);
  void SetFolder(EntryId entry, bool folder);
  // The listing that just stored the entry told its identity and whether it is a folder (and
  // its size, stored with it): they are recorded, and the next look at the entry may take them
  // instead of asking the system again. TakeListed says whether that is so and clears the mark,
  // so only one look takes it; storing the key again clears it too.
  void SetListed(EntryId entry, const platform::EntryIdentity& identity, bool folder);
  bool TakeListed(EntryId entry);

  // The key text of an entry. Entries read one after another in key order mostly share their
  // folder part: the one decoded last is kept and only the name is decoded again.
  Text KeyOf(EntryId entry) const;
  void KeyOf(EntryId entry, Text& out) const;
  // The entry's path as the system spells it (its key where it was stored without another).
  Text SpellingOf(EntryId entry) const;
  void SpellingOf(EntryId entry, Text& out) const;

  // What the entries stored so far are now, to be read on any thread however the store changes
  // afterwards (a deletion run's rows): KeyOf, SpellingOf, IdentityOf and the anchor of every
  // entry number valid now give there what they give here now.
  class Frozen {
   public:
    void KeyOf(EntryId entry, Text& out) const { tables_.KeyOf(entry, out); }
    void SpellingOf(EntryId entry, Text& out) const { tables_.SpellingOf(entry, out); }
    platform::EntryIdentity IdentityOf(EntryId entry) const { return tables_.IdentityOf(entry); }
    std::uint32_t AnchorOf(EntryId entry) const { return tables_.Get(entry).anchor_length; }

   private:
    friend class ItemStore;
    explicit Frozen(const item_store_detail::Tables& tables) : tables_(tables) {}
    item_store_detail::Tables tables_;
  };
  // Costs a few pointers per 4096 entries and per megabyte of text, plus the small tables.
  std::shared_ptr<const Frozen> Freeze() const;

  std::size_t size() const { return live_; }
  bool empty() const { return live_ == 0; }
  // The entries in key order. Valid until the next Store, Erase, EraseBelow or Clear.
  const_iterator begin() const {
    Settle();
    return order_.begin();
  }
  const_iterator end() const {
    Settle();
    return order_.end();
  }

  // Removes the entry of `key`; returns whether there was one.
  bool Erase(TextView key);
  // Removes every entry whose key starts with `prefix` and is longer than it (with a prefix
  // ending in a separator: everything inside that folder, at every depth); returns how many.
  std::size_t EraseBelow(TextView prefix);

  // Removes every entry and gives the memory back (what a frozen copy holds stays with it).
  void Clear();

 private:
  using Record = item_store_detail::Record;
  using Bytes = item_store_detail::Bytes;

  const Record& Get(EntryId entry) const { return tables_.Get(entry); }
  // The record to change: its chunk made the store's own first when a frozen copy shares it.
  Record& Mutable(EntryId entry);

  // A key taken apart: the text of its folder part, that part's index when it is the one noted
  // last (NoteFolderText; kNoEntry otherwise, and `folder` holds its encoding), and the
  // encoding of its name. The encodings are views of scratch_.
  struct EncodedKey {
    TextView folder_text;
    std::uint32_t folder_part = kNoEntry;
    Bytes folder;
    Bytes name;
  };
  // A folder's entries arrive one after another: its part is encoded and looked up once.
  EncodedKey EncodeKey(TextView key) const;
  void NoteFolderText(TextView folder_text, std::uint32_t folder_part) const;
  // The index of the folder part `bytes`, or kNoEntry when none is stored.
  std::uint32_t FindFolderPart(Bytes bytes) const;
  std::uint32_t AddFolderPart(Bytes bytes);
  TextArena::Position AddBytes(Bytes bytes);

  // The key order of two entries; of an entry and an encoded key.
  bool Less(EntryId a, EntryId b) const;
  int Compare(EntryId entry, Bytes key) const;
  // Brings newly stored entries into order_ and takes erased ones out of it.
  void Settle() const;
  // Sorts `count` entries that share one folder part into key order.
  void SortByName(EntryId* first, std::size_t count) const;

  // The hash table of entry numbers (open addressing, linear probing).
  static std::size_t Hash(std::uint32_t folder_part, Bytes name);
  // A slot holds an entry number in its low 27 bits and the top five bits of the entry's hash
  // above them, so that a search reads only the records whose tag matches. Entry numbers thus
  // end below 2^27 - 1 (134 million entries, some 4 GB of records alone); all ones is a free
  // slot.
  static constexpr std::uint32_t kSlotEntryMask = (std::uint32_t{1} << 27) - 1;
  // Records mapped ahead at a time (a divisor of a chunk's count).
  static constexpr std::uint32_t kRecordsPrepared = 1024;
  static std::uint32_t TagOf(std::size_t hash) {
    return static_cast<std::uint32_t>(hash >> (sizeof(std::size_t) * 8 - 5)) << 27;
  }
  // `hash` is Hash(folder_part, name), of the entry's own in Insert.
  EntryId Lookup(std::uint32_t folder_part, Bytes name, std::size_t hash) const;
  void Insert(EntryId entry, std::size_t hash);
  void Remove(EntryId entry);
  void Grow();
  // Takes an entry out: out of the hash table now, out of order_ at the next Settle.
  void MarkErased(EntryId entry);

  // The Tables::spelling_of value for `spelling` of `key`: 0 when they are the same text, else a
  // new entry of the spelling table.
  std::uint32_t AddSpelling(TextView key, TextView spelling);
  void SetSpelling(EntryId entry, std::uint32_t spelling);
  std::uint16_t VolumeIndex(const platform::EntryIdentity& identity);

  // What a record holds for `size`: the size, or a mark for unread or kept in large_sizes_.
  static std::uint32_t HeldSize(std::uint64_t size);
  void SetSize(EntryId entry, std::uint64_t size);
  // Writes `identity` into `record`, the entry's own (see Mutable).
  void WriteIdentity(EntryId entry, Record& record, const platform::EntryIdentity& identity);

  item_store_detail::Tables tables_;
  // The sizes a record cannot hold (4 GiB - 2 and above), by entry number.
  std::unordered_map<EntryId, std::uint64_t> large_sizes_;
  std::uint32_t records_ = 0;  // records made since Clear, erased ones included
  std::size_t live_ = 0;
  mutable std::vector<EntryId> order_;         // sorted, but for entries erased since Settle
  mutable std::uint32_t settled_records_ = 0;  // records_ at the last Settle
  mutable bool erased_since_settle_ = false;
  std::vector<std::uint32_t> slots_;  // the hash table (see TagOf); kNoEntry is a free slot
  std::unordered_map<std::string_view, std::uint32_t> folder_part_index_;
  // The volume indexes VolumeIndex gave last, newest first.
  std::array<std::uint16_t, 2> recent_volumes_{0, 0};
  mutable std::uint32_t last_folder_part_ = 0;  // the one found last: folders arrive together
  mutable std::vector<std::uint8_t> scratch_;
  // The folder part KeyOf decoded last (its index, kNoEntry for none) and its text.
  mutable std::uint32_t decoded_folder_part_ = kNoEntry;
  mutable Text decoded_folder_;
  // The folder part EncodeKey found last (kNoEntry for none) and its text.
  mutable std::uint32_t noted_folder_part_ = kNoEntry;
  mutable Text noted_folder_text_;
};

}  // namespace nulvane::items
