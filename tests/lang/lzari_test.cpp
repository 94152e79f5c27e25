#include "lang/lzari.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../../tools/lzari/lzari_encoder.h"

namespace nulvane::lang {

extern const unsigned char kLanguageTableBlob[];
extern const std::size_t kLanguageTableBlobSize;

namespace {

using Bytes = std::vector<unsigned char>;
using tools::EncodeLzari;

constexpr unsigned char kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 16;

Bytes Encode(const Bytes& text) { return EncodeLzari(text.data(), text.size()); }

Bytes FromString(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A fixed generator, identical on every compiler (std distributions are not).
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }

 private:
  std::uint32_t state_;
};

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  Lcg lcg(seed);
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<unsigned char>(lcg.Next());
  return bytes;
}

// UTF-16LE text with a byte-order mark: words of 1..9 Cyrillic letters separated by spaces
// and line breaks. At 256 KB it holds enough codes that the character model rescales three
// times.
Bytes Utf16Words(std::size_t size) {
  Lcg lcg(20240611);
  Bytes text = {0xFF, 0xFE};
  auto put = [&text](unsigned unit) {
    text.push_back(static_cast<unsigned char>(unit & 0xFF));
    text.push_back(static_cast<unsigned char>(unit >> 8));
  };
  while (text.size() < size) {
    const unsigned length = 1 + lcg.Next() % 9;
    for (unsigned i = 0; i < length; ++i) put(0x430 + lcg.Next() % 32);
    if (lcg.Next() % 8 == 0) {
      put('\r');
      put('\n');
    } else {
      put(' ');
    }
  }
  return text;
}

std::uint64_t Fnv1a64(const Bytes& bytes) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const unsigned char byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

// An output buffer of `capacity` bytes between two guard zones.
class GuardedOutput {
 public:
  explicit GuardedOutput(std::size_t capacity)
      : capacity_(capacity), bytes_(capacity + 2 * kGuardBytes, kGuard) {}
  unsigned char* data() { return bytes_.data() + kGuardBytes; }
  // How many leading bytes of the buffer changed, and whether the guards are intact. The
  // buffer starts as kGuard, so `written` only counts up to the last changed byte.
  std::size_t Written() const {
    std::size_t last = 0;
    for (std::size_t i = 0; i < capacity_; ++i) {
      if (bytes_[kGuardBytes + i] != kGuard) last = i + 1;
    }
    return last;
  }
  bool GuardsIntact() const {
    for (std::size_t i = 0; i < kGuardBytes; ++i) {
      if (bytes_[i] != kGuard || bytes_[kGuardBytes + capacity_ + i] != kGuard) return false;
    }
    return true;
  }
  Bytes Content(std::size_t size) const {
    return Bytes(bytes_.begin() + kGuardBytes, bytes_.begin() + kGuardBytes + size);
  }

 private:
  std::size_t capacity_;
  Bytes bytes_;
};

// Decodes through the class API with the given sizes; the input is an exactly sized heap
// copy so that any read past it trips AddressSanitizer.
std::uint32_t DecodeInto(const Bytes& blob, std::uint32_t input_size, GuardedOutput& output,
                         std::uint32_t capacity) {
  auto input = std::make_unique<unsigned char[]>(blob.size());
  std::copy(blob.begin(), blob.end(), input.get());
  LZARI decoder;
  LZARI::SetInputSize(input_size);
  LZARI::SetOutputCapacity(capacity);
  decoder.DecodeLzariFromMemory(input.get(), output.data());
  return decoder.UncompressedSize();
}

void ExpectRoundTrip(const Bytes& text) {
  const Bytes blob = Encode(text);
  ASSERT_GE(blob.size(), 4u);
  std::uint32_t size = 0;
  EXPECT_EQ(DecodeLzariBlob(blob.data(), blob.size(), text.size() + 1, size), text);
  EXPECT_EQ(size, text.size());

  // The class API, with the loader's margin of two bytes for its terminator.
  const auto capacity = static_cast<std::uint32_t>(text.size() + 2);
  GuardedOutput output(capacity);
  EXPECT_EQ(DecodeInto(blob, static_cast<std::uint32_t>(blob.size()), output, capacity),
            text.size());
  EXPECT_EQ(output.Content(text.size()), text);
  EXPECT_LE(output.Written(), text.size());
  EXPECT_TRUE(output.GuardsIntact());
}

