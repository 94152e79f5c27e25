#include "items/item_store.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/path_rules.h"
#include "platform/system.h"

namespace nulvane::items {

// --- TextArena ---

TextArena::Position TextArena::Allocate(std::size_t size) {
  constexpr std::size_t kMaxBlocks = std::size_t{1} << (32 - kOffsetBits);
  if (size > kBlockSize / 8) {
    // A large request gets a block of its own (its offset is 0) so that it wastes no shared
    // block.
    if (blocks_.size() >= kMaxBlocks) throw std::bad_alloc();
    blocks_.emplace_back(std::make_unique_for_overwrite<std::uint8_t[]>(size));
    platform::PrepareForWriting(blocks_.back().get(), size);
    return static_cast<Position>((blocks_.size() - 1) << kOffsetBits);
  }
  if (used_ + size > kBlockSize) {
    if (blocks_.size() >= kMaxBlocks) throw std::bad_alloc();
    blocks_.emplace_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize));
    current_ = blocks_.size() - 1;
    used_ = 0;
    prepared_ = 0;
  }
  const auto position = static_cast<Position>((current_ << kOffsetBits) | used_);
  used_ += size;
  if (used_ > prepared_) {
    // Texts are written as they are allocated, one after another: the next step of the block
    // is mapped in one call rather than a page at a time.
    const std::size_t upto = std::min(kBlockSize, (used_ / kPrepareStep + 1) * kPrepareStep);
    platform::PrepareForWriting(blocks_[current_].get() + prepared_, upto - prepared_);
    prepared_ = upto;
  }
  return position;
}

void TextArena::Release() {
  blocks_.clear();
  used_ = kBlockSize;
  prepared_ = kBlockSize;
  current_ = 0;
}

// --- Encoding ---
//
// A text is kept as its encoded length (LEB128: seven bits a byte, low bits first, high bit set
// on every byte but the last) followed by the encoded units:
//   U+0000..U+007F  one byte    0xxxxxxx
//   U+0080..U+3FFF  two bytes   0x80 + (u >> 8), u & 0xFF        (first byte 0x80..0xBF)
//   U+4000..U+FFFF  three bytes 0xC0, u >> 8, u & 0xFF
// The first byte tells the length, and for units a < b the encoding of a is smaller as bytes:
// the classes are ordered by their first byte and within a class the bytes are the unit's
// value from the high end. No encoding is a prefix of another's, so comparing two encoded texts
// with memcmp, and then by length, gives exactly the code-unit order of the texts; and the
// encoding of a key is the encoding of its folder part followed by that of its name.

