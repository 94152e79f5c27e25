#include "app/menu_item_text.h"

namespace nulvane::app {

std::wstring MenuItemText(HMENU menu, UINT position) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STRING;
  info.dwTypeData = nullptr;
  if (!GetMenuItemInfoW(menu, position, TRUE, &info) || info.cch == 0) return {};
  std::wstring text(info.cch + 1, L'\0');
  info.cch = static_cast<UINT>(text.size());
  info.dwTypeData = text.data();
  if (!GetMenuItemInfoW(menu, position, TRUE, &info)) return {};
  text.resize(info.cch);
  return text;
}

}  // namespace nulvane::app
