// The one interface through which a deletion run or a free-space fill reaches its user
// interface, in the run's own terms: lines, progress, the run's options and its end. The window
// implements it with synchronous messages to its own thread, the console front end with
// terminal output, the tests with a recording fake. Every call returns only when the host has
// carried the change out.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/run_flags.h"
#include "platform/file_system.h"
#include "platform/queued_items.h"
#include "platform/text.h"

namespace nulvane::engine {

// The icon of a message line; the numbers are the image indices of the message list.
enum class MessageKind : int { kInfo = 0, kError = 1, kWarning = 2 };

// One progress report: the numbers and the engine's texts for them.
struct Progress {
  std::uint64_t done_bytes = 0;
  std::uint64_t total_bytes = 0;
  double percent = 0;
  // "Remaining: 3 sec. || Elapsed: 1 sec."
  Text times;
  // "50.0 % 1.5 KB of 3.0 KB"
  Text amount;
  // The window title while the run works: "[50.0 %] " and the product title.
  Text title;
};

// How a run or a fill that went through ended, and the step that is due now.
struct RunEnd {
  int error_count = 0;
  bool stopped = false;
  // DueAfterRun of the chosen step: kNone when nothing follows.
  AfterRun after_run = AfterRun::kNone;
};

class RunHost {
 public:
  virtual ~RunHost() = default;

  // Adds one message line (the window shows the newest line on top).
  virtual void AddMessage(TextView text, MessageKind kind) = 0;
  // Shows a progress report (the window: the two-line progress text, the status bar and the
  // title).
  virtual void ShowProgress(const Progress& progress) = 0;
  // The progress text outside a report (the instruction text after a fill), the status bar text
  // and the window title.
  virtual void SetProgressText(TextView text) = 0;
  virtual void SetStatusText(TextView text) = 0;
  virtual void SetTitle(TextView text) = 0;
  // Enables or disables the commands that would change the list or start another run.
  virtual void SetCommandsEnabled(bool enabled) = 0;

  // The item list's rows in row order, taken at the moment of the call: each row's full path,
  // its anchor and the identity the list recorded for it.
  virtual platform::QueuedItems SnapshotItems() = 0;
  // Rebuilds the item list's rows (dropping the paths that no longer exist) and its summary.
  virtual void RebuildRows() = 0;

  // Shows the options the run works with (the window labels its option buttons with them) and
  // returns the delay's label as the host shows it, for the run's message line.
  virtual Text ShowRunOptions(int passes, int delay) = 0;

  // A run or a fill went through: called once, as its last word, before the commands are
  // enabled again (a fill) or after (a run). The host carries out `end.after_run`.
  virtual void RunEnded(const RunEnd& end) = 0;
};

// A host that takes the message lines and nothing else: a run's workers, whose lines the run's
// thread shows, and measurements that need no display.
class LinesOnlyHost : public RunHost {
 public:
  void ShowProgress(const Progress&) override {}
  void SetProgressText(TextView) override {}
  void SetStatusText(TextView) override {}
  void SetTitle(TextView) override {}
  void SetCommandsEnabled(bool) override {}
  platform::QueuedItems SnapshotItems() override { return {}; }
  void RebuildRows() override {}
  Text ShowRunOptions(int, int) override { return {}; }
  void RunEnded(const RunEnd&) override {}
};

}  // namespace nulvane::engine
