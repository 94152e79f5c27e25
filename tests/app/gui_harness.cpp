#include "gui_harness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>

namespace nulvane::app::testing {
namespace {

// MN_GETHMENU: the menu a popup menu window shows.
constexpr UINT kGetMenuOfWindow = 0x01E1;

UINT CancelMessage() {
  static const UINT message = RegisterWindowMessageW(L"NulvaneTestCancelModalLoops");
  return message;
}

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t buffer[64] = {};
  GetClassNameW(window, buffer, 64);
  return lstrcmpiW(buffer, name) == 0;
}

BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
  if (IsClass(window, L"#32770")) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

// Sees every message the UI thread takes from its queue, inside any modal loop too, and carries
// out the watchdog's request there, on the thread that owns the menus and dialogs.
LRESULT CALLBACK WatchMessages(int code, WPARAM wparam, LPARAM lparam) {
  auto* message = reinterpret_cast<MSG*>(lparam);
  if (code == HC_ACTION && message && message->message == CancelMessage()) {
    message->message = WM_NULL;
    EndMenu();
    EnumThreadWindows(GetCurrentThreadId(), CancelDialog, 0);
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

struct HookedThreads {
  std::mutex mutex;
  std::map<DWORD, HHOOK> hooks;
};
HookedThreads& Hooked() {
  static HookedThreads hooked;
  return hooked;
}

}  // namespace

void CancelModalLoops(DWORD thread) { PostThreadMessageW(thread, CancelMessage(), 0, 0); }

// Installed for the thread that runs the tests, at its first pump or host dialog.
static void WatchThisThread() {
  auto& hooked = Hooked();
  std::lock_guard lock(hooked.mutex);
  const DWORD thread = GetCurrentThreadId();
  if (hooked.hooks.count(thread)) return;
  hooked.hooks[thread] = SetWindowsHookExW(WH_GETMESSAGE, WatchMessages, nullptr, thread);
}

int RunThisProgram(const std::wstring& arguments, const std::vector<std::wstring>& environment,
                   DWORD timeout_ms, std::string* output) {
  std::wstring program(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    if (length == 0) return -1;
    if (length < program.size()) {
      program.resize(length);
      break;
    }
    program.resize(program.size() * 2);
  }
  // The child's environment: this process's own, with the given variables set on top.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const std::wstring& entry : environment) {
    const std::size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos) continue;
    const std::wstring name = entry.substr(0, equals);
    std::wstring old(32768, L'\0');
    const DWORD old_length = GetEnvironmentVariableW(name.c_str(), old.data(), 32768);
    old.resize(old_length);
    saved.emplace_back(name, old_length ? old : std::wstring(1, L'\0'));
    SetEnvironmentVariableW(name.c_str(), entry.c_str() + equals + 1);
  }
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  // The child writes to a temporary file that is read back once it has ended.
  HANDLE capture = INVALID_HANDLE_VALUE;
  std::wstring capture_path;
  if (output) {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, folder) && GetTempFileNameW(folder, L"nvt", 0, name)) {
      capture_path = name;
      SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
      capture = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    }
    if (capture != INVALID_HANDLE_VALUE) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      startup.hStdOutput = capture;
      startup.hStdError = capture;
    }
  }
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(program.c_str(), command.data(), nullptr, nullptr,
                     capture != INVALID_HANDLE_VALUE, 0, nullptr, nullptr, &startup, &process);
  for (const auto& [name, old] : saved) {
    SetEnvironmentVariableW(name.c_str(), old == std::wstring(1, L'\0') ? nullptr : old.c_str());
  }
  if (!started) {
    if (capture != INVALID_HANDLE_VALUE) CloseHandle(capture);
    if (!capture_path.empty()) DeleteFileW(capture_path.c_str());
    return -1;
  }
  int result = -1;
  if (WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result = static_cast<int>(code);
  } else {
    TerminateProcess(process.hProcess, 4);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (capture != INVALID_HANDLE_VALUE) {
    SetFilePointer(capture, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(capture, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
      output->append(buffer, got);
    }
    CloseHandle(capture);
  }
  if (!capture_path.empty()) DeleteFileW(capture_path.c_str());
  return result;
}

void PumpMessages() {
  WatchThisThread();
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void PumpMessagesFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpMessages();
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
  }
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpMessages();
    if (condition()) return true;
    if (GetTickCount() - start >= timeout_ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// ---- TestDialog ----

TestDialog::TestDialog(int width, int height, int x, int y) {
  WatchThisThread();
  // A template with no controls; the size is set in pixels below.
  alignas(4) WORD block[32] = {};
  auto* tmpl = reinterpret_cast<DLGTEMPLATE*>(block);
  tmpl->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
  tmpl->cdit = 0;
  tmpl->cx = 100;
  tmpl->cy = 100;
  // Menu, class and title follow as empty strings (already zero).
  hwnd_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), tmpl, nullptr, DialogProc,
                                     reinterpret_cast<LPARAM>(this));
  if (!hwnd_) {
    ADD_FAILURE() << "the host dialog could not be created: " << GetLastError();
    return;
  }
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
  SetWindowPos(hwnd_, nullptr, x, y, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowTextW(hwnd_, L"Nulvane GUI test");
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  PumpMessages();
}

TestDialog::~TestDialog() {
  if (hwnd_) DestroyWindow(hwnd_);
  PumpMessages();
}

int TestDialog::CountMenuMessages(UINT message) const {
  int count = 0;
  for (const RecordedMessage& recorded : menu_messages_) count += recorded.message == message;
  return count;
}

void TestDialog::ClearRecords() {
  commands_.clear();
  menu_messages_.clear();
}

INT_PTR CALLBACK TestDialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    reinterpret_cast<TestDialog*>(lparam)->hwnd_ = hwnd;
  }
  auto* dialog = reinterpret_cast<TestDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  return dialog ? dialog->OnMessage(message, wparam, lparam) : FALSE;
}

