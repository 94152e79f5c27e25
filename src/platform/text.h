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

// Converts UTF-8 to UTF-16 without loss. Each byte that is no part of a valid sequence becomes
// the lone surrogate U+DC80 + (byte - 0x80), so that a POSIX file name, which is bytes, comes
// back byte for byte from TextToUtf8.
Text Utf8ToText(std::string_view utf8);

// Converts UTF-16 to UTF-8. A lone surrogate U+DC80..U+DCFF becomes the byte it stands for;
// any other lone surrogate becomes U+FFFD (see HasUnmappableSurrogate).
std::string TextToUtf8(TextView text);
// TextToUtf8 into `out`, which has room for kMostUtf8BytesPerUnit bytes per unit of `text`;
// returns the end of what was written. A surrogate pair split between two calls is written as
// two replacement characters: callers cut text between pairs.
inline constexpr std::size_t kMostUtf8BytesPerUnit = 3;
char* EncodeUtf8(TextView text, char* out);

// True when `text` holds a lone surrogate that stands for no byte: TextToUtf8 would replace it,
// so as a file name the text would name another file.
bool HasUnmappableSurrogate(TextView text);

// `text` as it may be printed on a terminal and shown to a person. Written as escapes: every
// lone surrogate, and so every byte of a file name that is not text, as "\xNN" (the byte) or
// "\xNNNN"; the control characters a terminal acts on, C0 and DEL as "\xNN", C1 as the two
// bytes of their UTF-8 form ("\xC2\x9B"); and, where a backslash can be part of a name (not
// on Windows, where it separates names), every backslash as "\\". The result holds no control
// character, and no name is shown as another name would be.
Text EscapeForDisplay(TextView text);

// Appends EscapeForDisplay(text) to `out`, without a text of its own in between.
void AppendEscapedForDisplay(Text& out, TextView text);

// True for the characters the C library's iswspace accepts in the "C" locale plus the Unicode
// blanks a command line can carry (no-break space, ideographic space, ...).
bool IsWhiteSpace(char16_t c);

// Decimal conversion as strtol/wcstol does it: leading white space, an optional sign, digits up
// to the first other character; no digits gives 0. Values beyond int saturate.
int ParseDecimal(TextView text);

}  // namespace platform
}  // namespace nulvane
