#include "items/item_store.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace nulvane::items {

// --- BlockArena ---

void* BlockArena::Allocate(std::size_t size, std::size_t alignment) {
  if (size > kBlockSize / 8) {
    // A large request gets a block of its own so that it wastes no shared block.
    blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(size + alignment));
    void* start = blocks_.back().get();
    std::size_t room = size + alignment;
    return std::align(alignment, size, start, room);
  }
  void* start = free_;
  std::size_t room = left_;
  if (!free_ || !std::align(alignment, size, start, room)) {
    blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(kBlockSize));
    start = blocks_.back().get();
    room = kBlockSize;
    if (!std::align(alignment, size, start, room)) throw std::bad_alloc();
  }
  free_ = static_cast<std::byte*>(start) + size;
  left_ = room - size;
  return start;
}

void BlockArena::Release() {
  blocks_.clear();
  free_ = nullptr;
  left_ = 0;
}

// --- Key encoding ---
//
// A record is the encoded length (LEB128: seven bits a byte, low bits first, high bit set on
// every byte but the last) followed by the encoded units:
//   U+0000..U+007F  one byte    0xxxxxxx
//   U+0080..U+3FFF  two bytes   0x80 + (u >> 8), u & 0xFF        (first byte 0x80..0xBF)
//   U+4000..U+FFFF  three bytes 0xC0, u >> 8, u & 0xFF
// The first byte tells the length, and for units a < b the encoding of a is smaller as bytes:
// the classes are ordered by their first byte and within a class the bytes are the unit's
// value from the high end. No encoding is a prefix of another's, so comparing two encoded keys
// with memcmp, and then by length, gives exactly the code-unit order of the keys.

namespace {

constexpr std::uint8_t kTwoByteLead = 0x80;
constexpr std::uint8_t kThreeByteLead = 0xC0;

struct EncodedView {
  const std::uint8_t* bytes;
  std::size_t size;
};

EncodedView ViewOf(const std::uint8_t* record) {
  std::size_t size = 0;
  int shift = 0;
  for (;;) {
    const std::uint8_t byte = *record++;
    size |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) break;
    shift += 7;
  }
  return {record, size};
}

std::size_t EncodedSize(TextView key) {
  std::size_t size = 0;
  for (const char16_t unit : key) size += unit < 0x80 ? 1 : unit < 0x4000 ? 2 : 3;
  return size;
}

}  // namespace

