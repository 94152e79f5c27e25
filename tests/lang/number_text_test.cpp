// Sizes and numbers in the user's format.
#include "lang/number_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace nulvane::lang {
namespace {

platform::NumberFormat English() { return {u".", u",", 3, true}; }
platform::NumberFormat German() { return {u",", u".", 3, true}; }

TEST(FormatByteSize, EnglishExamplesHaveOneDecimalAndDecimalThresholds) {
  const platform::NumberFormat en = English();
  EXPECT_EQ(FormatByteSize(0, en), u"0.0 byte");
  EXPECT_EQ(FormatByteSize(999, en), u"999.0 byte");
  EXPECT_EQ(FormatByteSize(1000, en), u"1.0 KB");
  EXPECT_EQ(FormatByteSize(1536, en), u"1.5 KB");
  EXPECT_EQ(FormatByteSize(10000, en), u"9.8 KB");
  EXPECT_EQ(FormatByteSize(100000, en), u"98.0 KB");
  EXPECT_EQ(FormatByteSize(1000000, en), u"1.0 MB");
  // Written without decimals before the locale formatting: 117.7 would be the exact value.
  EXPECT_EQ(FormatByteSize(123456789, en), u"118.0 MB");
  EXPECT_EQ(FormatByteSize(5000000000ULL, en), u"4.7 GB");
  EXPECT_EQ(FormatByteSize(2000000000000ULL, en), u"1,863.0 GB");
}

TEST(FormatByteSize, GermanFormatSwapsTheSeparators) {
  EXPECT_EQ(FormatByteSize(2000000000000ULL, German()), u"1.863,0 GB");
  EXPECT_EQ(FormatByteSize(1536, German()), u"1,5 KB");
}

TEST(FormatByteSize, LargestValueDoesNotOverflow) {
  EXPECT_EQ(FormatByteSize(std::numeric_limits<std::uint64_t>::max(), English()),
            u"17,179,869,184.0 GB");
}

TEST(FormatLocaleNumber, RoundsHalfUpOnTheDecimalDigitsWithCarry) {
  const platform::NumberFormat en = English();
  EXPECT_EQ(FormatLocaleNumber(u"0.95", 1, en), u"1.0");
  EXPECT_EQ(FormatLocaleNumber(u"9.95", 1, en), u"10.0");
  EXPECT_EQ(FormatLocaleNumber(u"999.96", 1, en), u"1,000.0");
  EXPECT_EQ(FormatLocaleNumber(u"0.94", 1, en), u"0.9");
  EXPECT_EQ(FormatLocaleNumber(u"2.5", 0, en), u"3");
  EXPECT_EQ(FormatLocaleNumber(u"1234567", 1, en), u"1,234,567.0");
}

TEST(FormatLocaleNumber, GroupingAndLeadingZeroFollowTheFormat) {
  EXPECT_EQ(FormatLocaleNumber(u"1234.5", 1, German()), u"1.234,5");
  EXPECT_EQ(FormatLocaleNumber(u"1234567.25", 2, {u".", u"", 0, true}), u"1234567.25");
  EXPECT_EQ(FormatLocaleNumber(u"1234567", 0, {u".", u" ", 4, true}), u"123 4567");
  EXPECT_EQ(FormatLocaleNumber(u"0.5", 1, {u".", u",", 3, false}), u".5");
}

TEST(FormatLocaleNumber, TextThatIsNoPlainNumberComesBackUnchanged) {
  const platform::NumberFormat en = English();
  EXPECT_EQ(FormatLocaleNumber(u"abc", 1, en), u"abc");
  EXPECT_EQ(FormatLocaleNumber(u"1.2.3", 1, en), u"1.2.3");
  EXPECT_EQ(FormatLocaleNumber(u".5", 1, en), u".5");
  EXPECT_EQ(FormatLocaleNumber(u"-5", 1, en), u"-5");
  EXPECT_EQ(FormatLocaleNumber(u"", 1, en), u"");
}

}  // namespace
}  // namespace nulvane::lang
