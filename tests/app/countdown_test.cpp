// The after-run countdown, in-process: its look, OK, Cancel and Esc, the launcher calls of each
// mode, command 2 to the owner afterwards, and the error lines of a standby that cannot happen.
// A recording launcher stands in for the system's, so no test shuts the machine down or
// suspends it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/command_ids.h"
#include "app/shutdown_dialog.h"
#include "gui_harness.h"
#include "lang/language_table.h"
#include "platform/file_system.h"
#include "recording_launcher.h"

namespace nulvane::app {
namespace {

using testing::PostKey;
using testing::PumpUntil;
using testing::RecordingLauncher;
using testing::TestDialog;
using testing::WindowText;

LOGFONTW FontOf(HWND window) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof(font), &font);
  return font;
}

int CountOf(const std::vector<int>& commands, int command) {
  int count = 0;
  for (int c : commands) count += c == command ? 1 : 0;
  return count;
}

// Runs StartAfterRunAction on a worker, as a finished run does, owned by a test dialog that
// this thread pumps.
class CountdownTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(lang::LoadLanguageTable()); }
  void SetUp() override {
    saved_ = lang::Table().CurrentLanguage();
    lang::Table().SetCurrentLanguage(lang::kDefaultSlot);
  }
  void TearDown() override {
    if (worker_.joinable()) {
      if (HWND open = Countdown()) PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
      PumpUntil([&] { return finished_.load(); }, 5000);
      worker_.join();
    }
    lang::Table().SetCurrentLanguage(saved_);
  }

  // Starts StartAfterRunAction on a worker, as a finished run does.
  void StartWorker(int action) {
    finished_.store(false);
    const HWND owner = owner_.hwnd();
    worker_id_.store(0);
    worker_ = std::thread([this, owner, action] {
      worker_id_.store(GetCurrentThreadId());
      StartAfterRunAction(owner, action, [this](TextView line) {
        const std::lock_guard lock(lines_mutex_);
        error_lines_.emplace_back(line.begin(), line.end());
      });
      finished_.store(true);
    });
  }

  // Starts the countdown and waits for its window; returns it (null on failure).
  HWND Start(int action) {
    StartWorker(action);
    HWND found = nullptr;
    PumpUntil([&] { return (found = Countdown()) != nullptr && IsWindowVisible(found); });
    return found;
  }

  // Waits for StartAfterRunAction to return on the worker.
  bool Finish(DWORD timeout_ms = 3000) {
    const bool done = PumpUntil([&] { return finished_.load(); }, timeout_ms);
    if (done) worker_.join();
    return done;
  }

  HWND Countdown() const {
    HWND found = nullptr;
    const DWORD id = worker_id_.load();
    if (id == 0) return nullptr;
    EnumThreadWindows(
        id,
        [](HWND window, LPARAM found_out) {
          wchar_t class_name[16] = {};
          GetClassNameW(window, class_name, 16);
          if (std::wstring(class_name) != L"#32770") return TRUE;
          *reinterpret_cast<HWND*>(found_out) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  }

  std::vector<std::wstring> ErrorLines() {
    const std::lock_guard lock(lines_mutex_);
    return error_lines_;
  }

  TestDialog owner_;
  RecordingLauncher launcher_;
  std::mutex lines_mutex_;
  std::vector<std::wstring> error_lines_;
  std::thread worker_;
  std::atomic<bool> finished_{false};
  std::atomic<DWORD> worker_id_{0};
  int saved_ = lang::kDefaultSlot;
};

TEST_F(CountdownTest, ShowsTextsAndFontsAndOkShutsDownThenEnds) {
  const HWND dialog = Start(1);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(dialog), L"PC shutdown");
  const HWND label = GetDlgItem(dialog, IDC_COUNTDOWN_LABEL);
  EXPECT_EQ(WindowText(label), L"PC Shut Down in 10 sec.");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDOK)), L"OK");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDCANCEL)), L"Cancel");
  // The owner is disabled while the countdown is open.
  EXPECT_FALSE(IsWindowEnabled(owner_.hwnd()));

  const LOGFONTW base = FontOf(dialog);
  EXPECT_EQ(std::wstring(base.lfFaceName), L"Tahoma");
  for (int button : {IDOK, IDCANCEL}) {
    const LOGFONTW font = FontOf(GetDlgItem(dialog, button));
    EXPECT_EQ(font.lfWeight, FW_BOLD) << button;
    EXPECT_EQ(font.lfHeight, base.lfHeight) << button;
  }
  const LOGFONTW label_font = FontOf(label);
  EXPECT_EQ(label_font.lfWeight, FW_BOLD);
  EXPECT_EQ(label_font.lfHeight, base.lfHeight * 3 / 2);
  EXPECT_NE(label_font.lfHeight, base.lfHeight);

  EXPECT_TRUE(launcher_.PowerCalls().empty());
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(launcher_.PowerCalls(), std::vector<std::string>{"shut down"});
  EXPECT_EQ(CountOf(owner_.commands(), 2), 1);
  EXPECT_TRUE(IsWindowEnabled(owner_.hwnd()));
}

