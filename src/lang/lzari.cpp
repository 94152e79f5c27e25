#include "lang/lzari.h"

#include <algorithm>
#include <limits>

namespace nulvane::lang {

namespace {

constexpr int kN = LZARI::kWindowSize;
constexpr int kF = LZARI::kLongestMatch;
constexpr int kCodes = LZARI::kCodeCount;

// Coder precision M = 15: the registers span Q4 = 2^(M + 2).
constexpr int kPrecision = 15;
constexpr std::uint32_t kQ1 = 1u << kPrecision;
constexpr std::uint32_t kQ2 = 2 * kQ1;
constexpr std::uint32_t kQ3 = 3 * kQ1;
constexpr std::uint32_t kQ4 = 4 * kQ1;
constexpr std::uint16_t kMaxCum = kQ1 - 1;  // the character model rescales at this total

constexpr std::uint32_t PositionTotal() {
  std::uint32_t total = 0;
  for (int i = 1; i <= kN; ++i) total += 10000u / static_cast<std::uint32_t>(i + 200);
  return total;
}
// range (at most Q4) times a cumulative count must fit in 32 bits, and the counts in 16 bits.
static_assert(PositionTotal() < kQ1);
static_assert(std::uint64_t{kQ4} * (kQ1 - 1) <= std::numeric_limits<std::uint32_t>::max());

}  // namespace

std::mutex LZARI::description_mutex_;
const unsigned char* LZARI::input_ = nullptr;
std::uint32_t LZARI::input_position_ = 0;
std::uint32_t LZARI::input_size_ = 0;
unsigned char* LZARI::output_ = nullptr;
std::uint32_t LZARI::output_length_ = 0;
std::uint32_t LZARI::output_capacity_ = 0;

LZARI::LZARI() : high_(kQ4) {}

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
  std::lock_guard<std::mutex> lock(description_mutex_);
  DecodeLocked(input, input_size_, output, output_capacity_);
}

void LZARI::DecodeLocked(const unsigned char* input, std::uint32_t input_size,
                         unsigned char* output, std::uint32_t output_capacity) {
  // The bit reader and PutByte work on the class-wide description; the sizes the caller set
  // through the setters are put back afterwards.
  const std::uint32_t caller_input_size = input_size_;
  const std::uint32_t caller_output_capacity = output_capacity_;
  input_ = input;
  input_size_ = input == nullptr ? 0 : input_size;
  input_position_ = 0;
  output_ = output;
  output_capacity_ = output == nullptr ? 0 : output_capacity;
  output_length_ = 0;
  ResetCoder();

  // A blob shorter than its header holds no text: none of its bytes is read, so nothing past
  // its end is touched, and the size is 0.
  uncompressed_size_ = 0;
  if (input_size_ >= kHeaderSize) {
    for (std::uint32_t i = 0; i < kHeaderSize; ++i) {
      uncompressed_size_ |= static_cast<std::uint32_t>(input_[i]) << (8 * i);
    }
    input_position_ = kHeaderSize;
  }

  // Bytes beyond capacity - 1 are never stored and leave no other trace, so decoding ends
  // once the output is full: a corrupt header claiming 4 GiB costs no more work than the
  // capacity allows. A header of 0 ends here without reading further input.
  const std::uint32_t storable =
      output_capacity_ == 0 ? 0 : std::min(uncompressed_size_, output_capacity_ - 1);
  if (storable > 0) DecodeText(storable);

  input_ = nullptr;
  input_size_ = caller_input_size;
  input_position_ = 0;
  output_ = nullptr;
  output_capacity_ = caller_output_capacity;
  output_length_ = 0;
}

void LZARI::DecodeText(std::uint32_t size) {
  StartModel();
  for (int i = 0; i < kPrecision + 2; ++i) {
    value_ = 2 * value_ + static_cast<std::uint32_t>(GetBit());
  }
  // Positions the stream has not written yet read as 0 (a corrupt stream may refer to them).
  std::fill(ring_, ring_ + kN, static_cast<unsigned char>(0));
  std::fill(ring_, ring_ + (kN - kF), static_cast<unsigned char>(' '));
  int r = kN - kF;
  std::uint32_t count = 0;
  while (count < size) {
    const int code = DecodeChar();
    if (code < 256) {
      const auto byte = static_cast<unsigned char>(code);
      PutByte(byte);
      ring_[r] = byte;
      r = (r + 1) & (kN - 1);
      ++count;
      continue;
    }
    const int start = (r - DecodePosition() - 1) & (kN - 1);
    const int length = code - 255 + kThreshold;
    // A corrupt stream may end a match past the declared size; those bytes are not text.
    for (int k = 0; k < length && count < size; ++k) {
      const unsigned char byte = ring_[(start + k) & (kN - 1)];
      PutByte(byte);
      ring_[r] = byte;
      r = (r + 1) & (kN - 1);
      ++count;
    }
  }
}

void LZARI::ResetCoder() {
  low_ = 0;
  high_ = kQ4;
  value_ = 0;
  input_byte_ = 0;
  bit_mask_ = 0;
}

void LZARI::StartModel() {
  sym_cum_[kCodes] = 0;
  for (int sym = kCodes; sym >= 1; --sym) {
    const int ch = sym - 1;
    char_to_sym_[ch] = static_cast<std::uint16_t>(sym);
    sym_to_char_[sym] = static_cast<std::uint16_t>(ch);
    sym_freq_[sym] = 1;
    sym_cum_[sym - 1] = static_cast<std::uint16_t>(sym_cum_[sym] + sym_freq_[sym]);
  }
  sym_freq_[0] = 0;  // sentinel: differs from every real frequency, ends UpdateModel's walk
  position_cum_[kN] = 0;
  for (int i = kN; i >= 1; --i) {
    position_cum_[i - 1] = static_cast<std::uint16_t>(position_cum_[i] + 10000 / (i + 200));
  }
}