ItemStore::KeyRecord ItemStore::Encode(TextView key) const {
  const std::size_t size = EncodedSize(key);
  scratch_.clear();
  for (std::size_t rest = size;; rest >>= 7) {
    if (rest < 0x80) {
      scratch_.push_back(static_cast<std::uint8_t>(rest));
      break;
    }
    scratch_.push_back(static_cast<std::uint8_t>(0x80 | (rest & 0x7F)));
  }
  for (const char16_t unit : key) {
    if (unit < 0x80) {
      scratch_.push_back(static_cast<std::uint8_t>(unit));
    } else if (unit < 0x4000) {
      scratch_.push_back(static_cast<std::uint8_t>(kTwoByteLead + (unit >> 8)));
      scratch_.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    } else {
      scratch_.push_back(kThreeByteLead);
      scratch_.push_back(static_cast<std::uint8_t>(unit >> 8));
      scratch_.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
  }
  return scratch_.data();
}

void ItemStore::KeyOf(const Entry& entry, Text& out) {
  const EncodedView view = ViewOf(entry.first);
  out.clear();
  out.reserve(view.size);
  for (std::size_t i = 0; i < view.size;) {
    const std::uint8_t lead = view.bytes[i];
    if (lead < kTwoByteLead) {
      out.push_back(lead);
      i += 1;
    } else if (lead < kThreeByteLead) {
      out.push_back(static_cast<char16_t>(((lead - kTwoByteLead) << 8) | view.bytes[i + 1]));
      i += 2;
    } else {
      out.push_back(static_cast<char16_t>((view.bytes[i + 1] << 8) | view.bytes[i + 2]));
      i += 3;
    }
  }
}

Text ItemStore::KeyOf(const Entry& entry) {
  Text text;
  KeyOf(entry, text);
  return text;
}

bool ItemStore::KeyLess::operator()(KeyRecord a, KeyRecord b) const {
  const EncodedView left = ViewOf(a);
  const EncodedView right = ViewOf(b);
  const int order = std::memcmp(left.bytes, right.bytes, std::min(left.size, right.size));
  if (order != 0) return order < 0;
  return left.size < right.size;
}

// --- Spellings ---
//
// A spelling record: the number of units where the spelling differs from its key (LEB128),
// then for each the distance from the previous one (LEB128; the first counts from before the
// start) and the unit, encoded as in keys.

namespace {

void PutNumber(std::vector<std::uint8_t>& out, std::size_t value) {
  for (;; value >>= 7) {
    if (value < 0x80) {
      out.push_back(static_cast<std::uint8_t>(value));
      return;
    }
    out.push_back(static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
  }
}

std::size_t TakeNumber(const std::uint8_t*& bytes) {
  std::size_t value = 0;
  for (int shift = 0;; shift += 7) {
    const std::uint8_t byte = *bytes++;
    value |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return value;
  }
}

void PutUnit(std::vector<std::uint8_t>& out, char16_t unit) {
  if (unit < 0x80) {
    out.push_back(static_cast<std::uint8_t>(unit));
  } else if (unit < 0x4000) {
    out.push_back(static_cast<std::uint8_t>(kTwoByteLead + (unit >> 8)));
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  } else {
    out.push_back(kThreeByteLead);
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  }
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

}  // namespace

std::uint32_t ItemStore::AddSpelling(TextView key, TextView spelling) {
  if (spelling.empty() || spelling.size() != key.size() || spelling == key) return 0;
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
  auto* copy = static_cast<std::uint8_t*>(arena_.Allocate(record.size(), 1));
  std::memcpy(copy, record.data(), record.size());
  spellings_.push_back(copy);
  return static_cast<std::uint32_t>(spellings_.size());
}

void ItemStore::SpellingOf(const Entry& entry, Text& out) const {
  KeyOf(entry, out);
  if (entry.second.spelling == 0) return;
  const std::uint8_t* bytes = spellings_[entry.second.spelling - 1];
  std::size_t position = 0;
  for (std::size_t count = TakeNumber(bytes); count > 0; --count) {
    position += TakeNumber(bytes);
    out[position++] = TakeUnit(bytes);
  }
}

Text ItemStore::SpellingOf(const Entry& entry) const {
  Text text;
  SpellingOf(entry, text);
  return text;
}

// --- ItemStore ---

const ItemStore::Entry& ItemStore::Store(TextView key, std::uint64_t size,
                                         std::uint32_t anchor_length, TextView spelling) {
  const KeyRecord probe = Encode(key);
  auto it = map_.lower_bound(probe);
  if (it != map_.end() && !KeyLess()(probe, it->first)) {
    it->second.size = size;
    it->second.anchor_length =
        std::min<std::uint32_t>(it->second.anchor_length, anchor_length) & kAnchorMask;
    it->second.identity = {};
    if (!spelling.empty()) {
      Text current;
      SpellingOf(*it, current);
      if (current != spelling) it->second.spelling = AddSpelling(key, spelling);
    }
    return *it;
  }
  auto* copy = static_cast<std::uint8_t*>(arena_.Allocate(scratch_.size(), 1));
  std::memcpy(copy, scratch_.data(), scratch_.size());
  ItemRecord record;
  record.size = size;
  record.anchor_length = anchor_length & kAnchorMask;
  record.spelling = AddSpelling(key, spelling);
  return *map_.emplace_hint(it, copy, record);
}

const ItemStore::Entry* ItemStore::Find(TextView key) const {
  const auto it = map_.find(Encode(key));
  return it == map_.end() ? nullptr : &*it;
}

bool ItemStore::Erase(TextView key) { return map_.erase(Encode(key)) != 0; }

std::size_t ItemStore::EraseBelow(TextView prefix) {
  // The keys that start with `prefix` follow it in the order without a gap.
  auto it = map_.upper_bound(Encode(prefix));
  std::size_t erased = 0;
  Text key;
  while (it != map_.end()) {
    KeyOf(*it, key);
    if (key.size() <= prefix.size() || TextView(key).substr(0, prefix.size()) != prefix) break;
    it = map_.erase(it);
    ++erased;
  }
  return erased;
}

void ItemStore::Clear() {
  map_.clear();
  spellings_.clear();
  arena_.Release();
}

}  // namespace nulvane::items
