// The reference for the start-up timing: a program that shows one empty resizable dialog with
// the same frame and font as the main dialog, built from a template in memory, and nothing else.
#include <windows.h>

#include <cstring>
#include <vector>

namespace {

INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetWindowTextW(window, L"Bare dialog");
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) EndDialog(window, 2);
  return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  std::vector<WORD> words;
  const DWORD style = DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                      WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_VISIBLE;
  words.resize(sizeof(DLGTEMPLATE) / sizeof(WORD));
  DLGTEMPLATE header{style, WS_EX_ACCEPTFILES, 0, 0, 0, 359, 258};
  std::memcpy(words.data(), &header, sizeof header);
  words.push_back(0);  // no menu
  words.push_back(0);  // default class
  words.push_back(0);  // empty caption
  words.push_back(8);  // font size
  for (const wchar_t* c = L"MS Sans Serif";; ++c) {
    words.push_back(static_cast<WORD>(*c));
    if (!*c) break;
  }
  DialogBoxIndirectParamW(instance, reinterpret_cast<DLGTEMPLATE*>(words.data()), nullptr, Proc, 0);
  return 0;
}
