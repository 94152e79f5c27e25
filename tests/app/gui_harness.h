// What every GUI test of the Windows program uses: a host dialog that records what reaches it,
// message pumps with time limits, steps that run inside a modal loop (a popup menu's tracking),
// posted key and mouse input, and read-back of the open popup menus.
//
// Tests run on the program's main thread, under Wine on a virtual display. They drive windows
// with sent and posted messages, never with real input, so they may run beside other programs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nulvane::app::testing {

// Asks the UI thread `thread` (from any thread) to end its modal loops: open menus are ended
// and every dialog of the thread is sent IDCANCEL. The request is carried out the next time the
// thread looks at its message queue. The watchdog of the test programs uses it.
void CancelModalLoops(DWORD thread);

// Runs this test program again as a child process with `arguments` (for example a
// --gtest_filter) and the environment variables `environment` ("NAME=value") added, waits up to
// `timeout_ms` and returns its exit code (-1 when it could not start or did not end in time; it
// is then ended). Tests use it for what must happen in a fresh process: a watchdog that ends the
// program, a system setting that is read at start-up.
int RunThisProgram(const std::wstring& arguments, const std::vector<std::wstring>& environment,
                   DWORD timeout_ms = 60000, std::string* output = nullptr);

// Handles every message waiting for this thread, then returns.
void PumpMessages();
// Handles this thread's messages for `milliseconds`.
void PumpMessagesFor(DWORD milliseconds);
// Handles this thread's messages until `condition` holds or `timeout_ms` passes; returns
// whether the condition held.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeout_ms = 3000);

// A message that reached the host dialog.
struct RecordedMessage {
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
};

// A visible, modeless top-level dialog with a caption and a system menu that stands in for the
// program's main dialog. It records the commands (WM_COMMAND from menus and accelerators) and
// the menu notifications (WM_INITMENUPOPUP, WM_ENTERMENULOOP, WM_EXITMENULOOP, WM_MENUSELECT,
// WM_MENUCHAR) that reach its dialog procedure. A test may add its own handling.
class TestDialog {
 public:
  // Client area of `width` × `height` pixels at (`x`, `y`) on the screen.
  explicit TestDialog(int width = 480, int height = 320, int x = 40, int y = 40);
  ~TestDialog();
  TestDialog(const TestDialog&) = delete;
  TestDialog& operator=(const TestDialog&) = delete;

  HWND hwnd() const { return hwnd_; }

  // The command ids received, oldest first (only commands with no control: lParam 0).
  const std::vector<int>& commands() const { return commands_; }
  // The menu notifications received, oldest first.
  const std::vector<RecordedMessage>& menu_messages() const { return menu_messages_; }
  // How many of the recorded menu notifications are `message`.
  int CountMenuMessages(UINT message) const;
  void ClearRecords();

  // Called first for every message of the dialog procedure; returning true consumes the
  // message with `result` as the dialog procedure's answer.
  using Handler = std::function<bool(UINT message, WPARAM, LPARAM, INT_PTR& result)>;
  void SetHandler(Handler handler) { handler_ = std::move(handler); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam);

  HWND hwnd_ = nullptr;
  std::vector<int> commands_;
  std::vector<RecordedMessage> menu_messages_;
  Handler handler_;
};

// Steps that run on this thread from a timer, one per tick, inside whatever modal loop the test
// enters next: start the script, then call the function that tracks a menu. A `Do` step acts;
// a `WaitFor` step waits until its condition holds. A condition that does not come within its
// time fails the test and ends the open menus, so the loop returns. After the last step the
// script gives the loop 2 s to end by itself and then ends the menus itself (a failure too).
class UiScript {
 public:
  UiScript();
  ~UiScript();
  UiScript(const UiScript&) = delete;
  UiScript& operator=(const UiScript&) = delete;

  UiScript& Do(std::function<void()> step);
  UiScript& WaitFor(std::string what, std::function<bool()> condition, DWORD timeout_ms = 3000);
  // Arms the timer; the first step runs at the first tick.
  void Start(UINT interval_ms = 10);
  // True when every step ran (and no condition timed out).
  bool completed() const;
  // True once the script has stopped: every step ran, or a condition timed out.
  bool done() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// The visible popup menu windows of this thread, in the order the system lists them.
std::vector<HWND> OpenMenuWindows();
// The menu that a popup menu window shows.
HMENU MenuOfWindow(HWND menu_window);
// True while `menu` is shown in an open popup menu window of this thread.
bool IsMenuOpen(HMENU menu);
// The number of open popup menu windows of this thread.
int OpenMenuCount();
// The position of the highlighted item of `menu`, or -1.
int HighlightedItem(HMENU menu);
// Ends the menus of this thread (the test's own safety net).
void EndMenus();

// Posted input. Keys carry a plausible lParam (repeat count, scan code, up/down bits).
void PostKey(HWND target, UINT virtual_key);
void PostChar(HWND target, wchar_t character);
// A WM_SYSCHAR with the Alt bit set, as TranslateMessage makes of Alt+letter.
void PostAltChar(HWND target, wchar_t character);
// Mouse messages during a menu's tracking carry screen coordinates.
void PostMouseAtScreen(HWND target, UINT message, POINT screen);

// A fresh empty folder in the temporary folder, named `prefix` plus the process id and a tick
// count; empty when it could not be made. The caller removes it.
std::wstring NewScratchFolder(const std::wstring& prefix);

// A window's text at its full length.
std::wstring WindowText(HWND window);
// The text of cell (`row`, `column`) of a list-view control.
std::wstring ListViewText(HWND list, int row, int column = 0);
// A visible top-level window of any thread of this process owned by `owner` (a message box, a
// dialog a worker shows), or null; with `class_name`, only a window of that class.
HWND OwnedWindow(HWND owner, const wchar_t* class_name = nullptr);
// The control with id `id` anywhere below `root` (a child's child too, as the toolbars inside
// the top strip and the status bar are), or null.
HWND ControlById(HWND root, int id);

// The centre of a window's rectangle `client_rect` (client coordinates of `window`) on screen.
POINT ScreenCentre(HWND window, const RECT& client_rect);

// The colour of pixel (x, y) of a 32-bit top-down DIB section, as COLORREF.
class Canvas {
 public:
  Canvas(int width, int height, COLORREF background);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  int width() const { return width_; }
  int height() const { return height_; }
  COLORREF Pixel(int x, int y) const;
  // Pixels of colour `colour` inside `area`.
  int CountPixels(const RECT& area, COLORREF colour) const;
  // Pixels inside `area` that differ from `background`.
  int CountPixelsOtherThan(const RECT& area, COLORREF background) const;
  // The smallest rectangle holding every pixel of `area` that is not `background`; empty when
  // there is none.
  RECT BoundsOfPixelsOtherThan(const RECT& area, COLORREF background) const;
  // Writes the canvas as a 24-bit BMP (for looking at a failure).
  bool SaveBmp(const wchar_t* path) const;

 private:
  int width_ = 0;
  int height_ = 0;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_bitmap_ = nullptr;
  const std::uint32_t* bits_ = nullptr;
};

}  // namespace nulvane::app::testing
