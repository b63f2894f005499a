// Resource identifiers of the stub, grouped by kind. The numbers are part of
// the executable's interface (dialog templates, control ids, icon groups).
#ifndef KV_RESOURCE_H
#define KV_RESOURCE_H

// Icon groups
#define IDI_APP 101       // main window, big icon
#define IDI_PASSWORD 102  // password prompt
#define IDI_OVERWRITE 103   // overwrite question, until the shell's icon replaces it
#define IDI_VOLUME 104    // next-volume prompt

// Dialog templates
#define IDD_MAIN 5001
#define IDD_PASSWORD 5011
#define IDD_VOLUME 5013
#define IDD_OVERWRITE 5014

// Buttons shared by every dialog (the platform's IDOK, IDCANCEL, IDNO, IDHELP)
#define IDC_OK 1
#define IDC_CANCEL 2
#define IDC_KEEP 7  // IDNO: keep the existing file
#define IDC_HELPBUTTON 9

// Main dialog
#define IDC_INSTRUCTION 1001
#define IDC_FOLDER 1002
#define IDC_OVERWRITE_ALL 1003
#define IDC_RUN_AFTER 1004
#define IDC_BROWSE 1005
#define IDC_FOLDER_LABEL 1006
#define IDC_INFO 1010
#define IDC_PROGRESS 1050

// Overwrite dialog
#define IDC_OW_QUESTION 1101
#define IDC_OW_OLD_ICON 1102
#define IDC_OW_OLD_INFO 1103
#define IDC_OW_NEW_ICON 1104
#define IDC_OW_NEW_INFO 1105
#define IDC_OW_OLD_LABEL 1106
#define IDC_OW_NEW_LABEL 1107
#define IDC_OW_YES_ALL 1108
#define IDC_OW_WARNING 1109

// Next-volume dialog
#define IDC_VOL_TEXT 1120
#define IDC_VOL_FOLDER 1121

// Password dialog
#define IDC_PW_TEXT 1140
#define IDC_PW_LABEL 1141
#define IDC_PW_EDIT 1142

// Application messages
#define WM_APP_PREMESSAGE 0x8000  // WM_APP: show the start-up message once the dialog is up

#endif
