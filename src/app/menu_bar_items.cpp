// CWinCmdBar2: the popup items of the bar, owner-drawn with an icon column.
#include <windows.h>

#include <algorithm>

#include "app/dpi_resources.h"
#include "app/menu_bar.h"
#include "app/menu_bar_rules.h"
#include "app/menu_item_text.h"
#include "lang/mnemonic.h"

namespace nulvane::app {
namespace {

constexpr int kMaximumIcons = 256;

Box BoxOf(const RECT& rect) { return {rect.left, rect.top, rect.right, rect.bottom}; }
RECT RectOf(const Box& box) { return {box.left, box.top, box.right, box.bottom}; }

std::u16string_view ViewOf(const std::wstring& text) {
  return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

LOGFONTW DefaultGuiFont() {
  LOGFONTW font{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  return font;
}

}  // namespace

CWinCmdBar2::ItemRecord::ItemRecord(std::wstring item_text) : text(std::move(item_text)) {
  accessible.dwMSAASignature = static_cast<DWORD>(MSAA_MENU_SIG);
  accessible.cchWText = static_cast<DWORD>(text.size());
  accessible.pszWText = text.data();
}

CWinCmdBar2::CWinCmdBar2() : menu_font_(DefaultGuiFont()) {}

CWinCmdBar2::~CWinCmdBar2() {
  if (images_) ImageList_Destroy(images_);
  if (font_regular_) DeleteObject(font_regular_);
  if (font_bold_) DeleteObject(font_bold_);
}

int CWinCmdBar2::AddSizedIcon(IconLoader load, int command) {
  if (!load || icon_count() >= kMaximumIcons) return 0;
  if (!images_) {
    image_size_ = ScaleForDpi(kIconSize, Dpi());
    images_ = ImageList_Create(image_size_, image_size_, ILC_COLOR32 | ILC_MASK, 1, 1);
    if (!images_) return 0;
  }
  HICON icon = load(image_size_);
  if (!icon) return 0;
  const int added = ImageList_AddIcon(images_, icon);
  DestroyIcon(icon);
  if (added < 0) return 0;
  icon_commands_.push_back(command);
  icon_loaders_.push_back(std::move(load));
  return command;
}

int CWinCmdBar2::AddIcon(HICON icon, int command) {
  if (!icon) return 0;
  HICON kept = CopyIcon(icon);
  if (!kept) return 0;
  const std::shared_ptr<HICON__> copy(kept, [](HICON held) { DestroyIcon(held); });
  return AddSizedIcon([copy](int) { return CopyIcon(copy.get()); }, command);
}

void CWinCmdBar2::ApplyDpi() {
  menu_font_ = FontForDpi(DefaultGuiFont(), Dpi());
  for (HFONT* font : {&font_regular_, &font_bold_}) {
    if (*font) DeleteObject(*font);
    *font = nullptr;
  }
  RebuildImages();
  if (menu()) RemeasureItems(menu());
}

void CWinCmdBar2::RebuildImages() {
  const int size = ScaleForDpi(kIconSize, Dpi());
  if (!images_ || size == image_size_) return;
  HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, icon_count(), 1);
  if (!list) return;  // the icons stay at their old size rather than go
  for (int i = 0; i < icon_count(); ++i) {
    // An icon that does not load at the new size keeps its old picture, scaled: the records
    // hold image indices, so no icon may drop out of the list.
    HICON icon = icon_loaders_[static_cast<std::size_t>(i)](size);
    if (!icon) icon = ImageList_GetIcon(images_, i, ILD_NORMAL);
    const bool added = icon && ImageList_AddIcon(list, icon) == i;
    if (icon) DestroyIcon(icon);
    if (!added) {
      ImageList_Destroy(list);
      return;
    }
  }
  ImageList_Destroy(images_);
  images_ = list;
  image_size_ = size;
}

void CWinCmdBar2::RemeasureItems(HMENU menu) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_FTYPE | MIIM_DATA | MIIM_SUBMENU;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item)) continue;
    if (item.hSubMenu) RemeasureItems(item.hSubMenu);
    if (!(item.fType & MFT_OWNERDRAW) || !RecordOf(item.dwItemData)) continue;
    // Setting the item's type again, unchanged, drops the size the menu keeps for it.
    item.fMask = MIIM_FTYPE | MIIM_DATA;
    SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item);
  }
}

void CWinCmdBar2::ReleaseMenuRecords() { records_.clear(); }

const CWinCmdBar2::ItemRecord* CWinCmdBar2::RecordOf(ULONG_PTR item_data) const {
  // Item data is only read once it is known to be one of the bar's own records.
  for (const auto& record : records_) {
    if (reinterpret_cast<ULONG_PTR>(record.get()) == item_data) {
      return record->marker == kItemRecordMarker ? record.get() : nullptr;
    }
  }
  return nullptr;
}

