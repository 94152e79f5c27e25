#include "lang/lzari.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nulvane::lang {

namespace {

constexpr int kN = LzariStream::kWindowSize;
constexpr int kF = LzariStream::kLongestMatch;
constexpr int kCodes = LzariStream::kCodeCount;

// Coder precision M = 15: the registers span Q4 = 2^(M + 2).
constexpr int kPrecision = 15;
constexpr std::uint32_t kQ1 = 1u << kPrecision;
constexpr std::uint32_t kQ2 = 2 * kQ1;
constexpr std::uint32_t kQ4 = 4 * kQ1;
constexpr std::uint32_t kMaxCum = kQ1 - 1;  // the character model rescales at this total

// How many positions apart the answers at the two edges of a bucket of the position search
// (below) lie at most; checked where the buckets are made.
constexpr int kBucketWidth = 4;

// The fixed position model: entry i is the cumulative count of positions i..4095. The zeros
// after entry 4096 let the search read a whole bucket's width from any start.
using PositionTable = std::array<std::uint16_t, kN + kBucketWidth>;
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

// PositionAbove at the start of every 8 values of x: the answer for any x lies between those
// of its bucket's start and the next bucket's, at most kBucketWidth positions apart.
constexpr int kBucketShift = 3;
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

constexpr int WidestBucket() {
  int widest = 0;
  for (int b = 0; b < kBuckets; ++b)
    widest = std::max(widest, kBucketStart[b] - kBucketStart[b + 1]);
  return widest;
}
static_assert(WidestBucket() <= kBucketWidth);

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
  coder_.input_position = kHeaderSize;
}

void LzariStream::Start() {
  started_ = true;
  for (int sym = 1; sym <= kCodes; ++sym) {
    sym_to_char_[sym] = static_cast<std::uint16_t>(sym - 1);
    sym_freq_[sym] = 1;
  }
  sym_freq_[0] = 0;
  // Indexed by frequency + 1 at most, which stays at or below the rescaling total.
  run_start_ = std::make_unique<std::uint16_t[]>(kMaxCum + 1);
  RebuildCounts();
  total_ = Reciprocal(sym_cum_[0]);
  coder_.low = 0;
  coder_.high = kQ4;
  Refill(coder_);
  coder_.value = GetBits(coder_, kPrecision + 2);
  // The window starts as N - F spaces, then bytes the stream has not written yet, which read
  // as 0 (a corrupt stream may refer to them): the N bytes before r_ = N - F in the ring.
  std::fill(ring_, ring_ + kRingSize, static_cast<unsigned char>(0));
  std::fill(ring_, ring_ + (kN - kF), static_cast<unsigned char>(' '));
  r_ = kN - kF;
}

std::size_t LzariStream::Read(unsigned char* out, std::size_t count) {
  if (produced_ >= size_ || count == 0) return 0;
  if (!started_) Start();
  // The loop keeps its state in locals: every store to `out` may alias any member.
  const std::size_t wanted = std::min<std::size_t>(count, size_ - produced_);
  std::size_t done = 0;
  int r = r_;
  Coder coder = coder_;
  constexpr int kRingMask = kRingSize - 1;
  while (done < wanted) {
    if (match_left_ > 0) {
      // A match cut short by the end of the last Read, or one the block copy below cannot take.
      const int copy = static_cast<int>(std::min<std::size_t>(match_left_, wanted - done));
      int from = match_from_;
      for (int k = 0; k < copy; ++k) {
        const unsigned char byte = ring_[from];
        from = (from + 1) & kRingMask;
        out[done++] = byte;
        ring_[r] = byte;
        r = (r + 1) & kRingMask;
      }
      match_from_ = from;
      match_left_ -= copy;
      continue;
    }
    // Enough bits for a symbol and, when it is a match, its position: 17 at most each.
    Refill(coder);
    const int code = DecodeChar(coder);
    if (code < 256) {
      const auto byte = static_cast<unsigned char>(code);
      out[done++] = byte;
      ring_[r] = byte;
      r = (r + 1) & kRingMask;
      continue;
    }
    const int distance = DecodePosition(coder) + 1;  // 1 .. N
    const int from = (r - distance) & kRingMask;
    const int length = code - 255 + kThreshold;  // 3 .. F
    // The match moves in 16-byte blocks, whole ones, where
    //  - neither the match nor its source wraps around the end of the ring (what runs past
    //    the end lands in the spare bytes after it);
    //  - `out` has room for the last block's excess, which later bytes of this Read overwrite;
    //  - every byte a block reads was there before the block: the source ends before r (the
    //    match is no longer than its distance), or the distance is a block or more, so a
    //    match that repeats itself reads only what earlier blocks wrote.
    // What a block writes past the match in the ring is ahead of r, over bytes more than a
    // window back (see ring_), and written again before the window reaches it.
    if (r + length <= kRingSize && from + length <= kRingSize && wanted - done >= 4 * kBlock &&
        (distance >= length || distance >= kBlock)) {
      for (int k = 0; k < length; k += kBlock) {
        unsigned char block[kBlock];
        std::memcpy(block, ring_ + from + k, kBlock);
        std::memcpy(ring_ + r + k, block, kBlock);
        std::memcpy(out + done + static_cast<std::size_t>(k), block, kBlock);
      }
      done += static_cast<std::size_t>(length);
      r = (r + length) & kRingMask;
      continue;
    }
    match_from_ = from;
    match_left_ = length;
  }
  r_ = r;
  coder_ = coder;
  produced_ += static_cast<std::uint32_t>(done);
  // A corrupt stream may end a match past the declared size; those bytes are not text.
  if (produced_ >= size_) match_left_ = 0;
  return done;
}