int LZARI::GetBit() {
  bit_mask_ >>= 1;
  if (bit_mask_ == 0) {
    // Past the end every bit reads as 1.
    input_byte_ = input_position_ < input_size_ ? input_[input_position_++] : std::uint16_t{0xFFFF};
    bit_mask_ = 0x80;
  }
  return (input_byte_ & bit_mask_) != 0 ? 1 : 0;
}

void LZARI::Normalize() {
  for (;;) {
    if (low_ >= kQ2) {
      value_ -= kQ2;
      low_ -= kQ2;
      high_ -= kQ2;
    } else if (low_ >= kQ1 && high_ <= kQ3) {
      value_ -= kQ1;
      low_ -= kQ1;
      high_ -= kQ1;
    } else if (high_ > kQ2) {
      return;
    }
    low_ += low_;
    high_ += high_;
    value_ = 2 * value_ + static_cast<std::uint32_t>(GetBit());
  }
}

// After Normalize, high - low > Q1 exceeds every model total and each symbol's count is at
// least 1, so each narrowing leaves a non-empty interval: the divisions below never see 0.
// With any input bits, low <= value < high holds, so x stays below the model total.
int LZARI::DecodeChar() {
  const std::uint32_t range = high_ - low_;
  const std::uint32_t total = sym_cum_[0];
  const std::uint32_t x = ((value_ - low_ + 1) * total - 1) / range;
  // The smallest symbol s in 1..314 with sym_cum_[s] <= x.
  int i = 1;
  int j = kCodes;
  while (i < j) {
    const int k = (i + j) / 2;
    if (sym_cum_[k] > x) {
      i = k + 1;
    } else {
      j = k;
    }
  }
  const int sym = i;
  high_ = low_ + range * sym_cum_[sym - 1] / total;
  low_ += range * sym_cum_[sym] / total;
  Normalize();
  const int ch = sym_to_char_[sym];
  UpdateModel(sym);
  return ch;
}

int LZARI::DecodePosition() {
  const std::uint32_t range = high_ - low_;
  const std::uint32_t total = position_cum_[0];
  const std::uint32_t x = ((value_ - low_ + 1) * total - 1) / range;
  // One less than the smallest i in 1..4096 with position_cum_[i] <= x.
  int i = 1;
  int j = kN;
  while (i < j) {
    const int k = (i + j) / 2;
    if (position_cum_[k] > x) {
      i = k + 1;
    } else {
      j = k;
    }
  }
  const int position = i - 1;
  high_ = low_ + range * position_cum_[position] / total;
  low_ += range * position_cum_[position + 1] / total;
  Normalize();
  return position;
}

void LZARI::UpdateModel(int symbol) {
  if (sym_cum_[0] >= kMaxCum) {
    std::uint16_t sum = 0;
    for (int i = kCodes; i > 0; --i) {
      sym_cum_[i] = sum;
      sym_freq_[i] = static_cast<std::uint16_t>((sym_freq_[i] + 1) / 2);
      sum = static_cast<std::uint16_t>(sum + sym_freq_[i]);
    }
    sym_cum_[0] = sum;
  }
  int i = symbol;
  while (sym_freq_[i] == sym_freq_[i - 1]) --i;
  if (i < symbol) {
    const std::uint16_t ch_i = sym_to_char_[i];
    const std::uint16_t ch_symbol = sym_to_char_[symbol];
    sym_to_char_[i] = ch_symbol;
    sym_to_char_[symbol] = ch_i;
    char_to_sym_[ch_i] = static_cast<std::uint16_t>(symbol);
    char_to_sym_[ch_symbol] = static_cast<std::uint16_t>(i);
  }
  ++sym_freq_[i];
  while (--i >= 0) ++sym_cum_[i];
}

void LZARI::PutByte(unsigned char byte) {
  // output_length_ < capacity - 1 here, so the sum cannot wrap.
  if (output_length_ + 1 < output_capacity_) output_[output_length_++] = byte;
}

std::vector<unsigned char> DecodeLzariBlob(const unsigned char* blob, std::size_t blob_size,
                                           std::size_t capacity, std::uint32_t& uncompressed_size) {
  uncompressed_size = 0;
  if (blob == nullptr || blob_size < LZARI::kHeaderSize) return {};
  std::uint32_t header = 0;
  for (std::uint32_t i = 0; i < LZARI::kHeaderSize; ++i) {
    header |= static_cast<std::uint32_t>(blob[i]) << (8 * i);
  }
  uncompressed_size = header;
  // The decoder stores at most min(header, capacity - 1) bytes: size the buffer for exactly
  // that and hand the decoder the matching capacity. Capping the input size at 4 GiB - 1 only
  // shortens what may be read; no valid blob is that large.
  const std::uint32_t capacity32 = static_cast<std::uint32_t>(
      std::min<std::size_t>(capacity, std::numeric_limits<std::uint32_t>::max()));
  const std::uint32_t storable = capacity32 == 0 ? 0 : std::min(header, capacity32 - 1);
  std::vector<unsigned char> text(storable);
  if (storable == 0) return text;
  const auto input_size = static_cast<std::uint32_t>(
      std::min<std::size_t>(blob_size, std::numeric_limits<std::uint32_t>::max()));
  LZARI decoder;
  std::lock_guard<std::mutex> lock(LZARI::description_mutex_);
  decoder.DecodeLocked(blob, input_size, text.data(), storable + 1);
  return text;
}

}  // namespace nulvane::lang
