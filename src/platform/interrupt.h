// Ctrl+C and Esc from the terminal, for the console front end.
#pragma once

#include <atomic>
#include <thread>

namespace nulvane::platform {

// Called for every Ctrl+C (SIGINT, SIGTERM, CTRL_C_EVENT, CTRL_BREAK_EVENT). On POSIX it runs
// inside a signal handler: it may only touch lock-free atomics and call ExitNow.
using InterruptCallback = void (*)();

// Routes Ctrl+C to `callback` instead of ending the process; null restores the default.
void SetInterruptHandler(InterruptCallback callback);

// Called when the console goes away while the program runs: its window is being closed, or the
// user logs off or the system shuts down (Windows: CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT,
// CTRL_SHUTDOWN_EVENT), on a thread the system starts for it. The system ends the process when
// it returns, and a few seconds after the event in any case: the callback stops the work, waits
// for its clean-up and may end the process itself. POSIX has no such event (a terminal that
// goes away sends SIGHUP, which ends the process as before): there it is never called.
using CloseCallback = void (*)();

// Routes the console's close event to `callback`; null restores the default (the process ends).
void SetCloseHandler(CloseCallback callback);

// Ends the process at once with `code`, without running destructors or atexit handlers;
// safe inside a signal handler. A terminal put into key mode by EscapeKeyWatch is restored.
[[noreturn]] void ExitNow(int code);

// While it lives, watches the terminal's keyboard and calls `on_escape` when Esc is pressed.
// Does nothing when standard input is not an interactive terminal.
class EscapeKeyWatch {
 public:
  explicit EscapeKeyWatch(InterruptCallback on_escape);
  ~EscapeKeyWatch();
  EscapeKeyWatch(const EscapeKeyWatch&) = delete;
  EscapeKeyWatch& operator=(const EscapeKeyWatch&) = delete;

 private:
  void Watch();

  InterruptCallback on_escape_;
  std::atomic<bool> stop_{false};
  bool active_ = false;
  std::thread thread_;
};

}  // namespace nulvane::platform
