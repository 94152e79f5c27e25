// The values shared by the user-interface thread and the run or fill worker, and the step that
// may follow a run.
#pragma once

#include <atomic>

namespace nulvane::engine {

// What follows a run or a fill that went through: nothing, the end of the program, or the
// after-run countdown for a shut-down, a standby, or a standby after which the program ends.
enum class AfterRun : int { kNone, kEndProgram, kShutDown, kStandby, kEndAndStandby };

// The step that is due once a run or fill has ended: none after a stop, and the end of the
// program only after a run without errors; the countdown comes after errors too.
AfterRun DueAfterRun(AfterRun chosen, bool stopped, int error_count);

struct RunFlags {
  // 1 while no run is active or after the user cancelled; a run clears it at its start and sets
  // it again at its end. A fill polls it between blocks as its stop request.
  std::atomic<int> stop{1};
  // The clamped "del_delay", 0..10: read at the start of each run and by the delay button, and
  // re-read by the countdown every second.
  std::atomic<int> delay{5};
  // 1 while a fill writes.
  std::atomic<int> fill_running{0};
  // The step chosen for the run at work; cleared when its end takes it, or when closing drops
  // it.
  std::atomic<AfterRun> after_run{AfterRun::kNone};
};

}  // namespace nulvane::engine