INT_PTR TestDialog::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (lparam == 0) commands_.push_back(LOWORD(wparam));
      break;
    case WM_INITMENUPOPUP:
    case WM_ENTERMENULOOP:
    case WM_EXITMENULOOP:
    case WM_MENUSELECT:
    case WM_MENUCHAR:
      menu_messages_.push_back({message, wparam, lparam});
      break;
    default:
      break;
  }
  if (handler_) {
    INT_PTR result = 0;
    if (handler_(message, wparam, lparam, result)) {
      SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
      return message == WM_MENUCHAR ? result : TRUE;
    }
  }
  // The host never closes on its own: IDCANCEL from Esc or the watchdog is only recorded.
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// ---- UiScript ----

struct UiScript::State {
  struct Step {
    std::string what;
    std::function<void()> action;
    std::function<bool()> condition;
    DWORD timeout_ms = 0;
  };
  std::vector<Step> steps;
  std::size_t next = 0;
  DWORD step_started = 0;
  DWORD finished_at = 0;
  bool started = false;
  bool failed = false;
  bool done = false;
  UINT_PTR timer = 0;

  void Tick();
  void Stop();
};

namespace {
std::map<UINT_PTR, UiScript::State*>& Scripts() {
  static std::map<UINT_PTR, UiScript::State*> scripts;
  return scripts;
}

void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR id, DWORD) {
  auto found = Scripts().find(id);
  if (found != Scripts().end()) found->second->Tick();
}
}  // namespace

void UiScript::State::Stop() {
  if (timer) {
    KillTimer(nullptr, timer);
    Scripts().erase(timer);
    timer = 0;
  }
}

void UiScript::State::Tick() {
  const DWORD now = GetTickCount();
  if (done) {
    // Every step ran: the loop gets two seconds to end by itself.
    if (OpenMenuCount() == 0) {
      Stop();
    } else if (now - finished_at > 2000) {
      ADD_FAILURE() << "a menu stayed open after the script's last step; ending it";
      EndMenus();
      Stop();
    }
    return;
  }
  if (next >= steps.size()) {
    done = true;
    finished_at = now;
    return;
  }
  Step& step = steps[next];
  if (step.action) {
    step.action();
  } else if (!step.condition()) {
    if (now - step_started > step.timeout_ms) {
      ADD_FAILURE() << "timed out waiting for: " << step.what;
      failed = true;
      done = true;
      EndMenus();
      Stop();
    }
    return;
  }
  ++next;
  step_started = GetTickCount();
}

