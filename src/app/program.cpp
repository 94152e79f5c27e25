#include "app/program.h"

namespace nulvane::app {

namespace {

// Static objects, constructed in this order before the entry point runs. The Send-To manager,
// whose construction initialises OLE on the main thread, comes third.
CWinCmdBar2 g_menu_bar;
CUniSysIco g_system_icons;
CSendTo g_send_to;

}  // namespace

CWinCmdBar2& MenuBar() { return g_menu_bar; }
CUniSysIco& SystemIcons() { return g_system_icons; }
CSendTo& SendTo() { return g_send_to; }

ProgramState& Program() {
  static ProgramState state;
  return state;
}

}  // namespace nulvane::app
