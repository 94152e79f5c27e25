// CWinCmdBar's keyboard mode: the bar answers F10 and Alt as a native menu bar does. The main
// dialog's key filter (dialog_keys.*) sends the keys here while the mode lasts.
#include <string>
#include <vector>

#include "app/menu_bar.h"
#include "app/menu_bar_rules.h"
#include "app/menu_item_text.h"

namespace nulvane::app {

bool CWinCmdBar::EnterKeyboardMode() {
  if (!toolbar_ || !menu_ || item_count_ <= 0 || tracking()) return false;
  keyboard_mode_ = true;
  current_ = 0;
  SendMessageW(toolbar_, TB_SETHOTITEM, static_cast<WPARAM>(current_), 0);
  return true;
}

void CWinCmdBar::LeaveKeyboardMode() {
  if (!keyboard_mode_) return;
  keyboard_mode_ = false;
  if (toolbar_) SendMessageW(toolbar_, TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
}

bool CWinCmdBar::OnKeyboardModeKey(UINT virtual_key) {
  if (!keyboard_mode_) return false;
  switch (virtual_key) {
    case VK_LEFT:
    case VK_RIGHT:
      current_ = WrapIndex(current_ + (virtual_key == VK_LEFT ? -1 : 1), item_count_);
      SendMessageW(toolbar_, TB_SETHOTITEM, static_cast<WPARAM>(current_), 0);
      return true;
    case VK_DOWN:
    case VK_UP:
    case VK_RETURN: {
      const int index = current_;
      LeaveKeyboardMode();
      OpenPopupByKey(index);
      return true;
    }
    case VK_ESCAPE:
      LeaveKeyboardMode();
      return true;
    default:
      // Any other key ends the mode and does what it does anywhere else.
      LeaveKeyboardMode();
      return false;
  }
}

int CWinCmdBar::MnemonicIndex(char16_t key) const {
  if (!menu_) return -1;
  std::vector<std::wstring> texts;
  for (int i = 0; i < item_count_; ++i) texts.push_back(MenuItemText(menu_, static_cast<UINT>(i)));
  std::vector<std::u16string_view> views;
  for (const std::wstring& text : texts) {
    views.emplace_back(reinterpret_cast<const char16_t*>(text.data()), text.size());
  }
  const MnemonicMatch match = MatchMnemonic(views, key, -1);
  return match.count > 0 ? match.index : -1;
}

void CWinCmdBar::OpenPopupByKey(int index) {
  if (!toolbar_ || index < 0 || index >= item_count_) return;
  current_ = index;
  PostMessageW(toolbar_, kOpenCurrentPopup, 1, 0);
}

}  // namespace nulvane::app
