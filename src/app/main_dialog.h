// CSetFileTime: the main dialog's router. It owns the item list, the view (main_view.*) and the
// window's RunHost, hands each message and command to one handler, starts and stops runs and
// fills through the run session, and applies the closing rules. What the window shows and how
// it is laid out is the view's.
#pragma once

#include <windows.h>
#undef DeleteFile

#include <shellapi.h>

#include <memory>
#include <optional>

#include "app/command_ids.h"
#include "app/main_view.h"
#include "engine/run_host.h"
#include "engine/run_session.h"
#include "items/item_list.h"
#include "platform/text.h"

namespace nulvane::app {

class DialogKeys;
class ListCommands;
class WindowHost;

// The one private message of the main dialog: lParam is a token of WindowHost's table of
// pending calls, which the dialog runs on its own thread before the send returns. A token the
// table does not hold is ignored.
inline constexpr UINT kRunOnWindowThreadMessage = WM_APP + 1;

class CSetFileTime {
 public:
  // `command_line`: the text after the program name, parsed as the last step of WM_INITDIALOG.
  explicit CSetFileTime(Text command_line);
  CSetFileTime(const CSetFileTime&) = delete;
  CSetFileTime& operator=(const CSetFileTime&) = delete;
  virtual ~CSetFileTime();

  // The dialog procedure's target: the result of the message (the dialog procedure's value).
  INT_PTR HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  // Sets every language-dependent text, in the current language, and lays the window out.
  void ApplyLanguageTexts();

  // True from the start of a run or fill until its worker has handed everything back (the
  // process's run session). The program must not destroy a dialog object, nor end normally,
  // while it is true.
  static bool WorkerActive();

  items::ItemList& Items() { return items_; }
  MainView& View() { return view_; }
  engine::RunHost& Host();
  HWND Window() const { return view_.dialog(); }
  int Dpi() const { return view_.dpi(); }

 private:
  INT_PTR OnInitDialog(HWND window);
  INT_PTR OnNotify(const NMHDR& header);
  void OnCommand(int command);
  void OnCancel();
  // The overwrite and delay popups below their buttons (commands.cpp).
  void OnOverwriteMenu();
  void OnDelayMenu();
  // Labels the option buttons with what the settings hold now.
  void ShowOptionsFromSettings();
  // The language menu below the corner toolbar's language button.
  void ShowLanguageMenu();
  // After a settings write (call it at once: it reads the system's last error): a failed one
  // gets a warning line with the file and the reason, once per start.
  void NoteSettingsWrite(bool written);
  // The help box and the web links.
  void ShowHelpBox();
  void OpenLink(int command);
  void OnDropFiles(HDROP drop);
  void ShowDeletePlusMenu();
  // Delete and the "Delete +" entries: a run through the session, the list held meanwhile.
  void StartDeletionRun(int command);
  // The fill entries: the folder picker here, on the window's thread, then the fill on a
  // worker through the session.
  void StartFreeSpaceFill(int command);
  // What a start that did not start says: a worker that could not start is an error line.
  void ReportStart(engine::StartResult result);
  // The Send-To entries.
  void OnSendToCommand(int command);
  // Every popup of the dialog and its menu bar: the Send-To mark and the fill entries' state.
  void OnInitMenuPopup();
  // Closing while a fill's worker is active: stops the fill and handles messages until its
  // worker has removed the temporary file and folder, for at most kFillCleanupWaitMs.
  void StopFillAndWait();
  // The session is ending (log-off, shut-down): a fill is stopped and its files removed as
  // closing does, the reason shown on the shut-down screen meanwhile; then it may end.
  void OnQueryEndSession();
  // Command 2 from a finished run or fill, or from the after-run countdown
  // (kNotifyEndAfterWork): ends the program, also while the closing question is open.
  void EndAfterWork();

  engine::RunSession& session_;
  MainView view_;
  items::ItemList items_;
  std::unique_ptr<WindowHost> host_;
  // The keys of the menu bar and the toolbars, from WM_INITDIALOG to WM_DESTROY.
  std::unique_ptr<DialogKeys> keys_;
  // The lists' own commands, keys and context menus (list_commands.*).
  std::unique_ptr<ListCommands> list_commands_;
  const Text command_line_;

  // True while closing asks about or waits for a fill; further closing commands are ignored.
  bool closing_ = false;
  // Set once finished work has ended the program.
  bool ending_ = false;
  // Set once a failed settings write has been reported.
  bool settings_warned_ = false;
};

// Runs the main dialog (template IDD_MAIN) modally with no owner, with `dialog` as the target
// of its dialog procedure (kept in the window's DWLP_USER); returns the dialog's result, or -1
// when it could not be created.
INT_PTR RunMainDialog(HINSTANCE instance, CSetFileTime& dialog);

}  // namespace nulvane::app
