// The keyboard rules of the window's toolbars as arithmetic on their buttons: which button the
// arrow keys make hot next, and what Alt and a letter does among buttons that share letters.
// The window (dialog_keys.*) applies them; they are tested natively.
#pragma once

#include <string_view>
#include <vector>

namespace nulvane::app {

// The next button after `from` in direction `step` (+1 right, -1 left) that is `usable`
// (enabled, not a separator), wrapping round; `from` -1 starts before the first button (or
// after the last for -1). -1 when no button is usable.
int NextUsableButton(const std::vector<bool>& usable, int from, int step);

// What Alt and a letter does among a toolbar's buttons.
struct ToolbarMnemonic {
  enum class Action {
    kNone,     // no usable button carries the letter
    kRun,      // exactly one does: it runs
    kMoveHot,  // several do: the hot button moves to the next of them, nothing runs
  };
  Action action = Action::kNone;
  int index = -1;
};
// `texts` are the buttons' texts with their "&" marks; a button that is not `usable` never
// matches. `hot` is the hot button (-1 for none): with a shared letter the one after it is
// chosen, so that pressing the letter again moves on.
ToolbarMnemonic MatchToolbarMnemonic(const std::vector<std::u16string_view>& texts,
                                     const std::vector<bool>& usable, char16_t key, int hot);

}  // namespace nulvane::app
