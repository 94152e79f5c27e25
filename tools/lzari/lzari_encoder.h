// LZARI encoder (build time only): Haruhiko Okumura's 1989 LZARI, byte for byte.
#pragma once

#include <cstddef>
#include <vector>

namespace nulvane::tools {

// Compresses `size` bytes at `data` into the LZARI blob layout: a 4-byte little-endian
// uncompressed size, then the arithmetic-coded bit stream, most significant bit first. The
// bytes are those the original 1989 program writes for the same input: LZSS over a 4096-byte
// window with binary search trees (matches of 3 to 60 bytes), the adaptive character model,
// the fixed position model, a 15-bit arithmetic coder, the same ending and zero-bit flush.
// Empty input gives the 4-byte header of 0 alone. Returns an empty vector (never a valid
// blob) for input whose size does not fit the 32-bit header.
std::vector<unsigned char> EncodeLzari(const unsigned char* data, std::size_t size);

}  // namespace nulvane::tools
