#include <gtest/gtest.h>

#include <climits>

#include "platform/format.h"
#include "platform/text.h"

namespace nulvane::platform {
namespace {

TEST(Format, ProgramConversionsMatchPrintf) {
  EXPECT_EQ(Format(u"%d <dir>%s", 0, u"D:\\Old\\Photos"), u"0 <dir>D:\\Old\\Photos");
  EXPECT_EQ(Format(u"%.1lf %% // %s: %d ", 100.0, u"Error", 2), u"100.0 % // Error: 2 ");
  EXPECT_EQ(Format(u"%I64u Byte", 18446744073709551615ULL), u"18446744073709551615 Byte");
  EXPECT_EQ(Format(u"%.2lf %%", 102.4), u"102.40 %");
  EXPECT_EQ(Format(u"%s\\%s%08X", u"D:\\", u"Nulvane", 0x0A1B2Cu), u"D:\\\\Nulvane000A1B2C");
  EXPECT_EQ(Format(u"%.0lf", 117.7), u"118");
  EXPECT_EQ(Format(u"%u", 4000000000u), u"4000000000");
  EXPECT_EQ(Format(u"%d", INT_MIN), u"-2147483648");
  EXPECT_EQ(Format(u"[%5d|%-5d|%05d]", 42, 42, -42), u"[   42|42   |-0042]");
  EXPECT_EQ(Format(u"%x %X", 255, -1), u"ff FFFFFFFF");
}

// A translation is data: its conversions must never make the formatter read an argument as
// another type, nor read one that was not passed.
TEST(Format, MismatchedTranslationsNeverMisreadArguments) {
  EXPECT_EQ(Format(u"%s %s %s", u"only"), u"only %s %s");
  EXPECT_EQ(Format(u"%d sec.", u"text"), u"%d sec.");
  EXPECT_EQ(Format(u"%s sec.", 5), u"5 sec.");
  EXPECT_EQ(Format(u"%.1lf", 3), u"3.0");
  EXPECT_EQ(Format(u"%d", 2.9), u"2");
  EXPECT_EQ(Format(u"%n %p %q", 1), u"%n %p %q");
  EXPECT_EQ(Format(u"100%"), u"100%");
  EXPECT_EQ(Format(u"%I64", 5), u"%I64");
  EXPECT_EQ(Format(u"%s", static_cast<const char16_t*>(nullptr)), u"");
  EXPECT_EQ(Format(static_cast<const char16_t*>(nullptr), 1), u"");
  EXPECT_EQ(Format(u"%999999999d", 1).size(), 4096u);  // the width is bounded, no huge buffer
}

TEST(Text, Utf8RoundTripsAndKeepsEveryMalformedByte) {
  const Text text = u"Größe \u4E2D\u6587 \U0001F600";
  EXPECT_EQ(Utf8ToText(TextToUtf8(text)), text);
  // Each byte that does not decode stands as U+DC80 + (byte - 0x80) and comes back as itself:
  // a file name "r\xFF" must never turn into the different name "r\xEF\xBF\xBD".
  for (const std::string bytes :
       {std::string("a\xC3"), std::string("\xE0\x80\xAF"), std::string("\xED\xA0\x80x"),
        std::string("r\xFF"), std::string("\xC3\xA9\xFF\xC3")}) {
    EXPECT_EQ(TextToUtf8(Utf8ToText(bytes)), bytes);
    EXPECT_FALSE(HasUnmappableSurrogate(Utf8ToText(bytes)));
  }
  EXPECT_EQ(Utf8ToText("r\xFF"), u"r\xDCFF");
  EXPECT_EQ(Utf8ToText("\xC3\xA9\xFF"), u"\u00E9\xDCFF");
  // A lone surrogate that stands for no byte cannot be a POSIX name.
  EXPECT_EQ(TextToUtf8(Text(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_TRUE(HasUnmappableSurrogate(Text(1, char16_t(0xD800))));
  EXPECT_TRUE(HasUnmappableSurrogate(Text(1, char16_t(0xDC10))));
  // Shown to a person, the byte is spelled out, never shown as another character.
  EXPECT_EQ(EscapeForDisplay(Utf8ToText("r\xFF\xC3\xA9")), u"r\\xFF\u00E9");
  EXPECT_EQ(EscapeForDisplay(Text(1, char16_t(0xD800))), u"\\xD800");
}

// Regression: names printed raw let ESC sequences, BEL and the C1 CSI act on the terminal.
TEST(Text, EscapeForDisplayLeavesNoControlCharacterAndNoTwoNamesAlike) {
  EXPECT_EQ(EscapeForDisplay(u"a\x1B]0;t\x07\r\b\x7F\x9B"
                             u"2J\u00A0z"),
            u"a\\x1B]0;t\\x07\\x0D\\x08\\x7F\\xC2\\x9B2J\u00A0z");
  // The C1 character U+009B and the lone byte 0x9B of a name that is not UTF-8 differ.
  EXPECT_NE(EscapeForDisplay(u"\x9B"), EscapeForDisplay(Utf8ToText("\x9B")));
#ifndef _WIN32
  // A backslash is part of a POSIX name: doubled, so the name "\x1B" (four characters) never
  // reads like the name that holds ESC.
  EXPECT_EQ(EscapeForDisplay(u"\\x1B"), u"\\\\x1B");
  EXPECT_NE(EscapeForDisplay(u"\\x1B"), EscapeForDisplay(u"\x1B"));
#else
  EXPECT_EQ(EscapeForDisplay(u"C:\\dir\\x"), u"C:\\dir\\x");
#endif
}

TEST(Text, ParseDecimalReadsLikeStrtol) {
  EXPECT_EQ(ParseDecimal(u"  -3"), -3);
  EXPECT_EQ(ParseDecimal(u"12abc"), 12);
  EXPECT_EQ(ParseDecimal(u"abc"), 0);
  EXPECT_EQ(ParseDecimal(u"+7"), 7);
  EXPECT_EQ(ParseDecimal(u"99999999999999"), INT_MAX);
  EXPECT_EQ(ParseDecimal(u"-99999999999999"), INT_MIN);
  EXPECT_EQ(ParseDecimal(u""), 0);
}

}  // namespace
}  // namespace nulvane::platform
