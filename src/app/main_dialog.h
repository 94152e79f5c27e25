// CSetFileTime: the main dialog. It owns the item list and the window's RunHost, creates the
// controls of the top strip, the list toolbar and the status bar, lays them out, shows every
// text in the current language, routes the dialog's messages and applies the closing rules.
#pragma once

#include <windows.h>
#undef DeleteFile

#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/main_layout.h"
#include "engine/run_flags.h"
#include "engine/run_host.h"
#include "items/item_list.h"
#include "platform/text.h"

namespace nulvane::app {

class DialogKeys;
class ListCommands;
class WindowHost;

// Command ids of the main dialog's toolbars and keys.
enum Command : int {
  kCommandEnter = 1,
  kCommandCancel = 2,
  kCommandDelete = 1014,
  kCommandReset = 1015,
  kCommandDeletePlusItem = 1048,
  kCommandHomeLink = 1024,
  kCommandDelayMenu = 4019,
  kCommandOverwriteMenu = 4020,
  kCommandLanguageMenu = 32800,
  kCommandDeletePlus = 32802,
};

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
  // Builds the menu bar's menu in the current language and hands it to the menu bar.
  void BuildMenuBarMenu();
  // Places the strips and lists for a client size in pixels; nothing before the top strip
  // exists.
  void LayoutMainDialog(int width, int height);
  // Re-reads the overwrite count and the delay and relabels their buttons; returns the delay
  // button's label.
  Text RefreshOptionLabels();
  // Inserts `text` as the new top line of the message list.
  void AddMessage(TextView text, engine::MessageKind kind);
  // Enables or disables Delete, Delete +, the overwrite button, Reset, the language button and
  // Exit.
  void SetCommandsEnabled(bool enabled);

  // Appends a button (a separator when `style` says so) and resets the button size.
  void AddToolbarButton(HWND toolbar, TextView text, int command, BYTE style);
  // Replaces a button's text, keeping the toolbar's button size as it was.
  static void SetToolbarButtonText(HWND toolbar, TextView text, int command);

  // True from the start of a run or fill until its worker has handed everything back; counts
  // every CSetFileTime (the program has one). The program must not destroy a dialog object, nor
  // end normally, while it is true.
  static bool WorkerActive();

  items::ItemList& Items() { return items_; }
  engine::RunHost& Host();
  HWND Window() const { return dialog_; }
  HWND MenuBarWindow() const { return menu_bar_; }
  HWND TopStrip() const { return top_strip_; }
  HWND CornerToolbar() const { return corner_toolbar_; }
  HWND ListToolbar() const { return list_toolbar_; }
  HWND StatusBar() const { return status_bar_; }
  HWND LinkButton() const { return link_button_; }
  HWND ItemListView() const { return item_list_view_; }
  HWND MessageList() const { return message_list_; }
  int Dpi() const { return dpi_; }

 private:
  class RowDisplay final : public items::ItemListDisplay {
   public:
    explicit RowDisplay(CSetFileTime& dialog) : dialog_(dialog) {}
    void SetRowCount(int count) override;
    void SetStatusText(TextView text) override;
    // What the list could not list or examine, and mount points it did not enter.
    void AddWarning(TextView text) override;

   private:
    CSetFileTime& dialog_;
  };

