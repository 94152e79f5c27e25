#include <windows.h>

#include <atomic>
#include <mutex>

#include "platform/interrupt.h"

namespace nulvane::platform {

namespace {

std::atomic<InterruptCallback> g_callback{nullptr};
std::atomic<CloseCallback> g_close{nullptr};
std::mutex g_registration;
bool g_registered = false;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    if (CloseCallback close = g_close.load()) {
      close();
      return TRUE;
    }
    return FALSE;
  }
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (InterruptCallback callback = g_callback.load()) {
    callback();
    return TRUE;
  }
  return FALSE;
}

// The handler is in the system's list exactly while one of the callbacks is set.
void UpdateRegistration() {
  const std::lock_guard lock(g_registration);
  const bool wanted = g_callback.load() != nullptr || g_close.load() != nullptr;
  if (wanted == g_registered) return;
  if (SetConsoleCtrlHandler(OnConsoleControl, wanted ? TRUE : FALSE)) g_registered = wanted;
}

}  // namespace

void SetInterruptHandler(InterruptCallback callback) {
  g_callback.store(callback);
  UpdateRegistration();
}

void SetCloseHandler(CloseCallback callback) {
  g_close.store(callback);
  UpdateRegistration();
}

void ExitNow(int code) { ExitProcess(static_cast<UINT>(code)); }

EscapeKeyWatch::EscapeKeyWatch(InterruptCallback on_escape) : on_escape_(on_escape) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) return;
  active_ = true;
  thread_ = std::thread([this] { Watch(); });
}

EscapeKeyWatch::~EscapeKeyWatch() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

void EscapeKeyWatch::Watch() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (!stop_.load()) {
    if (WaitForSingleObject(input, 100) != WAIT_OBJECT_0) continue;
    INPUT_RECORD records[16];
    DWORD count = 0;
    if (!ReadConsoleInputW(input, records, 16, &count)) continue;
    for (DWORD i = 0; i < count; ++i) {
      const INPUT_RECORD& record = records[i];
      if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
          record.Event.KeyEvent.wVirtualKeyCode == VK_ESCAPE) {
        on_escape_();
      }
    }
  }
}

}  // namespace nulvane::platform
