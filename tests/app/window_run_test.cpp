// A run in the real window, read back from what it shows: the chosen pass count, the last
// progress report, the outcome line, and Delete with nothing queued.
#include "main_dialog_fixture.h"

namespace nulvane::app {
namespace {

std::wstring ProgressText(const CSetFileTime& dialog) {
  return WindowText(GetDlgItem(dialog.Window(), 1046));
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST_F(MainDialogTest, ThirtyFivePassesAreMadeAndTheInfoBoxStatusBarAndLinesAgree) {
  SetOption(settings::kPassesKey, 35);
  const std::wstring file = folder_ / L"doomed.txt";
  ZFolder::Write(file, std::string(28, 'x'));
  CSetFileTime dialog(ToText(L"\"" + file + L"\""));
  UiScript script;
  script
      .Do([&] {
        EXPECT_EQ(ButtonText(testing::ControlById(dialog.Window(), kListToolbarId),
                             kCommandOverwriteMenu),
                  L"&Overwrite 35 times");
        PostCommand(dialog, kCommandDelete);
      })
      .WaitFor(
          "the run's end", [] { return !CSetFileTime::WorkerActive(); }, 20000)
      .Do([&] {
        EXPECT_FALSE(ZFolder::Exists(file));
        const std::vector<std::wstring> lines =
            Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0);
        ASSERT_GE(lines.size(), 4u);
        // Newest on top: the outcome, then the Total of 35 passes over 28 bytes.
        EXPECT_EQ(lines[0], L"Destroyed: 1, failed: 0, left untouched: 0");
        EXPECT_EQ(lines[1], L"Total 980.0 byte");
        EXPECT_EQ(StatusText(dialog), L"100.0 % // Error: 0 ");
        // The last report, however soon after the one before, stands in the info box.
        EXPECT_TRUE(EndsWith(ProgressText(dialog), L"\n100.0 % 980.0 byte of 980.0 byte"))
            << ProgressText(dialog);
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, DeleteWithNothingQueuedStartsNoCountdownAndSaysSo) {
  SetOption(settings::kDelayKey, 3);
  CSetFileTime dialog(u"");
  UiScript script;
  script.Do([&] { PostCommand(dialog, kCommandDelete); })
      .WaitFor(
          "the line",
          [&] { return TopMessage(dialog) == L"Nothing is queued: add files or folders first."; })
      .WaitFor("the worker's end", [] { return !CSetFileTime::WorkerActive(); })
      .Do([&] {
        // The legend and the one line: no "Start ...", no countdown, no summary.
        EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0).size(), 4u);
        EXPECT_EQ(StatusText(dialog), L"Items:0 // Total: 0.0 byte");
        EXPECT_EQ(ProgressText(dialog), W(lang::Txt(lang::TextId::kInstructions)));
        EXPECT_TRUE(
            ButtonEnabled(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDelete));
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, TheLanguageCannotChangeDuringARunSoItsLinesStay) {
  SetOption(settings::kDelayKey, 2);
  const std::wstring file = folder_ / L"doomed.txt";
  ZFolder::Write(file, "abc");
  CSetFileTime dialog(ToText(L"\"" + file + L"\""));
  UiScript script;
  script.Do([&] { PostCommand(dialog, kCommandDelete); })
      .WaitFor("the countdown",
               [&] { return TopMessage(dialog) == L"The begin in 2 sec. Abort with [ESC]"; })
      .Do([&] {
        EXPECT_FALSE(ButtonEnabled(testing::ControlById(dialog.Window(), kCornerToolbarId),
                                   kCommandLanguageMenu));
        // A command that was queued before the button went gray opens nothing.
        PostCommand(dialog, kCommandLanguageMenu);
      })
      .WaitFor(
          "the run's end", [] { return !CSetFileTime::WorkerActive(); }, 20000)
      .Do([&] {
        EXPECT_EQ(testing::OpenMenuCount(), 0);
        EXPECT_TRUE(ButtonEnabled(testing::ControlById(dialog.Window(), kCornerToolbarId),
                                  kCommandLanguageMenu));
        const std::vector<std::wstring> lines =
            Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0);
        EXPECT_EQ(lines.front(), L"Destroyed: 1, failed: 0, left untouched: 0");
        EXPECT_EQ(StatusText(dialog), L"100.0 % // Error: 0 ");
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

}  // namespace
}  // namespace nulvane::app
