// One small, type-safe formatter for the program's printf-style texts.
//
// Translations carry conversions such as %d, %s, %u, %I64u, %.1lf, %08X and %%. A translated
// text is data, not code: its conversions may not match the arguments the program passes. The
// formatter therefore never reads an argument as another type than the one it was given:
//  - a conversion without an argument left is copied literally ("%d" stays "%d");
//  - a text argument under a numeric conversion is copied literally as the conversion;
//  - a number under %s is written in decimal; an integer under %f is written as a double and a
//    double under %d/%u/%X is truncated toward zero;
//  - an unknown conversion is copied literally and consumes no argument;
//  - arguments left over are ignored.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/text.h"

namespace nulvane::platform {

class FormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kDouble, kText };

  FormatArg(int value) : kind_(Kind::kSigned), signed_(value) {}
  FormatArg(long value) : kind_(Kind::kSigned), signed_(value) {}
  FormatArg(long long value) : kind_(Kind::kSigned), signed_(value) {}
  FormatArg(unsigned value) : kind_(Kind::kUnsigned), unsigned_(value) {}
  FormatArg(unsigned long value) : kind_(Kind::kUnsigned), unsigned_(value) {}
  FormatArg(unsigned long long value) : kind_(Kind::kUnsigned), unsigned_(value) {}
  FormatArg(double value) : kind_(Kind::kDouble), double_(value) {}
  FormatArg(TextView value) : kind_(Kind::kText), text_(value) {}
  FormatArg(const Text& value) : kind_(Kind::kText), text_(value) {}
  // A null text pointer (a text missing from the language table) formats as empty.
  FormatArg(const char16_t* value)
      : kind_(Kind::kText), text_(value ? TextView(value) : TextView()) {}

  Kind kind() const { return kind_; }
  std::int64_t as_signed() const { return signed_; }
  std::uint64_t as_unsigned() const { return unsigned_; }
  double as_double() const { return double_; }
  TextView as_text() const { return text_; }

 private:
  Kind kind_;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double double_ = 0;
  TextView text_;
};

// Formats `format` with `args` as described above. A null format gives an empty text.
Text FormatText(TextView format, std::initializer_list<FormatArg> args);

template <typename... Args>
Text Format(TextView format, const Args&... args) {
  return FormatText(format, {FormatArg(args)...});
}

// The same for a text that may be null (a language-table lookup): null gives an empty text.
template <typename... Args>
Text Format(const char16_t* format, const Args&... args) {
  return FormatText(format ? TextView(format) : TextView(), {FormatArg(args)...});
}

}  // namespace nulvane::platform