void CWinCmdBar2::ConvertPopup(HMENU popup) {
  const int count = GetMenuItemCount(popup);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_FTYPE | MIIM_DATA;
    if (!GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &item)) continue;
    if (item.fType & MFT_OWNERDRAW) continue;
    auto record = std::make_unique<ItemRecord>(MenuItemText(popup, static_cast<UINT>(i)));
    record->type = item.fType;
    record->state = item.fState;
    record->unchecked_bitmap = item.hbmpUnchecked != nullptr;
    // An entry with a submenu has a command id of its own only when its menu gave it one;
    // otherwise its id is the submenu's handle, which names no command.
    const bool own_id =
        !item.hSubMenu || item.wID != static_cast<UINT>(reinterpret_cast<UINT_PTR>(item.hSubMenu));
    const auto found =
        std::find(icon_commands_.begin(), icon_commands_.end(), static_cast<int>(item.wID));
    if (own_id && found != icon_commands_.end()) {
      record->image = static_cast<int>(found - icon_commands_.begin());
    }
    // The item keeps no string of its own: the bar draws it and answers its mnemonic itself.
    MENUITEMINFOW owner_drawn{};
    owner_drawn.cbSize = sizeof(owner_drawn);
    owner_drawn.fMask = MIIM_FTYPE | MIIM_DATA | MIIM_STRING;
    owner_drawn.fType = (item.fType & ~static_cast<UINT>(MFT_BITMAP)) | MFT_OWNERDRAW;
    owner_drawn.dwItemData = reinterpret_cast<ULONG_PTR>(record.get());
    owner_drawn.dwTypeData = nullptr;
    if (SetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &owner_drawn)) {
      records_.push_back(std::move(record));
    }
  }
}

bool CWinCmdBar2::OnPopupMenuChar(WPARAM wparam, LPARAM lparam, LRESULT& result) const {
  if (HIWORD(wparam) & MF_SYSMENU) return false;
  HMENU popup = reinterpret_cast<HMENU>(lparam);
  const int count = GetMenuItemCount(popup);
  std::vector<std::wstring> texts(count > 0 ? count : 0);
  bool any_record = false;
  int highlighted = -1;
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_DATA | MIIM_STATE;
    if (!GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &item)) continue;
    if (item.fState & MFS_HILITE) highlighted = i;
    const ItemRecord* record = RecordOf(item.dwItemData);
    if (!record) continue;
    any_record = true;
    // Separators and disabled items take no letter.
    if (!(record->type & MFT_SEPARATOR) && !(item.fState & MFS_DISABLED)) texts[i] = record->text;
  }
  if (!any_record) return false;
  std::vector<std::u16string_view> views;
  for (const std::wstring& text : texts) views.push_back(ViewOf(text));
  const MnemonicMatch match =
      MatchMnemonic(views, static_cast<char16_t>(LOWORD(wparam)), highlighted);
  if (match.count == 0) return false;
  result = MAKELRESULT(match.index, match.count == 1 ? MNC_EXECUTE : MNC_SELECT);
  return true;
}

bool CWinCmdBar2::OnToolbarMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  switch (message) {
    case WM_DRAWITEM: {
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (draw && draw->CtlType == ODT_MENU && RecordOf(draw->itemData)) DrawItem(*draw);
      result = TRUE;
      return true;
    }
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
      if (!measure || measure->CtlType != ODT_MENU || !RecordOf(measure->itemData)) break;
      MeasureItem(*measure);
      result = TRUE;
      return true;
    }
    case WM_INITMENUPOPUP:
      if (!HIWORD(lparam) && tracking()) ConvertPopup(reinterpret_cast<HMENU>(wparam));
      break;
    case WM_MENUCHAR:
      if (OnPopupMenuChar(wparam, lparam, result)) return true;
      break;
    default:
      break;
  }
  return CWinCmdBar::OnToolbarMessage(message, wparam, lparam, result);
}

HFONT CWinCmdBar2::MenuFont(bool bold) const {
  HFONT& font = bold ? font_bold_ : font_regular_;
  if (!font) {
    LOGFONTW description = menu_font_;
    if (bold) description.lfWeight = std::min(description.lfWeight + 200, 1000L);
    font = CreateFontIndirectW(&description);
  }
  return font;
}

