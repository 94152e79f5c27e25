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

class LZARI {
 public:
  static constexpr int kWindowSize = 4096;  // N: the ring buffer
  static constexpr int kLongestMatch = 60;  // F
  static constexpr int kThreshold = 2;      // matches are 3..60 bytes long
  static constexpr int kCodeCount = 256 - kThreshold + kLongestMatch;  // 314 codes
  static constexpr std::uint32_t kHeaderSize = 4;

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

  // Decodes with an explicit description; the caller holds description_mutex_.
  void DecodeLocked(const unsigned char* input, std::uint32_t input_size, unsigned char* output,
                    std::uint32_t output_capacity);
  // Decodes `size` bytes (at least 1) of text after the header.
  void DecodeText(std::uint32_t size);
  void ResetCoder();
  void StartModel();
  int GetBit();
  void Normalize();
  int DecodeChar();
  int DecodePosition();
  void UpdateModel(int symbol);
  void PutByte(unsigned char byte);

  // Arithmetic coder registers (17 significant bits).
  std::uint32_t low_ = 0;
  std::uint32_t high_ = 0;
  std::uint32_t value_ = 0;
  // Bit reader: the current input byte and the mask of the next bit (0 = read a byte first).
  std::uint16_t input_byte_ = 0;
  std::uint16_t bit_mask_ = 0;
  // Adaptive character model; symbols 1..314 are ranked by falling frequency, sym_cum_[0] is
  // the total. Cumulative counts stay below 0x8000, so 16 bits suffice.
  std::uint16_t char_to_sym_[kCodeCount] = {};
  std::uint16_t sym_to_char_[kCodeCount + 1] = {};
  std::uint16_t sym_freq_[kCodeCount + 1] = {};
  std::uint16_t sym_cum_[kCodeCount + 1] = {};
  // Fixed position model: position_cum_[i] is the cumulative count of positions i..4095.
  std::uint16_t position_cum_[kWindowSize + 1] = {};
  unsigned char ring_[kWindowSize] = {};
  std::uint32_t uncompressed_size_ = 0;

  // The class-wide memory description. Decoding mutates it (pointers, position, length), so
  // two decodes running at once would read each other's input and write each other's output:
  // every access goes through description_mutex_.
  static std::mutex description_mutex_;
  static const unsigned char* input_;
  static std::uint32_t input_position_;
  static std::uint32_t input_size_;
  static unsigned char* output_;
  static std::uint32_t output_length_;
  static std::uint32_t output_capacity_;
};

}  // namespace nulvane::lang
