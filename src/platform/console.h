// Text output to the process's standard streams, and the console's input keys.
#pragma once

#include "platform/text.h"

namespace nulvane::platform {

enum class Stream { kOut, kErr };

// Writes `text` whole: a Windows console gets UTF-16 (WriteConsoleW); files, pipes and POSIX
// terminals get UTF-8. Returns false when the stream refused it.
bool WriteText(Stream stream, TextView text);

// Whether the stream is an interactive terminal (progress lines are drawn only there).
bool IsTerminal(Stream stream);

}  // namespace nulvane::platform
