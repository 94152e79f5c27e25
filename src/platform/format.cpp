#include "platform/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace nulvane::platform {

namespace {

struct Conversion {
  bool left = false;   // '-'
  bool zero = false;   // '0'
  bool plus = false;   // '+'
  bool space = false;  // ' '
  int width = 0;
  int precision = -1;
  char16_t type = 0;  // d i u x X s c f e g ...
};

// Widens an ASCII text produced by snprintf.
void AppendAscii(Text& out, const char* text) {
  for (; *text; ++text) out.push_back(static_cast<unsigned char>(*text));
}

void Pad(Text& out, const Text& body, const Conversion& c, bool numeric) {
  const auto width = static_cast<std::size_t>(c.width);
  if (body.size() >= width) {
    out += body;
    return;
  }
  const std::size_t fill = width - body.size();
  if (c.left) {
    out += body;
    out.append(fill, u' ');
  } else if (c.zero && numeric) {
    // Zeros go after a sign.
    std::size_t sign = (!body.empty() && (body[0] == u'-' || body[0] == u'+' || body[0] == u' '));
    out += body.substr(0, sign);
    out.append(fill, u'0');
    out += body.substr(sign);
  } else {
    out.append(fill, u' ');
    out += body;
  }
}

Text IntegerText(const Conversion& c, const FormatArg& arg) {
  // The value, whatever the argument's own kind, without ever reading a text as a number.
  bool negative = false;
  std::uint64_t magnitude = 0;
  switch (arg.kind()) {
    case FormatArg::Kind::kSigned:
      negative = arg.as_signed() < 0;
      magnitude = negative ? 0 - static_cast<std::uint64_t>(arg.as_signed())
                           : static_cast<std::uint64_t>(arg.as_signed());
      break;
    case FormatArg::Kind::kUnsigned:
      magnitude = arg.as_unsigned();
      break;
    case FormatArg::Kind::kDouble: {
      double value = std::trunc(arg.as_double());
      if (std::isnan(value)) value = 0;
      negative = value < 0;
      value = std::fabs(value);
      magnitude = value >= 18446744073709551615.0 ? UINT64_MAX : static_cast<std::uint64_t>(value);
      break;
    }
    case FormatArg::Kind::kText:
      break;
  }
  char digits[40];
  if (c.type == u'x' || c.type == u'X') {
    // Hexadecimal shows the two's complement of a negative value, as printf does for 32 bits
    // when the value fits, else 64 bits.
    std::uint64_t bits = magnitude;
    if (negative) {
      bits = 0 - magnitude;
      if (magnitude <= 0x80000000ULL) bits &= 0xFFFFFFFFULL;
    }
    std::snprintf(digits, sizeof digits, c.type == u'x' ? "%llx" : "%llX",
                  static_cast<unsigned long long>(bits));
    negative = false;
  } else if (c.type == u'u' && negative) {
    std::uint64_t bits = 0 - magnitude;
    if (magnitude <= 0x80000000ULL) bits &= 0xFFFFFFFFULL;
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(bits));
    negative = false;
  } else {
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(magnitude));
  }
  Text body;
  if (negative) {
    body.push_back(u'-');
  } else if (c.plus && c.type != u'u' && c.type != u'x' && c.type != u'X') {
    body.push_back(u'+');
  } else if (c.space && c.type != u'u' && c.type != u'x' && c.type != u'X') {
    body.push_back(u' ');
  }
  Text number;
  AppendAscii(number, digits);
  if (c.precision > static_cast<int>(number.size()))
    number.insert(0, c.precision - number.size(), u'0');
  return body + number;
}

Text FloatText(const Conversion& c, const FormatArg& arg) {
  double value = 0;
  switch (arg.kind()) {
    case FormatArg::Kind::kSigned:
      value = static_cast<double>(arg.as_signed());
      break;
    case FormatArg::Kind::kUnsigned:
      value = static_cast<double>(arg.as_unsigned());
      break;
    case FormatArg::Kind::kDouble:
      value = arg.as_double();
      break;
    case FormatArg::Kind::kText:
      break;
  }
  std::string printf_format = "%";
  if (c.plus) printf_format += '+';
  if (c.space) printf_format += ' ';
  const int precision = c.precision < 0 ? 6 : (c.precision > 60 ? 60 : c.precision);
  printf_format += "." + std::to_string(precision);
  printf_format += static_cast<char>(c.type);
  // Large magnitudes need room: %f of 1e308 has 309 digits before the point.
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, printf_format.c_str(), value);
  Text out;
  AppendAscii(out, buffer);
  return out;
}

