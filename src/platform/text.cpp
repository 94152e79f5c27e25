#include "platform/text.h"

#include "platform/path_rules.h"

#include <climits>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nulvane::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Where a backslash separates the names of a path it is never part of one.
constexpr bool kBackslashInNames = !IsPathSeparator(u'\\');

// A byte that is no part of valid UTF-8 stands as the lone surrogate U+DC80 + (byte - 0x80):
// such a surrogate never comes out of valid UTF-8, so the byte can be given back exactly.
constexpr char16_t kEscapeBase = 0xDC00;

bool IsEscapedByte(char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

}  // namespace

Text Utf8ToText(std::string_view utf8) {
  // Every byte gives at most one unit (a four-byte sequence gives two), so the text is written
  // in place into a buffer of the input's length and cut to what was written.
  Text out(utf8.size(), u'\0');
  char16_t* const begin = out.data();
  char16_t* at = begin;
  const auto* const bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  std::size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      *at++ = lead;
      ++i;
      continue;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
      *at++ = static_cast<char16_t>(kEscapeBase + lead);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    for (; j < size && j <= i + extra; ++j) {
      const unsigned char next = bytes[j];
      if ((next & 0xC0) != 0x80) break;
      c = (c << 6) | (next & 0x3F);
    }
    if (j != i + 1 + extra || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      // Only the lead byte is taken as undecodable; what follows is decoded on its own, as
      // it may start a valid sequence.
      *at++ = static_cast<char16_t>(kEscapeBase + lead);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      *at++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *at++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *at++ = static_cast<char16_t>(c);
    }
    i = j;
  }
  out.resize(static_cast<std::size_t>(at - begin));
  return out;
}

char* EncodeUtf8(TextView text, char* out) {
  char* at = out;
  auto put = [&at](unsigned value) { *at++ = static_cast<char>(value); };
  const std::size_t size = text.size();
  const char16_t* const units = text.data();
  std::size_t i = 0;
  while (i < size) {
    // Runs of ASCII, the bulk of most names, go eight units at a time.
#if defined(__SSE2__)
    const __m128i not_ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
    while (i + 8 <= size) {
      const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
      const __m128i high_bits = _mm_and_si128(eight, not_ascii);
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(high_bits, _mm_setzero_si128())) != 0xFFFF) break;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(at), _mm_packus_epi16(eight, eight));
      at += 8;
      i += 8;
    }
#endif
    while (i + 4 <= size && (units[i] | units[i + 1] | units[i + 2] | units[i + 3]) < 0x80) {
      at[0] = static_cast<char>(units[i]);
      at[1] = static_cast<char>(units[i + 1]);
      at[2] = static_cast<char>(units[i + 2]);
      at[3] = static_cast<char>(units[i + 3]);
      at += 4;
      i += 4;
    }
    if (i == size) break;
    char32_t c = units[i];
    if (c < 0x80) {
      put(c);
      ++i;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < size && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (IsEscapedByte(units[i])) {
      put(units[i] - kEscapeBase);
      ++i;
      continue;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
    ++i;
  }
  return at;
}

std::string TextToUtf8(TextView text) {
  // Every unit gives at most three bytes (a surrogate pair gives four for its two units), so
  // the bytes are written in place into a buffer of three times the length and cut to size.
  std::string out(kMostUtf8BytesPerUnit * text.size(), '\0');
  out.resize(static_cast<std::size_t>(EncodeUtf8(text, out.data()) - out.data()));
  return out;
}

bool HasUnmappableSurrogate(TextView text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
        continue;
      }
      return true;
    }
    if (c >= 0xDC00 && c <= 0xDFFF && !IsEscapedByte(c)) return true;
  }
  return false;
}

Text EscapeForDisplay(TextView text) {
  Text out;
  AppendEscapedForDisplay(out, text);
  return out;
}

namespace {

// Printable ASCII that is shown as it is: everything from the space to the tilde but the
// backslash where a backslash can be part of a name.
constexpr bool ShownAsItIs(char16_t c) {
  return c >= 0x20 && c < 0x7F && (c != u'\\' || !kBackslashInNames);
}

// The end of the run of units from `i` on that are shown as they are.
std::size_t ShownRunEnd(TextView text, std::size_t i) {
  const std::size_t size = text.size();
#if defined(__SSE2__)
  // Eight units at a time. Compared as signed numbers, units from 0x8000 on are below 0x20.
  const __m128i below = _mm_set1_epi16(0x20 - 1);
  const __m128i above = _mm_set1_epi16(0x7F);
  const __m128i backslash = _mm_set1_epi16(u'\\');
  while (i + 8 <= size) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    __m128i shown = _mm_and_si128(_mm_cmpgt_epi16(eight, below), _mm_cmplt_epi16(eight, above));
    if (kBackslashInNames) shown = _mm_andnot_si128(_mm_cmpeq_epi16(eight, backslash), shown);
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(shown));
    if (mask != 0xFFFF) return i + static_cast<std::size_t>(__builtin_ctz(~mask)) / 2;
    i += 8;
  }
#endif
  while (i < size && ShownAsItIs(text[i])) ++i;
  return i;
}

}  // namespace

void AppendEscapedForDisplay(Text& out, TextView text) {
  out.reserve(out.size() + text.size());
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  auto escape = [&](unsigned value) {
    out += u"\\x";
    if (value > 0xFF) {
      out.push_back(kHex[(value >> 12) & 0xF]);
      out.push_back(kHex[(value >> 8) & 0xF]);
    }
    out.push_back(kHex[(value >> 4) & 0xF]);
    out.push_back(kHex[value & 0xF]);
  };
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    // Names are mostly printable ASCII: such a run is appended in one piece.
    const std::size_t run = ShownRunEnd(text, i);
    if (run > i) {
      out.append(text.data() + i, run - i);
      i = run;
      if (i == size) break;
    }
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < size && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out.push_back(c);
      out.push_back(text[++i]);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      // A byte that is no text (or a surrogate without its pair) is shown as what it is.
      escape(IsEscapedByte(c) ? static_cast<unsigned>(c - kEscapeBase) : c);
    } else if (c < 0x20 || c == 0x7F) {
      // C0 controls and DEL: a terminal would act on them (move the cursor, erase lines).
      escape(c);
    } else if (c >= 0x80 && c <= 0x9F) {
      // C1 controls (0x9B is a terminal's CSI), shown as the two bytes they are in UTF-8, so
      // that they never read as the single byte 0x80..0x9F of a name that is not UTF-8.
      escape(0xC2);
      escape(c);
    } else if (c == u'\\' && kBackslashInNames) {
      // Doubled, so that a backslash followed by "x1B" in a name never reads as an escape.
      out += u"\\\\";
    } else {
      out.push_back(c);
    }
    ++i;
  }
}

bool IsWhiteSpace(char16_t c) {
  switch (c) {
    case u' ':
    case u'\t':
    case u'\n':
    case u'\v':
    case u'\f':
    case u'\r':
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

int ParseDecimal(TextView text) {
  std::size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > static_cast<std::int64_t>(INT_MAX) + 1)
      value = static_cast<std::int64_t>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

}  // namespace nulvane::platform
