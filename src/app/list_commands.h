// The lists in the user's hands: taking rows out, adding through the pickers, the context menus
// of the item list and the message list, copying and saving the log, and the keys of all these.
// CSetFileTime hands its commands, keys and context-menu requests here; nothing here runs while
// a run or a fill owns the list.
#pragma once

#include <windows.h>

#include <atomic>
#include <vector>

#include "engine/run_session.h"

#include "app/log_text.h"
#include "platform/text.h"

namespace nulvane::app {

class CSetFileTime;

class ListCommands {
 public:
  explicit ListCommands(CSetFileTime& dialog) : dialog_(dialog) {}
  ListCommands(const ListCommands&) = delete;
  ListCommands& operator=(const ListCommands&) = delete;

  // A deletion run is about to be asked for with `request`: the verify setting is read now, as
  // the overwrite count is, and the wiping phase's start is noted (its first line says when the
  // files will be read back). UI thread, before the worker starts.
  void PrepareRun(engine::RunRequest& request);
  // The first close (Esc, the close box, Exit) during a run's wiping phase: asks the run to stop
  // after the item it is on, says so, and returns true. Any other time (and for the second
  // close) false: the close goes on as it always has.
  bool StopAfterCurrentItem();
  // Every popup of the menu bar: "Verify after overwriting" shows the setting.
  void OnInitMenuPopup(HMENU menu) const;

  // The controls exist: rows that do not fit show their whole path in a tooltip.
  void OnControlsCreated();
  // WM_NOTIFY of the item list: the tooltip's text (LVN_GETINFOTIPW). True when handled.
  bool OnNotify(const NMHDR& header);

  // Runs `command` when it is one of the lists' commands; returns whether it was.
  bool OnCommand(int command);
  // A key pressed anywhere in the dialog (WM_KEYDOWN, or WM_SYSKEYDOWN for Shift+F10): true
  // when it ran one of the lists' commands or opened a context menu and goes no further.
  bool OnKey(UINT virtual_key);
  // WM_CONTEXTMENU: the menu of the list `window` is, at `screen_position` (-1, -1 from the
  // keyboard: below the focused row). False for any other window.
  bool OnContextMenu(HWND window, LPARAM screen_position);

  // The message list's lines, oldest first, without the legend below them; only the selected
  // ones when `selected_only` and some are selected.
  std::vector<LogLine> LogLines(bool selected_only) const;

 private:
  std::vector<int> SelectedRows(HWND list) const;
  void RemoveSelected();
  void ToggleVerify();
  void AddFiles();
  void AddFolder();
  void OpenContainingFolder();
  void CopyPaths();
  void CopyLog();
  void SaveLog();
  void ClearLog();
  // Puts `text` on the clipboard as Unicode text.
  void PutOnClipboard(TextView text) const;

  CSetFileTime& dialog_;
  // Set on the worker when the countdown is over; cleared when a run is prepared.
  std::atomic<bool> wiping_{false};
  // The run's stop request after the current item (engine::RunRequest::stop_after_item).
  std::atomic<bool> stop_after_item_{false};
};

}  // namespace nulvane::app
