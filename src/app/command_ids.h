// Every resource, control and command id of nulvane.exe, each with one name. The resource
// script includes this file too: the ids it names are plain #defines, the ones only the code
// uses are constants the resource compiler does not see.
#ifndef NULVANE_APP_COMMAND_IDS_H
#define NULVANE_APP_COMMAND_IDS_H

// Resources.
#define IDS_APP_TITLE 103
#define IDI_PROGRAM 107
#define IDD_MAIN 145
#define IDD_COUNTDOWN 152

// The controls of the dialog templates.
#define IDC_ITEM_LIST 1001
#define IDC_MESSAGE_LIST 1004
#define IDC_INFO_BOX 1023
#define IDC_PROGRESS_TEXT 1046
#define IDC_COUNTDOWN_LABEL 1060
// The program icon in the info box.
#define IDC_PROGRAM_ICON -1

#ifndef RC_INVOKED

namespace nulvane::app {

// The controls the main dialog creates.
inline constexpr int kTopStripId = 11111;
inline constexpr int kTopStripBandId = 11112;
inline constexpr int kCornerToolbarId = 11113;
inline constexpr int kListToolbarId = 11114;
inline constexpr int kStatusBarId = 11115;
inline constexpr int kLinkButtonId = 11116;
// The menu bar's buttons: the first popup's button has this id, the next one the next.
inline constexpr int kFirstBarButtonId = 40000;

// Commands of the dialogs' keys and buttons, the system's IDOK and IDCANCEL: Enter and OK; Esc,
// the close box, Cancel and Exit.
inline constexpr int kCommandOk = 1;
inline constexpr int kCommandCancel = 2;
// The main dialog's toolbars.
inline constexpr int kCommandDelete = 1014;
inline constexpr int kCommandReset = 1015;
inline constexpr int kCommandHomeLink = 1024;
inline constexpr int kCommandDelayMenu = 4019;
inline constexpr int kCommandOverwriteMenu = 4020;
inline constexpr int kCommandLanguageMenu = 32800;
inline constexpr int kCommandDeletePlus = 32802;

// The menu bar's menu and the "Delete +" popup.
inline constexpr int kMenuCommandEndProgram = 1048;
inline constexpr int kMenuCommandInfo = 32776;
inline constexpr int kMenuCommandFill = 32791;
inline constexpr int kMenuCommandDonate = 32793;
inline constexpr int kMenuCommandFaq = 32794;
inline constexpr int kMenuCommandHomePage = 32795;
inline constexpr int kMenuCommandAddSendTo = 32797;
inline constexpr int kMenuCommandRemoveSendTo = 32798;
inline constexpr int kMenuCommandOpenSendTo = 32799;
inline constexpr int kMenuCommandShutdown = 32803;
inline constexpr int kMenuCommandStandby = 32804;
inline constexpr int kMenuCommandFillPlus = 32805;  // the fill submenu itself
inline constexpr int kMenuCommandFillEndProgram = 32806;
inline constexpr int kMenuCommandFillShutdown = 32807;
inline constexpr int kMenuCommandFillStandby = 32808;
inline constexpr int kMenuCommandFillEndAndStandby = 32809;
inline constexpr int kMenuCommandEndAndStandby = 32810;

// The lists' context menus, and the menu bar's entries that add and verify.
inline constexpr int kListCommandRemove = 32820;
inline constexpr int kListCommandOpenFolder = 32821;
inline constexpr int kListCommandCopyPaths = 32822;
inline constexpr int kLogCommandCopy = 32823;
inline constexpr int kLogCommandSave = 32824;
inline constexpr int kLogCommandClear = 32825;
inline constexpr int kMenuCommandAddFiles = 32826;
inline constexpr int kMenuCommandAddFolder = 32827;
inline constexpr int kMenuCommandVerify = 32828;

// The option popups: the delay menu's entry for d seconds has id kDelayEntryBase + d; each
// entry of the overwrite menu has its count as id.
inline constexpr int kDelayEntryBase = 1000;
inline constexpr int kDelayEntries = 10;
// The language menu: slot s has id kLanguageEntryBase + s; "Translate" has kTranslateEntry.
inline constexpr int kLanguageEntryBase = 10;
inline constexpr int kTranslateEntry = 1000;

// The notification code (high word of wParam) of command 2 when a finished run, fill or
// after-run countdown ends the program: it ends the program even while the closing question
// is open, where a user's command 2 is ignored.
inline constexpr unsigned short kNotifyEndAfterWork = 0x4E56;

}  // namespace nulvane::app

#endif  // RC_INVOKED

#endif  // NULVANE_APP_COMMAND_IDS_H
