// nulvane.exe: start-up and the one modal loop of the program.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>

#include "app/command_ids.h"
#include "app/main_dialog.h"
#include "app/program.h"
#include "lang/language_table.h"
#include "settings/settings.h"

// The command line arrives wide (wWinMain), so a path that the ANSI code page cannot express
// reaches the item list unchanged.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
  using namespace nulvane;
  app::ProgramState& program = app::Program();
  program.command_line = platform::FromWide(command_line ? command_line : L"");
  wchar_t title[101] = {};
  if (LoadStringW(instance, IDS_APP_TITLE, title, 101) > 0)
    program.app_title = platform::FromWide(title);

  lang::Table().SetCurrentLanguage(settings::InitSettingsFile());
  if (!lang::LoadLanguageTable()) return 0;

  program.instance = instance;
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_COOL_CLASSES;
  InitCommonControlsEx(&controls);
  InitCommonControls();

  {
    app::CSetFileTime dialog(program.command_line);
    app::RunMainDialog(instance, dialog);
    // A run still working ends with the process, at once: its worker must not outlive the
    // dialog object it reports to, nor finish its item.
    if (app::CSetFileTime::WorkerActive()) ExitProcess(0);
  }
  return 0;
}
