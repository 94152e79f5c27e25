// The main dialog's menu commands: the popups below the option buttons and the language button.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>

#include "app/main_dialog.h"
#include "app/menu_build.h"
#include "app/menus.h"
#include "lang/language_table.h"
#include "lang/translation_export.h"
#include "settings/settings.h"

namespace nulvane::app {

void CSetFileTime::OnOverwriteMenu() {
  int stored = 0;
  settings::GetOptionInt(settings::kPassesKey, stored);
  const UniqueMenu menu = CreatePopupFromModel(OverwriteMenu(lang::Table(), stored));
  const int chosen =
      ShowPopupBelowButton(dialog_, list_toolbar_, kCommandOverwriteMenu, menu.get(), true);
  // Only the menu's own ids are stored; a stray return value changes nothing.
  for (int count : kOverwriteCounts) {
    if (chosen == count) settings::PutOptionInt(settings::kPassesKey, count);
  }
  // Also without a choice: the labels show what the settings file holds now.
  RefreshOptionLabels();
}

void CSetFileTime::OnDelayMenu() {
  int delay = flags_.delay.load();
  settings::GetOptionInt(settings::kDelayKey, delay);
  flags_.delay.store(delay);
  const UniqueMenu menu = CreatePopupFromModel(DelayMenu(lang::Table(), delay));
  const int chosen =
      ShowPopupBelowButton(dialog_, list_toolbar_, kCommandDelayMenu, menu.get(), true);
  if (chosen >= kDelayEntryBase && chosen < kDelayEntryBase + kDelayEntries) {
    settings::PutOptionInt(settings::kDelayKey, chosen - kDelayEntryBase);
  }
  RefreshOptionLabels();
}

void CSetFileTime::ShowLanguageMenu() {
  const UniqueMenu menu = CreatePopupFromModel(LanguageMenu(lang::Table()));
  const int chosen =
      ShowPopupBelowButton(dialog_, corner_toolbar_, kCommandLanguageMenu, menu.get(), true);
  if (chosen == kTranslateEntry) {
    // A failed export reports nothing: the translator sees no file and asks again.
    lang::ExportTranslation();
    return;
  }
  // Every slot the table can hold has an id; the grayed current one never comes back.
  if (chosen < kLanguageEntryBase || chosen >= kLanguageEntryBase + lang::kMaxSlots) return;
  const int slot = chosen - kLanguageEntryBase;
  lang::Table().SetCurrentLanguage(slot);
  ApplyLanguageTexts();
  settings::PutProgramInt(settings::kLanguageKey, slot);
}

}  // namespace nulvane::app
