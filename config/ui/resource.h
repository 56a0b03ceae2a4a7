// Resource ids of qorvexal.exe.
#pragma once

#define IDI_QORVEXAL 1000
#define IDM_QORVEXAL 1000
#define IDA_QORVEXAL 1000
#define IDD_LANGUAGE 3023
// The warning with a "don't show again" check box (texts set at run time from the string table).
#define IDD_CHECKWARNING 3900
#define IDC_CHECKWARNING_ICON 3901
#define IDC_CHECKWARNING_TEXT 3902
#define IDC_CHECKWARNING_CHECK 3903

#define IDM_FILE_EXIT 40001
#define IDM_FILE_OPENCONFIG 40050
#define IDM_FILE_NEWCONFIG 40051
#define IDM_HELP_CONTENTS 40002
#define IDM_HELP_ABOUT 40003

// Menu commands of the window itself (the device commands use their DeviceCommandId numbers).
#define IDM_CONTEXT 1001
#define IDM_VIEW_TOOLBAR 40010
#define IDM_VIEW_STATUSBAR 40011
#define IDM_VIEW_ICONS 40012
#define IDM_VIEW_SMALLICONS 40013
#define IDM_VIEW_LIST 40014
#define IDM_VIEW_DETAILS 40015
#define IDM_VIEW_AUTOARRANGE 40016
#define IDM_TOOLS_OPTIONS 40020
#define IDM_EDIT_NEWFOLDER 40030
#define IDM_FOLDER_RENAME 40031
#define IDM_FOLDER_DELETE 40032
#define IDM_EDIT_RENAME 40033
#define IDM_FIRMWARE_MANAGEMENT 40040
#define IDM_DEVICE_CANCEL 40041
#define IDM_DEVICE_HANGUP 40042

// The device dialog.
#define IDD_DEVICE 3100
#define IDC_DEV_IP 3101
#define IDC_DEV_SERIAL 3102
#define IDC_DEV_DIALUP 3103
#define IDC_DEV_ADDRESS 3104
#define IDC_DEV_TIMEOUT 3105
#define IDC_DEV_PORT 3106
#define IDC_DEV_RASENTRY 3107
#define IDC_DEV_PHONE 3108
#define IDC_DEV_NAME 3109
#define IDC_DEV_DESCRIPTION 3110
#define IDC_DEV_PASSWORD 3111
#define IDC_DEV_ADDRESS_LABEL 3112
#define IDC_DEV_TIMEOUT_LABEL 3113
#define IDC_DEV_PORT_LABEL 3114
#define IDC_DEV_RASENTRY_LABEL 3115
#define IDC_DEV_PHONE_LABEL 3116
#define IDC_DEV_NAME_NOTE 3117
#define IDC_DEV_INFO_LABEL 3600
#define IDC_DEV_INFO 3601
// The search dialog.
#define IDD_SEARCH 3120
#define IDC_SEARCH_SERIAL 3121
#define IDC_SEARCH_LOCAL 3122
#define IDC_SEARCH_REMOTE 3123
#define IDC_SEARCH_ADDRESS 3124
#define IDC_SEARCH_NETMASK 3125
// The options dialog.
#define IDD_OPTIONS 3130
#define IDC_OPT_EXIT 3131
#define IDC_OPT_DELETE 3132
#define IDC_OPT_UPLOADCONFIG 3133
#define IDC_OPT_UPLOADFIRMWARE 3134
#define IDC_OPT_ACTIVATE 3135
#define IDC_OPT_EASY 3136
#define IDC_OPT_FULL 3137
// The date and time dialog.
#define IDD_DATETIME 3140
#define IDC_TIME_LOCAL 3141
#define IDC_TIME_DATE 3142
#define IDC_TIME_TIME 3143
// A question with Yes, No and the "don't show again" check box.
#define IDD_ASK 3150
#define IDC_ASK_ICON 3151
#define IDC_ASK_TEXT 3152
#define IDC_ASK_CHECK 3153
// The progress window of a running job.
#define IDD_PROGRESS 3160
#define IDC_PROGRESS_TEXT 3161
#define IDC_PROGRESS_BAR 3162
// Address conflicts after a search, with the details shown by ">>".
#define IDD_CONFLICT 3170
#define IDC_CONFLICT_ICON 3171
#define IDC_CONFLICT_TEXT 3172
#define IDC_CONFLICT_MORE 3173
#define IDC_CONFLICT_DETAILS 3174
// Firmware management.
#define IDD_FIRMWARE 3180
#define IDC_FW_IMAGES 3181
#define IDC_FW_ACTIVATE 3182
#define IDC_FW_TESTMODE 3183
#define IDC_FW_STORE 3602
// The window's children.
#define IDC_MAIN_TREE 100
#define IDC_MAIN_LIST 101
#define IDC_MAIN_TOOLBAR 102
#define IDC_MAIN_STATUS 103
// The part the firmware file dialog adds: the chosen file's header text.
#define IDD_FWFILE 3190
#define IDC_FWFILE_TEXT 3191
// The set-up wizard sheet.
#define IDB_WIZ_WATERMARK 1035
#define IDB_WIZ_HEADER 1036
#define IDD_WIZ_SELECT 3015
#define IDD_WIZ_PLACEHOLDER 3016
#define IDC_WIZ_SELECT_TITLE 3017
#define IDC_WIZ_SELECT_TEXT 3018
#define IDC_WIZ_SELECT_LIST 3019
// The firmware update started by the shell: the update package's search, selection and upload
// dialogs, and the password question of an upload (autoupdate.rc).
#define IDD_UPD_SEARCH 3400
#define IDC_UPD_PACKAGE 3401
#define IDC_UPD_LOCAL 3402
#define IDC_UPD_REMOTE 3403
#define IDC_UPD_ADDRESS 3404
#define IDC_UPD_NETMASK 3405
#define IDC_UPD_STATUS 3406
#define IDD_UPD_SELECT 3410
#define IDC_UPD_DEVICES 3411
#define IDD_UPD_UPLOAD 3420
#define IDC_UPD_RESULTS 3421
#define IDC_UPD_BAR 3423
#define IDD_UPD_PASSWORD 3430
#define IDC_UPD_PASSWORD_TEXT 3431
#define IDC_UPD_PASSWORD 3432
// The configuration history of a device (history.rc).
#define IDD_HISTORY 3550
#define IDC_HIST_VERSIONS 3551
#define IDC_HIST_FROM 3552
#define IDC_HIST_TO 3553
#define IDC_HIST_SECRETS 3554
#define IDC_HIST_SUMMARY 3555
#define IDC_HIST_CHANGES 3556
#define IDC_HIST_RESTORE 3557
#define IDC_HIST_SAVEAS 3558
// The upload question with the list of changes a write makes.
#define IDD_HIST_ASK 3560
#define IDC_HIST_ASK_ICON 3561
#define IDC_HIST_ASK_TEXT 3562
#define IDC_HIST_ASK_HEADING 3563
#define IDC_HIST_ASK_LIST 3564
#define IDC_HIST_ASK_CHECK 3565
#define IDM_DEVICE_HISTORY 40070
#define IDM_FILE_EXPORT 40071
