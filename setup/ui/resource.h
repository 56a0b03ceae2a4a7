// Resource ids of setup.exe.
#pragma once

// Bitmaps: component icons (16x16 strip), wizard watermark and header.
#define IDB_COMPONENTS 2
#define IDB_WATERMARK 4
#define IDB_HEADER 5
// The licence (rich text).
#define IDR_LICENSE 6
#define IDI_SETUP 1

// Pages.
#define IDD_WELCOME 1107
#define IDD_LICENSE 1108
#define IDD_COMPONENTS 1109
#define IDD_TARGET 1110
#define IDD_CARRYOUT 1111
#define IDD_FINISH 1112
#define IDD_REMOVE 1113
#define IDD_REMOVEFINISH 1114

// Controls.
#define IDC_HEADER 2000
#define IDC_TITLE 2001
#define IDC_TEXT 2002
#define IDC_LICENSE 2010
#define IDC_PRODUCTS 2020
#define IDC_DESCRIPTION 2021
#define IDC_TARGETDIR 2030
#define IDC_BROWSE 2031
#define IDC_RESTARTNOTE 2041
#define IDC_STAGE 2042
#define IDC_PROGRESS 2043
