// The full text of a menu item, however long (a translation may be long).
#pragma once

#include <windows.h>

#include <string>

namespace nulvane::app {

// The text of item `position` of `menu`; empty for an item without text.
std::wstring MenuItemText(HMENU menu, UINT position);

}  // namespace nulvane::app
