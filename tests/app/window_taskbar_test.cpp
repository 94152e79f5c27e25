// The taskbar button's progress during a run in the real window, recorded by a fake taskbar
// object (Wine's does nothing) together with what the message list showed at each call.
#include <memory>
#include <mutex>

#include "app/taskbar_progress.h"
#include "fake_desktop.h"
#include "main_dialog_fixture.h"

namespace nulvane::app {
namespace {

// One call on the taskbar's object, and the number of error lines the message list showed then
// (the legend's own "Error" line not counted).
struct TaskbarCall {
  bool is_state = false;
  TaskbarState state = TaskbarState::kNoProgress;
  std::uint64_t done = 0;
  std::uint64_t total = 0;
  int error_lines = 0;
};

class RecordingTaskbar {
 public:
  explicit RecordingTaskbar(HWND* window) : window_(window) {
    current_ = this;
    UseTaskbarListMaker(&Make);
  }
  ~RecordingTaskbar() {
    UseTaskbarListMaker(nullptr);
    current_ = nullptr;
  }
  RecordingTaskbar(const RecordingTaskbar&) = delete;
  RecordingTaskbar& operator=(const RecordingTaskbar&) = delete;

  std::vector<TaskbarCall> calls;
  int made = 0;

 private:
  class List final : public TaskbarList {
   public:
    void SetProgressValue(HWND window, std::uint64_t done, std::uint64_t total) override {
      Record(window, TaskbarCall{false, TaskbarState::kNoProgress, done, total});
    }
    void SetProgressState(HWND window, TaskbarState state) override {
      Record(window, TaskbarCall{true, state});
    }
  };

  static std::unique_ptr<TaskbarList> Make() {
    ++current_->made;
    return std::make_unique<List>();
  }
  // On the window's thread (the host carries every call there): reads the message list now.
  static void Record(HWND window, TaskbarCall call) {
    EXPECT_EQ(window, *current_->window_);
    const HWND lines = testing::ControlById(window, IDC_MESSAGE_LIST);
    const auto count = static_cast<int>(SendMessageW(lines, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
      LVITEMW item{};
      item.mask = LVIF_IMAGE;
      item.iItem = row;
      SendMessageW(lines, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
      if (item.iImage == static_cast<int>(engine::MessageKind::kError)) ++call.error_lines;
    }
    --call.error_lines;
    current_->calls.push_back(call);
  }

  HWND* window_;
  static inline RecordingTaskbar* current_ = nullptr;
};

TEST_F(MainDialogTest, TheTaskbarButtonShowsTheRunsProgressTurnsToErrorAndIsClearedAtTheEnd) {
  SetOption(settings::kPassesKey, 3);
  // The last item of the list goes first: the large file gives progress, then the locked one
  // gives an error line.
  const std::wstring locked = folder_ / L"locked.txt";
  const std::wstring large = folder_ / L"large.bin";
  ZFolder::Write(locked, "x");
  ZFolder::Write(large, std::string(8 << 20, 'y'));
  HANDLE holder = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  testing::FakeDesktop desktop;
  HWND window = nullptr;
  RecordingTaskbar taskbar(&window);
  CSetFileTime dialog(ToText(L"\"" + locked + L"\" \"" + large + L"\""));
  const UINT button_created = RegisterWindowMessageW(L"TaskbarButtonCreated");
  UiScript script;
  script
      .Do([&] {
        window = dialog.Window();
        // Elevated, the window still hears from the shell that its button exists.
        ASSERT_FALSE(desktop.filter_calls.empty());
        EXPECT_EQ(desktop.filter_calls.back().message, button_created);
        // No button, no object.
        EXPECT_EQ(taskbar.made, 0);
        SendMessageW(window, button_created, 0, 0);
        EXPECT_EQ(taskbar.made, 1);
        EXPECT_TRUE(taskbar.calls.empty());
        PostCommand(dialog, kCommandDelete);
      })
      .WaitFor(
          "the run's end", [] { return !CSetFileTime::WorkerActive(); }, 30000)
      .Do([&] {
        EXPECT_TRUE(ZFolder::Exists(locked));
        EXPECT_FALSE(ZFolder::Exists(large));
        const std::vector<TaskbarCall>& calls = taskbar.calls;
        ASSERT_GE(calls.size(), 3u);
        // Progress in ten-thousandths, never going back, never past the whole.
        std::uint64_t last = 0;
        int values = 0;
        for (const TaskbarCall& call : calls) {
          if (call.is_state) continue;
          ++values;
          EXPECT_EQ(call.total, 10000u);
          EXPECT_GE(call.done, last);
          EXPECT_LE(call.done, 10000u);
          last = call.done;
        }
        EXPECT_GE(values, 1);
        // The large file was written whole: most of the work (the locked byte was not).
        EXPECT_GT(last, 9990u);
        EXPECT_LT(last, 10000u);
        // Normal while no error line stood, error once one did, and cleared at the end.
        bool error_shown = false;
        for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
          if (!calls[i].is_state) continue;
          EXPECT_EQ(calls[i].state,
                    calls[i].error_lines > 0 ? TaskbarState::kError : TaskbarState::kNormal)
              << "call " << i;
          error_shown = error_shown || calls[i].state == TaskbarState::kError;
        }
        EXPECT_TRUE(error_shown);
        EXPECT_TRUE(calls.back().is_state);
        EXPECT_EQ(calls.back().state, TaskbarState::kNoProgress);
        EXPECT_EQ(TopMessage(dialog), L"Destroyed: 1, failed: 1, left untouched: 0");
        // The shell's message again (Explorer restarted): a new object, nothing shown on it.
        const std::size_t before = calls.size();
        SendMessageW(window, button_created, 0, 0);
        EXPECT_EQ(taskbar.made, 2);
        EXPECT_EQ(taskbar.calls.size(), before);
      });
  EXPECT_EQ(Run(dialog, script), 2);
  EXPECT_TRUE(script.completed());
  CloseHandle(holder);
}

}  // namespace
}  // namespace nulvane::app
