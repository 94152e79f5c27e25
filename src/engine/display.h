// The texts a run or a fill shows: durations and the throttled progress report (sizes and
// numbers in the user's format are lang/number_text's); plus the two small helpers through which
// the engine reaches the message list and the run commands.
#pragma once

#include <cstdint>

#include "engine/run_host.h"
#include "lang/number_text.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "platform/text.h"

namespace nulvane::engine {

// "< 1 sec.", "59 sec.", "62 min., 5 sec." (no hour unit). A value that is not a finite
// number of seconds at or above 0 (an estimate made before anything was done) gives "?".
Text FormatDuration(double seconds);

// Adds a message line through the host.
void AddMessage(RunHost& host, TextView text, MessageKind kind);
// Enables or disables the run commands through the host.
void SetCommandsEnabled(RunHost& host, bool enabled);

// The progress display of one run or fill: the run start time and the last progress time, and
// the report that shows at most one update per 100 ms. Used by the one worker that owns it.
class ProgressDisplay {
 public:
  ProgressDisplay(RunHost& host, platform::Clock& clock) : host_(host), clock_(clock) {}

  // Sets the run start time and the last progress time to now.
  void Start();

  // Shows `done` of `total` bytes (RunHost::ShowProgress), unless the last shown report is not
  // more than 100 ms old; then it only reads the clock.
  // Returns whether it showed.
  bool Report(std::uint64_t done, std::uint64_t total);
  // The last report of a run: shown whatever the time since the one before, so that the
  // progress text, the status bar and the title end on what was really done.
  void ReportFinal(std::uint64_t done, std::uint64_t total);

 private:
  void Show(std::uint32_t now, std::uint64_t done, std::uint64_t total);

  RunHost& host_;
  platform::Clock& clock_;
  std::uint32_t start_ms_ = 0;
  std::uint32_t last_ms_ = 0;
};

}  // namespace nulvane::engine
