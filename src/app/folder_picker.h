// The fill's folder picker.
#pragma once

#include <windows.h>
#undef DeleteFile

#include <optional>

#include "platform/text.h"

namespace nulvane::app {

// Lets the user choose the folder whose volume a fill works on, in the shell's folder picker
// owned by `owner` (modal to it), on the calling thread: the window's own. Nothing when the
// user cancels; a choice that is no folder on a disk ("This PC", a printer) gives nothing
// either, after a message box that says so.
std::optional<Text> ChooseFillFolder(HWND owner);

}  // namespace nulvane::app
