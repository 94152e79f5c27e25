#include <windows.h>

#include <atomic>

#include "platform/interrupt.h"

namespace nulvane::platform {

namespace {

std::atomic<InterruptCallback> g_callback{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (InterruptCallback callback = g_callback.load()) {
    callback();
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void SetInterruptHandler(InterruptCallback callback) {
  g_callback.store(callback);
  SetConsoleCtrlHandler(OnConsoleControl, callback ? TRUE : FALSE);
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
