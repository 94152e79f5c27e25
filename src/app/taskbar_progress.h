// The progress of a run or a fill on the window's taskbar button, where Windows users look while
// the window is covered: the share written (state normal), the error state once the work has
// reported an error, nothing once it has ended. The taskbar's object is made only after the
// shell's "TaskbarButtonCreated" message has arrived (before it, the button does not exist) and
// made again whenever that message comes again (Explorer restarted). It is reached through one
// replaceable maker, so that a test records the calls (Wine's taskbar object does nothing).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace nulvane::app {

// ITaskbarList3's progress states that the window uses.
enum class TaskbarState { kNoProgress, kNormal, kError };

class TaskbarList {
 public:
  virtual ~TaskbarList() = default;
  // ITaskbarList3::SetProgressValue and SetProgressState of `window`'s button; failures are not
  // reported (the button is a courtesy, the window shows the same).
  virtual void SetProgressValue(HWND window, std::uint64_t done, std::uint64_t total) = 0;
  virtual void SetProgressState(HWND window, TaskbarState state) = 0;
};

// Makes the taskbar's object: the system's (CLSID_TaskbarList, ITaskbarList3) unless a test has
// put its own maker in place; null when the system has none (before Windows 7, no shell).
std::unique_ptr<TaskbarList> MakeTaskbarList();
// Makes `maker` the one in use (null: the system's again).
void UseTaskbarListMaker(std::unique_ptr<TaskbarList> (*maker)());

// The name of the shell's registered message that says a window's taskbar button exists.
inline constexpr wchar_t kTaskbarButtonCreatedName[] = L"TaskbarButtonCreated";

// What the taskbar button shows for one window, fed from the window's RunHost on the window's
// thread. The progress is shown in ten-thousandths of the work.
class TaskbarProgress {
 public:
  static constexpr std::uint64_t kScale = 10000;

  // WM_INITDIALOG: registers the shell's message and lets it through the message filter, so that
  // an elevated window still receives it from the shell, which is not elevated.
  void Attach(HWND window);
  // Whether `message` is the shell's "TaskbarButtonCreated"; if so the taskbar's object is made
  // (again) and shows what the work has reached so far.
  bool OnMessage(UINT message);

  // A run or a fill begins (its commands are disabled): no error seen yet, nothing shown yet.
  void WorkStarted();
  // A progress report: `percent` of the work is written.
  void ShowProgress(double percent);
  // An error line was added: the button turns to the error state while the work lasts.
  void NoteError();
  // The work has ended: the button shows no progress any more.
  void WorkEnded();

 private:
  void ShowState();

  HWND window_ = nullptr;
  UINT button_created_ = 0;
  std::unique_ptr<TaskbarList> list_;
  bool working_ = false;
  bool shown_ = false;
  bool error_ = false;
  std::uint64_t value_ = 0;
};

}  // namespace nulvane::app