// The 1989 decoder as written: one bit, one scaling step, one byte at a time, binary searches
// over the cumulative counts, and a window of exactly N bytes. Bits past the end of the input
// read as 1; window bytes never written read as 0. It produces whole matches and stops at or
// after `size` bytes; the caller cuts the result to the size.
Bytes ClassicDecode(const Bytes& blob) {
  constexpr int N = 4096, F = 60, kCodes = 256 - 2 + F;
  constexpr std::uint32_t Q1 = 1u << 15, Q2 = 2 * Q1, Q3 = 3 * Q1, Q4 = 4 * Q1;
  std::uint32_t size = 0;
  for (int i = 0; i < 4; ++i) size |= std::uint32_t{blob[i]} << (8 * i);
  std::size_t bit = 32;
  auto get_bit = [&]() -> std::uint32_t {
    const std::size_t byte = bit / 8;
    const std::uint32_t value = byte < blob.size() ? (blob[byte] >> (7 - bit % 8)) & 1 : 1;
    ++bit;
    return value;
  };
  std::vector<std::uint32_t> sym_to_char(kCodes + 1), freq(kCodes + 1), cum(kCodes + 1);
  std::vector<std::uint32_t> position_cum(N + 1);
  for (int sym = kCodes; sym >= 1; --sym) {
    sym_to_char[sym] = static_cast<std::uint32_t>(sym - 1);
    freq[sym] = 1;
    cum[sym - 1] = cum[sym] + 1;
  }
  for (int i = N; i >= 1; --i) position_cum[i - 1] = position_cum[i] + 10000 / (i + 200);
  std::uint32_t low = 0, high = Q4, value = 0;
  for (int i = 0; i < 17; ++i) value = 2 * value + get_bit();
  // Narrows to [cum[s], cum[s - 1]) of `total` and scales up, as both decodes end.
  auto narrow = [&](std::uint32_t range, std::uint32_t upper, std::uint32_t lower,
                    std::uint32_t total) {
    high = low + range * upper / total;
    low += range * lower / total;
    for (;;) {
      if (low >= Q2) {
        value -= Q2, low -= Q2, high -= Q2;
      } else if (low >= Q1 && high <= Q3) {
        value -= Q1, low -= Q1, high -= Q1;
      } else if (high > Q2) {
        break;
      }
      low += low, high += high;
      value = 2 * value + get_bit();
    }
  };
  // The first index from 1 on whose running total is at most the scaled value (totals fall).
  auto search = [&](const std::vector<std::uint32_t>& totals, std::uint32_t range, int count) {
    const std::uint32_t x = ((value - low + 1) * totals[0] - 1) / range;
    int i = 1, j = count;
    while (i < j) {
      const int k = (i + j) / 2;
      (totals[k] > x) ? i = k + 1 : j = k;
    }
    return i;
  };
  auto decode_char = [&]() -> std::uint32_t {
    const std::uint32_t range = high - low;
    const int sym = search(cum, range, kCodes);
    narrow(range, cum[sym - 1], cum[sym], cum[0]);
    const std::uint32_t ch = sym_to_char[sym];
    if (cum[0] >= Q1 - 1) {
      std::uint32_t c = 0;
      for (int s = kCodes; s > 0; --s) {
        cum[s] = c;
        c += (freq[s] = (freq[s] + 1) >> 1);
      }
      cum[0] = c;
    }
    int first = sym;
    while (freq[first] == freq[first - 1]) --first;
    std::swap(sym_to_char[first], sym_to_char[sym]);
    ++freq[first];
    while (--first >= 0) ++cum[first];
    return ch;
  };
  auto decode_position = [&]() -> int {
    const std::uint32_t range = high - low;
    const int position = search(position_cum, range, N) - 1;
    narrow(range, position_cum[position], position_cum[position + 1], position_cum[0]);
    return position;
  };
  Bytes window(N, 0), text;
  std::fill(window.begin(), window.begin() + (N - F), static_cast<unsigned char>(' '));
  int r = N - F;
  auto put = [&](unsigned char byte) {
    text.push_back(byte);
    window[r] = byte;
    r = (r + 1) & (N - 1);
  };
  while (text.size() < size) {
    const std::uint32_t c = decode_char();
    if (c < 256) {
      put(static_cast<unsigned char>(c));
      continue;
    }
    const int from = (r - decode_position() - 1) & (N - 1);
    for (std::uint32_t k = 0; k < c - 255 + 2; ++k) put(window[(from + k) & (N - 1)]);
  }
  return text;
}

