#include "lzari_encoder.h"

#include <cstdint>
#include <limits>
#include <memory>

namespace nulvane::tools {

namespace {

constexpr int kN = 4096;                       // ring buffer size
constexpr int kF = 60;                         // longest match
constexpr int kThreshold = 2;                  // a match must be longer than this
constexpr int kNil = kN;                       // "no node" in the search trees
constexpr int kCodes = 256 - kThreshold + kF;  // 314: literals 0..255, lengths 3..60

constexpr std::uint32_t kQ1 = 1u << 15;
constexpr std::uint32_t kQ2 = 2 * kQ1;
constexpr std::uint32_t kQ3 = 3 * kQ1;
constexpr std::uint32_t kQ4 = 4 * kQ1;
constexpr std::uint32_t kMaxCum = kQ1 - 1;

// The whole state of one encoding, about 60 KB: kept on the heap.
class Encoder {
 public:
  Encoder(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  std::vector<unsigned char> Run();

 private:
  int ReadByte() { return position_ < size_ ? data_[position_++] : -1; }

  void PutBit(int bit);
  void FlushBitBuffer();
  void Output(int bit);

  void InitTree();
  void InsertNode(int r);
  void DeleteNode(int p);

  void StartModel();
  void UpdateModel(int sym);
  void Narrow(std::uint32_t cum_high, std::uint32_t cum_low, std::uint32_t total);
  void EncodeChar(int ch);
  void EncodePosition(int position);
  void EncodeEnd();

  const unsigned char* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  std::vector<unsigned char> out_;

  unsigned int bit_buffer_ = 0;
  unsigned int bit_mask_ = 128;

  // The ring buffer carries F - 1 extra bytes mirroring its start, so that a string near the
  // end compares without wrapping. It starts zeroed, as the original's static buffer did: bytes
  // past the end of a short input take part in comparisons and so in the choice of matches.
  unsigned char text_buf_[kN + kF - 1] = {};
  int match_position_ = 0;
  int match_length_ = 0;
  // lson/rson/dad: binary search trees of the strings in the window; rson[N + 1 + c] is the
  // root of the tree of strings starting with byte c.
  int lson_[kN + 1] = {};
  int rson_[kN + 257] = {};
  int dad_[kN + 1] = {};

  std::uint32_t low_ = 0;
  std::uint32_t high_ = kQ4;
  std::uint32_t shifts_ = 0;  // pending opposite bits from straddling the midpoint
  int char_to_sym_[kCodes] = {};
  int sym_to_char_[kCodes + 1] = {};
  std::uint32_t sym_freq_[kCodes + 1] = {};
  std::uint32_t sym_cum_[kCodes + 1] = {};
  std::uint32_t position_cum_[kN + 1] = {};
};

void Encoder::PutBit(int bit) {
  if (bit != 0) bit_buffer_ |= bit_mask_;
  bit_mask_ >>= 1;
  if (bit_mask_ == 0) {
    out_.push_back(static_cast<unsigned char>(bit_buffer_));
    bit_buffer_ = 0;
    bit_mask_ = 128;
  }
}

// Seven zero bits complete any partial byte; bits left over after that are not written.
void Encoder::FlushBitBuffer() {
  for (int i = 0; i < 7; ++i) PutBit(0);
}

// One bit, then the pending opposite bits.
void Encoder::Output(int bit) {
  PutBit(bit);
  for (; shifts_ > 0; --shifts_) PutBit(bit == 0 ? 1 : 0);
}

void Encoder::InitTree() {
  for (int i = kN + 1; i <= kN + 256; ++i) rson_[i] = kNil;
  for (int i = 0; i < kN; ++i) dad_[i] = kNil;
}

// Inserts the string text_buf_[r..r+F-1] into its tree and leaves the longest match (and,
// among equally long ones, the nearest) in match_position_/match_length_. A full-length match
// replaces the older node, which would leave the window sooner.
void Encoder::InsertNode(int r) {
  int cmp = 1;
  const unsigned char* key = &text_buf_[r];
  int p = kN + 1 + key[0];
  rson_[r] = lson_[r] = kNil;
  match_length_ = 0;
  for (;;) {
    if (cmp >= 0) {
      if (rson_[p] != kNil) {
        p = rson_[p];
      } else {
        rson_[p] = r;
        dad_[r] = p;
        return;
      }
    } else {
      if (lson_[p] != kNil) {
        p = lson_[p];
      } else {
        lson_[p] = r;
        dad_[r] = p;
        return;
      }
    }
    int i = 1;
    for (; i < kF; ++i) {
      cmp = key[i] - text_buf_[p + i];
      if (cmp != 0) break;
    }
    if (i > kThreshold) {
      if (i > match_length_) {
        match_position_ = (r - p) & (kN - 1);
        match_length_ = i;
        if (match_length_ >= kF) break;
      } else if (i == match_length_) {
        const int distance = (r - p) & (kN - 1);
        if (distance < match_position_) match_position_ = distance;
      }
    }
  }
  dad_[r] = dad_[p];
  lson_[r] = lson_[p];
  rson_[r] = rson_[p];
  dad_[lson_[p]] = r;
  dad_[rson_[p]] = r;
  if (rson_[dad_[p]] == p) {
    rson_[dad_[p]] = r;
  } else {
    lson_[dad_[p]] = r;
  }
  dad_[p] = kNil;
}

void Encoder::DeleteNode(int p) {
  if (dad_[p] == kNil) return;
  int q;
  if (rson_[p] == kNil) {
    q = lson_[p];
  } else if (lson_[p] == kNil) {
    q = rson_[p];
  } else {
    q = lson_[p];
    if (rson_[q] != kNil) {
      do {
        q = rson_[q];
      } while (rson_[q] != kNil);
      rson_[dad_[q]] = lson_[q];
      dad_[lson_[q]] = dad_[q];
      lson_[q] = lson_[p];
      dad_[lson_[p]] = q;
    }
    rson_[q] = rson_[p];
    dad_[rson_[p]] = q;
  }
  dad_[q] = dad_[p];
  if (rson_[dad_[p]] == p) {
    rson_[dad_[p]] = q;
  } else {
    lson_[dad_[p]] = q;
  }
  dad_[p] = kNil;
}

void Encoder::StartModel() {
  sym_cum_[kCodes] = 0;
  for (int sym = kCodes; sym >= 1; --sym) {
    const int ch = sym - 1;
    char_to_sym_[ch] = sym;
    sym_to_char_[sym] = ch;
    sym_freq_[sym] = 1;
    sym_cum_[sym - 1] = sym_cum_[sym] + sym_freq_[sym];
  }
  sym_freq_[0] = 0;  // sentinel: ends UpdateModel's walk
  position_cum_[kN] = 0;
  for (int i = kN; i >= 1; --i) {
    position_cum_[i - 1] = position_cum_[i] + 10000u / static_cast<std::uint32_t>(i + 200);
  }
}

void Encoder::UpdateModel(int sym) {
  if (sym_cum_[0] >= kMaxCum) {
    std::uint32_t c = 0;
    for (int i = kCodes; i > 0; --i) {
      sym_cum_[i] = c;
      sym_freq_[i] = (sym_freq_[i] + 1) >> 1;
      c += sym_freq_[i];
    }
    sym_cum_[0] = c;
  }
  int i = sym;
  while (sym_freq_[i] == sym_freq_[i - 1]) --i;
  if (i < sym) {
    const int ch_i = sym_to_char_[i];
    const int ch_sym = sym_to_char_[sym];
    sym_to_char_[i] = ch_sym;
    sym_to_char_[sym] = ch_i;
    char_to_sym_[ch_i] = sym;
    char_to_sym_[ch_sym] = i;
  }
  ++sym_freq_[i];
  while (--i >= 0) ++sym_cum_[i];
}

// Narrows [low, high) to the symbol's share and shifts out every settled bit.
void Encoder::Narrow(std::uint32_t cum_high, std::uint32_t cum_low, std::uint32_t total) {
  const std::uint32_t range = high_ - low_;
  high_ = low_ + range * cum_high / total;
  low_ += range * cum_low / total;
  for (;;) {
    if (high_ <= kQ2) {
      Output(0);
    } else if (low_ >= kQ2) {
      Output(1);
      low_ -= kQ2;
      high_ -= kQ2;
    } else if (low_ >= kQ1 && high_ <= kQ3) {
      ++shifts_;
      low_ -= kQ1;
      high_ -= kQ1;
    } else {
      break;
    }
    low_ += low_;
    high_ += high_;
  }
}

void Encoder::EncodeChar(int ch) {
  const int sym = char_to_sym_[ch];
  Narrow(sym_cum_[sym - 1], sym_cum_[sym], sym_cum_[0]);
  UpdateModel(sym);
}

void Encoder::EncodePosition(int position) {
  Narrow(position_cum_[position], position_cum_[position + 1], position_cum_[0]);
}

// Two more bits single out the final interval; then the partial byte is completed.
void Encoder::EncodeEnd() {
  ++shifts_;
  Output(low_ < kQ1 ? 0 : 1);
  FlushBitBuffer();
}

std::vector<unsigned char> Encoder::Run() {
  const auto text_size = static_cast<std::uint32_t>(size_);
  out_.reserve(size_ / 2 + 16);
  for (int i = 0; i < 4; ++i) out_.push_back(static_cast<unsigned char>(text_size >> (8 * i)));
  if (text_size == 0) return std::move(out_);

  StartModel();
  InitTree();
  int s = 0;
  int r = kN - kF;
  for (int i = s; i < r; ++i) text_buf_[i] = ' ';
  int len = 0;
  int c = 0;
  for (; len < kF && (c = ReadByte()) != -1; ++len) {
    text_buf_[r + len] = static_cast<unsigned char>(c);
  }
  for (int i = 1; i <= kF; ++i) InsertNode(r - i);
  InsertNode(r);
  do {
    if (match_length_ > len) match_length_ = len;
    if (match_length_ <= kThreshold) {
      match_length_ = 1;
      EncodeChar(text_buf_[r]);
    } else {
      EncodeChar(255 - kThreshold + match_length_);
      EncodePosition(match_position_ - 1);
    }
    const int last_match_length = match_length_;
    int i = 0;
    for (; i < last_match_length && (c = ReadByte()) != -1; ++i) {
      DeleteNode(s);
      text_buf_[s] = static_cast<unsigned char>(c);
      if (s < kF - 1) text_buf_[s + kN] = static_cast<unsigned char>(c);
      s = (s + 1) & (kN - 1);
      r = (r + 1) & (kN - 1);
      InsertNode(r);
    }
    // Past the end of the input nothing is read, but the window still slides; the buffer keeps
    // its old bytes there, as the original's did.
    while (i++ < last_match_length) {
      DeleteNode(s);
      s = (s + 1) & (kN - 1);
      r = (r + 1) & (kN - 1);
      if (--len != 0) InsertNode(r);
    }
  } while (len > 0);
  EncodeEnd();
  return std::move(out_);
}

}  // namespace

std::vector<unsigned char> EncodeLzari(const unsigned char* data, std::size_t size) {
  if (size > std::numeric_limits<std::uint32_t>::max()) return {};
  if (data == nullptr && size != 0) return {};
  auto encoder = std::make_unique<Encoder>(data, size);
  return encoder->Run();
}

}  // namespace nulvane::tools
