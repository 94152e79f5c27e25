#include "lang/number_text.h"

#include <charconv>

#include "platform/format.h"

namespace nulvane::lang {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Adds one unit to the decimal digits in `digits` (most significant first), carrying; returns
// whether the carry ran out of the front (999 -> 000 and true).
bool IncrementDigits(Text& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != u'9') {
      ++digits[i];
      return false;
    }
    digits[i] = u'0';
  }
  return true;
}

// The user's number format, read once per process: on POSIX reading it loads the locale
// (about 50 microseconds), and the item list formats a size for every row it shows.
const platform::NumberFormat& CachedUserNumberFormat() {
  static const platform::NumberFormat format = platform::UserNumberFormat();
  return format;
}

}  // namespace

Text FormatLocaleNumber(TextView number, int decimals, const platform::NumberFormat& format) {
  if (decimals < 0) decimals = 0;
  // Split into integer and fraction digits; anything but digits with at most one "." (and at
  // least one digit before it) is not a number this formatter takes.
  const std::size_t point = number.find(u'.');
  TextView integer_part = number.substr(0, point);
  TextView fraction_part = point == TextView::npos ? TextView() : number.substr(point + 1);
  if (integer_part.empty()) return Text(number);
  for (char16_t c : integer_part)
    if (!IsDigit(c)) return Text(number);
  for (char16_t c : fraction_part)
    if (!IsDigit(c)) return Text(number);

  Text integer(integer_part);
  Text fraction(fraction_part);
  const auto wanted = static_cast<std::size_t>(decimals);
  if (fraction.size() > wanted) {
    // Round half away from zero on the decimal digits themselves, as the number text reads.
    const bool round_up = fraction[wanted] >= u'5';
    fraction.resize(wanted);
    if (round_up && IncrementDigits(fraction) && IncrementDigits(integer)) {
      integer.insert(integer.begin(), u'1');
    }
  } else {
    fraction.append(wanted - fraction.size(), u'0');
  }
  // Leading zeros of the integer part go ("007" reads 7), keeping one.
  const std::size_t first = integer.find_first_not_of(u'0');
  integer.erase(0, first == Text::npos ? integer.size() - 1 : first);

  Text out;
  if (format.grouping > 0 && !format.thousands_separator.empty()) {
    const auto group = static_cast<std::size_t>(format.grouping);
    for (std::size_t i = 0; i < integer.size(); ++i) {
      if (i > 0 && (integer.size() - i) % group == 0) out += format.thousands_separator;
      out.push_back(integer[i]);
    }
  } else {
    out = integer;
  }
  if (!format.leading_zero && integer == u"0" && !fraction.empty()) out.clear();
  if (!fraction.empty()) {
    out += format.decimal_separator;
    out += fraction;
  }
  return out;
}

Text FormatLocaleNumber(TextView number, int decimals) {
  return FormatLocaleNumber(number, decimals, CachedUserNumberFormat());
}

Text FormatByteSize(std::uint64_t bytes, const platform::NumberFormat& format) {
  TextView unit = u" byte";
  std::uint64_t q = 0;
  double divisor = 0;
  if (bytes >= 1000000000ULL) {
    unit = u" GB";
    q = bytes / 10000000ULL;
    divisor = 107.3741824;
  } else if (bytes >= 1000000ULL) {
    unit = u" MB";
    q = bytes / 10000ULL;
    divisor = 104.8576;
  } else if (bytes >= 1000ULL) {
    unit = u" KB";
    q = bytes / 10ULL;
    divisor = 102.4;
  }
  // The number in plain digits, then in the user's format. A listing formats one size per
  // row, so the digits are made in place, without the general formatter.
  char digits[400];
  std::to_chars_result made{};
  if (divisor == 0) {
    made = std::to_chars(digits, digits + sizeof digits, bytes);
  } else {
    const double value = static_cast<double>(q) / divisor;
    // The first rounding happens here, before the locale formatting: 118 stays 118.0.
    made = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed,
                         q >= 10000 ? 0 : (q < 1000 ? 2 : 1));
  }
  char16_t number[sizeof digits];
  std::size_t length = 0;
  if (made.ec != std::errc()) {
    number[length++] = u'0';
  } else {
    for (const char* c = digits; c != made.ptr; ++c) number[length++] = static_cast<char16_t>(*c);
  }
  Text out = FormatLocaleNumber(TextView(number, length), 1, format);
  out += unit;
  return out;
}

Text FormatByteSize(std::uint64_t bytes) { return FormatByteSize(bytes, CachedUserNumberFormat()); }

}  // namespace nulvane::lang
