// The menu bar in a toolbar. CWinCmdBar shows the top-level items of a menu as the buttons of a
// flat toolbar and tracks their popups as a real menu bar does (mouse, Alt+letter, the arrow
// keys between the items); CWinCmdBar2 draws the popup items itself, with a 16 × 16 icon
// column, so that commands can carry icons. Every size, font and icon of the bar follows the
// DPI set with SetDpi (the window passes the one each WM_DPICHANGED carries).
//
// One bar is attached at a time: the subclassed windows and the message-filter hook reach it
// through program-wide pointers. User-interface thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_ids.h"

namespace nulvane::app {

// Asks the bar's toolbar to open the popup of the current top-level item (the index is
// wrapped first); a wParam of 1 opens it with its first item highlighted, as the keyboard
// does. Posted by the bar itself for Alt and a letter.
inline constexpr UINT kOpenCurrentPopup = WM_USER + 1101;
// The marker at the start of the bar's own per-item records.
inline constexpr DWORD kItemRecordMarker = 0x1313;

class CWinCmdBar {
 public:
  CWinCmdBar() = default;
  virtual ~CWinCmdBar();
  CWinCmdBar(const CWinCmdBar&) = delete;
  CWinCmdBar& operator=(const CWinCmdBar&) = delete;

  // Creates the bar's toolbar as a child of `parent`, sized to the parent's client width and
  // the bar height, and attaches the bar to both windows. Returns the toolbar, nullptr on
  // failure (or when another bar is attached).
  HWND CreateBar(HWND parent);
  // Takes `menu` (the bar owns it from now on and destroys the previous one, with the records
  // of its items) and makes one button per top-level item: id 40000 + i, the item's full text
  // with its "&".
  void SetBarMenu(HMENU menu);

  // Makes every size, font and icon of the bar those of `dpi`: the toolbar's font and height,
  // and (CWinCmdBar2) the popup items' font, icons and metrics. The toolbar keeps its width;
  // the parent places it. CreateBar starts at the DPI the system reports for the parent.
  void SetDpi(int dpi);
  // The DPI that the bar's sizes are scaled to.
  int Dpi() const;

  HWND toolbar() const { return toolbar_; }
  HWND parent() const { return parent_; }
  HMENU menu() const { return menu_; }
  int current_index() const { return current_; }
  // True while a popup of this bar is tracked (the message-filter hook is installed).
  bool tracking() const { return hook_ != nullptr; }

  // The keyboard mode of a native menu bar (F10, or Alt pressed and released alone): the
  // first item is hot and no popup is open. Left and Right move the hot item, Down, Up or
  // Enter open its popup, Esc (or any other key) leaves the mode. menu_bar_keyboard.cpp.
  bool EnterKeyboardMode();
  void LeaveKeyboardMode();
  bool keyboard_mode() const { return keyboard_mode_; }
  // A key pressed while in keyboard mode; true when the bar used it (the key goes no further).
  bool OnKeyboardModeKey(UINT virtual_key);
  // The top-level item whose mnemonic is `key` (the first one, when several share it), -1 for
  // none.
  int MnemonicIndex(char16_t key) const;
  // Opens item `index`'s popup with its first item highlighted, as Alt and its letter do.
  void OpenPopupByKey(int index);

  // (1) The parent window's messages; true when consumed, with `result` as the answer.
  virtual bool OnParentMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);
  // (2) The toolbar's messages; true when consumed.
  virtual bool OnToolbarMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result);

 protected:
  // Brings what a derived bar holds to Dpi(); called by SetDpi and CreateBar.
  virtual void ApplyDpi() {}
  // Frees what the bar attached to the items of the menu being replaced or destroyed.
  virtual void ReleaseMenuRecords() {}

 private:
  friend LRESULT CALLBACK BarSubclassProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK BarMessageFilter(int, WPARAM, LPARAM);

  // Tracks the current item's popup, then the popup of every item the keyboard or the mouse
  // moves to while one is open, until a popup closes without such a move. `select_first`
  // highlights the first item of the popup opened first.
  void TrackCurrentPopup(bool select_first = false);
  // The toolbar button at a point in toolbar client coordinates, or -1.
  int ButtonAt(POINT point) const;
  void PressButton(int index, bool pressed);
  // Ends the open popup and asks TrackCurrentPopup for the popup of item `index` (wrapped),
  // with its first item highlighted when `by_key`.
  void SwitchTo(int index, bool by_key);
  bool OnMenuChar(WPARAM wparam, LRESULT& result);
  bool OnLeftButtonDown(LPARAM lparam);
  // The message-filter hook's work while a popup is tracked; true when consumed.
  bool FilterMenuMessage(MSG& message);
  bool FilterKey(MSG& message);
  bool FilterMouseMove(MSG& message);
  bool FilterLeftButtonDown(MSG& message);
  void Detach();

  HWND toolbar_ = nullptr;
  HWND parent_ = nullptr;
  HMENU menu_ = nullptr;
  int item_count_ = 0;
  int current_ = 0;
  UINT highlighted_flags_ = 0;
  POINT last_mouse_{-1, -1};
  bool adding_buttons_ = false;
  int bar_height_ = 20;
  int dpi_ = 0;          // 0 until CreateBar or SetDpi: the system's DPI then
  int popup_depth_ = 0;  // open popups of the tracked menu: above 1 while a submenu is open
  // Whether another item's popup follows when the tracked one closes: which item (before
  // wrapping), and whether the keyboard asked for it.
  bool switch_requested_ = false;
  int switch_to_ = 0;
  bool switch_by_key_ = false;
  bool keyboard_mode_ = false;
  HFONT font_ = nullptr;
  HHOOK hook_ = nullptr;
  WNDPROC parent_proc_ = nullptr;
  WNDPROC toolbar_proc_ = nullptr;
};

