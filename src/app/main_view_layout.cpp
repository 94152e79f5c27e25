// The main dialog's view: its layout, its smallest size, and what it holds for the window's
// DPI (icons, the message icons, fonts, sizes).
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>

#include <algorithm>
#include <initializer_list>
#include <tuple>

#include "app/command_ids.h"
#include "app/dpi_resources.h"
#include "app/main_view.h"
#include "app/main_view_parts.h"
#include "app/program.h"

namespace nulvane::app {

namespace {

using namespace view_parts;

// A font made for `description`, set on each of `windows` that exists; `held` keeps it, and
// the font it held before (which those windows no longer use) is deleted.
void SetFontOn(std::initializer_list<HWND> windows, const LOGFONTW& description, UniqueFont& held) {
  UniqueFont created(CreateFontIndirectW(&description));
  if (!created) return;
  for (HWND window : windows) {
    if (window) SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(created.get()), TRUE);
  }
  held = std::move(created);
}

}  // namespace

LayoutInput MainView::CurrentLayoutInput(int width, int height) const {
  LayoutInput in;
  in.client_width = width;
  in.client_height = height;
  in.dpi = dpi_;
  in.item_list_left = item_list_left_;
  in.item_list_top = item_list_top_;
  in.message_list_left = message_list_left_;
  in.has_top_strip = top_strip_ != nullptr;
  in.has_status_bar = status_bar_ != nullptr;
  in.has_list_toolbar = list_toolbar_ != nullptr;
  in.has_corner_toolbar = corner_toolbar_ != nullptr;
  if (corner_toolbar_) {
    RECT first{};
    RECT second{};
    SendMessageW(corner_toolbar_, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
    SendMessageW(corner_toolbar_, TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&second));
    in.corner_first_left = first.left;
    in.corner_second_right = second.right;
  }
  return in;
}

void MainView::Layout(int width, int height) {
  const std::optional<MainLayout> layout = LayoutMainWindow(CurrentLayoutInput(width, height));
  if (!layout) return;
  Place(top_strip_, layout->top_strip);
  if (layout->status_bar) {
    Place(link_button_, *layout->link_button);
    Place(status_bar_, *layout->status_bar);
  }
  if (layout->list_toolbar) {
    Place(list_toolbar_, *layout->list_toolbar);
    Place(item_list_, *layout->item_list);
    Place(message_list_, *layout->message_list);
  }
  if (layout->corner_toolbar) Place(corner_toolbar_, *layout->corner_toolbar);
  // The menu bar sits at the strip's left, as wide as its buttons and above the strip, so that
  // it never covers the corner toolbar.
  if (menu_bar_ && IsWindow(menu_bar_)) {
    const auto buttons = static_cast<int>(SendMessageW(menu_bar_, TB_BUTTONCOUNT, 0, 0));
    RECT last{};
    if (buttons > 0)
      SendMessageW(menu_bar_, TB_GETITEMRECT, buttons - 1, reinterpret_cast<LPARAM>(&last));
    RECT bar{};
    GetWindowRect(menu_bar_, &bar);
    const int bar_height = bar.bottom - bar.top;
    SetWindowPos(menu_bar_, HWND_TOP, 0, std::max(0, (layout->top_strip.height - bar_height) / 2),
                 last.right, bar_height, SWP_NOACTIVATE);
  }
  // Moved and resized controls keep bits of their old places (the status bar its old text, the
  // message list and the item list's header whole areas): everything is painted anew.
  RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainView::LayoutToClient() {
  RECT client{};
  GetClientRect(dialog_, &client);
  Layout(client.right, client.bottom);
}

void MainView::LimitMinimumSize(MINMAXINFO& info) const {
  // Before the controls exist (the message comes while the dialog is created) the system's
  // figures stand.
  if (!top_strip_ || !list_toolbar_ || !item_list_) return;
  MinimumInput in;
  in.dpi = dpi_;
  in.item_list_left = item_list_left_;
  in.item_list_top = item_list_top_;
  const auto buttons = static_cast<int>(SendMessageW(list_toolbar_, TB_BUTTONCOUNT, 0, 0));
  RECT last{};
  if (buttons > 0) {
    SendMessageW(list_toolbar_, TB_GETITEMRECT, buttons - 1, reinterpret_cast<LPARAM>(&last));
  }
  in.list_buttons_right = last.right;
  if (menu_bar_) {
    RECT bar{};
    GetWindowRect(menu_bar_, &bar);
    in.menu_bar_width = bar.right - bar.left;
  }
  const LayoutInput corner = CurrentLayoutInput(0, 0);
  in.corner_buttons_width = corner.corner_second_right - corner.corner_first_left;
  // The item list at three rows: its header, the rows (as tall as the message list's, which
  // has its icons and always a line), and its frame.
  int header = 0;
  if (HWND control = reinterpret_cast<HWND>(SendMessageW(item_list_, LVM_GETHEADER, 0, 0))) {
    RECT rect{};
    GetWindowRect(control, &rect);
    header = rect.bottom - rect.top;
  }
  int row = 0;
  RECT line{};
  line.left = LVIR_BOUNDS;
  if (message_list_ &&
      SendMessageW(message_list_, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&line))) {
    row = line.bottom - line.top;
  }
  if (row <= 0) row = ScaleForDpi(kMinimumItemHeight, dpi_);
  RECT outer{};
  RECT inner{};
  GetWindowRect(item_list_, &outer);
  GetClientRect(item_list_, &inner);
  const int frame = (outer.bottom - outer.top) - (inner.bottom - inner.top);
  in.item_list_height = header + kMinimumItemRows * row + frame;
  const ClientSize client = MinimumClientSize(in);

  RECT window{0, 0, client.width, client.height};
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_EXSTYLE));
  using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi = reinterpret_cast<AdjustForDpi>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (!adjust_for_dpi ||
      !adjust_for_dpi(&window, style, FALSE, ex_style, static_cast<UINT>(dpi_))) {
    AdjustWindowRectEx(&window, style, FALSE, ex_style);
  }
  info.ptMinTrackSize.x = std::max<LONG>(info.ptMinTrackSize.x, window.right - window.left);
  info.ptMinTrackSize.y = std::max<LONG>(info.ptMinTrackSize.y, window.bottom - window.top);
}

