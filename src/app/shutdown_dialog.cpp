#include "app/shutdown_dialog.h"

#include <atomic>
#include <utility>

#include "app/command_ids.h"
#include "app/launcher.h"
#include "platform/file_system.h"
#include "platform/format.h"
#include "platform/win32/wide.h"

namespace nulvane::app {
namespace {

constexpr UINT_PTR kCountdownTimer = 1000;
constexpr UINT kCountdownPeriodMs = 1000;

using lang::TextId;

// The dialog whose procedure receives the messages; one countdown is open at a time.
std::atomic<PcShutDownDlg*> g_countdown_target{nullptr};

void SetText(HWND window, TextView text) {
  const Text copy(text);
  SetWindowTextW(window, platform::Wide(copy));
}

}  // namespace

PcShutDownDlg::PcShutDownDlg(HWND owner, CountdownTexts texts)
    : owner_(owner), texts_(std::move(texts)) {}

PcShutDownDlg::~PcShutDownDlg() {
  PcShutDownDlg* self = this;
  g_countdown_target.compare_exchange_strong(self, nullptr);
  if (button_font_) DeleteObject(button_font_);
  if (label_font_) DeleteObject(label_font_);
}

INT_PTR PcShutDownDlg::Run() {
  g_countdown_target.store(this);
  const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_COUNTDOWN),
                                         owner_, &PcShutDownDlg::DialogProc, 0);
  g_countdown_target.store(nullptr);
  return result;
}

INT_PTR CALLBACK PcShutDownDlg::DialogProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  PcShutDownDlg* target = g_countdown_target.load();
  if (!target) return 0;
  if (message == WM_INITDIALOG) target->dialog_ = window;
  if (target->dialog_ != window) return 0;
  return target->OnMessage(message, wparam, lparam);
}

INT_PTR PcShutDownDlg::OnMessage(UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return 1;
    case WM_TIMER:
      if (wparam != kCountdownTimer) return 0;
      --countdown_;
      if (countdown_ <= 0) {
        countdown_ = 0;
        KillTimer(dialog_, kCountdownTimer);
        EndDialog(dialog_, 1);
      }
      WriteLabel();
      return 1;
    case WM_COMMAND:
      if (LOWORD(wparam) == kCommandOk) {
        KillTimer(dialog_, kCountdownTimer);
        EndDialog(dialog_, 1);
        return 1;
      }
      if (LOWORD(wparam) == kCommandCancel) {
        KillTimer(dialog_, kCountdownTimer);
        EndDialog(dialog_, 0);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

void PcShutDownDlg::OnInitDialog() {
  const HWND label = GetDlgItem(dialog_, IDC_COUNTDOWN_LABEL);
  auto font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  LOGFONTW base{};
  if (GetObjectW(font, sizeof(base), &base) == sizeof(base)) {
    LOGFONTW bold = base;
    bold.lfWeight = FW_BOLD;
    button_font_ = CreateFontIndirectW(&bold);
    LOGFONTW large = bold;
    large.lfItalic = FALSE;
    // Toward zero, whichever sign the height has.
    large.lfHeight = static_cast<LONG>(base.lfHeight * 3 / 2);
    label_font_ = CreateFontIndirectW(&large);
  }
  if (button_font_) {
    SendDlgItemMessageW(dialog_, kCommandOk, WM_SETFONT, reinterpret_cast<WPARAM>(button_font_), 1);
    SendDlgItemMessageW(dialog_, kCommandCancel, WM_SETFONT, reinterpret_cast<WPARAM>(button_font_),
                        1);
  }
  if (label_font_) SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(label_font_), 1);
  SetText(dialog_, texts_.title);
  SetText(GetDlgItem(dialog_, kCommandOk), texts_.ok);
  SetText(GetDlgItem(dialog_, kCommandCancel), texts_.cancel);
  WriteLabel();
  SetTimer(dialog_, kCountdownTimer, kCountdownPeriodMs, nullptr);
}

void PcShutDownDlg::WriteLabel() {
  SetText(GetDlgItem(dialog_, IDC_COUNTDOWN_LABEL), CountdownLabel(texts_, countdown_));
}

void StartAfterRunAction(HWND main_dialog, int action, const ErrorLineSink& report) {
  CountdownTexts texts = CountdownTextsFor(lang::Table(), action);
  const int mode = texts.mode;
  const bool standby = mode == kCountdownStandby || mode == kCountdownStandbyAndEnd;
  // No countdown for a standby that cannot happen: the program stays open and says why.
  if (standby && !CurrentLauncher().StandbyPossible()) {
    if (report) report(lang::Txt(TextId::kNoStandby));
    return;
  }
  INT_PTR result = 0;
  {
    PcShutDownDlg dialog(main_dialog, std::move(texts));
    result = dialog.Run();
  }
  if (result != 1) return;
  if (standby) {
    // The PC is back from standby, or never went: a refusal is reported, and the program
    // then stays open in mode 3 too, so that the user sees the line.
    if (const std::uint32_t error = CurrentLauncher().Standby()) {
      if (report) {
        report(
            platform::Format(lang::Txt(TextId::kStandbyFailed), platform::SystemErrorText(error)));
      }
      return;
    }
    if (mode == kCountdownStandby) return;
  } else {
    CurrentLauncher().ShutDown();
  }
  SendMessageW(main_dialog, WM_COMMAND, MAKEWPARAM(kCommandCancel, kNotifyEndAfterWork), 0);
}

}  // namespace nulvane::app