// Any bytes at all, not only what the encoder writes, decode as the classic decoder decodes
// them: random streams reach symbols and positions no text makes, matches from the far end of
// the window and from bytes not yet written, and inputs that run out.
TEST(LzariDecoderTest, ArbitraryStreamsDecodeAsTheClassicDecoderDecodesThem) {
  Lcg lcg(1989);
  for (int round = 0; round < 60; ++round) {
    const std::uint32_t size = 2000 + lcg.Next() % 30000;
    Bytes blob = RandomBytes(4 + lcg.Next() % 6000, lcg.Next());
    for (int i = 0; i < 4; ++i) blob[i] = static_cast<unsigned char>(size >> (8 * i));
    Bytes expected = ClassicDecode(blob);
    expected.resize(size);
    std::uint32_t header = 0;
    const Bytes decoded = DecodeLzariBlob(blob.data(), blob.size(), size + 1, header);
    ASSERT_EQ(decoded, expected)
        << "round " << round << ", first difference at byte "
        << std::mismatch(decoded.begin(), decoded.end(), expected.begin(), expected.end()).first -
               decoded.begin();
  }
}

// Known answers, derived by hand from the algorithm (model totals, interval narrowing and
// bit shifting written out step by step) and checked against the 1989 program.
TEST(LzariEncoderTest, EmptyInputIsAZeroHeaderAlone) {
  EXPECT_EQ(EncodeLzari(nullptr, 0), (Bytes{0, 0, 0, 0}));
}

TEST(LzariEncoderTest, SingleLiteralMatchesHandDerivedBits) {
  // 'a' is symbol 98 of 314: [90164, 90581) of 2^17 gives bits 1011 0000, then the ending
  // adds 0 1 and the flush completes the byte with zeros.
  EXPECT_EQ(Encode(FromString("a")), (Bytes{1, 0, 0, 0, 0xB0, 0x40}));
}

TEST(LzariEncoderTest, LiteralThenMatchMatchesHandDerivedBits) {
  // "aaaa": literal 'a', then a 3-byte match (code 256) at distance 1 (position 0).
  EXPECT_EQ(Encode(FromString("aaaa")), (Bytes{4, 0, 0, 0, 0xB0, 0x40, 0x63, 0x40}));
}

TEST(LzariEncoderTest, RescalingTextMatchesOriginalProgramOutput) {
  // Size and FNV-1a digest of the 1989 program's output for this input, which rescales the
  // character model three times.
  constexpr std::size_t kRescaleBlobSize = 112751;
  constexpr std::uint64_t kRescaleBlobDigest = 0xF2957FA380BFAC7Aull;
  const Bytes blob = Encode(Utf16Words(256 * 1024));
  EXPECT_EQ(blob.size(), kRescaleBlobSize);
  EXPECT_EQ(Fnv1a64(blob), kRescaleBlobDigest);
}

TEST(LzariEncoderTest, HeaderIsLittleEndianSize) {
  const Bytes blob = Encode(RandomBytes(0x012345, 7));
  ASSERT_GE(blob.size(), 4u);
  EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 4), (Bytes{0x45, 0x23, 0x01, 0x00}));
}

TEST(LzariRoundTripTest, EmptyAndOneByte) {
  ExpectRoundTrip({});
  ExpectRoundTrip({0x00});
  ExpectRoundTrip({0xFF});
}

TEST(LzariRoundTripTest, RandomBinaryAroundWindowAndMatchSizes) {
  for (const std::size_t size : {2u, 3u, 59u, 60u, 61u, 4095u, 4096u, 4097u, 70000u}) {
    SCOPED_TRACE(size);
    ExpectRoundTrip(RandomBytes(size, static_cast<std::uint32_t>(size)));
  }
}

TEST(LzariRoundTripTest, OneMegabyteRunOfOneByte) {
  const Bytes run(1 << 20, 'x');
  const Bytes blob = Encode(run);
  EXPECT_LT(blob.size(), run.size() / 20);  // long matches, not literals
  ExpectRoundTrip(run);
}

TEST(LzariRoundTripTest, Utf16TextThatRescalesTheModel) { ExpectRoundTrip(Utf16Words(256 * 1024)); }