// Takes the next `count` bits (1 to 32, no more than the buffer holds), most significant first.
inline std::uint32_t LzariStream::GetBits(Coder& coder, int count) const {
  coder.bit_count -= count;
  return static_cast<std::uint32_t>(coder.bits >> coder.bit_count) &
         static_cast<std::uint32_t>((std::uint64_t{1} << count) - 1);
}

// Tops the buffer up to 56..63 bits, whole bytes: more than the 2 x 17 that a symbol and its
// position take at most, so Read refills once per symbol. Past the end of the input every bit
// reads as 1. Away from the end, the bytes that fit come from one 8-byte load, without a loop
// or a branch that depends on the count.
inline void LzariStream::Refill(Coder& coder) const {
  if (input_size_ - coder.input_position >= 8) {
    std::uint64_t next = 0;
    std::memcpy(&next, input_ + coder.input_position, sizeof next);
    if constexpr (std::endian::native == std::endian::little) next = __builtin_bswap64(next);
    const int bytes = (63 - coder.bit_count) >> 3;
    // Shifted in two steps: a shift by 64, for no byte, is undefined.
    coder.bits = (coder.bits << (8 * bytes)) | ((next >> 1) >> (63 - 8 * bytes));
    coder.bit_count += 8 * bytes;
    coder.input_position += static_cast<std::uint32_t>(bytes);
    return;
  }
  while (coder.bit_count <= 55) {
    const std::uint64_t byte =
        coder.input_position < input_size_ ? input_[coder.input_position++] : 0xFFu;
    coder.bits = (coder.bits << 8) | byte;
    coder.bit_count += 8;
  }
}

// Scales the interval up until it spans more than a quarter of the registers' range, with the
// outcome of the classic loop that takes one step at a time:
//  - E1/E2 (low and high - 1 in the same half) shifts out the bits low and high - 1 share at
//    the top. Afterwards they differ in their top bit: low lies in the lower half, high - 1 in
//    the upper.
//  - E3 (low and high - 1 in the middle two quarters) then removes the second bit of every
//    register and shifts the rest up, keeping the top bit. Neither this nor the top bits'
//    difference lets E1/E2 apply again, so the E3 steps run while low's second bit is 1 and
//    high - 1's is 0: as many as low & ~(high - 1) has leading ones after the bit where they
//    first differ.
// After both runs neither case applies, so the classic loop would stop there too. Both counts
// come from the registers as they are, and the registers move once by their sum, at most 17:
// where they first differ low has 0 and high - 1 has 1, and that bit becomes the top bit, so
// the top bits after both runs are known without stepping through them.
inline void LzariStream::Normalize(Coder& coder) const {
  constexpr std::uint32_t kMask = kQ4 - 1;
  constexpr std::uint32_t kLowerBits = kQ2 - 1;  // all but the top bit
  constexpr int kBits = kPrecision + 2;          // 17
  const std::uint32_t low = coder.low;
  const std::uint32_t top = coder.high - 1;  // high - 1: the last value inside the interval
  // value followed by the next 17 input bits, more than both runs can take; the buffer holds
  // them (see Refill).
  const std::uint64_t ahead =
      (std::uint64_t{coder.value} << kBits) | ((coder.bits >> (coder.bit_count - kBits)) & kMask);
  // E1/E2: the leading bits low and high - 1 share, of their 17 (all 17 when they are equal).
  const std::uint32_t differ = (low ^ top) & kMask;
  const int steps = differ == 0 ? kBits : __builtin_clz(differ) - (31 - 16);
  // E3: the bits after the first difference where low has 1 and high - 1 has 0, counted from
  // the top of a 64-bit word; the first difference and what is shared above it are 0 in
  // low & ~top, and with 16 or 17 shared bits no bit is left after it (shifted out in two
  // steps, as one shift of 64 or more is undefined).
  const std::uint64_t middle = (std::uint64_t{low & ~top} << 47) << (steps + 1);
  const int e3_steps = __builtin_clzll(~middle);
  const int shift = steps + e3_steps;
  coder.low = (low << shift) & kLowerBits;
  coder.high = (kQ2 | (((top << shift) | ((1u << shift) - 1)) & kLowerBits)) + 1;
  // The top bit after E1/E2, which E3 keeps, then the bits that E3 shifts in after it.
  coder.value = static_cast<std::uint32_t>(((ahead >> (kBits - steps)) & kQ2) |
                                           ((ahead >> (kBits - shift)) & kLowerBits));
  coder.bit_count -= shift;
}