UiScript::UiScript() : state_(std::make_unique<State>()) {}

UiScript::~UiScript() {
  if (!state_) return;
  state_->Stop();
}

UiScript& UiScript::Do(std::function<void()> step) {
  state_->steps.push_back({"", std::move(step), nullptr, 0});
  return *this;
}

UiScript& UiScript::WaitFor(std::string what, std::function<bool()> condition, DWORD timeout_ms) {
  state_->steps.push_back({std::move(what), nullptr, std::move(condition), timeout_ms});
  return *this;
}

void UiScript::Start(UINT interval_ms) {
  WatchThisThread();
  state_->started = true;
  state_->step_started = GetTickCount();
  state_->timer = SetTimer(nullptr, 0, interval_ms, ScriptTimer);
  if (!state_->timer) {
    ADD_FAILURE() << "the script's timer could not be set";
    return;
  }
  Scripts()[state_->timer] = state_.get();
}

bool UiScript::done() const { return state_->done; }

bool UiScript::completed() const {
  return state_->started && !state_->failed && state_->next >= state_->steps.size();
}

// ---- Menus ----

namespace {
struct MenuWindowSearch {
  DWORD thread;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectMenuWindow(HWND window, LPARAM lparam) {
  auto* search = reinterpret_cast<MenuWindowSearch*>(lparam);
  if (GetWindowThreadProcessId(window, nullptr) == search->thread && IsWindowVisible(window) &&
      IsClass(window, L"#32768")) {
    search->found.push_back(window);
  }
  return TRUE;
}
}  // namespace

std::vector<HWND> OpenMenuWindows() {
  MenuWindowSearch search{GetCurrentThreadId(), {}};
  EnumWindows(CollectMenuWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HMENU MenuOfWindow(HWND menu_window) {
  return reinterpret_cast<HMENU>(SendMessageW(menu_window, kGetMenuOfWindow, 0, 0));
}

bool IsMenuOpen(HMENU menu) {
  for (HWND window : OpenMenuWindows()) {
    if (MenuOfWindow(window) == menu) return true;
  }
  return false;
}

int OpenMenuCount() { return static_cast<int>(OpenMenuWindows().size()); }

int HighlightedItem(HMENU menu) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_HILITE) return i;
  }
  return -1;
}

void EndMenus() { EndMenu(); }

// ---- Input ----

namespace {
LPARAM KeyParam(UINT virtual_key, bool up, bool alt) {
  const UINT scan = MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC);
  LPARAM value = 1 | (static_cast<LPARAM>(scan & 0xFF) << 16);
  if (alt) value |= LPARAM{1} << 29;
  if (up) value |= (LPARAM{1} << 30) | (LPARAM{1} << 31);
  return value;
}
}  // namespace

void PostKey(HWND target, UINT virtual_key) {
  PostMessageW(target, WM_KEYDOWN, virtual_key, KeyParam(virtual_key, false, false));
  PostMessageW(target, WM_KEYUP, virtual_key, KeyParam(virtual_key, true, false));
}

void PostChar(HWND target, wchar_t character) { PostMessageW(target, WM_CHAR, character, 1); }

void PostAltChar(HWND target, wchar_t character) {
  PostMessageW(target, WM_SYSCHAR, character, 1 | (LPARAM{1} << 29));
}

void PostMouseAtScreen(HWND target, UINT message, POINT screen) {
  const WPARAM buttons = message == WM_LBUTTONDOWN ? MK_LBUTTON : 0;
  PostMessageW(target, message, buttons, MAKELPARAM(screen.x, screen.y));
}

POINT ScreenCentre(HWND window, const RECT& client_rect) {
  POINT centre{(client_rect.left + client_rect.right) / 2,
               (client_rect.top + client_rect.bottom) / 2};
  ClientToScreen(window, &centre);
  return centre;
}

// ---- Canvas ----