// Texts from barely compressible to mostly repeats: alphabets of 2 to 256 letters, and
// phrases copied from up to the whole window back, often closer than their own length (a
// match that repeats itself). They drive the decoder through symbols deep in the model's
// ranking, runs of interval scalings of every kind, matches that wrap around the window and
// rescalings of the model.
Bytes MixedText(std::size_t size, unsigned alphabet, unsigned repeat_in_16, std::uint32_t seed) {
  Lcg lcg(seed);
  Bytes text;
  text.reserve(size);
  while (text.size() < size) {
    if (text.size() > 8 && lcg.Next() % 16 < repeat_in_16) {
      const std::size_t back = 1 + lcg.Next() % std::min<std::size_t>(text.size(), 4096);
      const std::size_t length = 1 + lcg.Next() % 70;
      for (std::size_t i = 0; i < length && text.size() < size; ++i) {
        text.push_back(text[text.size() - back]);
      }
    } else {
      text.push_back(static_cast<unsigned char>(lcg.Next() % alphabet));
    }
  }
  return text;
}

TEST(LzariRoundTripTest, TextsOfEveryRedundancy) {
  std::uint32_t seed = 1;
  for (const unsigned alphabet : {2u, 5u, 40u, 256u}) {
    for (const unsigned repeat_in_16 : {0u, 4u, 12u, 15u}) {
      SCOPED_TRACE(::testing::Message() << alphabet << " letters, repeats " << repeat_in_16);
      ExpectRoundTrip(MixedText(40000 + 9000 * (seed % 7), alphabet, repeat_in_16, seed));
      ++seed;
    }
  }
}

// The decoder divides by the model's total through its reciprocal. The quotient must be the
// division's for every divisor and every 32-bit numerator; the ones most likely to come out one
// off sit at either side of a multiple of the divisor, and at the top of the range, where the
// error term of a reciprocal is largest. Every total the model can reach (314 up to 2^15 - 1)
// is covered, with room to spare, and a sample of divisors up to 2^32 - 1.
TEST(LzariReciprocalTest, QuotientIsExactAtEveryMultipleEdge) {
  auto check = [](std::uint32_t divisor, Lcg& lcg) {
    const Reciprocal reciprocal(divisor);
    const std::uint32_t top_quotient = 0xFFFFFFFFu / divisor;
    std::vector<std::uint32_t> numerators = {0, 1, divisor - 1, divisor, 0xFFFFFFFFu};
    for (const std::uint32_t q : {std::uint32_t{1}, top_quotient / 2, top_quotient - 1,
                                  top_quotient, lcg.Next() % top_quotient + 1}) {
      numerators.push_back(q * divisor - 1);
      numerators.push_back(q * divisor);
    }
    // The decoder's own largest numerator: the widest interval (2^17) times the total.
    if (divisor < (1u << 15)) numerators.push_back((1u << 17) * divisor);
    for (const std::uint32_t n : numerators) {
      if (reciprocal.Divide(n) != n / divisor) {
        ADD_FAILURE() << n << " / " << divisor << " gave " << reciprocal.Divide(n);
        return false;
      }
    }
    return true;
  };
  Lcg lcg(7);
  for (std::uint32_t divisor = 2; divisor <= 0xFFFF; ++divisor) {
    if (!check(divisor, lcg)) return;
  }
  for (std::uint32_t divisor : {0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFBu, 0xFFFFFFFFu}) {
    if (!check(divisor, lcg)) return;
  }
  for (int i = 0; i < 100000; ++i) {
    if (!check(0x10000u + lcg.Next() * 255u, lcg)) return;
  }
}

