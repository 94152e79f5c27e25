// The calls that leave the program's own window: opening a web address, shutting the PC down and
// putting it into standby. They go through one replaceable object so that a test records them
// instead of making them; no test can shut down or suspend the machine it runs on.
#pragma once

#include "platform/text.h"

namespace nulvane::app {

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Opens `address` (a web address or a folder) with the system's handler; failures are not
  // reported.
  virtual void OpenAddress(TextView address) = 0;
  // Starts shutting the PC down; failures are not reported.
  virtual void ShutDown() = 0;
  // Puts the PC into standby (never hibernation); failures are not reported.
  virtual void Standby() = 0;
};

// The launcher in use: the system's unless a test has put its own in place.
Launcher& CurrentLauncher();
// Makes `launcher` the one in use (null: the system's again). The caller keeps it alive.
void UseLauncher(Launcher* launcher);

}  // namespace nulvane::app
