// The toolbars' keyboard rules: moving the hot button, and Alt with a letter that one button
// or several buttons carry.
#include "app/toolbar_keys.h"

#include <gtest/gtest.h>

namespace nulvane::app {
namespace {

TEST(ToolbarKeys, TheHotButtonSkipsSeparatorsAndDisabledButtonsAndWraps) {
  // Reset, |, Delete (disabled), |, Delay
  const std::vector<bool> usable{true, false, false, false, true};
  EXPECT_EQ(NextUsableButton(usable, -1, 1), 0);
  EXPECT_EQ(NextUsableButton(usable, 0, 1), 4);
  EXPECT_EQ(NextUsableButton(usable, 4, 1), 0);
  EXPECT_EQ(NextUsableButton(usable, -1, -1), 4);
  EXPECT_EQ(NextUsableButton(usable, 0, -1), 4);
  EXPECT_EQ(NextUsableButton(std::vector<bool>{false, false}, -1, 1), -1);
  EXPECT_EQ(NextUsableButton({}, -1, 1), -1);
}

TEST(ToolbarKeys, ASharedLetterMovesBetweenItsButtonsAndNeverRuns) {
  const std::vector<std::u16string_view> texts{u"&Reset",
                                               u"",
                                               u"&Delete",
                                               u"",
                                               u"Delete +",
                                               u"",
                                               u"&Overwrite 3 times",
                                               u"",
                                               u"Delete &Delay 5 sec"};
  const std::vector<bool> all(texts.size(), true);
  using Action = ToolbarMnemonic::Action;

  ToolbarMnemonic match = MatchToolbarMnemonic(texts, all, u'R', -1);
  EXPECT_EQ(match.action, Action::kRun);
  EXPECT_EQ(match.index, 0);

  match = MatchToolbarMnemonic(texts, all, u'd', -1);
  EXPECT_EQ(match.action, Action::kMoveHot);
  EXPECT_EQ(match.index, 2);
  match = MatchToolbarMnemonic(texts, all, u'd', match.index);
  EXPECT_EQ(match.action, Action::kMoveHot);
  EXPECT_EQ(match.index, 8);
  match = MatchToolbarMnemonic(texts, all, u'd', match.index);
  EXPECT_EQ(match.index, 2);

  // With Delete disabled (a run works) only Delay carries the letter: it runs.
  std::vector<bool> running = all;
  running[2] = false;
  match = MatchToolbarMnemonic(texts, running, u'D', -1);
  EXPECT_EQ(match.action, Action::kRun);
  EXPECT_EQ(match.index, 8);

  EXPECT_EQ(MatchToolbarMnemonic(texts, all, u'x', -1).action, Action::kNone);
}

}  // namespace
}  // namespace nulvane::app