// The table the program carries, decoded whole, is the text the packer wrote byte for byte.
TEST(LzariBuiltInTableTest, DecodesToThePackedText) {
  std::ifstream file(NULVANE_PACKED_LANGUAGE_TABLE, std::ios::binary);
  ASSERT_TRUE(file) << NULVANE_PACKED_LANGUAGE_TABLE;
  const Bytes packed((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(packed.size(), 100000u);
  std::uint32_t size = 0;
  const Bytes decoded =
      DecodeLzariBlob(kLanguageTableBlob, kLanguageTableBlobSize, packed.size() + 1, size);
  EXPECT_EQ(size, packed.size());
  EXPECT_TRUE(decoded == packed)
      << "first difference at byte "
      << std::mismatch(decoded.begin(), decoded.end(), packed.begin(), packed.end()).first -
             decoded.begin();
}

TEST(LzariDecoderTest, HeaderZeroWritesNothingAndReadsNoFurther) {
  // The input size claims more than the 4-byte allocation holds: any read after the header
  // would be caught by AddressSanitizer.
  GuardedOutput output(64);
  EXPECT_EQ(DecodeInto({0, 0, 0, 0}, 1000, output, 64), 0u);
  EXPECT_EQ(output.Written(), 0u);
  EXPECT_TRUE(output.GuardsIntact());
}

TEST(LzariDecoderTest, InputShorterThanHeaderIsEmptyAndNotReadPastItsEnd) {
  for (std::size_t size = 0; size < 4; ++size) {
    SCOPED_TRACE(size);
    const Bytes blob(size, 0xFF);  // would read as a huge size if completed with 1 bits
    GuardedOutput output(64);
    EXPECT_EQ(DecodeInto(blob, static_cast<std::uint32_t>(size), output, 64), 0u);
    EXPECT_EQ(output.Written(), 0u);
    EXPECT_TRUE(output.GuardsIntact());
    std::uint32_t header = 1;
    EXPECT_TRUE(DecodeLzariBlob(blob.data(), blob.size(), 64, header).empty());
    EXPECT_EQ(header, 0u);
  }
}

TEST(LzariDecoderTest, CapacityStoresAtMostCapacityMinusOneBytes) {
  const Bytes text = FromString("The capacity rule keeps one byte free, whatever the text.");
  const Bytes blob = Encode(text);
  const auto size = static_cast<std::uint32_t>(text.size());
  for (const std::uint32_t capacity : {0u, 1u, 2u, 10u, size, size + 1, size + 2, size + 50}) {
    SCOPED_TRACE(capacity);
    const std::size_t stored = capacity == 0 ? 0 : std::min<std::size_t>(size, capacity - 1);
    GuardedOutput output(capacity);
    EXPECT_EQ(DecodeInto(blob, static_cast<std::uint32_t>(blob.size()), output, capacity), size);
    EXPECT_EQ(output.Content(stored), Bytes(text.begin(), text.begin() + stored));
    EXPECT_LE(output.Written(), stored);
    EXPECT_TRUE(output.GuardsIntact());

    std::uint32_t header = 0;
    EXPECT_EQ(DecodeLzariBlob(blob.data(), blob.size(), capacity, header),
              Bytes(text.begin(), text.begin() + stored));
    EXPECT_EQ(header, size);
  }
}

TEST(LzariDecoderTest, NullOutputWritesNothing) {
  const Bytes blob = Encode(FromString("text"));
  LZARI decoder;
  LZARI::SetInputSize(static_cast<std::uint32_t>(blob.size()));
  LZARI::SetOutputCapacity(100);
  decoder.DecodeLzariFromMemory(blob.data(), nullptr);
  EXPECT_EQ(decoder.UncompressedSize(), 4u);
}

TEST(LzariDecoderTest, TruncatedStreamStaysWithinBuffers) {
  const Bytes text = Utf16Words(20000);
  const Bytes blob = Encode(text);
  const auto size = static_cast<std::uint32_t>(text.size());
  for (const std::size_t cut : {std::size_t{4}, std::size_t{5}, blob.size() / 2, blob.size() - 1}) {
    SCOPED_TRACE(cut);
    const Bytes truncated(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(cut));
    GuardedOutput output(size + 1);
    EXPECT_EQ(DecodeInto(truncated, static_cast<std::uint32_t>(cut), output, size + 1), size);
    EXPECT_TRUE(output.GuardsIntact());
    std::uint32_t header = 0;
    EXPECT_EQ(DecodeLzariBlob(truncated.data(), truncated.size(), size + 1, header).size(), size);
  }
}

TEST(LzariDecoderTest, BitsPastTheEndReadAsOnes) {
  const Bytes text = Utf16Words(8000);
  const Bytes blob = Encode(text);
  const Bytes truncated(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(blob.size() / 3));
  Bytes padded = truncated;
  padded.resize(truncated.size() + 8192, 0xFF);
  std::uint32_t header = 0;
  const Bytes from_truncated = DecodeLzariBlob(truncated.data(), truncated.size(), 9000, header);
  const Bytes from_padded = DecodeLzariBlob(padded.data(), padded.size(), 9000, header);
  EXPECT_EQ(from_truncated, from_padded);
  EXPECT_NE(from_truncated, text);  // the cut really lost text
}

TEST(LzariDecoderTest, MatchEndingPastTheHeaderSizeIsCutAtTheSize) {
  // "aaaa" is a literal and a 3-byte match; a header of 2 ends the text inside the match.
  Bytes blob = Encode(FromString("aaaa"));
  blob[0] = 2;
  GuardedOutput output(100);
  EXPECT_EQ(DecodeInto(blob, static_cast<std::uint32_t>(blob.size()), output, 100), 2u);
  EXPECT_EQ(output.Content(2), FromString("aa"));
  EXPECT_EQ(output.Written(), 2u);
  std::uint32_t header = 0;
  EXPECT_EQ(DecodeLzariBlob(blob.data(), blob.size(), 100, header), FromString("aa"));
}

TEST(LzariDecoderTest, HugeHeaderIsBoundedByCapacity) {
  Bytes blob = Encode(FromString("short"));
  blob[0] = blob[1] = blob[2] = blob[3] = 0xFF;
  GuardedOutput output(300);
  EXPECT_EQ(DecodeInto(blob, static_cast<std::uint32_t>(blob.size()), output, 300), 0xFFFFFFFFu);
  EXPECT_EQ(output.Content(5), FromString("short"));
  EXPECT_TRUE(output.GuardsIntact());
  std::uint32_t header = 0;
  EXPECT_EQ(DecodeLzariBlob(blob.data(), blob.size(), 300, header).size(), 299u);
  EXPECT_EQ(header, 0xFFFFFFFFu);
}

// A stream decoded a piece at a time, in pieces of any size, gives the text a whole decode
// gives: the coder, the model and a match cut between two pieces carry over.
TEST(LzariStreamTest, PiecesOfAnySizeGiveTheSameText) {
  for (const Bytes& text : {Utf16Words(200000), RandomBytes(20000, 5), FromString("a")}) {
    const Bytes blob = Encode(text);
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{7}, std::size_t{59}, std::size_t{4096}, std::size_t{65536}}) {
      LzariStream stream(blob.data(), blob.size());
      ASSERT_EQ(stream.Size(), text.size());
      Bytes decoded;
      Bytes buffer(piece);
      for (std::size_t got; (got = stream.Read(buffer.data(), piece)) > 0;) {
        decoded.insert(decoded.end(), buffer.begin(), buffer.begin() + got);
      }
      EXPECT_EQ(decoded, text) << "pieces of " << piece;
      EXPECT_EQ(stream.Produced(), text.size());
    }
  }
}

