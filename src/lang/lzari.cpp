#include "lang/lzari.h"

#include <algorithm>
#include <array>
#include <limits>

namespace nulvane::lang {

namespace {

constexpr int kN = LzariStream::kWindowSize;
constexpr int kF = LzariStream::kLongestMatch;
constexpr int kCodes = LzariStream::kCodeCount;

// Coder precision M = 15: the registers span Q4 = 2^(M + 2).
constexpr int kPrecision = 15;
constexpr std::uint32_t kQ1 = 1u << kPrecision;
constexpr std::uint32_t kQ2 = 2 * kQ1;
constexpr std::uint32_t kQ3 = 3 * kQ1;
constexpr std::uint32_t kQ4 = 4 * kQ1;
constexpr std::uint32_t kMaxCum = kQ1 - 1;  // the character model rescales at this total

// The fixed position model: entry i is the cumulative count of positions i..4095.
using PositionTable = std::array<std::uint16_t, kN + 1>;
constexpr PositionTable MakePositionTable() {
  PositionTable table{};
  table[kN] = 0;
  for (int i = kN; i >= 1; --i) {
    table[i - 1] = static_cast<std::uint16_t>(table[i] + 10000 / (i + 200));
  }
  return table;
}
constexpr PositionTable kPositionCum = MakePositionTable();

// The smallest i in 1..4096 with kPositionCum[i] <= x.
constexpr int PositionAbove(std::uint32_t x) {
  int i = 1;
  int j = kN;
  while (i < j) {
    const int k = (i + j) / 2;
    if (kPositionCum[k] > x) {
      i = k + 1;
    } else {
      j = k;
    }
  }
  return i;
}

// PositionAbove at the start of every 64 values of x: the answer for any x lies between those
// of its bucket's start and the next bucket's, a handful of positions apart.
constexpr int kBucketShift = 6;
constexpr int kBuckets = (kQ1 >> kBucketShift) + 1;
using BucketTable = std::array<std::uint16_t, kBuckets + 1>;
constexpr BucketTable MakeBucketTable() {
  BucketTable table{};
  for (int b = 0; b <= kBuckets; ++b) {
    table[b] =
        static_cast<std::uint16_t>(PositionAbove(static_cast<std::uint32_t>(b) << kBucketShift));
  }
  return table;
}
constexpr BucketTable kBucketStart = MakeBucketTable();

// range (at most Q4) times a cumulative count must fit in 32 bits, and the counts in 16 bits.
static_assert(kPositionCum[0] < kQ1);
static_assert(std::uint64_t{kQ4} * (kQ1 - 1) <= std::numeric_limits<std::uint32_t>::max());

std::uint32_t ReadHeader(const unsigned char* blob) {
  std::uint32_t size = 0;
  for (std::uint32_t i = 0; i < LzariStream::kHeaderSize; ++i) {
    size |= static_cast<std::uint32_t>(blob[i]) << (8 * i);
  }
  return size;
}

}  // namespace

LzariStream::LzariStream(const unsigned char* blob, std::size_t size) {
  // A blob shorter than its header holds no text: none of its bytes is read.
  if (blob == nullptr || size < kHeaderSize) return;
  input_ = blob;
  // Capping the input at 4 GiB - 1 only shortens what may be read; no valid blob is so large.
  input_size_ = static_cast<std::uint32_t>(
      std::min<std::size_t>(size, std::numeric_limits<std::uint32_t>::max()));
  size_ = ReadHeader(blob);
  input_position_ = kHeaderSize;
}

void LzariStream::Start() {
  started_ = true;
  for (int sym = 1; sym <= kCodes; ++sym) {
    char_to_sym_[sym - 1] = static_cast<std::uint16_t>(sym);
    sym_to_char_[sym] = static_cast<std::uint16_t>(sym - 1);
    sym_freq_[sym] = 1;
  }
  sym_freq_[0] = 0;
  RebuildTree();
  low_ = 0;
  high_ = kQ4;
  value_ = GetBits(kPrecision + 2);
  // Positions the stream has not written yet read as 0 (a corrupt stream may refer to them).
  std::fill(ring_, ring_ + kN, static_cast<unsigned char>(0));
  std::fill(ring_, ring_ + (kN - kF), static_cast<unsigned char>(' '));
  r_ = kN - kF;
}

std::size_t LzariStream::Read(unsigned char* out, std::size_t count) {
  std::size_t done = 0;
  if (produced_ >= size_ || count == 0) return 0;
  if (!started_) Start();
  while (done < count && produced_ < size_) {
    unsigned char byte;
    if (match_left_ > 0) {
      byte = ring_[match_from_];
      match_from_ = (match_from_ + 1) & (kN - 1);
      --match_left_;
    } else {
      const int code = DecodeChar();
      if (code >= 256) {
        match_from_ = (r_ - DecodePosition() - 1) & (kN - 1);
        match_left_ = code - 255 + kThreshold;
        continue;
      }
      byte = static_cast<unsigned char>(code);
    }
    out[done++] = byte;
    ring_[r_] = byte;
    r_ = (r_ + 1) & (kN - 1);
    ++produced_;
  }
  // A corrupt stream may end a match past the declared size; those bytes are not text.
  if (produced_ >= size_) match_left_ = 0;
  return done;
}

std::uint32_t LzariStream::GetBits(int count) {
  // The bits are taken most significant first from a buffer refilled a byte at a time; past
  // the end of the input every bit reads as 1.
  while (bit_count_ < count) {
    const std::uint64_t byte = input_position_ < input_size_ ? input_[input_position_++] : 0xFFu;
    bits_ = (bits_ << 8) | byte;
    bit_count_ += 8;
  }
  bit_count_ -= count;
  return static_cast<std::uint32_t>(bits_ >> bit_count_) & ((1u << count) - 1);
}

// Scales the interval up until it spans more than a quarter of the registers' range. A run of
// steps in which low and high lie in the same half (E1, E2) shifts out the bits low and high - 1
// share at the top, all at once; the middle case (E3) is taken a step at a time. The outcome is
// that of the classic loop, which takes every step alone.
void LzariStream::Normalize() {
  constexpr std::uint32_t kMask = kQ4 - 1;
  for (;;) {
    const std::uint32_t shared = (low_ ^ (high_ - 1)) & kMask;
    if ((shared & kQ2) == 0) {
      // The leading bits low and high - 1 share, of their 17 (at least one).
      const int steps = shared == 0 ? kPrecision + 2 : __builtin_clz(shared) - (31 - 16);
      low_ = (low_ << steps) & kMask;
      high_ = ((((high_ - 1) << steps) & kMask) | ((1u << steps) - 1)) + 1;
      value_ = ((value_ << steps) | GetBits(steps)) & kMask;
      continue;
    }
    if (low_ >= kQ1 && high_ <= kQ3) {
      value_ -= kQ1;
      low_ -= kQ1;
      high_ -= kQ1;
      low_ += low_;
      high_ += high_;
      value_ = 2 * value_ + GetBits(1);
      continue;
    }
    return;
  }
}

void LzariStream::AddCount(int symbol, std::uint32_t amount) {
  for (int i = symbol; i <= kTreeSize; i += i & -i) tree_[i] += amount;
}

void LzariStream::RebuildTree() {
  std::fill(std::begin(tree_), std::end(tree_), 0u);
  total_ = 0;
  for (int i = 1; i <= kTreeSize; ++i) {
    if (i <= kCodes) {
      tree_[i] += sym_freq_[i];
      total_ += sym_freq_[i];
    }
    const int parent = i + (i & -i);
    if (parent <= kTreeSize) tree_[parent] += tree_[i];
  }
}

// After Normalize, high - low > Q1 exceeds every model total and each symbol's count is at
// least 1, so each narrowing leaves a non-empty interval: the divisions below never see 0.
// With any input bits, low <= value < high holds, so x stays below the model total.
//
// The classic model keeps cum[s], the counts of the symbols ranked below s; cum[s] = total -
// prefix(s), where prefix(s) sums the ranks 1..s. The symbol decoded is the smallest s with
// cum[s] <= x, that is the smallest s with prefix(s) >= total - x: one descent of the tree.
int LzariStream::DecodeChar() {
  const std::uint32_t range = high_ - low_;
  const std::uint32_t total = total_;
  const std::uint32_t x = ((value_ - low_ + 1) * total - 1) / range;
  std::uint32_t wanted = total - x;  // at least 1
  int below = 0;                     // ends as s - 1
  std::uint32_t prefix_below = 0;    // prefix(s - 1)
  for (int step = kTreeSize / 2; step > 0; step >>= 1) {
    const int next = below + step;
    if (next <= kTreeSize && tree_[next] < wanted) {
      below = next;
      wanted -= tree_[next];
      prefix_below += tree_[next];
    }
  }
  const int sym = std::min(below + 1, kCodes);
  const std::uint32_t cum_above = total - prefix_below;  // cum[s - 1]
  const std::uint32_t cum = cum_above - sym_freq_[sym];  // cum[s]
  high_ = low_ + range * cum_above / total;
  low_ += range * cum / total;
  Normalize();
  const int ch = sym_to_char_[sym];
  UpdateModel(sym);
  return ch;
}

int LzariStream::DecodePosition() {
  const std::uint32_t range = high_ - low_;
  const std::uint32_t total = kPositionCum[0];
  const std::uint32_t x = ((value_ - low_ + 1) * total - 1) / range;
  // One less than the smallest i in 1..4096 with kPositionCum[i] <= x, looked for between the
  // answers at the edges of x's bucket (x stays below the total, which is below Q1).
  const std::uint32_t bucket = std::min<std::uint32_t>(x >> kBucketShift, kBuckets - 1);
  int i = kBucketStart[bucket + 1];
  int j = kBucketStart[bucket];
  while (i < j) {
    const int k = (i + j) / 2;
    if (kPositionCum[k] > x) {
      i = k + 1;
    } else {
      j = k;
    }
  }
  const int position = i - 1;
  high_ = low_ + range * kPositionCum[position] / total;
  low_ += range * kPositionCum[position + 1] / total;
  Normalize();
  return position;
}

// The symbol moves to the front of the run of symbols with its frequency (they are ranked by
// falling frequency, so that run is found by a binary search), and its count grows by one.
void LzariStream::UpdateModel(int symbol) {
  if (total_ >= kMaxCum) {
    for (int i = 1; i <= kCodes; ++i) {
      sym_freq_[i] = static_cast<std::uint16_t>((sym_freq_[i] + 1) / 2);
    }
    RebuildTree();
  }
  const std::uint16_t frequency = sym_freq_[symbol];
  int first = 1;
  int last = symbol;
  while (first < last) {
    const int middle = (first + last) / 2;
    if (sym_freq_[middle] > frequency) {
      first = middle + 1;
    } else {
      last = middle;
    }
  }
  const int i = first;
  if (i < symbol) {
    const std::uint16_t ch_i = sym_to_char_[i];
    const std::uint16_t ch_symbol = sym_to_char_[symbol];
    sym_to_char_[i] = ch_symbol;
    sym_to_char_[symbol] = ch_i;
    char_to_sym_[ch_i] = static_cast<std::uint16_t>(symbol);
    char_to_sym_[ch_symbol] = static_cast<std::uint16_t>(i);
  }
  ++sym_freq_[i];
  AddCount(i, 1);
  ++total_;
}

std::mutex LZARI::description_mutex_;
std::uint32_t LZARI::input_size_ = 0;
std::uint32_t LZARI::output_capacity_ = 0;

LZARI::LZARI() = default;

LZARI::~LZARI() = default;

void LZARI::SetInputSize(std::uint32_t bytes) {
  std::lock_guard<std::mutex> lock(description_mutex_);
  input_size_ = bytes;
}

void LZARI::SetOutputCapacity(std::uint32_t bytes) {
  std::lock_guard<std::mutex> lock(description_mutex_);
  output_capacity_ = bytes;
}

void LZARI::DecodeLzariFromMemory(const unsigned char* input, unsigned char* output) {
  std::uint32_t input_size = 0;
  std::uint32_t output_capacity = 0;
  {
    std::lock_guard<std::mutex> lock(description_mutex_);
    input_size = input_size_;
    output_capacity = output_capacity_;
  }
  Decode(input, input_size, output, output_capacity);
}

void LZARI::Decode(const unsigned char* input, std::uint32_t input_size, unsigned char* output,
                   std::uint32_t output_capacity) {
  LzariStream stream(input, input == nullptr ? 0 : input_size);
  uncompressed_size_ = stream.Size();
  // Bytes beyond capacity - 1 are never stored and leave no other trace, so decoding ends
  // once the output is full: a corrupt header claiming 4 GiB costs no more work than the
  // capacity allows. A header of 0 ends here without reading further input.
  const std::uint32_t capacity = output == nullptr ? 0 : output_capacity;
  const std::uint32_t storable = capacity == 0 ? 0 : std::min(stream.Size(), capacity - 1);
  if (storable > 0) stream.Read(output, storable);
}

std::vector<unsigned char> DecodeLzariBlob(const unsigned char* blob, std::size_t blob_size,
                                           std::size_t capacity, std::uint32_t& uncompressed_size) {
  LzariStream stream(blob, blob_size);
  uncompressed_size = stream.Size();
  // The decoder stores at most min(header, capacity - 1) bytes: the buffer holds exactly that.
  const std::uint32_t capacity32 = static_cast<std::uint32_t>(
      std::min<std::size_t>(capacity, std::numeric_limits<std::uint32_t>::max()));
  const std::uint32_t storable = capacity32 == 0 ? 0 : std::min(stream.Size(), capacity32 - 1);
  std::vector<unsigned char> text(storable);
  if (storable > 0) stream.Read(text.data(), storable);
  return text;
}

}  // namespace nulvane::lang
