// What the main dialog's GUI tests share: folders under Z:, read-back of what the window shows,
// posted drops and commands, and a fixture with its own settings file and English texts.
#pragma once

#include <windows.h>
#undef DeleteFile

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/main_layout.h"
#include "app/menu_bar.h"
#include "app/program.h"
#include "engine/run_flags.h"
#include "gui_harness.h"
#include "lang/language_table.h"
#include "platform/win32/wide.h"
#include "settings/settings.h"

namespace nulvane::app {

using testing::PostKey;
using testing::UiScript;

inline std::wstring W(TextView text) { return std::wstring(text.begin(), text.end()); }

// A fresh folder under Z:\tmp (the Unix /tmp, as Windows programs reach it under Wine), removed
// with its contents at the end.
class ZFolder {
 public:
  ZFolder() {
    static std::atomic<int> counter{0};
    path_ = L"Z:\\tmp\\nulvane-window-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~ZFolder() { Remove(path_); }
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  static void Write(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
  static bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

 private:
  static void Remove(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = path + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Remove(child);
        } else {
          SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(child.c_str());
        }
      } while (FindNextFileW(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
  }
  std::wstring path_;
};

// A folder "tree" with a.txt (5 bytes) and sub\b.txt (3 bytes).
inline void MakeTree(const std::wstring& tree) {
  CreateDirectoryW(tree.c_str(), nullptr);
  CreateDirectoryW((tree + L"\\sub").c_str(), nullptr);
  ZFolder::Write(tree + L"\\a.txt", "hello");
  ZFolder::Write(tree + L"\\sub\\b.txt", "abc");
}

inline std::wstring Lower(std::wstring text) {
  CharLowerW(text.data());
  return text;
}

// Read-back of what the window shows.
using testing::WindowText;

inline std::wstring StatusText(const CSetFileTime& dialog) {
  const auto length = LOWORD(
      SendMessageW(testing::ControlById(dialog.Window(), kStatusBarId), SB_GETTEXTLENGTHW, 0, 0));
  std::wstring text(length + 1u, L'\0');
  SendMessageW(testing::ControlById(dialog.Window(), kStatusBarId), SB_GETTEXTW, 0,
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(length);
  return text;
}

inline std::wstring ButtonText(HWND toolbar, int command) {
  const auto length = SendMessageW(toolbar, TB_GETBUTTONTEXTW, command, 0);
  if (length < 0) return L"<none>";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(toolbar, TB_GETBUTTONTEXTW, command, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

inline bool ButtonEnabled(HWND toolbar, int command) {
  return SendMessageW(toolbar, TB_ISBUTTONENABLED, command, 0) != 0;
}

inline std::wstring CellText(HWND list, int row, int column) {
  wchar_t buffer[1024] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = 1024;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return buffer;
}

inline std::vector<std::wstring> Column(HWND list, int column) {
  std::vector<std::wstring> rows;
  const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) rows.push_back(CellText(list, row, column));
  return rows;
}

inline std::wstring HeaderText(HWND list, int column) {
  wchar_t buffer[256] = {};
  LVCOLUMNW info{};
  info.mask = LVCF_TEXT;
  info.pszText = buffer;
  info.cchTextMax = 256;
  SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
  return buffer;
}

inline Rect ChildRect(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

inline std::wstring TopMessage(const CSetFileTime& dialog) {
  return CellText(testing::ControlById(dialog.Window(), IDC_MESSAGE_LIST), 0, 0);
}

// A drop of `paths` as the shell makes it: a GlobalAlloc'ed DROPFILES with wide names.
inline void PostDrop(HWND window, const std::vector<std::wstring>& paths) {
  std::wstring names;
  for (const std::wstring& path : paths) names += path + L'\0';
  names += L'\0';
  const SIZE_T bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(),
         names.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

inline void PostCommand(const CSetFileTime& dialog, int command) {
  PostMessageW(dialog.Window(), WM_COMMAND, static_cast<WPARAM>(command), 0);
}

// Every test: the language table, a settings file of its own in a fresh folder, a language.
class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool loaded = lang::LoadLanguageTable();
    ASSERT_TRUE(loaded);
    settings_ = Text(reinterpret_cast<const char16_t*>((folder_ / L"nulvane.ini").c_str()));
    settings::UseSettingsFile(settings_);
    UseLanguage(1);
    SetOption(settings::kDelayKey, 0);
    SetOption(settings::kPassesKey, 1);
  }
  void TearDown() override {
    // No worker may outlive the dialog object it reports to.
    EXPECT_TRUE(testing::PumpUntil([] { return !CSetFileTime::WorkerActive(); }, 20000));
    lang::Table().SetCurrentLanguage(1);
  }
  static void UseLanguage(int slot) { lang::Table().SetCurrentLanguage(slot); }
  static void SetOption(const char16_t* key, int value) { settings::PutOptionInt(key, value); }

  // Runs the dialog modally with `script` driving it from its own loop; returns its result.
  INT_PTR Run(CSetFileTime& dialog, UiScript& script, bool close_at_end = true) {
    if (close_at_end) script.Do([&] { PostCommand(dialog, kCommandCancel); });
    script.Start();
    return RunMainDialog(GetModuleHandleW(nullptr), dialog);
  }

  ZFolder folder_;
  Text settings_;
};

inline Text ToText(const std::wstring& text) {
  return Text(reinterpret_cast<const char16_t*>(text.c_str()), text.size());
}

}  // namespace nulvane::app