// Recomputes the cumulative counts from the frequencies: sym_cum_[s] sums the ranks above s.
// Recomputes the cumulative counts and the runs' first ranks from the frequencies.
void LzariStream::RebuildCounts() {
  std::uint32_t sum = 0;
  for (int s = kCodes; s > 0; --s) {
    sym_cum_[s] = static_cast<std::uint16_t>(sum);
    sum += sym_freq_[s];
    if (sym_freq_[s] != sym_freq_[s - 1]) run_start_[sym_freq_[s]] = static_cast<std::uint16_t>(s);
  }
  sym_cum_[0] = static_cast<std::uint16_t>(sum);
}

// Both helpers below read and write sym_cum_ eight entries at a time where SSE2 is there (every
// x86-64 build); the counts stay below 2^15, so signed 16-bit comparisons order them right. The
// entries past kCodeCount are padding: they stay 0 and never change the outcome.
inline int LzariStream::FirstRankAtOrBelow(std::uint32_t x) const {
#if defined(__SSE2__)
  // The loads start at rank 0 and are aligned like the stores of CountOneMoreAbove, so that
  // they take the counts just stored straight from the store buffer. Rank 0 holds the total,
  // which is above x; the floor at rank 1 only guards that. x is below the total, so below
  // 2^15; were it not, the cap still lets the 0 at kCodeCount end the scan inside the array.
  const __m128i limit = _mm_set1_epi16(static_cast<short>(std::min<std::uint32_t>(x, 0x7FFF)));
  // Two thirds of the symbols of text rank below 8 and three quarters below 16: the first 16
  // ranks are compared at once, so that the loop is entered only for the rarer rest.
  const __m128i first =
      _mm_cmpgt_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(sym_cum_)), limit);
  const __m128i second =
      _mm_cmpgt_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(sym_cum_ + 8)), limit);
  const int above16 = _mm_movemask_epi8(_mm_packs_epi16(first, second));
  if (above16 != 0xFFFF) return std::max(1, __builtin_ctz(~above16));
  for (int rank = 16;; rank += 8) {
    const __m128i counts = _mm_load_si128(reinterpret_cast<const __m128i*>(sym_cum_ + rank));
    const int above = _mm_movemask_epi8(_mm_cmpgt_epi16(counts, limit));
    if (above != 0xFFFF) return std::max(1, rank + __builtin_ctz(~above) / 2);
  }
#else
  int rank = 1;
  while (sym_cum_[rank] > x) ++rank;
  return rank;
#endif
}

// Adds 1 to sym_cum_[0..rank - 1]: the ranks before `rank` have one more count after them.
inline void LzariStream::CountOneMoreAbove(int rank) {
#if defined(__SSE2__)
  const __m128i lane = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  // The first 16 counts are written every time, as most ranks are below 16 (see above).
  for (int first = 0; first < 16; first += 8) {
    auto* at = reinterpret_cast<__m128i*>(sym_cum_ + first);
    const __m128i inside = _mm_cmpgt_epi16(_mm_set1_epi16(static_cast<short>(rank - first)), lane);
    _mm_store_si128(at, _mm_sub_epi16(_mm_load_si128(at), inside));
  }
  for (int first = 16; first < rank; first += 8) {
    auto* at = reinterpret_cast<__m128i*>(sym_cum_ + first);
    // All ones (-1) in the lanes before `rank`, subtracted to add 1 there.
    const __m128i inside = _mm_cmpgt_epi16(_mm_set1_epi16(static_cast<short>(rank - first)), lane);
    _mm_store_si128(at, _mm_sub_epi16(_mm_load_si128(at), inside));
  }
#else
  for (int k = 0; k < rank; ++k) ++sym_cum_[k];
#endif
}

