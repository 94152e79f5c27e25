// The process-wide values shared by the user-interface thread and the run or fill worker.
#pragma once

#include <atomic>

namespace nulvane::engine {

struct RunFlags {
  // 1 while no run is active or after the user cancelled; a run clears it at its start and sets
  // it again at its end. A fill polls it between blocks as its stop request.
  std::atomic<int> stop{1};
  // The current "del_delay", 0..10, re-read at the start of each run.
  std::atomic<int> delay{5};
  // 1 while a fill writes.
  std::atomic<int> fill_running{0};
  // End the program after the run (only when the run had no errors).
  std::atomic<int> exit_after_run{0};
  // 0 none, 1 shut down, 2 standby, 3 end the program and standby.
  std::atomic<int> after_run_action{0};
};

// The one instance of the running program.
RunFlags& ProcessRunFlags();

}  // namespace nulvane::engine
