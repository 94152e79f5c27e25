#include "app/taskbar_progress.h"

#include <shobjidl.h>

#include <algorithm>
#include <cmath>

#include "app/desktop_calls.h"

namespace nulvane::app {
namespace {

class SystemTaskbarList final : public TaskbarList {
 public:
  explicit SystemTaskbarList(ITaskbarList3* list) : list_(list) {}
  ~SystemTaskbarList() override { list_->Release(); }
  SystemTaskbarList(const SystemTaskbarList&) = delete;
  SystemTaskbarList& operator=(const SystemTaskbarList&) = delete;

  void SetProgressValue(HWND window, std::uint64_t done, std::uint64_t total) override {
    list_->SetProgressValue(window, done, total);
  }
  void SetProgressState(HWND window, TaskbarState state) override {
    TBPFLAG flag = TBPF_NOPROGRESS;
    if (state == TaskbarState::kNormal) flag = TBPF_NORMAL;
    if (state == TaskbarState::kError) flag = TBPF_ERROR;
    list_->SetProgressState(window, flag);
  }

 private:
  ITaskbarList3* list_;
};

// The program's thread has COM from before the entry point on (the Send-To manager begins it);
// where it has not, the object cannot be made and the button shows nothing.
std::unique_ptr<TaskbarList> MakeSystemTaskbarList() {
  ITaskbarList3* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&list))) ||
      !list) {
    return nullptr;
  }
  if (FAILED(list->HrInit())) {
    list->Release();
    return nullptr;
  }
  return std::make_unique<SystemTaskbarList>(list);
}

std::unique_ptr<TaskbarList> (*g_maker)() = nullptr;

}  // namespace

std::unique_ptr<TaskbarList> MakeTaskbarList() {
  return g_maker ? g_maker() : MakeSystemTaskbarList();
}

void UseTaskbarListMaker(std::unique_ptr<TaskbarList> (*maker)()) { g_maker = maker; }

void TaskbarProgress::Attach(HWND window) {
  window_ = window;
  button_created_ = RegisterWindowMessageW(kTaskbarButtonCreatedName);
  if (button_created_)
    CurrentDesktopCalls().AllowMessageFromLowerIntegrity(window, button_created_);
}

bool TaskbarProgress::OnMessage(UINT message) {
  if (button_created_ == 0 || message != button_created_) return false;
  list_.reset();
  list_ = MakeTaskbarList();
  if (shown_) ShowState();
  return true;
}

void TaskbarProgress::WorkStarted() {
  // A fill disables its commands once it writes, after the session began it: what it reported
  // before then still counts.
  if (working_) return;
  working_ = true;
  shown_ = false;
  error_ = false;
}

void TaskbarProgress::ShowProgress(double percent) {
  working_ = true;
  const double share = std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 0.0;
  value_ = static_cast<std::uint64_t>(std::floor(share * kScale / 100.0));
  const bool first = !shown_;
  shown_ = true;
  if (!list_) return;
  if (first) {
    ShowState();
  } else {
    list_->SetProgressValue(window_, value_, kScale);
  }
}

void TaskbarProgress::NoteError() {
  // An error after the work (the after-run step's) belongs to no progress.
  if (!working_ || error_) return;
  error_ = true;
  if (shown_ && list_) list_->SetProgressState(window_, TaskbarState::kError);
}

void TaskbarProgress::WorkEnded() {
  const bool was_shown = shown_;
  working_ = shown_ = error_ = false;
  value_ = 0;
  if (was_shown && list_) list_->SetProgressState(window_, TaskbarState::kNoProgress);
}

void TaskbarProgress::ShowState() {
  list_->SetProgressState(window_, error_ ? TaskbarState::kError : TaskbarState::kNormal);
  list_->SetProgressValue(window_, value_, kScale);
}

}  // namespace nulvane::app
