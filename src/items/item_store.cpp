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

// --- ItemStore ---

const ItemStore::Entry& ItemStore::Store(TextView key, std::uint64_t size,
                                         std::uint32_t anchor_length) {
  const KeyRecord probe = Encode(key);
  auto it = map_.lower_bound(probe);
  if (it != map_.end() && !KeyLess()(probe, it->first)) {
    it->second.size = size;
    it->second.anchor_length = std::min(it->second.anchor_length, anchor_length);
    it->second.identity = {};
    return *it;
  }
  auto* copy = static_cast<std::uint8_t*>(arena_.Allocate(scratch_.size(), 1));
  std::memcpy(copy, scratch_.data(), scratch_.size());
  ItemRecord record;
  record.size = size;
  record.anchor_length = anchor_length;
  return *map_.emplace_hint(it, copy, record);
}

const ItemStore::Entry* ItemStore::Find(TextView key) const {
  const auto it = map_.find(Encode(key));
  return it == map_.end() ? nullptr : &*it;
}

void ItemStore::Clear() {
  map_.clear();
  arena_.Release();
}

}  // namespace nulvane::items
