#include "app/program.h"

namespace nulvane::app {

ProgramState& Program() {
  static ProgramState state;
  return state;
}

}  // namespace nulvane::app
