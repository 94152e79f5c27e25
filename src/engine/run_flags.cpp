#include "engine/run_flags.h"

namespace nulvane::engine {

RunFlags& ProcessRunFlags() {
  static RunFlags flags;
  return flags;
}

}  // namespace nulvane::engine
