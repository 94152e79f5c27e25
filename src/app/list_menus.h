// The commands that put the item list and the message list in the user's hands (their ids are
// in command_ids.h): the context menus of both lists and the key that runs each. Plain data in the
// current language, turned into HMENUs where every other menu is (menu_build.*).
#pragma once

#include "app/command_ids.h"
#include "app/menus.h"
#include "lang/language_table.h"

namespace nulvane::app {

// The item list's context menu. `has_selection`: at least one row is selected (the entries
// that act on rows are grayed otherwise); `run_active`: a run or a fill works (nothing may
// change the list then).
MenuModel ItemListMenu(const lang::LanguageTable& table, bool has_selection, bool run_active);
// The message list's context menu.
MenuModel MessageListMenu(const lang::LanguageTable& table);
// The entries that follow Info in the menu bar's menu: a separator, the two that add, and
// "Verify after overwriting", checked when `verify`.
MenuModel MenuBarListEntries(const lang::LanguageTable& table, bool verify);

// What a key pressed in the window runs. `focus`: which list has the keyboard focus.
enum class ListFocus { kNone, kItemList, kMessageList };
struct ListKey {
  unsigned virtual_key = 0;
  bool control = false;
  bool shift = false;
  ListFocus focus = ListFocus::kNone;
};
// The command of `key`, or 0 when the key is not one of these (it then goes on as it would).
// The context-menu key and Shift+F10 are not commands: see IsContextMenuKey.
int ListCommandForKey(const ListKey& key);
bool IsContextMenuKey(const ListKey& key);

}  // namespace nulvane::app
