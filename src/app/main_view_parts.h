// What the two files of the main dialog's view share: sizes at 96 DPI and small control
// helpers. For main_view.cpp and main_view_layout.cpp only.
#pragma once

#include <windows.h>
#undef DeleteFile

#include <algorithm>

#include "app/main_layout.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace nulvane::app::view_parts {

// Sizes at 96 DPI.
inline constexpr int kPathColumnWidth = 330;
inline constexpr int kSizeColumnWidth = 90;
inline constexpr int kMessagesColumnWidth = 400;
inline constexpr int kListButtonSize = 24;
inline constexpr int kCornerButtonSize = 20;
inline constexpr int kStripToolbarHeight = 20;
inline constexpr int kLinkBitmapHeight = 12;

inline HINSTANCE ModuleOf(HWND window) {
  return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
}

inline void Place(HWND window, const Rect& rect) {
  if (!window) return;
  // A negative size (a client lower than the fixed strips) shows as an empty control.
  SetWindowPos(window, nullptr, rect.x, rect.y, std::max(rect.width, 0), std::max(rect.height, 0),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// A child's rectangle in its parent's client coordinates.
inline RECT ChildRect(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

}  // namespace nulvane::app::view_parts
