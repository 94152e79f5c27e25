#include "app/toolbar_keys.h"

#include "app/menu_bar_rules.h"

namespace nulvane::app {

int NextUsableButton(const std::vector<bool>& usable, int from, int step) {
  const int count = static_cast<int>(usable.size());
  if (count == 0 || step == 0) return -1;
  step = step > 0 ? 1 : -1;
  if (from < 0 || from >= count) from = step > 0 ? -1 : count;
  for (int moved = 1; moved <= count; ++moved) {
    const int index = ((from + step * moved) % count + count) % count;
    if (usable[static_cast<std::size_t>(index)]) return index;
  }
  return -1;
}

ToolbarMnemonic MatchToolbarMnemonic(const std::vector<std::u16string_view>& texts,
                                     const std::vector<bool>& usable, char16_t key, int hot) {
  // Buttons that cannot be used take no letter.
  std::vector<std::u16string_view> candidates(texts.size());
  for (std::size_t i = 0; i < texts.size() && i < usable.size(); ++i) {
    if (usable[i]) candidates[i] = texts[i];
  }
  const MnemonicMatch match = MatchMnemonic(candidates, key, hot);
  ToolbarMnemonic result;
  if (match.count == 0) return result;
  result.index = match.index;
  result.action =
      match.count == 1 ? ToolbarMnemonic::Action::kRun : ToolbarMnemonic::Action::kMoveHot;
  return result;
}

}  // namespace nulvane::app