class CWinCmdBar2 : public CWinCmdBar {
 public:
  CWinCmdBar2();
  ~CWinCmdBar2() override;

  // Returns a new icon drawn for `pixels` × `pixels` (the bar destroys it), or null.
  using IconLoader = std::function<HICON(int pixels)>;
  // Appends the icon that `load` gives at the bar's icon size to the bar's image list (created
  // at the first call) as the icon of command `command`; `load` is asked again at the new size
  // whenever the DPI changes. Returns `command`, or 0 when the list cannot be created, there is
  // no icon, it cannot be added or 256 icons are already registered.
  int AddSizedIcon(IconLoader load, int command);
  // The same for an icon of one size, which the list scales; the caller keeps `icon`.
  int AddIcon(HICON icon, int command);
  int icon_count() const { return static_cast<int>(icon_commands_.size()); }
  HIMAGELIST image_list() const { return images_; }
  // How many item records the bar holds for the popups of its current menu.
  int record_count() const { return static_cast<int>(records_.size()); }

  bool OnToolbarMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) override;

  // The record attached to an owner-drawn item of the bar. It starts with the item's text for
  // screen readers (an owner-drawn item has no string of its own), the bar's marker after it.
  // The record never moves: `accessible` points into `text`.
  struct ItemRecord {
    explicit ItemRecord(std::wstring item_text);
    ItemRecord(const ItemRecord&) = delete;
    ItemRecord& operator=(const ItemRecord&) = delete;

    MSAAMENUINFO accessible{};  // MSAA_MENU_SIG, the text's length, the text
    DWORD marker = kItemRecordMarker;
    std::wstring text;
    UINT type = 0;  // the item's type flags before it became owner-drawn
    UINT state = 0;
    int image = -1;                 // the item's icon in the image list, -1 for none
    bool unchecked_bitmap = false;  // the item had its own unchecked-state bitmap
  };
  // The bar's record behind item data, or nullptr when the data is not one of the bar's.
  const ItemRecord* RecordOf(ULONG_PTR item_data) const;

  // Measure and draw rules for one owner-drawn item (used by the toolbar handler; the tests
  // call them with their own structures and memory DCs).
  void MeasureItem(MEASUREITEMSTRUCT& measure) const;
  void DrawItem(const DRAWITEMSTRUCT& draw) const;

 protected:
  void ApplyDpi() override;
  void ReleaseMenuRecords() override;

 private:
  void ConvertPopup(HMENU popup);
  // The image list made again at the icon size of Dpi(), every icon loaded at that size.
  void RebuildImages();
  // Makes the system measure the bar's items of `menu` and its submenus again when they are
  // next shown (it keeps an owner-drawn item's size from its first measure).
  void RemeasureItems(HMENU menu);
  bool OnPopupMenuChar(WPARAM wparam, LPARAM lparam, LRESULT& result) const;
  HFONT MenuFont(bool bold) const;
  void DrawCheckGlyph(HDC dc, const RECT& box, COLORREF colour) const;

  LOGFONTW menu_font_{};
  HIMAGELIST images_ = nullptr;
  int image_size_ = 16;
  std::vector<int> icon_commands_;
  std::vector<IconLoader> icon_loaders_;  // parallel to icon_commands_
  std::vector<std::unique_ptr<ItemRecord>> records_;
  mutable HFONT font_regular_ = nullptr;
  mutable HFONT font_bold_ = nullptr;
};

}  // namespace nulvane::app
