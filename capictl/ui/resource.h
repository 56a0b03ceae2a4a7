// Resource and control ids of ostrel.exe.
#pragma once

#define IDM_OSTREL 1000
#define IDB_TREE16 1002
#define IDB_TREE20 1003
#define IDB_TRAY16 1004
#define IDB_TRAY20 1005
#define IDI_OSTREL 1006

// The status window.
#define IDD_STATUS 1301
#define IDC_ACTIVATED 1400
#define IDC_DEVICES 1405
#define IDC_APPLICATIONS 1406
#define IDC_CONNECTIONS 1407
#define IDC_TREELABEL 1408
#define IDC_TREE 1411
#define IDC_PROPERTIES 1412
#define IDC_DETAILS 1413
#define IDC_GRIP 1414

// The suspend warning.
#define IDD_SUSPEND 1302
#define IDC_SUSPEND_ICON 1500
#define IDC_SUSPEND_TEXT 1501
#define IDC_SUSPEND_CHECK 1502

// Menu commands (as the task's logic numbers them).
#define IDM_STATUS 1100
#define IDM_PROPERTIES 1101
#define IDM_ACTIVE 1102
#define IDM_EXIT 1103
#define IDM_WHATSTHIS 1104
#define IDM_DISCONNECT 1105
#define IDM_ABOUT 1106
