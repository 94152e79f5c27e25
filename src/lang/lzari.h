// LZARI decoder: LZSS over a 4096-byte window whose literals, match lengths and match positions
// are coded with adaptive arithmetic coding (Haruhiko Okumura's 1989 algorithm).
//
// Blob layout: bytes 0..3 hold the uncompressed size (unsigned 32-bit, little-endian); the
// arithmetic-coded bit stream follows from byte 4, each byte read most significant bit first.
//
// Only the standard library is used: this file is also compiled into the host build tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace nulvane::lang {

// Decodes a whole blob of `blob_size` bytes. Sets `uncompressed_size` to the header's value
// (0 for a blob shorter than its 4-byte header) and returns the stored bytes: the first
// min(uncompressed_size, capacity - 1) bytes of the text, or nothing when capacity is 0 or 1
// (the capacity rule of LZARI::DecodeLzariFromMemory). The buffer is never larger than needed
// for that, whatever the header claims. Safe against any bytes; safe to call from any thread.
std::vector<unsigned char> DecodeLzariBlob(const unsigned char* blob, std::size_t blob_size,
                                           std::size_t capacity, std::uint32_t& uncompressed_size);

// Division by a divisor that stays the same for several numerators, as a multiplication: the
// reciprocal M = ceil(2^64 / d) is computed once (one division), and floor(n / d) is then the top
// 64 bits of n * M, which takes a few cycles where a division takes several times as many.
//
// Exact for every n below 2^32 and every d in 2 .. 2^32 - 1. Write M = (2^64 + e) / d with
// 0 <= e < d, and n = q * d + r with 0 <= r < d. Then n * M / 2^64 = q + (r + n * e / 2^64) / d.
// The added part is not negative, and it is below 1 because r <= d - 1 and n * e < 2^32 * 2^32,
// so its floor is q. (UINT64_MAX / d + 1 is ceil(2^64 / d) for every d >= 2, powers of two
// included.)
class Reciprocal {
 public:
#if defined(__SIZEOF_INT128__)
  explicit Reciprocal(std::uint32_t divisor) : multiplier_(~std::uint64_t{0} / divisor + 1) {}

  std::uint32_t Divide(std::uint32_t n) const {
    __extension__ typedef unsigned __int128 Wide;
    return static_cast<std::uint32_t>((static_cast<Wide>(n) * multiplier_) >> 64);
  }

 private:
  std::uint64_t multiplier_;
#else
  // Without a 128-bit product the division itself is the exact answer.
  explicit Reciprocal(std::uint32_t divisor) : divisor_(divisor) {}

  std::uint32_t Divide(std::uint32_t n) const { return n / divisor_; }

 private:
  std::uint32_t divisor_;
#endif
};

// Decodes one blob a piece at a time: the coder, the adaptive model and the window carry over
// from one call to the next, so that a reader can stop as soon as it has what it needs and go
// on later. The model keeps the classic cumulative counts, scanned and updated eight at a time
// from the frequent end, where text puts most symbols; the output is the classic decoder's.
class LzariStream {
 public:
  static constexpr int kWindowSize = 4096;  // N: the ring buffer
  static constexpr int kLongestMatch = 60;  // F
  static constexpr int kThreshold = 2;      // matches are 3..60 bytes long
  static constexpr int kCodeCount = 256 - kThreshold + kLongestMatch;  // 314 codes
  static constexpr std::uint32_t kHeaderSize = 4;

  // Reads the header of the `size` bytes at `blob`, which must outlive the stream. A blob
  // shorter than its header (or null) holds no text: its size is 0 and none of it is read.
  LzariStream(const unsigned char* blob, std::size_t size);

  // The uncompressed size the header gives, and how much of it has been produced.
  std::uint32_t Size() const { return size_; }
  std::uint32_t Produced() const { return produced_; }

  // Decodes the next bytes of the text, at most `count`, into `out`, and returns how many: fewer
  // only at the end of the text. Past the end of the input every bit reads as 1, so a corrupt
  // or truncated stream still ends after Size() bytes, and nothing outside the blob is read.
  std::size_t Read(unsigned char* out, std::size_t count);

 private:
  // The arithmetic decoder's registers and its bit input. Read works on a local copy, so that
  // they stay in registers while it runs.
  struct Coder {
    std::uint32_t low = 0;  // registers of 17 significant bits
    std::uint32_t high = 0;
    std::uint32_t value = 0;
    std::uint64_t bits = 0;  // input bits not taken yet: the lowest bit_count of them
    int bit_count = 0;
    std::uint32_t input_position = 0;
  };

