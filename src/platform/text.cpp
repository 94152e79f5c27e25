#include "platform/text.h"

#include "platform/path_rules.h"

#include <climits>
#include <cstdint>

namespace nulvane::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Where a backslash separates the names of a path it is never part of one.
constexpr bool kBackslashInNames = !IsPathSeparator(u'\\');

void AppendUtf16(Text& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A byte that is no part of valid UTF-8 stands as the lone surrogate U+DC80 + (byte - 0x80):
// such a surrogate never comes out of valid UTF-8, so the byte can be given back exactly.
constexpr char16_t kEscapeBase = 0xDC00;

void AppendEscapedBytes(Text& out, std::string_view bytes) {
  for (const char byte : bytes) {
    out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(byte)));
  }
}

bool IsEscapedByte(char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

}  // namespace

Text Utf8ToText(std::string_view utf8) {
  Text out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
      AppendEscapedBytes(out, utf8.substr(i, 1));
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    for (; j < utf8.size() && j <= i + extra; ++j) {
      const auto next = static_cast<unsigned char>(utf8[j]);
      if ((next & 0xC0) != 0x80) break;
      c = (c << 6) | (next & 0x3F);
    }
    if (j != i + 1 + extra || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      // Only the lead byte is taken as undecodable; what follows is decoded on its own, as
      // it may start a valid sequence.
      AppendEscapedBytes(out, utf8.substr(i, 1));
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i = j;
  }
  return out;
}

std::string TextToUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsEscapedByte(text[i])) {
      out.push_back(static_cast<char>(text[i] - kEscapeBase));
      continue;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
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
  out.reserve(text.size());
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
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
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
  }
  return out;
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