void MainView::SetCaptionIcons() {
  const HINSTANCE instance = ModuleOf(dialog_);
  for (auto [kind, metric, held] : {std::tuple{ICON_BIG, SM_CXICON, &big_icon_},
                                    std::tuple{ICON_SMALL, SM_CXSMICON, &small_icon_}}) {
    UniqueIcon icon(
        LoadSizedIcon(instance, MAKEINTRESOURCEW(IDI_PROGRAM), SystemMetricForDpi(metric, dpi_)));
    if (!icon) continue;
    SendMessageW(dialog_, WM_SETICON, static_cast<WPARAM>(kind),
                 reinterpret_cast<LPARAM>(icon.get()));
    *held = std::move(icon);
  }
}

void MainView::ApplyDpiResources() {
  const HINSTANCE instance = ModuleOf(dialog_);

  // The message icons at the small-icon size of this DPI.
  const int icon = SystemMetricForDpi(SM_CXSMICON, dpi_);
  if (message_list_) {
    UniqueImageList images(ImageList_Create(icon, icon, ILC_COLOR32 | ILC_MASK, 1, 1));
    if (images) {
      for (const wchar_t* name : {IDI_ASTERISK, IDI_HAND, IDI_EXCLAMATION}) {
        // The list keeps a copy of each icon.
        if (const UniqueIcon loaded(LoadSizedIcon(nullptr, name, icon)); loaded) {
          ImageList_AddIcon(images.get(), loaded.get());
        }
      }
      SendMessageW(message_list_, LVM_SETIMAGELIST, LVSIL_SMALL,
                   reinterpret_cast<LPARAM>(images.get()));
      message_images_ = std::move(images);
    }
  }

  // The toolbars' font (the system's icon-title font, as toolbars take it) at this DPI. At the
  // system DPI the toolbars keep the font they made themselves.
  if (dpi_ != SystemDpi() || dpi_font_) {
    SetFontOn({strip_toolbar_, corner_toolbar_, list_toolbar_, link_button_},
              IconTitleFontForDpi(dpi_), dpi_font_);
  }
  // The status bar's: the system's status font at this DPI.
  SetFontOn({status_bar_}, StatusFontForDpi(dpi_), status_font_);
  // The menu bar's font, height, icons and item sizes.
  if (menu_bar_) MenuBar().SetDpi(dpi_);
  const int list_size = ScaleForDpi(kListButtonSize, dpi_);
  const int corner_size = ScaleForDpi(kCornerButtonSize, dpi_);
  if (list_toolbar_)
    SendMessageW(list_toolbar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(list_size, list_size));
  if (link_button_) {
    SendMessageW(link_button_, TB_SETBITMAPSIZE, 0,
                 MAKELPARAM(0, ScaleForDpi(kLinkBitmapHeight, dpi_)));
    SendMessageW(link_button_, TB_SETBUTTONSIZE, 0, MAKELPARAM(list_size, list_size));
  }
  if (corner_toolbar_) {
    SendMessageW(corner_toolbar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(corner_size, corner_size));
  }
  if (top_strip_) {
    REBARBANDINFOW band{};
    band.cbSize = REBARBANDINFOW_V6_SIZE;
    band.fMask = RBBIM_CHILDSIZE;
    band.cyMinChild = static_cast<UINT>(ScaleForDpi(kStripToolbarHeight, dpi_));
    SendMessageW(top_strip_, RB_SETBANDINFOW, 0, reinterpret_cast<LPARAM>(&band));
  }
  // The program icon in the info box.
  const int big = SystemMetricForDpi(SM_CXICON, dpi_);
  if (HWND program_icon = GetDlgItem(dialog_, IDC_PROGRAM_ICON)) {
    if (UniqueIcon loaded(LoadSizedIcon(instance, MAKEINTRESOURCEW(IDI_PROGRAM), big)); loaded) {
      // The control shows the icon and never frees it; the one it showed before is ours, or
      // the template's own.
      SendMessageW(program_icon, STM_SETICON, reinterpret_cast<WPARAM>(loaded.get()), 0);
      program_icon_ = std::move(loaded);
    }
  }
}