  void Start();
  std::uint32_t GetBits(Coder& coder, int count) const;
  void Refill(Coder& coder) const;
  void Normalize(Coder& coder) const;
  int DecodeChar(Coder& coder);
  int DecodePosition(Coder& coder) const;
  void UpdateModel(int symbol);
  void RebuildCounts();
  int FirstRankAtOrBelow(std::uint32_t x) const;
  void CountOneMoreAbove(int rank);

  const unsigned char* input_ = nullptr;
  std::uint32_t input_size_ = 0;
  std::uint32_t size_ = 0;
  std::uint32_t produced_ = 0;
  bool started_ = false;
  Coder coder_;

  // Adaptive character model: symbols 1..314 ranked by falling frequency; sym_cum_[s] is the
  // sum of the frequencies of the ranks above s (sym_cum_[0] the total, sym_cum_[314] 0).
  std::uint16_t sym_to_char_[kCodeCount + 1] = {};
  std::uint16_t sym_freq_[kCodeCount + 1] = {};
  // Padded so that eight entries can be read and written from any rank up to kCodeCount.
  alignas(16) std::uint16_t sym_cum_[kCodeCount + 1 + 15] = {};
  // run_start_[f]: the first rank whose frequency is f, for every f some rank has. Frequencies
  // stay below the model's rescaling total, 2^15 - 1.
  std::unique_ptr<std::uint16_t[]> run_start_;
  // The reciprocal of the model's total, sym_cum_[0], renewed whenever the total changes: the
  // narrowing of the interval divides by it twice per symbol.
  Reciprocal total_{1u << 15};

  // The window: the N bytes before r_ in a ring twice its size. The bytes just ahead of r_
  // lie more than a window back, so a match may be copied in whole 16-byte blocks that run
  // past its end (into the ring, or into the spare bytes after it) without touching a byte the
  // window holds; they are written again before the window reaches them.
  static constexpr int kRingSize = 2 * kWindowSize;
  static constexpr int kBlock = 16;
  unsigned char ring_[kRingSize + 4 * kBlock] = {};
  int r_ = 0;
  // A match still being copied out of the window.
  int match_from_ = 0;
  int match_left_ = 0;
};

class LZARI {
 public:
  static constexpr int kWindowSize = LzariStream::kWindowSize;
  static constexpr int kLongestMatch = LzariStream::kLongestMatch;
  static constexpr int kThreshold = LzariStream::kThreshold;
  static constexpr int kCodeCount = LzariStream::kCodeCount;
  static constexpr std::uint32_t kHeaderSize = LzariStream::kHeaderSize;

  LZARI();
  virtual ~LZARI();

  // The memory description is shared by all decoder objects. Callers set the input size and
  // the output capacity before DecodeLzariFromMemory. A thread that decodes while another may
  // decode too must use DecodeLzariBlob instead: it takes its sizes as arguments, leaves the
  // ones set here untouched and decodes under the same lock.
  static void SetInputSize(std::uint32_t bytes);
  static void SetOutputCapacity(std::uint32_t bytes);

  // Decodes the blob at `input` into `output`, using the input size and output capacity set
  // beforehand; afterwards UncompressedSize() holds the header's value.
  //  - Never reads at or past input + input size. Past the end of the input every bit reads
  //    as 1. An input shorter than the 4-byte header is taken as a size of 0: nothing is read
  //    past its end and nothing is written.
  //  - A header of 0 writes nothing and reads nothing beyond the header.
  //  - A produced byte is stored only while output length + 1 is below the capacity, so at
  //    most capacity - 1 bytes are written; the rest is dropped without notice. No more than
  //    the header's size is ever produced, even from a corrupt stream.
  //  - The output is not terminated; a null output is treated as a capacity of 0.
  void DecodeLzariFromMemory(const unsigned char* input, unsigned char* output);

  // The uncompressed size from the last decoded blob's header (0 before any decode).
  std::uint32_t UncompressedSize() const { return uncompressed_size_; }

 private:
  friend std::vector<unsigned char> DecodeLzariBlob(const unsigned char*, std::size_t, std::size_t,
                                                    std::uint32_t&);

  // Decodes with an explicit description.
  void Decode(const unsigned char* input, std::uint32_t input_size, unsigned char* output,
              std::uint32_t output_capacity);

  std::uint32_t uncompressed_size_ = 0;

  // The class-wide memory description, set by the two setters; every access goes through
  // description_mutex_.
  static std::mutex description_mutex_;
  static std::uint32_t input_size_;
  static std::uint32_t output_capacity_;
};

}  // namespace nulvane::lang
