// The process-wide values of nulvane.exe, set during start-up.
#pragma once

#include <windows.h>
#undef DeleteFile

#include <functional>

#include "app/menu_bar.h"
#include "app/menus.h"
#include "app/send_to.h"
#include "app/system_icons.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace nulvane::app {

struct ProgramState {
  HINSTANCE instance = nullptr;
  // Resource string 103 (at most 100 characters); names the translators' export file.
  Text app_title;
  // The text after the program name on the command line.
  Text command_line;
  // A test's own menu for the menu bar in place of the program's; null: the program's menu,
  // which the main dialog builds whenever it applies its texts.
  HMENU (*build_menu_bar_menu)() = nullptr;
  // A test's own start of a worker thread in place of a detached std::thread; it may throw as
  // the thread's construction can.
  void (*start_worker)(std::function<void()> work) = nullptr;
};

ProgramState& Program();

// The program's one menu bar, its system-icon loader and its Send-To manager, constructed before
// the entry point in this order.
CWinCmdBar2& MenuBar();
CUniSysIco& SystemIcons();
CSendTo& SendTo();

}  // namespace nulvane::app
