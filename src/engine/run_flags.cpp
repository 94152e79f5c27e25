#include "engine/run_flags.h"

namespace nulvane::engine {

AfterRun DueAfterRun(AfterRun chosen, bool stopped, int error_count) {
  if (stopped) return AfterRun::kNone;
  if (chosen == AfterRun::kEndProgram && error_count != 0) return AfterRun::kNone;
  return chosen;
}

}  // namespace nulvane::engine