Canvas::Canvas(int width, int height, COLORREF background) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  dc_ = CreateCompatibleDC(screen);
  bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  bits_ = static_cast<const std::uint32_t*>(bits);
  old_bitmap_ = SelectObject(dc_, bitmap_);
  HBRUSH brush = CreateSolidBrush(background);
  RECT all{0, 0, width, height};
  FillRect(dc_, &all, brush);
  DeleteObject(brush);
  GdiFlush();
}

Canvas::~Canvas() {
  SelectObject(dc_, old_bitmap_);
  DeleteObject(bitmap_);
  DeleteDC(dc_);
}

COLORREF Canvas::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || !bits_) return CLR_INVALID;
  GdiFlush();
  const std::uint32_t value = bits_[static_cast<std::size_t>(y) * width_ + x];
  return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

int Canvas::CountPixels(const RECT& area, COLORREF colour) const {
  int count = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) count += Pixel(x, y) == colour;
  }
  return count;
}

int Canvas::CountPixelsOtherThan(const RECT& area, COLORREF background) const {
  int count = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      const COLORREF pixel = Pixel(x, y);
      count += pixel != background && pixel != CLR_INVALID;
    }
  }
  return count;
}

RECT Canvas::BoundsOfPixelsOtherThan(const RECT& area, COLORREF background) const {
  RECT bounds{area.right, area.bottom, area.left, area.top};
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      const COLORREF pixel = Pixel(x, y);
      if (pixel == background || pixel == CLR_INVALID) continue;
      bounds.left = std::min<LONG>(bounds.left, x);
      bounds.top = std::min<LONG>(bounds.top, y);
      bounds.right = std::max<LONG>(bounds.right, x + 1);
      bounds.bottom = std::max<LONG>(bounds.bottom, y + 1);
    }
  }
  if (bounds.left >= bounds.right) return RECT{0, 0, 0, 0};
  return bounds;
}

bool Canvas::SaveBmp(const wchar_t* path) const {
  const int row_bytes = ((width_ * 3 + 3) / 4) * 4;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width_;
  header.biHeight = height_;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(row_bytes * height_);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + header.biSizeImage;
  std::vector<unsigned char> pixels(header.biSizeImage);
  for (int y = 0; y < height_; ++y) {
    unsigned char* row = pixels.data() + static_cast<std::size_t>(height_ - 1 - y) * row_bytes;
    for (int x = 0; x < width_; ++x) {
      const COLORREF pixel = Pixel(x, y);
      row[x * 3] = GetBValue(pixel);
      row[x * 3 + 1] = GetGValue(pixel);
      row[x * 3 + 2] = GetRValue(pixel);
    }
  }
  HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof(file), &written, nullptr) && written == sizeof(file);
  ok =
      ok && WriteFile(out, &header, sizeof(header), &written, nullptr) && written == sizeof(header);
  ok = ok && WriteFile(out, pixels.data(), header.biSizeImage, &written, nullptr) &&
       written == header.biSizeImage;
  return CloseHandle(out) && ok;
}

std::wstring NewScratchFolder(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH + 1] = {};
  if (GetTempPathW(MAX_PATH + 1, temp) == 0) return {};
  const std::wstring folder = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(GetTickCount());
  return CreateDirectoryW(folder.c_str(), nullptr) ? folder : std::wstring();
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ListViewText(HWND list, int row, int column) {
  std::wstring text(4096, L'\0');
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text.data();
  item.cchTextMax = static_cast<int>(text.size());
  const auto length = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                   reinterpret_cast<LPARAM>(&item));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

HWND ControlById(HWND root, int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  EnumChildWindows(
      root,
      [](HWND window, LPARAM data) -> BOOL {
        auto* wanted = reinterpret_cast<Search*>(data);
        if (GetDlgCtrlID(window) != wanted->id) return TRUE;
        wanted->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND OwnedWindow(HWND owner, const wchar_t* class_name) {
  struct Search {
    HWND owner;
    const wchar_t* class_name;
    HWND found;
  } search{owner, class_name, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* wanted = reinterpret_cast<Search*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId() || GetWindow(window, GW_OWNER) != wanted->owner ||
            !IsWindowVisible(window)) {
          return TRUE;
        }
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (wanted->class_name && std::wstring(name) != wanted->class_name) return TRUE;
        wanted->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace nulvane::app::testing
