// The main dialog's menu commands: the popups below the option buttons and the language button.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>

#include "app/launcher.h"
#include "app/main_dialog.h"
#include "app/menu_build.h"
#include "app/menus.h"
#include "lang/language_table.h"
#include "lang/translation_export.h"
#include "platform/file_system.h"
#include "platform/format.h"
#include "platform/win32/wide.h"
#include "settings/settings.h"

namespace nulvane::app {
namespace {

using platform::Format;

using lang::TextId;

// Why `file` cannot be written: `error` (the failed write's own code) when there is one, else
// what an attempt to open it for writing says. A file that attempt creates is removed again.
Text WriteFailureReason(DWORD error, TextView file) {
  if (error == ERROR_SUCCESS) {
    const Text name(file);
    HANDLE handle =
        CreateFileW(platform::Wide(name), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = GetLastError();
    } else {
      const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
      CloseHandle(handle);
      if (created) DeleteFileW(platform::Wide(name));
      error = ERROR_WRITE_FAULT;
    }
  }
  return platform::SystemErrorText(error);
}

}  // namespace

void CSetFileTime::NoteSettingsWrite(bool written) {
  const DWORD error = written ? ERROR_SUCCESS : GetLastError();
  if (written || settings_warned_) return;
  // Once per start: every later choice would fail for the same reason.
  settings_warned_ = true;
  const Text file = settings::SettingsFile();
  view_.AddMessage(
      Format(lang::Txt(TextId::kSettingsNotSaved), file, WriteFailureReason(error, file)),
      engine::MessageKind::kWarning);
}

void CSetFileTime::OnOverwriteMenu() {
  int stored = 0;
  engine::RunSession::ReadPasses(&stored);
  const UniqueMenu menu = CreatePopupFromModel(OverwriteMenu(lang::Table(), stored));
  const int chosen =
      ShowPopupBelowButton(Window(), view_.list_toolbar(), kCommandOverwriteMenu, menu.get(), true);
  // Only the menu's own ids are stored; a stray return value changes nothing.
  for (int count : kOverwriteCounts) {
    if (chosen == count) NoteSettingsWrite(settings::PutOptionInt(settings::kPassesKey, count));
  }
  // Also without a choice: the labels show what the settings file holds now.
  ShowOptionsFromSettings();
}

void CSetFileTime::OnDelayMenu() {
  int stored = 0;
  session_.ReadDelay(&stored);
  const UniqueMenu menu = CreatePopupFromModel(DelayMenu(lang::Table(), stored));
  const int chosen =
      ShowPopupBelowButton(Window(), view_.list_toolbar(), kCommandDelayMenu, menu.get(), true);
  if (chosen >= kDelayEntryBase && chosen < kDelayEntryBase + kDelayEntries) {
    NoteSettingsWrite(settings::PutOptionInt(settings::kDelayKey, chosen - kDelayEntryBase));
  }
  ShowOptionsFromSettings();
}

void CSetFileTime::ShowLanguageMenu() {
  const UniqueMenu menu = CreatePopupFromModel(LanguageMenu(lang::Table()));
  const int chosen = ShowPopupBelowButton(Window(), view_.corner_toolbar(), kCommandLanguageMenu,
                                          menu.get(), true);
  if (chosen == kTranslateEntry) {
    if (!lang::ExportTranslation()) {
      const DWORD error = GetLastError();
      const Text path = lang::TranslationExportPath();
      view_.AddMessage(
          Format(lang::Txt(TextId::kExportNotWritten), path, WriteFailureReason(error, path)),
          engine::MessageKind::kError);
    }
    return;
  }
  // Every slot the table can hold has an id; the grayed current one never comes back.
  if (chosen < kLanguageEntryBase || chosen >= kLanguageEntryBase + lang::kMaxSlots) return;
  const int slot = chosen - kLanguageEntryBase;
  lang::Table().SetCurrentLanguage(slot);
  ApplyLanguageTexts();
  NoteSettingsWrite(settings::PutProgramInt(settings::kLanguageKey, slot));
}

void CSetFileTime::ShowDeletePlusMenu() {
  const UniqueMenu menu = CreatePopupFromModel(DeletePlusMenu(lang::Table()));
  // The entries arrive as commands; each starts a run, or is refused while one works.
  ShowPopupBelowButton(Window(), view_.list_toolbar(), kCommandDeletePlus, menu.get(), false);
}

void CSetFileTime::ShowHelpBox() {
  const Text text = HelpText(lang::Table());
  const Text caption(lang::Txt(TextId::kHelpCaption));
  MessageBoxW(Window(), platform::Wide(text), platform::Wide(caption), MB_OK);
}

void CSetFileTime::OpenLink(int command) {
  Text address;
  switch (command) {
    case kCommandHomeLink:
      address = HomeAddress(lang::Table());
      break;
    case kMenuCommandFaq:
      address = FaqAddress(lang::Table());
      break;
    case kMenuCommandHomePage:
      address = HomePageAddress(lang::Table());
      break;
    case kMenuCommandDonate:
      address = DonateAddress(lang::Table());
      break;
    default:
      return;
  }
  // A table without the address opens nothing rather than a broken address.
  if (!address.empty()) CurrentLauncher().OpenAddress(address);
}

}  // namespace nulvane::app