void CWinCmdBar2::MeasureItem(MEASUREITEMSTRUCT& measure) const {
  const ItemRecord* record = RecordOf(measure.itemData);
  if (!record) return;
  if (record->type & MFT_SEPARATOR) {
    const Size size = MeasureSeparator(SystemMetricForDpi(SM_CYMENU, Dpi()));
    measure.itemWidth = static_cast<UINT>(size.width);
    measure.itemHeight = static_cast<UINT>(size.height);
    return;
  }
  HDC screen = GetDC(nullptr);
  HGDIOBJ old_font = SelectObject(screen, MenuFont(record->state & MFS_DEFAULT));
  const TabSplit split = SplitAtTab(ViewOf(record->text));
  auto width_of = [&](std::u16string_view part) {
    RECT box{0, 0, 0, 0};
    const std::u16string plain = lang::WithoutMnemonic(part);
    DrawTextW(screen, reinterpret_cast<const wchar_t*>(plain.data()),
              static_cast<int>(plain.size()), &box, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    return static_cast<int>(box.right - box.left);
  };
  int text_width = width_of(split.left);
  // The shortcut after a tab keeps one icon column of room from the text.
  if (split.has_tab) text_width += ScaleForDpi(kIconColumnWidth, Dpi()) + width_of(split.right);
  SelectObject(screen, old_font);
  ReleaseDC(nullptr, screen);
  const Size size = app::MeasureItem(text_width, static_cast<int>(menu_font_.lfHeight),
                                     SystemMetricForDpi(SM_CXMENUCHECK, Dpi()), Dpi());
  measure.itemWidth = static_cast<UINT>(size.width);
  measure.itemHeight = static_cast<UINT>(size.height);
}

void CWinCmdBar2::DrawCheckGlyph(HDC dc, const RECT& box, COLORREF colour) const {
  const int size = box.right - box.left;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      if (ScaledCheckGlyphPixel(x, y, size)) SetPixelV(dc, box.left + x, box.top + y, colour);
    }
  }
}

void CWinCmdBar2::DrawItem(const DRAWITEMSTRUCT& draw) const {
  const ItemRecord* record = RecordOf(draw.itemData);
  if (!record) return;
  HDC dc = draw.hDC;
  const RECT item = draw.rcItem;
  const bool selected = draw.itemState & ODS_SELECTED;
  const bool disabled = draw.itemState & (ODS_DISABLED | ODS_GRAYED);
  const bool checked = draw.itemState & ODS_CHECKED;

  if (selected) {
    FillRect(dc, &item, GetSysColorBrush(COLOR_MENUHILIGHT));
    FrameRect(dc, &item, GetSysColorBrush(COLOR_HIGHLIGHT));
  } else if (draw.itemAction & ODA_SELECT) {
    FillRect(dc, &item, GetSysColorBrush(COLOR_MENU));
  }

  if (record->type & MFT_SEPARATOR) {
    const int middle = (item.top + item.bottom) / 2;
    RECT line{item.left, middle - 1, item.right, middle + 1};
    DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
    return;
  }

  const int dpi = Dpi();
  const ItemLayout layout = LayoutItem(BoxOf(item), dpi);
  if (record->image < 0) {
    if (checked || record->unchecked_bitmap) {
      const int colour_index = disabled ? (selected ? COLOR_GRAYTEXT : COLOR_BTNSHADOW)
                                        : (selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
      DrawCheckGlyph(dc, RectOf(layout.check), GetSysColor(colour_index));
    }
  } else if (!disabled && images_) {
    // The list holds its icons at the size of the DPI it was made at: centre that size.
    const Box& box = layout.icon_box;
    const int left = box.left + (box.width() - image_size_) / 2;
    const int top = box.top + (box.height() - image_size_) / 2;
    ImageList_Draw(images_, record->image, dc, left, top, ILD_TRANSPARENT);
  }

  const int text_colour = disabled ? (selected ? COLOR_GRAYTEXT : COLOR_BTNSHADOW)
                                   : (selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
  const int old_mode = SetBkMode(dc, TRANSPARENT);
  const COLORREF old_colour = SetTextColor(dc, GetSysColor(text_colour));
  HGDIOBJ old_font = SelectObject(dc, MenuFont(record->state & MFS_DEFAULT));
  RECT text = RectOf(layout.text);
  const TabSplit split = SplitAtTab(ViewOf(record->text));
  // The mnemonic underlines stay hidden: the marks are removed rather than left to
  // DT_HIDEPREFIX, which not every system honours.
  const UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
  const std::u16string left = lang::WithoutMnemonic(split.left);
  DrawTextW(dc, reinterpret_cast<const wchar_t*>(left.data()), static_cast<int>(left.size()), &text,
            DT_LEFT | format);
  if (split.has_tab) {
    const std::u16string right = lang::WithoutMnemonic(split.right);
    DrawTextW(dc, reinterpret_cast<const wchar_t*>(right.data()), static_cast<int>(right.size()),
              &text, DT_RIGHT | format);
  }
  SelectObject(dc, old_font);
  SetTextColor(dc, old_colour);
  SetBkMode(dc, old_mode);
}

}  // namespace nulvane::app
