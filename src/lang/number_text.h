// Sizes and numbers as the user reads them: the user's separators and grouping, one decimal.
// Shown by the item list and by runs and fills alike.
#pragma once

#include <cstdint>

#include "platform/system.h"
#include "platform/text.h"

namespace nulvane::lang {

// A byte count as the user reads it: "999.0 byte", "1.5 KB", "118.0 MB", "1,863.0 GB".
// The unit thresholds are decimal (1000, 1,000,000, 1,000,000,000 bytes), the values binary;
// every result has exactly one decimal in the user's number format. Thread-safe.
Text FormatByteSize(std::uint64_t bytes);
// The same with an explicit number format (tests, or a caller that caches the format).
Text FormatByteSize(std::uint64_t bytes, const platform::NumberFormat& format);

// A plain number text (digits, optionally "." and more digits) rounded half away from zero to
// `decimals` decimals and written with the user's separators and grouping. A text that is not
// such a number comes back unchanged.
Text FormatLocaleNumber(TextView number, int decimals);
Text FormatLocaleNumber(TextView number, int decimals, const platform::NumberFormat& format);

}  // namespace nulvane::lang
