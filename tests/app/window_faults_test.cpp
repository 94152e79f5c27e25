// Faults of the window that a user could meet: the private message sent by another process, a
// fill that ends the program while the closing question is open, a worker thread that cannot
// start, a drop during a run and the run's summary, the delay line's "&".
#include <algorithm>
#include <functional>
#include <system_error>
#include <thread>

#include "main_dialog_fixture.h"

namespace nulvane::app {
namespace {

// Another program of the build, started and not waited for; its process handle, or null.
HANDLE StartProgram(const std::string& unix_path, const std::wstring& arguments) {
  std::wstring path = L"Z:";
  for (char c : unix_path) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  std::wstring command = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

TEST_F(MainDialogTest, ThePrivateMessageFromAnotherProcessRunsNothing) {
  CSetFileTime dialog(u"");
  // What another process could aim the message at: a call that really is in this process's
  // memory (a sender learns addresses easily), and an address that holds nothing.
  bool planted_ran = false;
  const std::function<void()> planted = [&] { planted_ran = true; };
  const std::vector<UINT_PTR> bogus = {reinterpret_cast<UINT_PTR>(&planted), 0x10};
  std::size_t sent = 0;
  HANDLE sender = nullptr;
  DWORD answer = 99;
  UiScript script;
  for (int round = 0; round < 2; ++round) {
    script
        .Do([&] {
          const std::wstring arguments =
              std::to_wstring(reinterpret_cast<UINT_PTR>(dialog.Window())) + L" " +
              std::to_wstring(kRunOnWindowThreadMessage) + L" 0 " + std::to_wstring(bogus[sent++]);
          sender = StartProgram(NULVANE_SEND_MESSAGE_PATH, arguments);
          ASSERT_NE(sender, nullptr);
        })
        .WaitFor(
            "the sender's end",
            [&] { return !sender || WaitForSingleObject(sender, 0) == WAIT_OBJECT_0; }, 15000)
        .Do([&] {
          GetExitCodeProcess(sender, &answer);
          CloseHandle(sender);
          // Answered "nothing ran", and nothing did.
          EXPECT_EQ(answer, 0u);
          EXPECT_FALSE(planted_ran);
          EXPECT_TRUE(IsWindow(dialog.Window()));
        });
  }
  // The window still carries a worker's calls.
  std::thread worker;
  script.Do([&] {
    worker = std::thread(
        [&] { dialog.Host().AddMessage(u"from a worker", engine::MessageKind::kInfo); });
  });
  script.WaitFor("the worker's line", [&] { return TopMessage(dialog) == L"from a worker"; });
  EXPECT_EQ(Run(dialog, script), 2);
  if (worker.joinable()) worker.join();
  EXPECT_TRUE(script.completed());
}

// The closing question while a fill runs: the test stands in for the fill's worker, which
// ends the program ("… + end the program") while the question is open.
TEST_F(MainDialogTest, AFillThatEndsTheProgramWhileTheClosingQuestionIsOpenEndsIt) {
  engine::RunFlags& flags = engine::ProcessRunSession().flags();
  flags.fill_running.store(1);
  CSetFileTime dialog(u"");
  UiScript script;
  std::thread worker;
  script.Do([&] { PostCommand(dialog, kCommandCancel); })
      .WaitFor("the question", [&] { return testing::OwnedWindow(dialog.Window()) != nullptr; })
      .Do([&] {
        // The fill has finished: it is no longer writing, and it ends the program.
        flags.fill_running.store(0);
        worker = std::thread([&] {
          engine::RunEnd end;
          end.after_run = engine::AfterRun::kEndProgram;
          dialog.Host().RunEnded(end);
        });
      });
  // No answer is given: the dialog ends by itself, and the question goes with it.
  EXPECT_EQ(Run(dialog, script, /*close_at_end=*/false), 2);
  if (worker.joinable()) worker.join();
  EXPECT_TRUE(script.completed());
  flags.fill_running.store(0);
}

void ThrowAsAThreadThatCannotStart(std::function<void()>) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

TEST_F(MainDialogTest, AWorkerThatCannotStartIsAnErrorLineAndChangesNothing) {
  const std::wstring tree = folder_ / L"Kept";
  MakeTree(tree);
  CSetFileTime dialog(ToText(L"\"" + tree + L"\""));
  Program().start_worker = ThrowAsAThreadThatCannotStart;
  UiScript script;
  script.Do([&] { PostCommand(dialog, kCommandDelete); })
      .WaitFor("the error line",
               [&] { return TopMessage(dialog).rfind(L"The work cannot start: ", 0) == 0; })
      .Do([&] {
        EXPECT_GT(TopMessage(dialog).size(), std::wstring(L"The work cannot start: ").size());
        EXPECT_FALSE(CSetFileTime::WorkerActive());
        EXPECT_TRUE(
            ButtonEnabled(testing::ControlById(dialog.Window(), kListToolbarId), kCommandDelete));
        EXPECT_TRUE(
            ButtonEnabled(testing::ControlById(dialog.Window(), kCornerToolbarId), kCommandCancel));
        EXPECT_TRUE(ZFolder::Exists(tree + L"\\a.txt"));
        // No run holds drops back: one is added at once.
        ZFolder::Write(folder_ / L"dropped.txt", "x");
        PostDrop(dialog.Window(), {folder_ / L"dropped.txt"});
      })
      .WaitFor("the dropped row", [&] {
        return SendMessageW(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), LVM_GETITEMCOUNT,
                            0, 0) == 5;
      });
  EXPECT_EQ(Run(dialog, script), 2);
  Program().start_worker = nullptr;
  EXPECT_TRUE(script.completed());
}

TEST_F(MainDialogTest, ADropHeldBackDuringARunKeepsTheRunsSummaryAndTheDelayLineItsAmpersand) {
  SetOption(settings::kDelayKey, 1);
  const std::wstring doomed = folder_ / L"Doomed";
  const std::wstring later = folder_ / L"later.txt";
  MakeTree(doomed);
  ZFolder::Write(later, "abc");
  CSetFileTime dialog(ToText(L"\"" + doomed + L"\""));
  UiScript script;
  script.Do([&] { PostCommand(dialog, kCommandDelete); })
      .WaitFor("the run to disable Delete",
               [&] {
                 return !ButtonEnabled(testing::ControlById(dialog.Window(), kListToolbarId),
                                       kCommandDelete);
               })
      .Do([&] {
        PostDrop(dialog.Window(), {later, folder_ / L"missing.txt"});
      })
      .WaitFor(
          "the run's end", [] { return !CSetFileTime::WorkerActive(); }, 20000)
      .Do([&] {
        EXPECT_FALSE(ZFolder::Exists(doomed));
        EXPECT_EQ(Column(testing::ControlById(dialog.Window(), IDC_ITEM_LIST), 0),
                  std::vector<std::wstring>{Lower(later)});
        EXPECT_EQ(StatusText(dialog), L"100.0 % // Error: 0 ");
        const std::vector<std::wstring> lines =
            Column(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0);
        EXPECT_EQ(lines.front(), (folder_ / L"missing.txt") + L": not found");
        EXPECT_NE(std::find(lines.begin(), lines.end(), L"Delete &Delay 1 sec"), lines.end());
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
}

}  // namespace
}  // namespace nulvane::app
