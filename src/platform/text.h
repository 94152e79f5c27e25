// UTF-16 text, the one string type of the program's core, and its conversions.
#pragma once

#include <string>
#include <string_view>

namespace nulvane {

// Every path and every user-interface text is UTF-16. Win32 code reinterprets it as wchar_t
// at the API boundary (platform/win32/wide.h); POSIX code converts file names to UTF-8.
using Text = std::u16string;
using TextView = std::u16string_view;

namespace platform {

// Converts UTF-8 to UTF-16. Invalid or truncated sequences become U+FFFD; nothing is dropped.
Text Utf8ToText(std::string_view utf8);

// Converts UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string TextToUtf8(TextView text);

// True for the characters the C library's iswspace accepts in the "C" locale plus the Unicode
// blanks a command line can carry (no-break space, ideographic space, ...).
bool IsWhiteSpace(char16_t c);

// Decimal conversion as strtol/wcstol does it: leading white space, an optional sign, digits up
// to the first other character; no digits gives 0. Values beyond int saturate.
int ParseDecimal(TextView text);

}  // namespace platform
}  // namespace nulvane