// After Normalize, high - low > Q1 exceeds every model total and each symbol's count is at
// least 1, so each narrowing leaves a non-empty interval: the divisions below never see 0.
// With any input bits, low <= value < high holds, so x stays below the model total.
//
// The symbol decoded is the smallest rank s with sym_cum_[s] <= x. The ranks are ordered by
// falling frequency, so in text most symbols sit near the front: a scan from rank 1 ends after
// a few steps (about 20 on average for the language table), where a binary search or a tree
// descent would take nine dependent, mispredicted steps every time. sym_cum_[kCodes] is 0, so
// the scan always ends.
inline int LzariStream::DecodeChar(Coder& coder) {
  const std::uint32_t range = coder.high - coder.low;
  const std::uint32_t total = sym_cum_[0];
  const std::uint32_t x = ((coder.value - coder.low + 1) * total - 1) / range;
  const int sym = FirstRankAtOrBelow(x);
  // range <= Q4 = 2^17 and the counts are at most the total, below 2^15: the products stay
  // below 2^32, where the reciprocal's quotient is exact.
  coder.high = coder.low + total_.Divide(range * sym_cum_[sym - 1]);
  coder.low += total_.Divide(range * sym_cum_[sym]);
  Normalize(coder);
  const int ch = sym_to_char_[sym];
  UpdateModel(sym);
  return ch;
}

inline int LzariStream::DecodePosition(Coder& coder) const {
  const std::uint32_t range = coder.high - coder.low;
  const std::uint32_t total = kPositionCum[0];
  const std::uint32_t x = ((coder.value - coder.low + 1) * total - 1) / range;
  // One less than the smallest i in 1..4096 with kPositionCum[i] <= x, looked for between the
  // answers at the edges of x's bucket (x stays below the total, which is below Q1).
  const std::uint32_t bucket = std::min<std::uint32_t>(x >> kBucketShift, kBuckets - 1);
  // The counts fall as i grows, so the answer is the bucket's first candidate plus how many
  // of the kBucketWidth counts from there are still above x: counted, not looped over, since
  // where the walk would stop is not predictable.
  const int first = kBucketStart[bucket + 1];
  int i = first;
  for (int k = 0; k < kBucketWidth; ++k) i += kPositionCum[first + k] > x ? 1 : 0;
  const int position = i - 1;
  coder.high = coder.low + range * kPositionCum[position] / total;
  coder.low += range * kPositionCum[position + 1] / total;
  Normalize(coder);
  return position;
}

// The symbol moves to the front of the run of symbols with its frequency (they are ranked by
// falling frequency), and its count grows by one. After the first few hundred symbols such runs
// are short, so a walk back finds the front sooner than a search.
inline void LzariStream::UpdateModel(int symbol) {
  if (sym_cum_[0] >= kMaxCum) {
    for (int i = 1; i <= kCodes; ++i) {
      sym_freq_[i] = static_cast<std::uint16_t>((sym_freq_[i] + 1) / 2);
    }
    RebuildCounts();
  }
  const int frequency = sym_freq_[symbol];
  // The first rank of the run of ranks with the symbol's count, which it swaps places with
  // (with itself, where it is that rank).
  const int i = run_start_[frequency];
  const std::uint16_t ch_i = sym_to_char_[i];
  sym_to_char_[i] = sym_to_char_[symbol];
  sym_to_char_[symbol] = ch_i;
  sym_freq_[i] = static_cast<std::uint16_t>(frequency + 1);
  // Rank i leaves the front of its run for the end of the run of frequency + 1 just above it;
  // that run starts at i where there was none (rank 0 counts 0, so i = 1 has none above). A
  // frequency no rank has keeps a stale first rank, which is never read: a rank takes it
  // only through the line below, which then finds no run above and sets it.
  run_start_[frequency + 1] =
      sym_freq_[i - 1] == frequency + 1 ? run_start_[frequency + 1] : static_cast<std::uint16_t>(i);
  run_start_[frequency] = static_cast<std::uint16_t>(i + 1);
  CountOneMoreAbove(i);
  // Computed here, after this symbol's narrowing, so that its division runs while the coder
  // works on the next symbol's bits instead of in their way.
  total_ = Reciprocal(sym_cum_[0]);
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