void MainView::OnDpiChanged(int dpi, const RECT& suggested) {
  const int old_dpi = dpi_;
  if (dpi > 0 && dpi != old_dpi) {
    // The template's controls keep their places relative to the dialog's size: scaled by the
    // same factor as everything else.
    const auto scale = [&](LONG value) { return MulDiv(value, dpi, old_dpi); };
    for (HWND child : {GetDlgItem(dialog_, IDC_INFO_BOX), GetDlgItem(dialog_, IDC_PROGRESS_TEXT),
                       GetDlgItem(dialog_, IDC_PROGRAM_ICON)}) {
      if (!child) continue;
      const RECT rect = ChildRect(child);
      Place(child, Rect{scale(rect.left), scale(rect.top), scale(rect.right - rect.left),
                        scale(rect.bottom - rect.top)});
    }
    item_list_left_ = scale(item_list_left_);
    item_list_top_ = scale(item_list_top_);
    message_list_left_ = scale(message_list_left_);
    for (HWND list : {item_list_, message_list_}) {
      if (!list) continue;
      const int columns = list == item_list_ ? 2 : 1;
      for (int column = 0; column < columns; ++column) {
        const auto width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
        SendMessageW(list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(scale(width), 0));
      }
    }
    dpi_ = dpi;
    SetCaptionIcons();
    ApplyDpiResources();
    ApplyToolbarFont();
  }
  SetWindowPos(dialog_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayoutToClient();
}

void MainView::ApplyToolbarFont() {
  if (!corner_toolbar_) return;
  const WPARAM font = static_cast<WPARAM>(SendMessageW(corner_toolbar_, WM_GETFONT, 0, 0));
  for (HWND control : {GetDlgItem(dialog_, IDC_PROGRESS_TEXT), GetDlgItem(dialog_, IDC_INFO_BOX),
                       item_list_, message_list_}) {
    if (control) SendMessageW(control, WM_SETFONT, font, TRUE);
  }
}

}  // namespace nulvane::app
