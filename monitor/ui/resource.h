// Resource ids of talvine.exe.
#pragma once

#define IDM_MAIN 1000
#define IDM_CONTEXT 1002
#define IDM_DISPLAY 1003
#define IDA_MAIN 1000
#define IDD_LANGUAGE 4000

// Main window commands (menu 1000 and the context menus of 1002).
#define IDC_NEW 3000
#define IDC_REFRESH 3001
#define IDC_REFRESH_ALL 3002
#define IDC_DELETE 3003
#define IDC_PROPERTIES 3005
#define IDC_CLOSE 3006
#define IDC_REMOVE_TRAY 3007
#define IDC_ON_TOP 3008
#define IDC_SHOW_TRAY 3009
#define IDC_DETAILS_ERRORS 3012
#define IDC_DETAILS_DIAGNOSTICS 3013
#define IDC_DETAILS_SYSINFO 3014
#define IDC_OPTIONS 3015
#define IDC_ACCOUNTING 3016
#define IDC_HELP_TOPICS 3017
#define IDC_ABOUT 3018
#define IDC_SHOW 3020
#define IDC_FIND 3021
#define IDC_DISPLAY 3022
#define IDC_ITEM_ACTIONS 3500

// The new-device dialog.
#define IDD_NEWDEVICE 4100
#define IDC_NEW_ADDRESS 4101
#define IDC_NEW_PASSWORD 4102
#define IDC_NEW_LOGGING 4103
// The exit question with its check box.
#define IDD_ASKEXIT 4110
#define IDC_ASKEXIT_TEXT 4111
#define IDC_ASKEXIT_CHECK 4112
#define IDC_ASKEXIT_ICON 4113
// The Options dialog.
#define IDD_OPTIONS 4120
#define IDC_OPT_EXIT 4121
#define IDC_OPT_DELETE 4122