TEST(LzariDecoderTest, ObjectAndSettingsAreReusable) {
  const Bytes first = FromString("first text, first text");
  const Bytes second = RandomBytes(5000, 3);
  const Bytes first_blob = Encode(first);
  const Bytes second_blob = Encode(second);
  LZARI decoder;
  LZARI::SetInputSize(static_cast<std::uint32_t>(second_blob.size()));
  LZARI::SetOutputCapacity(6000);
  Bytes output(6000);
  decoder.DecodeLzariFromMemory(second_blob.data(), output.data());
  // A blob decode in between takes its own sizes and leaves the ones set above in place.
  std::uint32_t header = 0;
  EXPECT_EQ(DecodeLzariBlob(first_blob.data(), first_blob.size(), 100, header), first);
  std::fill(output.begin(), output.end(), 0);
  decoder.DecodeLzariFromMemory(second_blob.data(), output.data());
  EXPECT_EQ(decoder.UncompressedSize(), second.size());
  EXPECT_EQ(Bytes(output.begin(), output.begin() + 5000), second);
}

TEST(LzariDecoderTest, ConcurrentBlobDecodesDoNotDisturbEachOther) {
  const Bytes texts[2] = {Utf16Words(60000), RandomBytes(60000, 11)};
  const Bytes blobs[2] = {Encode(texts[0]), Encode(texts[1])};
  bool ok[2] = {true, true};
  auto work = [&](int which) {
    for (int round = 0; round < 6; ++round) {
      std::uint32_t header = 0;
      const Bytes& blob = blobs[which];
      if (DecodeLzariBlob(blob.data(), blob.size(), 70000, header) != texts[which]) {
        ok[which] = false;
      }
    }
  };
  std::thread other(work, 1);
  work(0);
  other.join();
  EXPECT_TRUE(ok[0]);
  EXPECT_TRUE(ok[1]);
}

}  // namespace
}  // namespace nulvane::lang
