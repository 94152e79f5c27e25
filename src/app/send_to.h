// CSendTo: the program's shortcut in the user's Send To folder, so that files chosen in the
// shell can be sent to it (they arrive on its command line). The shortcut is the Send To
// folder's "<name>.lnk"; its target is the running executable and its description the name.
#pragma once

#include <windows.h>

#include "platform/text.h"

namespace nulvane::app {

class CSendTo {
 public:
  // Initialises OLE on the constructing thread (the program's main thread), for the shell link
  // objects and for the shell's windows of that thread; the destructor balances it.
  CSendTo();
  virtual ~CSendTo();
  CSendTo(const CSendTo&) = delete;
  CSendTo& operator=(const CSendTo&) = delete;

  // Creates the shortcut, or replaces one of that name; the COM status of the last step.
  HRESULT AddToSendTo(TextView name) const;
  // Deletes the shortcut; false when there was none or it could not be deleted.
  bool RemoveFromSendTo(TextView name) const;
  // True when the shortcut exists as a file (a folder of that name is not a shortcut).
  bool IsInSendTo(TextView name) const;
  // Opens the Send To folder in the shell, through the program's launcher.
  void OpenSendToFolder() const;

  // The user's Send To folder at its full length; empty when the system has none.
  static Text SendToFolder();
  // The shortcut's path: the Send To folder, a backslash, `name` and ".lnk"; empty without a
  // Send To folder, so that nothing is created or deleted elsewhere.
  static Text LinkPath(TextView name);

 private:
  HRESULT ole_ = E_FAIL;
};

}  // namespace nulvane::app
