// Running the real main dialog under a UiScript, for the window's GUI tests.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "gui_harness.h"

namespace nulvane::app::testing {

// Runs `dialog` modally (template 145 of this program) with `script` driving it from the
// dialog's own loop, and checks that every step of the script ran; returns the dialog's result.
inline INT_PTR RunScripted(CSetFileTime& dialog, UiScript& script) {
  script.Start();
  const INT_PTR result = RunMainDialog(GetModuleHandleW(nullptr), dialog);
  EXPECT_TRUE(script.completed());
  return result;
}

}  // namespace nulvane::app::testing
