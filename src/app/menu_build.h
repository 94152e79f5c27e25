// The one place where menu models become Win32 menus, and the popup that opens below a toolbar
// button.
#pragma once

#include <windows.h>

#include "app/menus.h"

namespace nulvane::app {

// Owns a menu made by CreatePopupMenu or CreateMenu (submenus included) and destroys it.
class UniqueMenu {
 public:
  UniqueMenu() = default;
  explicit UniqueMenu(HMENU menu) : menu_(menu) {}
  UniqueMenu(UniqueMenu&& other) noexcept : menu_(other.release()) {}
  UniqueMenu& operator=(UniqueMenu&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueMenu(const UniqueMenu&) = delete;
  UniqueMenu& operator=(const UniqueMenu&) = delete;
  ~UniqueMenu() { reset(); }

  HMENU get() const { return menu_; }
  HMENU release() {
    HMENU menu = menu_;
    menu_ = nullptr;
    return menu;
  }
  void reset(HMENU menu = nullptr) {
    if (menu_) DestroyMenu(menu_);
    menu_ = menu;
  }

 private:
  HMENU menu_ = nullptr;
};

// A popup menu (CreatePopupMenu) holding `model`'s entries, submenus included; empty when the
// system could not create it.
UniqueMenu CreatePopupFromModel(const MenuModel& model);
// A menu bar menu (CreateMenu) whose entries are `model`'s popups.
UniqueMenu CreateMenuFromModel(const MenuModel& model);

// Opens `menu` at the lower left corner of the button `command` of `toolbar`, with the button
// shown pressed while the menu is open and released afterwards; `owner` receives the menu's
// messages. With `return_command` the chosen id is returned (0: no choice) and no WM_COMMAND is
// sent; without it the choice arrives at `owner` as a command and 0 is returned.
int ShowPopupBelowButton(HWND owner, HWND toolbar, int command, HMENU menu, bool return_command);

}  // namespace nulvane::app