Text TextOf(const FormatArg& arg, int precision) {
  Text body;
  switch (arg.kind()) {
    case FormatArg::Kind::kText:
      body = Text(arg.as_text());
      break;
    case FormatArg::Kind::kDouble: {
      Conversion c;
      c.type = u'f';
      c.precision = 2;
      body = FloatText(c, arg);
      break;
    }
    default: {
      Conversion c;
      c.type = u'd';
      body = IntegerText(c, arg);
      break;
    }
  }
  if (precision >= 0 && static_cast<std::size_t>(precision) < body.size()) body.resize(precision);
  return body;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

Text FormatText(TextView format, std::initializer_list<FormatArg> args) {
  Text out;
  out.reserve(format.size() + 16 * args.size());
  auto next_arg = args.begin();
  std::size_t i = 0;
  while (i < format.size()) {
    const char16_t ch = format[i];
    if (ch != u'%') {
      out.push_back(ch);
      ++i;
      continue;
    }
    const std::size_t start = i++;
    if (i < format.size() && format[i] == u'%') {
      out.push_back(u'%');
      ++i;
      continue;
    }
    Conversion c;
    for (; i < format.size(); ++i) {
      const char16_t f = format[i];
      if (f == u'-')
        c.left = true;
      else if (f == u'0')
        c.zero = true;
      else if (f == u'+')
        c.plus = true;
      else if (f == u' ')
        c.space = true;
      else if (f == u'#')
        continue;
      else
        break;
    }
    for (; i < format.size() && IsDigit(format[i]); ++i)
      c.width = std::min(c.width * 10 + (format[i] - u'0'), 4096);
    if (i < format.size() && format[i] == u'.') {
      c.precision = 0;
      for (++i; i < format.size() && IsDigit(format[i]); ++i)
        c.precision = std::min(c.precision * 10 + (format[i] - u'0'), 4096);
    }
    // Length modifiers carry no meaning here: every argument knows its own type.
    if (format.substr(i, 3) == u"I64" || format.substr(i, 3) == u"I32") {
      i += 3;
    } else {
      while (i < format.size() &&
             (format[i] == u'l' || format[i] == u'h' || format[i] == u'L' || format[i] == u'I' ||
              format[i] == u'z' || format[i] == u'j' || format[i] == u't' || format[i] == u'q'))
        ++i;
    }
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    c.type = format[i++];
    const TextView literal = format.substr(start, i - start);
    const bool integer =
        c.type == u'd' || c.type == u'i' || c.type == u'u' || c.type == u'x' || c.type == u'X';
    const bool floating = c.type == u'f' || c.type == u'F' || c.type == u'e' || c.type == u'E' ||
                          c.type == u'g' || c.type == u'G';
    const bool text = c.type == u's' || c.type == u'S';
    const bool character = c.type == u'c' || c.type == u'C';
    if (!integer && !floating && !text && !character) {
      out.append(literal);  // unknown conversion: shown as written, no argument used
      continue;
    }
    if (next_arg == args.end()) {
      out.append(literal);
      continue;
    }
    const FormatArg& arg = *next_arg++;
    if ((integer || floating || character) && arg.kind() == FormatArg::Kind::kText) {
      out.append(literal);
      continue;
    }
    if (integer) {
      Pad(out, IntegerText(c, arg), c, c.precision < 0);
    } else if (floating) {
      Pad(out, FloatText(c, arg), c, true);
    } else if (character) {
      const std::uint64_t code = arg.kind() == FormatArg::Kind::kSigned
                                     ? static_cast<std::uint64_t>(arg.as_signed())
                                     : arg.as_unsigned();
      Text body(1, static_cast<char16_t>(code & 0xFFFF));
      Pad(out, body, c, false);
    } else {
      Pad(out, TextOf(arg, c.precision), c, false);
    }
  }
  return out;
}

}  // namespace nulvane::platform
