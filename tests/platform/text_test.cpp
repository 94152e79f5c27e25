#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace nulvane::platform {
namespace {

// Every name of one or two bytes, alone, amid ASCII runs (at every offset of a group of four
// units) and before a four-byte character, comes back from UTF-16 byte for byte, whatever of
// it is valid UTF-8.
TEST(TextConversion, EveryShortByteSequenceRoundTripsInAnyPosition) {
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      const std::string pair = {static_cast<char>(first), static_cast<char>(second)};
      for (const std::string& bytes :
           {pair, "name " + pair + "\xF0\x9F\x98\x80", "ab" + pair + "cdefgh", pair.substr(0, 1)}) {
        const Text text = Utf8ToText(bytes);
        ASSERT_EQ(TextToUtf8(text), bytes) << first << " " << second;
        ASSERT_FALSE(HasUnmappableSurrogate(text)) << first << " " << second;
        ASSERT_LE(text.size(), bytes.size());
      }
    }
  }
}

// Every UTF-16 unit alone: a character comes back as itself, a lone surrogate that stands for
// no byte as U+FFFD, and one that stands for a byte as that byte's own unit.
TEST(TextConversion, EveryUnitGoesToUtf8AndBack) {
  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    const Text text(1, static_cast<char16_t>(unit));
    const std::string bytes = TextToUtf8(text);
    if (unit >= 0xDC80 && unit <= 0xDCFF) {
      ASSERT_EQ(bytes, std::string(1, static_cast<char>(unit - 0xDC00))) << unit;
      ASSERT_EQ(Utf8ToText(bytes), text) << unit;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      ASSERT_EQ(bytes, "\xEF\xBF\xBD") << unit;
    } else {
      ASSERT_EQ(Utf8ToText(bytes), text) << unit;
    }
  }
}

// Escaping appends to what is there and leaves plain text as it is, around every escape.
TEST(TextConversion, EscapesAppendAroundPlainRuns) {
  Text out = u"kept ";
  AppendEscapedForDisplay(out,
                          u"a b\x1B[0m\u00E9\x9B"
                          u"c" +
                              Text(1, char16_t(0xDCFF)) + u"d");
  EXPECT_EQ(out, u"kept a b\\x1B[0m\u00E9\\xC2\\x9Bc\\xFFd");
  EXPECT_EQ(EscapeForDisplay(u"plain name.txt"), u"plain name.txt");
  EXPECT_EQ(EscapeForDisplay(u""), u"");
}

}  // namespace
}  // namespace nulvane::platform