namespace {

constexpr std::uint8_t kTwoByteLead = 0x80;
constexpr std::uint8_t kThreeByteLead = 0xC0;

// A 64-bit number takes at most ten bytes.
constexpr std::size_t kLongestNumber = 10;

// Writes `value` at `out` (room for kLongestNumber bytes); returns how many bytes it took.
std::size_t PutNumber(std::uint8_t* out, std::size_t value) {
  std::size_t size = 0;
  for (; value >= 0x80; value >>= 7) out[size++] = static_cast<std::uint8_t>(0x80 | (value & 0x7F));
  out[size++] = static_cast<std::uint8_t>(value);
  return size;
}

void PutNumber(std::vector<std::uint8_t>& out, std::size_t value) {
  std::uint8_t bytes[kLongestNumber];
  out.insert(out.end(), bytes, bytes + PutNumber(bytes, value));
}

std::size_t TakeNumber(const std::uint8_t*& bytes) {
  std::size_t value = 0;
  for (int shift = 0;; shift += 7) {
    const std::uint8_t byte = *bytes++;
    value |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return value;
  }
}

// Writes the encoding of `unit` at `out` (room for three bytes) and moves past it.
void PutUnit(std::uint8_t*& out, char16_t unit) {
  if (unit < 0x80) {
    *out++ = static_cast<std::uint8_t>(unit);
  } else if (unit < 0x4000) {
    *out++ = static_cast<std::uint8_t>(kTwoByteLead + (unit >> 8));
    *out++ = static_cast<std::uint8_t>(unit & 0xFF);
  } else {
    *out++ = kThreeByteLead;
    *out++ = static_cast<std::uint8_t>(unit >> 8);
    *out++ = static_cast<std::uint8_t>(unit & 0xFF);
  }
}

// Writes the encodings of `units` at `out` and moves past them; ASCII, the bulk of most paths,
// without a call.
void PutUnits(std::uint8_t*& out, TextView units) {
  for (const char16_t unit : units) {
    if (unit < 0x80) {
      *out++ = static_cast<std::uint8_t>(unit);
    } else {
      PutUnit(out, unit);
    }
  }
}

void PutUnit(std::vector<std::uint8_t>& out, char16_t unit) {
  std::uint8_t bytes[3];
  std::uint8_t* end = bytes;
  PutUnit(end, unit);
  out.insert(out.end(), bytes, end);
}

char16_t TakeUnit(const std::uint8_t*& bytes) {
  const std::uint8_t lead = *bytes++;
  if (lead < kTwoByteLead) return lead;
  if (lead < kThreeByteLead) {
    const auto unit = static_cast<char16_t>(((lead - kTwoByteLead) << 8) | bytes[0]);
    bytes += 1;
    return unit;
  }
  const auto unit = static_cast<char16_t>((bytes[0] << 8) | bytes[1]);
  bytes += 2;
  return unit;
}

// The order of byte strings: memcmp, then the shorter first.
// Names are mostly a few bytes long: those are compared in a loop, without a call.
int CompareBytes(std::basic_string_view<std::uint8_t> a, std::basic_string_view<std::uint8_t> b) {
  const std::size_t common = std::min(a.size(), b.size());
  if (common <= 16) {
    for (std::size_t i = 0; i < common; ++i) {
      if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
  } else if (const int order = std::memcmp(a.data(), b.data(), common); order != 0) {
    return order;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Whether two byte strings are the same (std::basic_string_view<std::uint8_t>'s == compares a
// byte at a time).
bool SameBytes(std::basic_string_view<std::uint8_t> a, std::basic_string_view<std::uint8_t> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// The order of the concatenations a1 + a2 and b1 + b2, without building them.
int CompareJoined(std::basic_string_view<std::uint8_t> a1, std::basic_string_view<std::uint8_t> a2,
                  std::basic_string_view<std::uint8_t> b1,
                  std::basic_string_view<std::uint8_t> b2) {
  while (true) {
    if (a1.empty()) {
      if (a2.empty()) return b1.empty() && b2.empty() ? 0 : -1;
      a1 = a2;
      a2 = {};
    }
    if (b1.empty()) {
      if (b2.empty()) return 1;
      b1 = b2;
      b2 = {};
    }
    const std::size_t common = std::min(a1.size(), b1.size());
    const int order = std::memcmp(a1.data(), b1.data(), common);
    if (order != 0) return order;
    a1.remove_prefix(common);
    b1.remove_prefix(common);
  }
}

}  // namespace

using item_store_detail::Bytes;
using item_store_detail::Join;
using item_store_detail::kErased;
using item_store_detail::kKnown;
using item_store_detail::kOwnIdentity;
using item_store_detail::Record;
using item_store_detail::Split;
using item_store_detail::Tables;

ItemStore::ItemStore() { Clear(); }

Bytes Tables::BytesAt(std::uint32_t position) const {
  const std::uint8_t* bytes = arena.At(position);
  const std::size_t size = TakeNumber(bytes);
  return {bytes, size};
}

ItemStore::EncodedKey ItemStore::EncodeKey(TextView key) const {
  std::size_t split = key.size();
  while (split > 0 && !platform::IsPathSeparator(key[split - 1])) --split;
  EncodedKey encoded;
  encoded.folder_text = key.substr(0, split);
  const bool known = noted_folder_part_ != kNoEntry &&
                     encoded.folder_text.size() == noted_folder_text_.size() &&
                     std::memcmp(encoded.folder_text.data(), noted_folder_text_.data(),
                                 split * sizeof(char16_t)) == 0;
  // At most three bytes a unit; written in place, then cut to what was written.
  // Grown only: bytes past what is written are never read, so they need no clearing.
  if (scratch_.size() < key.size() * 3) scratch_.resize(key.size() * 3);
  std::uint8_t* out = scratch_.data();
  if (known) {
    encoded.folder_part = noted_folder_part_;
  } else {
    PutUnits(out, encoded.folder_text);
    encoded.folder = Bytes(scratch_.data(), static_cast<std::size_t>(out - scratch_.data()));
  }
  std::uint8_t* const name = out;
  PutUnits(out, key.substr(split));
  encoded.name = Bytes(name, static_cast<std::size_t>(out - name));
  return encoded;
}

void ItemStore::NoteFolderText(TextView folder_text, std::uint32_t folder_part) const {
  if (folder_part == noted_folder_part_) return;  // one folder part has one text
  noted_folder_text_.assign(folder_text);
  noted_folder_part_ = folder_part;
}

namespace {

// Appends the units of `bytes` to `out`, a few hundred at a time through a buffer on the stack
// (growing `out` to the bytes' count first would fill it with zeros only to overwrite them).
void Decode(Bytes bytes, Text& out) {
  constexpr std::size_t kBufferUnits = 256;
  char16_t buffer[kBufferUnits];
  const std::uint8_t* next = bytes.data();
  const std::uint8_t* const end = next + bytes.size();
  while (next < end) {
    std::size_t count = 0;
    for (; next < end && count < kBufferUnits; ++count) {
      buffer[count] = *next < kTwoByteLead ? *next++ : TakeUnit(next);
    }
    out.append(buffer, count);
  }
}

}  // namespace

TextArena::Position ItemStore::AddBytes(Bytes bytes) {
  std::uint8_t length[kLongestNumber];
  const std::size_t length_size = PutNumber(length, bytes.size());
  const TextArena::Position position = tables_.arena.Allocate(length_size + bytes.size());
  std::uint8_t* out = tables_.arena.At(position);
  std::memcpy(out, length, length_size);
  if (!bytes.empty()) std::memcpy(out + length_size, bytes.data(), bytes.size());
  return position;
}

namespace {

std::string_view AsChars(std::basic_string_view<std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::uint32_t ItemStore::FindFolderPart(Bytes bytes) const {
  if (SameBytes(tables_.BytesAt(tables_.folder_parts[last_folder_part_]), bytes)) {
    return last_folder_part_;
  }
  const auto found = folder_part_index_.find(AsChars(bytes));
  if (found == folder_part_index_.end()) return kNoEntry;
  last_folder_part_ = found->second;
  return found->second;
}

std::uint32_t ItemStore::AddFolderPart(Bytes bytes) {
  const std::uint32_t found = FindFolderPart(bytes);
  if (found != kNoEntry) return found;
  const TextArena::Position position = AddBytes(bytes);
  const auto index = static_cast<std::uint32_t>(tables_.folder_parts.size());
  tables_.folder_parts.push_back(position);
  folder_part_index_.emplace(AsChars(tables_.BytesAt(position)), index);
  last_folder_part_ = index;
  return index;
}

void Tables::KeyOf(std::uint32_t entry, Text& out) const {
  const Record& record = Get(entry);
  const Bytes folder_part = FolderPartOf(record);
  const Bytes name = NameOf(record);
  out.clear();
  out.reserve(folder_part.size() + name.size());
  Decode(folder_part, out);
  Decode(name, out);
}

bool ItemStore::Less(EntryId a, EntryId b) const {
  const Record& left = Get(a);
  const Record& right = Get(b);
  // Folder expansion stores a folder's entries together: most comparisons are of names alone.
  if (left.folder_part == right.folder_part) {
    return CompareBytes(tables_.NameOf(left), tables_.NameOf(right)) < 0;
  }
  return CompareJoined(tables_.FolderPartOf(left), tables_.NameOf(left),
                       tables_.FolderPartOf(right), tables_.NameOf(right)) < 0;
}

int ItemStore::Compare(EntryId entry, Bytes key) const {
  const Record& record = Get(entry);
  return CompareJoined(tables_.FolderPartOf(record), tables_.NameOf(record), key, {});
}

namespace {

// The number of leading elements of the sorted range [first, first + count) that order before
// `value`: found by looking 1, 3, 7, 15 ... places ahead and then searching the last step, so
// that a long stretch of one side costs a few comparisons instead of one per element.
template <typename Less>
std::size_t CountBefore(const std::uint32_t* first, std::size_t count, std::uint32_t value,
                        const Less& less) {
  if (count == 0 || !less(first[0], value)) return 0;
  std::size_t low = 1;  // first[low - 1] orders before `value`
  std::size_t high = 1;
  while (high < count && less(first[high], value)) {
    low = high + 1;
    high = high * 2 + 1;
  }
  high = std::min(high, count);
  return static_cast<std::size_t>(std::lower_bound(first + low, first + high, value, less) - first);
}

// Merges the sorted ranges a and b, which hold no two equal elements, into `out`. The stores of
// a folder expansion arrive as long stretches that lie whole between two entries of the other
// side: each stretch is found with a few comparisons and copied in one piece. `out` may lie
// a_size entries before b in one array: what is written then never overtakes what of b is
// still to be read.
template <typename Less>
std::uint32_t* MergeStretches(const std::uint32_t* a, std::size_t a_size, const std::uint32_t* b,
                              std::size_t b_size, std::uint32_t* out, const Less& less) {
  while (a_size > 0 && b_size > 0) {
    std::size_t count = CountBefore(a, a_size, b[0], less);
    out = std::copy_n(a, count, out);
    a += count;
    a_size -= count;
    if (a_size == 0) break;
    count = CountBefore(b, b_size, a[0], less);
    out = std::copy_n(b, count, out);
    b += count;
    b_size -= count;
  }
  out = std::copy_n(a, a_size, out);
  if (out == b) return out + b_size;  // the rest of b is in place already
  return std::copy_n(b, b_size, out);
}

// A name's first eight bytes as a number, high byte first, shorter names padded with zeros:
// two names whose heads differ order as their heads do (a name that ends before the difference
// is the shorter one, which sorts first); equal heads say nothing.
std::uint64_t HeadOf(Bytes name) {
  std::uint64_t head = 0;
  const std::size_t size = std::min<std::size_t>(name.size(), 8);
  for (std::size_t i = 0; i < size; ++i) head |= std::uint64_t{name[i]} << (56 - 8 * i);
  return head;
}

}  // namespace

void ItemStore::SortByName(std::uint32_t* first, std::size_t count) const {
  struct Keyed {
    std::uint64_t head;
    EntryId entry;
  };
  std::vector<Keyed> keyed(count);
  for (std::size_t i = 0; i < count; ++i) {
    keyed[i] = {HeadOf(tables_.NameOf(Get(first[i]))), first[i]};
  }
  std::sort(keyed.begin(), keyed.end(), [this](const Keyed& a, const Keyed& b) {
    if (a.head != b.head) return a.head < b.head;
    return CompareBytes(tables_.NameOf(Get(a.entry)), tables_.NameOf(Get(b.entry))) < 0;
  });
  for (std::size_t i = 0; i < count; ++i) first[i] = keyed[i].entry;
}

void ItemStore::Settle() const {
  if (erased_since_settle_) {
    const auto erased = [this](EntryId entry) { return (Get(entry).flags & kErased) != 0; };
    std::erase_if(order_, erased);
    erased_since_settle_ = false;
  }
  if (settled_records_ == records_) return;
  // Entries are numbered as they are made, so the ones stored since the last Settle are the
  // numbers from settled_records_ on. They are sorted at the end of order_ (one allocation of
  // the exact size, rather than a list grown entry by entry beside it) and merged into it.
  const std::size_t settled = order_.size();
  if (const std::size_t wanted = settled + (records_ - settled_records_);
      wanted > order_.capacity()) {
    order_.reserve(wanted);
    platform::PrepareForWriting(order_.data(), wanted * sizeof(EntryId));
  }
  for (EntryId entry = settled_records_; entry < records_; ++entry) {
    if ((Get(entry).flags & kErased) == 0) order_.push_back(entry);
  }
  settled_records_ = records_;
  EntryId* const pending = order_.data() + settled;
  const std::size_t pending_size = order_.size() - settled;
  if (pending_size == 0) return;
  const auto less = [this](EntryId a, EntryId b) { return Less(a, b); };
  // A folder's listing stores its entries one after another, all with one folder part: such a
  // stretch orders by its names alone, compared by their heads first. A stretch is cut at 4096
  // entries so that the keys made for sorting it stay small; the pieces are merged below.
  constexpr std::size_t kLongestPiece = 4096;
  std::vector<std::size_t> starts;
  for (std::size_t start = 0; start < pending_size;) {
    const std::uint32_t folder_part = Get(pending[start]).folder_part;
    std::size_t end = start + 1;
    while (end < pending_size && end - start < kLongestPiece &&
           Get(pending[end]).folder_part == folder_part) {
      ++end;
    }
    SortByName(pending + start, end - start);
    starts.push_back(start);
    start = end;
  }
  // The sorted pieces merged two by two until one is left, in place: the left piece of each
  // pair moves aside and the merge writes from the pair's start, never past the entries of the
  // right piece it has yet to read. The settled order is one more piece, merged last.
  std::vector<EntryId> spare;
  auto merge_left = [&](EntryId* begin, std::size_t left, std::size_t right) {
    spare.assign(begin, begin + left);
    MergeStretches(spare.data(), spare.size(), begin + left, right, begin, less);
  };
  while (starts.size() > 1) {
    std::vector<std::size_t> merged_starts;
    for (std::size_t i = 0; i < starts.size(); i += 2) {
      const std::size_t begin = starts[i];
      merged_starts.push_back(begin);
      if (i + 1 == starts.size()) break;  // the last piece has no partner in this round
      const std::size_t middle = starts[i + 1];
      const std::size_t end = i + 2 < starts.size() ? starts[i + 2] : pending_size;
      merge_left(pending + begin, middle - begin, end - middle);
    }
    starts.swap(merged_starts);
  }
  if (settled > 0 && !less(order_[settled - 1], pending[0])) {
    merge_left(order_.data(), settled, pending_size);
  }
}

// --- The hash table ---

std::size_t ItemStore::Hash(std::uint32_t folder_part, Bytes name) {
  // FNV-1a over the name, seeded with the folder part.
  std::uint64_t hash = 0xcbf29ce484222325ull ^ (std::uint64_t{folder_part} * 0x9E3779B97F4A7C15ull);
  for (const std::uint8_t byte : name) {
    hash ^= byte;
    hash *= 0x100000001b3ull;
  }
  return static_cast<std::size_t>(hash ^ (hash >> 29));
}

ItemStore::EntryId ItemStore::Lookup(std::uint32_t folder_part, Bytes name,
                                     std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const std::uint32_t tag = TagOf(hash);
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t held = slots_[slot];
    if (held == kNoEntry) return kNoEntry;
    // Reading a record is most often a cache miss: only one whose tag matches is read.
    if ((held & ~kSlotEntryMask) != tag) continue;
    const EntryId entry = held & kSlotEntryMask;
    const Record& record = Get(entry);
    if (record.folder_part == folder_part && SameBytes(tables_.NameOf(record), name)) return entry;
  }
}

void ItemStore::Insert(EntryId entry, std::size_t hash) {
  // At most seven eighths full: a search still ends soon at a free slot, and the table costs
  // 4.6 to 9 bytes an entry.
  if ((live_ + 1) * 8 > slots_.size() * 7) Grow();
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hash & mask;
  while (slots_[slot] != kNoEntry) slot = (slot + 1) & mask;
  slots_[slot] = TagOf(hash) | entry;
}

void ItemStore::Remove(EntryId entry) {
  const Record& record = Get(entry);
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = Hash(record.folder_part, tables_.NameOf(record)) & mask;
  while ((slots_[slot] & kSlotEntryMask) != entry) slot = (slot + 1) & mask;
  // Backward shift: every later entry of the probe run that may fill the gap moves into it, so
  // that no search stops early at the freed slot.
  for (std::size_t next = (slot + 1) & mask;; next = (next + 1) & mask) {
    const std::uint32_t moved = slots_[next];
    if (moved == kNoEntry) break;
    const Record& other = Get(moved & kSlotEntryMask);
    const std::size_t home = Hash(other.folder_part, tables_.NameOf(other)) & mask;
    // `moved` may fill the gap when its home is not in (slot, next], cyclically.
    const bool between =
        slot <= next ? (home > slot && home <= next) : (home > slot || home <= next);
    if (!between) {
      slots_[slot] = moved;
      slot = next;
    }
  }
  slots_[slot] = kNoEntry;
}

void ItemStore::Grow() {
  std::vector<EntryId> old;
  old.swap(slots_);
  const std::size_t size = std::max<std::size_t>(old.size() * 2, 64);
  slots_.reserve(size);
  platform::PrepareForWriting(slots_.data(), size * sizeof(EntryId));
  slots_.assign(size, kNoEntry);
  const std::size_t mask = slots_.size() - 1;
  for (const std::uint32_t held : old) {
    if (held == kNoEntry) continue;
    const Record& record = Get(held & kSlotEntryMask);
    std::size_t slot = Hash(record.folder_part, tables_.NameOf(record)) & mask;
    while (slots_[slot] != kNoEntry) slot = (slot + 1) & mask;
    slots_[slot] = held;  // the tag stays: it comes from the same hash
  }
}

// --- Spellings ---
//
// A spelling record: the number of units where the spelling differs from its key (LEB128),
// then for each the distance from the previous one (LEB128; the first counts from before the
// start) and the unit, encoded as in keys.

std::uint32_t ItemStore::AddSpelling(TextView key, TextView spelling) {
  if (spelling.empty() || spelling.data() == key.data() || spelling.size() != key.size() ||
      std::memcmp(spelling.data(), key.data(), key.size() * sizeof(char16_t)) == 0) {
    return 0;
  }
  std::vector<std::uint8_t> record;
  std::size_t count = 0;
  for (std::size_t i = 0; i < key.size(); ++i) count += key[i] != spelling[i] ? 1 : 0;
  PutNumber(record, count);
  std::size_t next = 0;  // the first position the next distance counts from
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (key[i] == spelling[i]) continue;
    PutNumber(record, i - next);
    PutUnit(record, spelling[i]);
    next = i + 1;
  }
  const TextArena::Position position = tables_.arena.Allocate(record.size());
  std::memcpy(tables_.arena.At(position), record.data(), record.size());
  tables_.spellings.push_back(position);
  return static_cast<std::uint32_t>(tables_.spellings.size());
}

void Tables::SpellingOf(std::uint32_t entry, Text& out) const {
  KeyOf(entry, out);
  ApplySpelling(entry, out);
}

void Tables::ApplySpelling(std::uint32_t entry, Text& out) const {
  const std::uint32_t spelling = SpellingIndex(entry);
  if (spelling == 0) return;
  const std::uint8_t* bytes = arena.At(spellings[spelling - 1]);
  std::size_t position = 0;
  for (std::size_t count = TakeNumber(bytes); count > 0; --count) {
    position += TakeNumber(bytes);
    out[position++] = TakeUnit(bytes);
  }
}

void ItemStore::SetSpelling(EntryId entry, std::uint32_t spelling) {
  std::vector<std::uint32_t>& spelling_of = tables_.spelling_of;
  if (entry >= spelling_of.size()) {
    if (spelling == 0) return;
    spelling_of.resize(std::max<std::size_t>(records_, entry + 1), 0);
  }
  spelling_of[entry] = spelling;
}

void ItemStore::KeyOf(EntryId entry, Text& out) const {
  const Record& record = Get(entry);
  if (record.folder_part != decoded_folder_part_) {
    decoded_folder_.clear();
    Decode(tables_.FolderPartOf(record), decoded_folder_);
    decoded_folder_part_ = record.folder_part;
  }
  const Bytes name = tables_.NameOf(record);
  out.reserve(decoded_folder_.size() + name.size());
  out.assign(decoded_folder_);
  Decode(name, out);
}

void ItemStore::SpellingOf(EntryId entry, Text& out) const {
  KeyOf(entry, out);
  tables_.ApplySpelling(entry, out);
}

Text ItemStore::SpellingOf(EntryId entry) const {
  Text text;
  SpellingOf(entry, text);
  return text;
}

// --- Identities ---

std::uint16_t ItemStore::VolumeIndex(const platform::EntryIdentity& identity) {
  // Entries listed together share their volume: the newest volume is checked first. A table
  // kept short keeps the search short; identities beyond it are kept whole.
  constexpr std::size_t kMostVolumes = 256;
  const Tables::Volume volume{identity.volume, identity.object_high,
                              static_cast<std::uint32_t>(identity.object >> 32)};
  std::vector<Tables::Volume>& volumes = tables_.volumes;
  // A listing asks for one volume, and a new entry for none, over and over: the two found last
  // are tried first.
  for (const std::uint16_t recent : recent_volumes_) {
    if (recent < volumes.size() && volumes[recent] == volume) return recent;
  }
  std::size_t found = volumes.size();
  while (found > 0 && !(volumes[found - 1] == volume)) --found;
  if (found == 0) {
    if (volumes.size() >= kMostVolumes) return kOwnIdentity;
    volumes.push_back(volume);
    found = volumes.size();
  }
  const auto index = static_cast<std::uint16_t>(found - 1);
  recent_volumes_[1] = recent_volumes_[0];
  recent_volumes_[0] = index;
  return index;
}

void ItemStore::SetIdentity(EntryId entry, const platform::EntryIdentity& identity) {
  if (IdentityOf(entry) == identity) return;  // a frozen copy may share the record
  WriteIdentity(entry, Mutable(entry), identity);
}

void ItemStore::SetListed(EntryId entry, const platform::EntryIdentity& identity, bool folder) {
  Record& record = Mutable(entry);
  WriteIdentity(entry, record, identity);
  record.folder = folder ? 1 : 0;
  record.flags |= item_store_detail::kListed;
}

void ItemStore::WriteIdentity(EntryId entry, Record& record,
                              const platform::EntryIdentity& identity) {
  const std::uint16_t volume = VolumeIndex(identity);
  if (record.volume == kOwnIdentity) tables_.own_identities.erase(entry);
  record.volume = volume;
  if (record.volume == kOwnIdentity) tables_.own_identities[entry] = identity;
  record.object = static_cast<std::uint32_t>(identity.object);
  Split(identity.stamp, record.stamp);
  record.stamp_kind = static_cast<std::uint8_t>(identity.stamp_kind);
  record.flags =
      static_cast<std::uint8_t>((record.flags & ~kKnown) | (identity.known ? kKnown : 0));
}

platform::EntryIdentity Tables::IdentityOf(std::uint32_t entry) const {
  const Record& record = Get(entry);
  if (record.volume == kOwnIdentity) return own_identities.at(entry);
  platform::EntryIdentity identity;
  const Volume& volume = volumes[record.volume];
  identity.volume = volume.volume;
  identity.object_high = volume.object_high;
  identity.object = (std::uint64_t{volume.object_top} << 32) | record.object;
  identity.stamp = Join(record.stamp);
  identity.stamp_kind = static_cast<platform::IdentityStamp>(record.stamp_kind);
  identity.known = (record.flags & kKnown) != 0;
  return identity;
}

// --- Changes and frozen copies ---

Record& ItemStore::Mutable(EntryId entry) {
  std::shared_ptr<Record[]>& chunk = tables_.chunks[entry >> item_store_detail::kChunkBits];
  if (chunk.use_count() > 1) {
    constexpr std::size_t kChunkSize = std::size_t{1} << item_store_detail::kChunkBits;
    std::shared_ptr<Record[]> own(std::make_unique_for_overwrite<Record[]>(kChunkSize));
    const std::size_t first = std::size_t{entry} & ~(kChunkSize - 1);
    // The records made so far, and the one being made.
    const std::size_t used = std::max<std::size_t>(records_, std::size_t{entry} + 1) - first;
    std::copy_n(chunk.get(), std::min(kChunkSize, used), own.get());
    chunk = std::move(own);
  } else {
    // The last frozen copy that shared the chunk may have been let go on another thread just
    // now: its reads of the chunk happen before the changes made here.
    std::atomic_thread_fence(std::memory_order_acquire);
  }
  return chunk[entry & ((1u << item_store_detail::kChunkBits) - 1)];
}

std::uint64_t ItemStore::SizeOf(EntryId entry) const {
  const std::uint32_t size = Get(entry).size;
  if (size == item_store_detail::kSizeUnread) return kSizeNotRead;
  if (size == item_store_detail::kSizeElsewhere) return large_sizes_.at(entry);
  return size;
}

std::uint32_t ItemStore::HeldSize(std::uint64_t size) {
  if (size == kSizeNotRead) return item_store_detail::kSizeUnread;
  if (size >= item_store_detail::kSizeElsewhere) return item_store_detail::kSizeElsewhere;
  return static_cast<std::uint32_t>(size);
}

void ItemStore::SetSize(EntryId entry, std::uint64_t size) {
  const std::uint32_t held = HeldSize(size);
  if (held == item_store_detail::kSizeElsewhere) {
    large_sizes_[entry] = size;
  } else if (Get(entry).size == item_store_detail::kSizeElsewhere) {
    large_sizes_.erase(entry);
  }
  if (Get(entry).size != held) Mutable(entry).size = held;
}

void ItemStore::ResolveSize(EntryId entry, std::uint64_t size) { SetSize(entry, size); }

bool ItemStore::TakeListed(EntryId entry) {
  if ((Get(entry).flags & item_store_detail::kListed) == 0) return false;
  Mutable(entry).flags &= static_cast<std::uint8_t>(~item_store_detail::kListed);
  return true;
}

void ItemStore::SetFolder(EntryId entry, bool folder) {
  if (IsFolder(entry) != folder) Mutable(entry).folder = folder ? 1 : 0;
}

Text ItemStore::KeyOf(EntryId entry) const {
  Text text;
  KeyOf(entry, text);
  return text;
}

std::shared_ptr<const ItemStore::Frozen> ItemStore::Freeze() const {
  return std::shared_ptr<const Frozen>(new Frozen(tables_));
}

// --- ItemStore ---

ItemStore::EntryId ItemStore::Store(TextView key, std::uint64_t size, std::uint32_t anchor_length,
                                    TextView spelling) {
  const EncodedKey encoded = EncodeKey(key);
  const std::uint32_t folder_part =
      encoded.folder_part != kNoEntry ? encoded.folder_part : AddFolderPart(encoded.folder);
  NoteFolderText(encoded.folder_text, folder_part);
  // AddFolderPart leaves scratch_ as it is: the name still points into it.
  const Bytes name = encoded.name;
  const std::size_t hash = Hash(folder_part, name);
  const EntryId found = Lookup(folder_part, name, hash);
  if (found != kNoEntry) {
    SetSize(found, size);
    Record& record = Mutable(found);
    record.anchor_length =
        std::min<std::uint32_t>(record.anchor_length, anchor_length) & kAnchorMask;
    record.flags &= static_cast<std::uint8_t>(~item_store_detail::kListed);
    SetIdentity(found, {});
    if (!spelling.empty()) {
      Text current;
      SpellingOf(found, current);
      if (current != spelling) SetSpelling(found, AddSpelling(key, spelling));
    }
    return found;
  }
  if (records_ > kSlotEntryMask - 1) throw std::bad_alloc();
  const EntryId entry = records_;
  if ((entry >> item_store_detail::kChunkBits) == tables_.chunks.size()) {
    // Left unwritten: the pages of a chunk's unused rest cost nothing until used.
    tables_.chunks.emplace_back(
        std::make_unique_for_overwrite<Record[]>(std::size_t{1} << item_store_detail::kChunkBits));
  }
  const std::uint16_t volume = VolumeIndex({});
  Record& record = Mutable(entry);
  if ((entry & (kRecordsPrepared - 1)) == 0) {
    // Records are made one after another: the next 32 KiB of them are mapped in one call
    // rather than a page at a time. Asked after Mutable, so that it is the store's own chunk
    // (a frozen copy may share the one before). 1024 records divide a chunk: the range ends
    // inside it.
    platform::PrepareForWriting(&record, kRecordsPrepared * sizeof(Record));
  }
  record = Record{};
  record.name = AddBytes(name);
  record.folder_part = folder_part;
  record.anchor_length = anchor_length & kAnchorMask;
  record.volume = volume;
  ++records_;
  // The size written straight into the new record (SetSize would look the record up again).
  record.size = HeldSize(size);
  if (record.size == item_store_detail::kSizeElsewhere) large_sizes_[entry] = size;
  SetSpelling(entry, AddSpelling(key, spelling));
  Insert(entry, hash);
  ++live_;
  return entry;
}

ItemStore::EntryId ItemStore::Find(TextView key) const {
  const EncodedKey encoded = EncodeKey(key);
  const std::uint32_t folder_part =
      encoded.folder_part != kNoEntry ? encoded.folder_part : FindFolderPart(encoded.folder);
  if (folder_part == kNoEntry) return kNoEntry;
  NoteFolderText(encoded.folder_text, folder_part);
  return Lookup(folder_part, encoded.name, Hash(folder_part, encoded.name));
}

void ItemStore::MarkErased(EntryId entry) {
  Remove(entry);
  Record& record = Mutable(entry);
  if (record.volume == kOwnIdentity) tables_.own_identities.erase(entry);
  large_sizes_.erase(entry);
  record.flags |= kErased;
  --live_;
  erased_since_settle_ = true;
}

bool ItemStore::Erase(TextView key) {
  const EntryId entry = Find(key);
  if (entry == kNoEntry) return false;
  MarkErased(entry);
  return true;
}

std::size_t ItemStore::EraseBelow(TextView prefix) {
  Settle();
  scratch_.clear();
  for (const char16_t unit : prefix) PutUnit(scratch_, unit);
  const Bytes probe(scratch_.data(), scratch_.size());
  // The keys that start with `prefix` follow it in the order without a gap.
  auto it = std::upper_bound(order_.begin(), order_.end(), probe,
                             [this](Bytes key, EntryId entry) { return Compare(entry, key) > 0; });
  std::size_t erased = 0;
  for (; it != order_.end(); ++it) {
    const Record& record = Get(*it);
    const Bytes folder_part = tables_.FolderPartOf(record);
    const Bytes name = tables_.NameOf(record);
    // A key starts with `prefix` exactly when its encoding starts with the prefix's encoding.
    const std::size_t in_folder = std::min(folder_part.size(), probe.size());
    if (folder_part.substr(0, in_folder) != probe.substr(0, in_folder)) break;
    const Bytes rest = probe.substr(in_folder);
    if (name.substr(0, rest.size()) != rest) break;
    MarkErased(*it);
    ++erased;
  }
  return erased;
}

void ItemStore::Clear() {
  tables_ = Tables{};
  large_sizes_.clear();
  records_ = 0;
  live_ = 0;
  order_ = {};
  settled_records_ = 0;
  erased_since_settle_ = false;
  slots_.assign(64, kNoEntry);
  recent_volumes_ = {0, 0};
  folder_part_index_.clear();
  decoded_folder_part_ = kNoEntry;
  decoded_folder_.clear();
  noted_folder_part_ = kNoEntry;
  noted_folder_text_.clear();
  // Index 0: the empty folder part, of keys without a separator.
  tables_.folder_parts.push_back(AddBytes({}));
  folder_part_index_.emplace(std::string_view(), 0);
  last_folder_part_ = 0;
}

}  // namespace nulvane::items
