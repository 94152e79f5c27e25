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

// Long plain runs go many units at a time: a unit of every kind at every place of such a run
// (both sides of a group of eight) comes out exactly as it does alone, and so does the run
// around it.
TEST(TextConversion, EveryKindOfUnitAmidLongPlainRunsConvertsAsItDoesAlone) {
  const Text run = u"abcdefghijklmnopqrstuvwx";
  for (unsigned unit = 0; unit < 0x10000;
       unit += (unit < 0x100 || (unit >= 0xD7F0 && unit < 0xE010)) ? 1 : 61) {
    const Text alone(1, static_cast<char16_t>(unit));
    const std::string bytes = TextToUtf8(alone);
    const Text shown = EscapeForDisplay(alone);
    for (std::size_t at = 0; at <= 10; ++at) {
      Text text = run;
      text.insert(at, alone);
      const std::string plain_before(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(at));
      const std::string plain_after(run.begin() + static_cast<std::ptrdiff_t>(at), run.end());
      ASSERT_EQ(TextToUtf8(text), plain_before + bytes + plain_after) << unit << " " << at;
      ASSERT_EQ(EscapeForDisplay(text), run.substr(0, at) + shown + run.substr(at))
          << unit << " " << at;
    }
  }
}

}  // namespace
}  // namespace nulvane::platform
