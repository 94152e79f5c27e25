// The console's output: message lines prefixed with their kind, information on standard
// output, errors and warnings on standard error, and on an interactive terminal one progress
// line redrawn in place. Thread-safe.
#pragma once

#include <mutex>

#include "engine/run_host.h"
#include "platform/console.h"
#include "platform/text.h"

namespace nulvane::cli {

class Terminal {
 public:
  // `quiet`: only errors and warnings; no progress line and no other output.
  explicit Terminal(bool quiet);

  // "Info: text", "Error: text" or "Warning: text" in the current language. Every text this
  // class prints is escaped for the terminal (platform::EscapeForDisplay): a name holding
  // control characters cannot move the cursor, erase lines or retitle the window.
  void Message(TextView text, engine::MessageKind kind);
  // An information line that belongs to the error or warning line before it (the system's
  // reason, the name an item was left under): "Info: text" on standard error beside that
  // line, also when quiet.
  void Detail(TextView text);
  // A plain line on standard output (listings, summaries); nothing when quiet.
  void Line(TextView text);
  // The same line, gathered with the next ones into one write of some 32 KB (a listing of
  // many rows); every other output, and the end of the terminal, writes what is gathered first.
  void GatheredLine(TextView text);
  ~Terminal();
  // Redraws the progress line. Only on an interactive terminal and when not quiet; without
  // control characters otherwise (nothing is written then).
  void Progress(TextView line);
  // Clears the progress line, if one is shown.
  void EndProgress();

  bool quiet() const { return quiet_; }

 private:
  void ClearProgressLocked();
  void FlushGatheredLocked();
  void WriteMessage(TextView text, engine::MessageKind kind, platform::Stream stream);

  std::mutex mutex_;
  const bool quiet_;
  const bool live_;  // standard output is an interactive terminal and not quiet
  bool progress_shown_ = false;
  Text gathered_;
};

}  // namespace nulvane::cli
