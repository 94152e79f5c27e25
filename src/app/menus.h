// The contents of every menu and popup of the window, and the texts its commands show or open,
// as plain data in the current language. Nothing here touches a window: one place turns a
// MenuModel into an HMENU, so these rules are tested on every system.
#pragma once

#include <array>
#include <vector>

#include "app/command_ids.h"
#include "lang/language_table.h"
#include "platform/text.h"

namespace nulvane::app {

// The program's name, the same in every language.
inline constexpr TextView kProgramName = u"Nulvane";

// The overwrite counts offered, in menu order; each entry's id is its count.
inline constexpr std::array<int, 19> kOverwriteCounts{1,  2,  3,  4,  5,  6,  7,  8,  9, 11,
                                                      13, 15, 17, 20, 23, 26, 29, 32, 35};

// The count the overwrite button shows for a stored `re_write`: 1 to the menu's largest count.
int ClampOverwriteLabelCount(int stored_count);

struct MenuEntry {
  enum class Kind { kItem, kSeparator, kSubmenu };
  Kind kind = Kind::kItem;
  int id = 0;
  Text text;
  bool checked = false;
  // Shown grayed and not selectable.
  bool grayed = false;
  std::vector<MenuEntry> submenu;  // kSubmenu only
};
using MenuModel = std::vector<MenuEntry>;

// The overwrite menu; the entry equal to `stored_count` is checked (none for any other value).
MenuModel OverwriteMenu(const lang::LanguageTable& table, int stored_count);
// The delay menu (0 to 9 seconds); the entry equal to `delay` is checked.
MenuModel DelayMenu(const lang::LanguageTable& table, int delay);
// The language menu: every slot whose name is longer than 5 characters, the current one
// grayed, then a separator and "Translate".
MenuModel LanguageMenu(const lang::LanguageTable& table);
// The "Delete +" popup.
MenuModel DeletePlusMenu(const lang::LanguageTable& table);
// The menu bar's menu: one popup titled "&" + the program name (Alt+N) holding the 14 entries;
// the Send-To entry is checked when `in_send_to`.
MenuModel MenuBarMenu(const lang::LanguageTable& table, bool in_send_to);

// The help box's text: the five pairs of lines of the commands and the pair of the keys, an
// empty line between pairs, CR LF line breaks.
Text HelpText(const lang::LanguageTable& table);

// The web addresses of the link commands. Each is empty when the table lacks its base address,
// and a caller opens nothing then.
Text HomeAddress(const lang::LanguageTable& table);
Text FaqAddress(const lang::LanguageTable& table);
Text HomePageAddress(const lang::LanguageTable& table);
Text DonateAddress(const lang::LanguageTable& table);

}  // namespace nulvane::app
