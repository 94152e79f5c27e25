// The wchar_t view of the program's UTF-16 text at the Win32 API boundary. On Windows wchar_t
// is a 16-bit UTF-16 unit, so the two share one representation.
#pragma once

#include <string>

#include "platform/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wchar_t must be UTF-16");

namespace nulvane::platform {

inline const wchar_t* Wide(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline wchar_t* Wide(Text& text) { return reinterpret_cast<wchar_t*>(text.data()); }
inline Text FromWide(const wchar_t* text) {
  return text ? Text(reinterpret_cast<const char16_t*>(text)) : Text();
}
inline Text FromWide(const wchar_t* text, std::size_t length) {
  return Text(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace nulvane::platform
