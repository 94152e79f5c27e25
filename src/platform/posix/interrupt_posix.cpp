#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

#include "platform/interrupt.h"

namespace nulvane::platform {

namespace {

std::atomic<InterruptCallback> g_callback{nullptr};

// The terminal's settings before EscapeKeyWatch changed them, restored by ExitNow too.
termios g_saved_terminal{};
std::atomic<bool> g_terminal_changed{false};

void OnSignal(int) {
  if (InterruptCallback callback = g_callback.load()) callback();
}

void RestoreTerminal() {
  if (g_terminal_changed.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
}

}  // namespace

void SetInterruptHandler(InterruptCallback callback) {
  g_callback.store(callback);
  struct sigaction action {};
  action.sa_handler = callback ? OnSignal : SIG_DFL;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// The console's close event is a Windows event; POSIX has nothing to route.
void SetCloseHandler(CloseCallback) {}

void ExitNow(int code) {
  RestoreTerminal();
  _exit(code);
}

EscapeKeyWatch::EscapeKeyWatch(InterruptCallback on_escape) : on_escape_(on_escape) {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return;
  termios keys = g_saved_terminal;
  // Keys arrive one by one without echo; Ctrl+C still raises SIGINT (ISIG stays on).
  keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  keys.c_cc[VMIN] = 0;
  keys.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &keys) != 0) return;
  g_terminal_changed.store(true);
  active_ = true;
  thread_ = std::thread([this] { Watch(); });
}

EscapeKeyWatch::~EscapeKeyWatch() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (active_) RestoreTerminal();
}

void EscapeKeyWatch::Watch() {
  while (!stop_.load()) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 100) <= 0) continue;
    unsigned char keys[32];
    const ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
    if (n <= 0) continue;
    // A lone Esc; an escape sequence (arrow keys send ESC [ A) is not Esc.
    if (keys[0] == 0x1B && (n == 1 || keys[1] != '[')) on_escape_();
  }
}

}  // namespace nulvane::platform