  INT_PTR OnInitDialog(HWND window);
  // The toolbars become tab stops and answer the keyboard (dialog_keys.*).
  void InstallKeyboard();
  void CreateStripsAndBars();
  void AddButtons();
  // The caption's icons, big and small, at dpi_.
  void SetCaptionIcons();
  void ApplyDpiResources();
  void ApplyToolbarFont();
  void OnDpiChanged(int dpi, const RECT& suggested);
  // The smallest window that keeps both toolbars, three rows of the item list, the message
  // list and the status bar visible and apart, at the window's DPI.
  void OnGetMinMaxInfo(MINMAXINFO& info) const;
  INT_PTR OnNotify(const NMHDR& header);
  void OnCommand(int command);
  void OnCancel();
  // The overwrite and delay popups below their buttons (commands.cpp).
  void OnOverwriteMenu();
  void OnDelayMenu();
  // The language menu below the corner toolbar's language button.
  void ShowLanguageMenu();
  // After a settings write (call it at once: it reads the system's last error): a failed one
  // gets a warning line with the file and the reason, once per start.
  void NoteSettingsWrite(bool written);
  // The help box (command 32776) and the web links (1024, 32793 to 32795).
  void ShowHelpBox();
  void OpenLink(int command);
  void OnDropFiles(HDROP drop);
  void ShowDeletePlusMenu();
  void StartDeletionRun(int command);
  // Starts `work` on a thread of its own; a thread that cannot start is an error line (with
  // the system's reason) and false.
  bool StartWorker(std::function<void()> work);
  // Commands 32791 and 32806 to 32809: the free-space fill on a worker, which asks for the
  // folder first.
  void StartFreeSpaceFill(int command);
  // The Send-To entries (32797 to 32799).
  void OnSendToCommand(int command);
  // Every popup of the dialog and its menu bar: the Send-To mark and the fill entries' state.
  void OnInitMenuPopup();
  // Closing while a fill's worker is active: stops the fill and handles messages until its
  // worker has removed the temporary file and folder, for at most kFillCleanupWaitMs.
  void StopFillAndWait();
  // The session is ending (log-off, shut-down): a fill is stopped and its files removed as
  // closing does, the reason shown on the shut-down screen meanwhile; then it may end.
  void OnQueryEndSession();
  void SetStatusText(TextView text);
  void EndDialogWith(INT_PTR result);
  // Command 2 from a finished run or fill, or from the after-run countdown
  // (NOTIFY_END_AFTER_WORK): ends the program, also while the closing question is open.
  void EndAfterWork();
  LayoutInput CurrentLayoutInput(int width, int height) const;

  engine::RunFlags& flags_;
  RowDisplay row_display_;
  items::ItemList items_;
  std::unique_ptr<WindowHost> host_;
  // The keys of the menu bar and the toolbars, from WM_INITDIALOG to WM_DESTROY.
  std::unique_ptr<DialogKeys> keys_;
  // The lists' own commands, keys and context menus (list_commands.*).
  std::unique_ptr<ListCommands> list_commands_;
  const Text command_line_;

  HWND dialog_ = nullptr;
  HWND menu_bar_ = nullptr;
  HWND top_strip_ = nullptr;
  HWND strip_toolbar_ = nullptr;
  HWND corner_toolbar_ = nullptr;
  HWND list_toolbar_ = nullptr;
  HWND status_bar_ = nullptr;
  HWND link_button_ = nullptr;
  HWND item_list_view_ = nullptr;
  HWND message_list_ = nullptr;
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
  HIMAGELIST message_images_ = nullptr;
  // A font made for a DPI other than the system's; null while the toolbars' own font serves.
  HFONT dpi_font_ = nullptr;
  // The status bar's font, made for dpi_.
  HFONT status_font_ = nullptr;
  int dpi_ = kBaseDpi;
  // True while closing asks about or waits for a fill; further closing commands are ignored.
  bool closing_ = false;
  // Set once finished work has ended the program.
  bool ending_ = false;
  // Set once a failed settings write has been reported.
  bool settings_warned_ = false;
  // The template's edges that the layout keeps, in client pixels at dpi_.
  int item_list_left_ = 0;
  int item_list_top_ = 0;
  int message_list_left_ = 0;
};

// Runs the main dialog (template 145) modally with no owner, with `dialog` as the target of
// its dialog procedure; returns the dialog's result, or -1 when it could not be created.
INT_PTR RunMainDialog(HINSTANCE instance, CSetFileTime& dialog);

}  // namespace nulvane::app
