// Resource and control ids of nulvane.exe, shared by the resource script and the code.
// Plain #defines: the resource compiler reads this file too.
#ifndef NULVANE_APP_RESOURCE_IDS_H
#define NULVANE_APP_RESOURCE_IDS_H

#define IDS_APP_TITLE 103
#define IDI_PROGRAM 107
#define IDD_MAIN 145
#define IDD_COUNTDOWN 152

#define IDC_INFO_BOX 1023
#define IDC_PROGRESS_TEXT 1046
#define IDC_ITEM_LIST 1001
#define IDC_MESSAGE_LIST 1004
#define IDC_COUNTDOWN_LABEL 1060

#define IDC_TOP_STRIP 11111
#define IDC_TOP_STRIP_BAND 11112
#define IDC_CORNER_TOOLBAR 11113
#define IDC_LIST_TOOLBAR 11114
#define IDC_STATUS_BAR 11115
#define IDC_LINK_BUTTON 11116

// The notification code (high word of wParam) of command 2 when a finished run, fill or
// after-run countdown ends the program: it ends the program even while the closing question
// is open, where a user's command 2 is ignored.
#define NOTIFY_END_AFTER_WORK 0x4E56

#endif