TEST_F(CountdownTest, CancelAndEscDoNothingInEveryMode) {
  for (int mode : {1, 2, 3}) {
    for (bool by_escape : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << (by_escape ? " Esc" : " Cancel"));
      const HWND dialog = Start(mode);
      ASSERT_NE(dialog, nullptr);
      if (by_escape) {
        PostKey(dialog, VK_ESCAPE);
      } else {
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      }
      ASSERT_TRUE(Finish());
    }
  }
  EXPECT_TRUE(launcher_.PowerCalls().empty());
  EXPECT_EQ(CountOf(owner_.commands(), 2), 0);
}

TEST_F(CountdownTest, StandbyEndsTheProgramOnlyInModeThree) {
  HWND dialog = Start(2);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(dialog), L"PC Standby");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_COUNTDOWN_LABEL)), L"PC Standby in 10 sec.");
  PostKey(dialog, VK_RETURN);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(launcher_.PowerCalls(), std::vector<std::string>{"standby"});
  EXPECT_EQ(CountOf(owner_.commands(), 2), 0);

  // The action comes first, then the end: the owner sees command 2 after the standby call.
  std::vector<std::string> calls_at_command;
  owner_.SetHandler([&](UINT message, WPARAM wparam, LPARAM, INT_PTR&) {
    if (message == WM_COMMAND && LOWORD(wparam) == 2) calls_at_command = launcher_.PowerCalls();
    return false;
  });
  dialog = Start(3);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(dialog), L"PC Standby");
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(launcher_.PowerCalls(), (std::vector<std::string>{"standby", "standby"}));
  EXPECT_EQ(calls_at_command, (std::vector<std::string>{"standby", "standby"}));
  EXPECT_EQ(CountOf(owner_.commands(), 2), 1);
}

TEST_F(CountdownTest, RunsItsTenSecondsToTheEndAndThenActs) {
  const HWND dialog = Start(2);
  ASSERT_NE(dialog, nullptr);
  const HWND label = GetDlgItem(dialog, IDC_COUNTDOWN_LABEL);
  std::vector<std::wstring> seen;
  const DWORD started = GetTickCount();
  ASSERT_TRUE(PumpUntil(
      [&] {
        if (finished_.load()) return true;
        const std::wstring text = WindowText(label);
        if (!text.empty() && (seen.empty() || seen.back() != text)) seen.push_back(text);
        return false;
      },
      15000));
  const DWORD elapsed = GetTickCount() - started;
  worker_.join();
  // Loose bounds only: a count of one a second, not an instant end.
  EXPECT_GE(elapsed, 8000u);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), L"PC Standby in 10 sec.");
  EXPECT_GE(seen.size(), 8u);
  EXPECT_EQ(launcher_.PowerCalls(), std::vector<std::string>{"standby"});
}

TEST_F(CountdownTest, WithoutASleepStateNoCountdownOpensAndNothingEnds) {
  launcher_.standby_possible.store(false);
  for (int mode : {2, 3}) {
    SCOPED_TRACE(mode);
    StartWorker(mode);
    // At once: a countdown would hold the worker for ten seconds.
    ASSERT_TRUE(Finish(2000));
  }
  const std::wstring line =
      L"Standby is not possible on this PC: it has no sleep state that a "
      L"program can start";
  EXPECT_EQ(ErrorLines(), (std::vector<std::wstring>{line, line}));
  EXPECT_TRUE(launcher_.PowerCalls().empty());
  EXPECT_EQ(CountOf(owner_.commands(), 2), 0);
  // A shut-down does not depend on the sleep states.
  ASSERT_NE(Start(1), nullptr);
}

TEST_F(CountdownTest, ARefusedStandbyIsAnErrorLineAndTheProgramStaysOpen) {
  launcher_.standby_error.store(ERROR_NOT_SUPPORTED);
  const Text reason = platform::SystemErrorText(ERROR_NOT_SUPPORTED);
  const std::wstring why(reason.begin(), reason.end());
  ASSERT_FALSE(why.empty());
  HWND dialog = Start(3);
  ASSERT_NE(dialog, nullptr);
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(launcher_.PowerCalls(), std::vector<std::string>{"standby"});
  // "end the program" does not follow: the user is to see the line.
  EXPECT_EQ(CountOf(owner_.commands(), 2), 0);

  lang::Table().SetCurrentLanguage(0);  // German
  dialog = Start(2);
  ASSERT_NE(dialog, nullptr);
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(ErrorLines(), (std::vector<std::wstring>{L"Standby failed: " + why,
                                                     L"Standby fehlgeschlagen: " + why}));
  EXPECT_EQ(CountOf(owner_.commands(), 2), 0);
}

}  // namespace
}  // namespace nulvane::app
