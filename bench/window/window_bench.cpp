// Timings of the real main dialog, in-process, under Wine or Windows:
//   window_bench drop FOLDER   a drop of FOLDER until its rows are in the list view and painted
//   window_bench run FILE      Delete (delay 0, one pass) on FILE until the run has ended
//   window_bench walk FOLDER   FOLDER's tree listed with FindFirstFileExW and nothing else: what
//                              the system's listing alone costs, the floor under any drop
// Prints the milliseconds on standard output. The settings file is a temporary one.
#include <windows.h>
#undef DeleteFile

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/main_dialog.h"
#include "lang/language_table.h"
#include "settings/settings.h"

namespace {

using Clock = std::chrono::steady_clock;
using nulvane::Text;
using nulvane::app::CSetFileTime;

CSetFileTime* g_dialog = nullptr;
std::wstring g_mode;
std::wstring g_path;
Clock::time_point g_start;
double g_result_ms = -1;
int g_phase = 0;

HGLOBAL MakeDrop(const std::wstring& path) {
  const std::wstring names = path + L'\0' + L'\0';
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                               sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(),
         names.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return memory;
}

void Finish() {
  g_result_ms = std::chrono::duration<double, std::milli>(Clock::now() - g_start).count();
  PostMessageW(g_dialog->Window(), WM_COMMAND, 2, 0);
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_dialog->Window()) return;
  if (g_phase == 0) {
    g_phase = 1;
    g_start = Clock::now();
    if (g_mode == L"drop") {
      SendMessageW(g_dialog->Window(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(g_path)), 0);
      UpdateWindow(g_dialog->View().item_list());
      if (SendMessageW(g_dialog->View().item_list(), LVM_GETITEMCOUNT, 0, 0) > 0) Finish();
    } else {
      SendMessageW(g_dialog->Window(), WM_COMMAND, nulvane::app::kCommandDelete, 0);
    }
  } else if (g_phase == 1 && g_mode == L"run" && !CSetFileTime::WorkerActive()) {
    g_phase = 2;
    Finish();
  }
}

// Lists every folder below `folder` (a Win32 path without a trailing separator); returns the
// number of entries seen.
long Walk(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return 0;
  long count = 0;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    ++count;
    const bool folder_entry = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                              (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (folder_entry) count += Walk(folder + L"\\" + name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return count;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_bench drop FOLDER | run FILE | walk FOLDER\n");
    return 2;
  }
  g_mode = argv[1];
  g_path = argv[2];
  if (g_mode == L"walk") {
    const Clock::time_point start = Clock::now();
    if (Walk(g_path) == 0) return 1;
    std::printf("%.0f\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    return 0;
  }
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring ini = std::wstring(temp) + L"nulvane-window-bench.ini";
  nulvane::settings::UseSettingsFile(Text(reinterpret_cast<const char16_t*>(ini.c_str())));
  nulvane::settings::PutOptionInt(nulvane::settings::kDelayKey, 0);
  nulvane::settings::PutOptionInt(nulvane::settings::kPassesKey, 1);
  if (!nulvane::lang::LoadLanguageTable()) return 1;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_COOL_CLASSES};
  InitCommonControlsEx(&controls);

  const Text command_line =
      g_mode == L"run" ? u"\"" + Text(reinterpret_cast<const char16_t*>(g_path.c_str())) + u"\""
                       : Text();
  CSetFileTime dialog(command_line);
  g_dialog = &dialog;
  SetTimer(nullptr, 0, 5, Tick);
  nulvane::app::RunMainDialog(GetModuleHandleW(nullptr), dialog);
  DeleteFileW(ini.c_str());
  if (g_result_ms < 0) return 1;
  std::printf("%.0f\n", g_result_ms);
  return 0;
}
