// The process-wide values of nulvane.exe, set during start-up.
#pragma once

#include <windows.h>
#undef DeleteFile

#include "platform/text.h"
#include "platform/win32/wide.h"

namespace nulvane::app {

// The program's name, the same in every language.
inline constexpr TextView kProgramName = u"Nulvane";

struct ProgramState {
  HINSTANCE instance = nullptr;
  // Resource string 103 (at most 100 characters); names the translators' export file.
  Text app_title;
  // The text after the program name on the command line.
  Text command_line;
};

ProgramState& Program();

}  // namespace nulvane::app
