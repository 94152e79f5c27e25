#include "app/menu_build.h"

#include <commctrl.h>

#include <string>

namespace nulvane::app {
namespace {

// Appends `model`'s entries to `menu`; false when any of them could not be added.
bool AppendEntries(HMENU menu, const MenuModel& model) {
  for (const MenuEntry& entry : model) {
    // The text is copied by AppendMenuW: a temporary string serves.
    const std::wstring text(entry.text.begin(), entry.text.end());
    UINT flags = MF_STRING;
    if (entry.checked) flags |= MF_CHECKED;
    if (entry.grayed) flags |= MF_GRAYED;
    switch (entry.kind) {
      case MenuEntry::Kind::kSeparator:
        if (!AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)) return false;
        break;
      case MenuEntry::Kind::kItem:
        if (!AppendMenuW(menu, flags, static_cast<UINT_PTR>(entry.id), text.c_str())) {
          return false;
        }
        break;
      case MenuEntry::Kind::kSubmenu: {
        UniqueMenu submenu = CreatePopupFromModel(entry.submenu);
        if (!submenu.get()) return false;
        if (!AppendMenuW(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(submenu.get()),
                         text.c_str())) {
          return false;
        }
        // The parent owns it now and destroys it with itself.
        submenu.release();
        // An entry with a submenu takes the submenu's handle as its id; the model's id replaces
        // it, so that the entry is found by its command (its icon, for one).
        if (entry.id != 0) {
          MENUITEMINFOW info{};
          info.cbSize = sizeof(info);
          info.fMask = MIIM_ID;
          info.wID = static_cast<UINT>(entry.id);
          SetMenuItemInfoW(menu, static_cast<UINT>(GetMenuItemCount(menu) - 1), TRUE, &info);
        }
        break;
      }
    }
  }
  return true;
}

}  // namespace

UniqueMenu CreatePopupFromModel(const MenuModel& model) {
  UniqueMenu menu(CreatePopupMenu());
  if (menu.get() && !AppendEntries(menu.get(), model)) menu.reset();
  return menu;
}

UniqueMenu CreateMenuFromModel(const MenuModel& model) {
  UniqueMenu menu(CreateMenu());
  if (menu.get() && !AppendEntries(menu.get(), model)) menu.reset();
  return menu;
}

int ShowPopupBelowButton(HWND owner, HWND toolbar, int command, HMENU menu, bool return_command) {
  if (!menu || !toolbar) return 0;
  const LRESULT index = SendMessageW(toolbar, TB_COMMANDTOINDEX, static_cast<WPARAM>(command), 0);
  RECT button{};
  if (index < 0 || !SendMessageW(toolbar, TB_GETITEMRECT, static_cast<WPARAM>(index),
                                 reinterpret_cast<LPARAM>(&button))) {
    return 0;
  }
  POINT corner{button.left, button.bottom};
  ClientToScreen(toolbar, &corner);
  SendMessageW(toolbar, TB_PRESSBUTTON, static_cast<WPARAM>(command), MAKELPARAM(TRUE, 0));
  UINT flags = TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON;
  if (return_command) flags |= TPM_RETURNCMD;
  const BOOL chosen = TrackPopupMenu(menu, flags, corner.x, corner.y, 0, owner, nullptr);
  SendMessageW(toolbar, TB_PRESSBUTTON, static_cast<WPARAM>(command), MAKELPARAM(FALSE, 0));
  return return_command ? static_cast<int>(chosen) : 0;
}

}  // namespace nulvane::app
