// Feeds arbitrary blobs to the LZARI decoder. The first two input bytes choose the output
// capacity (0..65535, little-endian); the rest is the blob. The decoder must stay inside its
// input and output, store exactly min(header size, capacity - 1) bytes, and agree with
// DecodeLzariBlob. The blob bytes also round-trip through the encoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "lang/lzari.h"
// The encoder is a build tool, not part of the program libraries.
#include "../tools/lzari/lzari_encoder.cpp"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using nulvane::lang::LZARI;
  if (size < 2) return 0;
  const std::uint32_t capacity = data[0] | (std::uint32_t{data[1]} << 8);
  const std::uint8_t* blob = data + 2;
  const std::size_t blob_size = size - 2;

  // Exactly sized heap copies: any access outside them trips AddressSanitizer.
  auto input = std::make_unique<unsigned char[]>(blob_size);
  if (blob_size != 0) std::memcpy(input.get(), blob, blob_size);
  constexpr unsigned char kUntouched = 0xA5;
  auto output = std::make_unique<unsigned char[]>(capacity);
  std::memset(output.get(), kUntouched, capacity);

  LZARI decoder;
  LZARI::SetInputSize(static_cast<std::uint32_t>(blob_size));
  LZARI::SetOutputCapacity(capacity);
  decoder.DecodeLzariFromMemory(input.get(), output.get());

  std::uint32_t header = 0;
  if (blob_size >= LZARI::kHeaderSize) {
    for (int i = 0; i < 4; ++i) header |= std::uint32_t{blob[i]} << (8 * i);
  }
  Require(decoder.UncompressedSize() == header);
  const std::uint32_t stored = capacity == 0 ? 0 : (header < capacity - 1 ? header : capacity - 1);
  for (std::uint32_t i = stored; i < capacity; ++i) Require(output[i] == kUntouched);

  std::uint32_t blob_header = 0;
  const std::vector<unsigned char> text =
      nulvane::lang::DecodeLzariBlob(input.get(), blob_size, capacity, blob_header);
  Require(blob_header == header);
  Require(text.size() == stored);
  Require(stored == 0 || std::memcmp(text.data(), output.get(), stored) == 0);

  const std::vector<unsigned char> packed = nulvane::tools::EncodeLzari(blob, blob_size);
  std::uint32_t round_size = 0;
  const std::vector<unsigned char> unpacked =
      nulvane::lang::DecodeLzariBlob(packed.data(), packed.size(), blob_size + 1, round_size);
  Require(round_size == blob_size);
  Require(unpacked.size() == blob_size);
  Require(blob_size == 0 || std::memcmp(unpacked.data(), blob, blob_size) == 0);
  return 0;
}
