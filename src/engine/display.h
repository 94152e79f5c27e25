// The texts a run or a fill shows: sizes, numbers in the user's format, durations, and the
// throttled progress report; plus the two small helpers through which the engine reaches the
// message list and the run commands.
#pragma once

#include <cstdint>

#include "engine/run_host.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "platform/text.h"

namespace nulvane::engine {

// A byte count as the user reads it: "999.0 byte", "1.5 KB", "118.0 MB", "1,863.0 GB".
// The unit thresholds are decimal (1000, 1,000,000, 1,000,000,000 bytes), the values binary;
// every result has exactly one decimal in the user's number format. Thread-safe.
Text FormatByteSize(std::uint64_t bytes);
// The same with an explicit number format (tests, or a caller that caches the format).
Text FormatByteSize(std::uint64_t bytes, const platform::NumberFormat& format);

// A plain number text (digits, optionally "." and more digits) rounded half away from zero to
// `decimals` decimals and written with the user's separators and grouping. A text that is not
// such a number comes back unchanged.
Text FormatLocaleNumber(TextView number, int decimals);
Text FormatLocaleNumber(TextView number, int decimals, const platform::NumberFormat& format);

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
