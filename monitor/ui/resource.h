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
#define IDC_GRAPH 3090

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
// The properties sheet: the device page and the logging page.
#define IDD_PROP_DEVICE 4200
#define IDC_PROP_TYPE 4201
#define IDC_PROP_VENDOR 4202
#define IDC_PROP_ADDRESS 4203
#define IDC_PROP_PASSWORD 4204
#define IDC_PROP_GRAPH 4205
#define IDD_PROP_LOGGING 4210
#define IDC_LOG_EVENTS 4211
#define IDC_LOG_ABPORTS 4212
#define IDC_LOG_SOLVANE 4213
#define IDC_LOG_MONTHLY 4214
#define IDC_LOG_DAILY 4215
#define IDC_LOG_CUSTOM 4216
#define IDC_LOG_MONTHLY_NAME 4217
#define IDC_LOG_DAILY_NAME 4218
#define IDC_LOG_CUSTOM_NAME 4219
#define IDC_LOG_OPEN_DIR 4220
#define IDC_LOG_DELETE_ALL 4221
// The options page of the properties sheet.
#define IDD_PROP_OPTIONS 4230
#define IDC_OPTIONS_TREE 4231
// Find: the search and its results.
#define IDD_FIND 4300
#define IDC_FIND_STATUS 4301
#define IDC_FIND_LIST 4302
#define IDC_FIND_ANIMATION 4303
#define IDC_FIND_AGAIN 4304
// The type detection of a new device.
#define IDD_DETECT 4310
#define IDC_DETECT_TEXT 4311
#define IDC_DETECT_ANIMATION 4312
// The question before an action of a device script, with its optional check box.
#define IDD_QUERY 4400
#define IDC_QUERY_ICON 4401
#define IDC_QUERY_TEXT 4402
#define IDC_QUERY_CHECK 4403
