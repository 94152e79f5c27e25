// The calls that leave the program's own window: opening a web address, shutting the PC down and
// putting it into standby. They go through one replaceable object so that a test records them
// instead of making them; no test can shut down or suspend the machine it runs on.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/text.h"

namespace nulvane::app {

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Opens `address` (a web address or a folder) with the system's handler; failures are not
  // reported.
  virtual void OpenAddress(TextView address) = 0;
  // Opens the folder that holds `path` in the shell's folder view with that entry selected;
  // failures are not reported.
  virtual void ShowInFolder(TextView path) = 0;
  // Starts shutting the PC down (the system's shutdown.exe, without a window); failures are
  // not reported.
  virtual void ShutDown() = 0;
  // Whether the PC has a sleep state that Standby can enter (S1 to S3). Machines with only
  // Modern Standby (S0 low-power idle) have none: there the request fails or hibernates.
  virtual bool StandbyPossible() = 0;
  // Puts the PC into standby (never hibernation). Returns 0 when the system did (the call
  // returns once the PC has woken up again), else the system's error code of the refusal.
  virtual std::uint32_t Standby() = 0;
};

// A launcher that does what the system's does, with the shut-down program taken from
// `system_folder` instead of the system's own folder (which a test cannot write to).
std::unique_ptr<Launcher> MakeSystemLauncher(Text system_folder);

// The launcher in use: the system's unless a test has put its own in place.
Launcher& CurrentLauncher();
// Makes `launcher` the one in use (null: the system's again). The caller keeps it alive.
void UseLauncher(Launcher* launcher);

}  // namespace nulvane::app
