// Choosing files and folders to add, and the file a log is saved to: the system's common item
// dialogs behind one replaceable object, so that a test scripts the choice instead of clicking
// through a dialog (the launcher's pattern).
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "platform/text.h"

namespace nulvane::app {

class FilePicker {
 public:
  virtual ~FilePicker() = default;
  // The files the user chose (several at once), as the system spells them; empty when the
  // dialog was cancelled or cannot be shown. Modal to `owner`.
  virtual std::vector<Text> ChooseFiles(HWND owner) = 0;
  // One folder; nothing when cancelled.
  virtual std::optional<Text> ChooseFolder(HWND owner) = 0;
  // The file to save a log as, starting with `suggested_name`; nothing when cancelled.
  virtual std::optional<Text> ChooseSaveFile(HWND owner, TextView suggested_name) = 0;
};

// The picker in use: the system's common item dialogs (IFileOpenDialog, IFileSaveDialog; the
// folder chooser of older systems where those are missing) unless a test put its own in place.
FilePicker& CurrentFilePicker();
// Makes `picker` the one in use (null: the system's again). The caller keeps it alive.
void UseFilePicker(FilePicker* picker);

}  // namespace nulvane::app
