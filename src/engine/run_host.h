// The one interface through which a deletion run or a free-space fill reaches its user
// interface. The window implements it with synchronous messages to its own thread, the console
// front end with terminal output, the tests with a recording fake. Every call returns only when
// the host has carried the change out.
#pragma once

#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "platform/text.h"

namespace nulvane::engine {

// The icon of a message line; the numbers are the image indices of the message list.
enum class MessageKind : int { kInfo = 0, kError = 1, kWarning = 2 };

class RunHost {
 public:
  virtual ~RunHost() = default;

  // Adds one message line (the window shows the newest line on top).
  virtual void AddMessage(TextView text, MessageKind kind) = 0;
  // The two-line progress text, the status bar text and the window title.
  virtual void SetProgressText(TextView text) = 0;
  virtual void SetStatusText(TextView text) = 0;
  virtual void SetTitle(TextView text) = 0;
  // Enables or disables the commands that would change the list or start another run.
  virtual void SetCommandsEnabled(bool enabled) = 0;

  // The item list's rows in row order, taken at the moment of the call: each row's full path,
  // its anchor and the identity the list recorded for it.
  virtual std::vector<platform::QueuedItem> SnapshotItems() = 0;
  // Rebuilds the item list's rows (dropping the paths that no longer exist) and its summary.
  virtual void RebuildRows() = 0;

  // Re-reads the option settings, refreshes the option labels the host shows, and returns the
  // delay label's text as shown (GetText(34) filled with the clamped delay).
  virtual Text RefreshOptionLabels() = 0;

  // Sends the main window its cancel command (id 2): ends the program when no run is active.
  virtual void SendCancel() = 0;
  // Starts the after-run countdown for action 1 (shut down), 2 (standby) or 3 (standby, end).
  virtual void StartAfterRunAction(int action) = 0;
  // Lets the user choose the folder whose volume a fill works on; nothing when cancelled.
  virtual std::optional<Text> ChooseFolder() = 0;
};

}  // namespace nulvane::engine
