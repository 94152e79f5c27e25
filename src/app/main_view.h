// The main dialog's view: it creates and holds the controls of the top strip, the list toolbar
// and the status bar, shows every text in the current language, lays the controls out, and owns
// their fonts, image lists and icons for the window's DPI. It draws what it is told and routes
// nothing: CSetFileTime (main_dialog.*) handles the messages and commands.
#pragma once

#include <windows.h>
#undef DeleteFile

#include <optional>

#include "app/dialog_keys.h"
#include "app/main_layout.h"
#include "app/unique_gdi.h"
#include "engine/run_host.h"
#include "items/item_list.h"
#include "platform/text.h"

namespace nulvane::app {

class MainView final : public items::ItemListDisplay {
 public:
  MainView() = default;
  MainView(const MainView&) = delete;
  MainView& operator=(const MainView&) = delete;

  // WM_INITDIALOG: the caption's icons, the menu bar, the strips, toolbars and status bar, the
  // columns, the buttons and the DPI resources of the dialog `window`. The texts follow with
  // ApplyLanguageTexts.
  void Create(HWND window);

  // Sets every language-dependent text, in the current language, the option buttons labelled
  // with `passes` and `delay`, and lays the window out.
  void ApplyLanguageTexts(int passes, int delay);
  // Builds the menu bar's menu in the current language and hands it to the menu bar.
  void BuildMenuBarMenu();
  // Places the strips and lists for a client size in pixels; nothing before the top strip
  // exists. LayoutToClient uses the client's size now.
  void Layout(int width, int height);
  void LayoutToClient();
  // The smallest window that keeps both toolbars, three rows of the item list, the message
  // list and the status bar visible and apart, at the window's DPI.
  void LimitMinimumSize(MINMAXINFO& info) const;
  // WM_DPICHANGED: everything scaled to `dpi`, the window placed at `suggested`.
  void OnDpiChanged(int dpi, const RECT& suggested);

  // Labels the overwrite and delay buttons with `passes` and `delay`; returns the delay
  // button's label.
  Text ShowOptions(int passes, int delay);
  // Inserts `text` as the new top line of the message list.
  void AddMessage(TextView text, engine::MessageKind kind);
  // The two-line progress text, the status bar and the title of a report.
  void ShowProgress(const engine::Progress& progress);
  void SetProgressText(TextView text);
  void SetTitle(TextView text);
  // Enables or disables Delete, Delete +, the overwrite button, Reset, the language button and
  // Exit.
  void SetCommandsEnabled(bool enabled);
  // False from a run's or fill's start until it hands the commands back.
  bool commands_enabled() const { return commands_enabled_; }

  // items::ItemListDisplay
  void SetRowCount(int count) override;
  void SetStatusText(TextView text) override;
  // What the list could not list or examine, and mount points it did not enter.
  void AddWarning(TextView text) override;

  // The keyboard's targets (dialog_keys.*): the toolbars and the tab order.
  DialogKeyTargets KeyTargets() const;

  HWND dialog() const { return dialog_; }
  HWND menu_bar() const { return menu_bar_; }
  HWND item_list() const { return item_list_; }
  HWND message_list() const { return message_list_; }
  HWND list_toolbar() const { return list_toolbar_; }
  HWND corner_toolbar() const { return corner_toolbar_; }
  int dpi() const { return dpi_; }

 private:
  void CreateStripsAndBars();
  void AddButtons();
  // Appends a button (a separator when `style` says so) and resets the button size.
  void AddToolbarButton(HWND toolbar, TextView text, int command, BYTE style);
  // The caption's icons, big and small, at dpi_.
  void SetCaptionIcons();
  void ApplyDpiResources();
  void ApplyToolbarFont();
  LayoutInput CurrentLayoutInput(int width, int height) const;

  HWND dialog_ = nullptr;
  bool commands_enabled_ = true;
  HWND menu_bar_ = nullptr;
  HWND top_strip_ = nullptr;
  HWND strip_toolbar_ = nullptr;
  HWND corner_toolbar_ = nullptr;
  HWND list_toolbar_ = nullptr;
  HWND status_bar_ = nullptr;
  HWND link_button_ = nullptr;
  HWND item_list_ = nullptr;
  HWND message_list_ = nullptr;
  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
  UniqueIcon program_icon_;
  UniqueImageList message_images_;
  // A font made for a DPI other than the system's; empty while the toolbars' own font serves.
  UniqueFont dpi_font_;
  // The status bar's font, made for dpi_.
  UniqueFont status_font_;
  int dpi_ = kBaseDpi;
  // The template's edges that the layout keeps, in client pixels at dpi_.
  int item_list_left_ = 0;
  int item_list_top_ = 0;
  int message_list_left_ = 0;
};

}  // namespace nulvane::app
