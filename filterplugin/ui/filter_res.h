// Resource and control ids of qorvexal.dll. The dialogs' texts are set from the string table when a
// dialog opens, so one template serves every language.
#pragma once

// Dialog templates.
#define IDD_WIZ_START 10200
#define IDD_WIZ_NAME 10201
#define IDD_WIZ_SOURCE 10202
#define IDD_WIZ_DEST 10203
#define IDD_WIZ_SERVICE 10204
#define IDD_WIZ_FINISH 10205
#define IDD_WIZ_DELETE 10206
#define IDD_CFG_PAGE 10207
#define IDD_RULE_NAME 10208
#define IDD_RULE_STATIONS 10209
#define IDD_RULE_SERVICES 10210
#define IDD_STATION_MAC 10211
#define IDD_STATION 10212
#define IDD_CORRECT 10213
#define IDD_SERVICES 10214
#define IDD_WIZ_SUMMARY 10520

// Configuration page.
#define IDC_RULES 1001
#define IDC_NEW 1002
#define IDC_EDIT 1003
#define IDC_DELETE 1004
#define IDC_RULES_LABEL 1005

// Name and action.
#define IDC_NAME 1010
#define IDC_DROP 1011
#define IDC_TRANSFER 1012
#define IDC_NOTCONN 1013
#define IDC_DEFROUTE 1014
#define IDC_EXPLAIN 1015
#define IDC_ACTION_GROUP 1016
#define IDC_NAME_LABEL 1017

// Station lists: source at 1020, destination at 1030, each with these offsets.
#define IDC_SRC 1020
#define IDC_DST 1030
#define STN_ALL 0
#define STN_SELECTED 1
#define STN_LIST 2
#define STN_ADD 3
#define STN_EDIT 4
#define STN_DELETE 5
#define STN_GROUP 6

// Services.
#define IDC_TCP 1040
#define IDC_UDP 1041
#define IDC_ICMP 1042
#define IDC_OTHER 1043
#define IDC_SPORTS 1044
#define IDC_DPORTS 1045
#define IDC_PROTO_GROUP 1046
#define IDC_OTHER_LABEL 1047
#define IDC_SPORTS_LABEL 1048
#define IDC_DPORTS_LABEL 1049

// Station dialog.
#define IDC_ST_LOCAL 1050
#define IDC_ST_NAME 1051
#define IDC_ST_NAMEEDIT 1052
#define IDC_ST_MAC 1053
#define IDC_ST_MACEDIT 1054
#define IDC_ST_RANGE 1055
#define IDC_ST_FIRST 1056
#define IDC_ST_LAST 1057
#define IDC_ST_NET 1058
#define IDC_ST_NETADDR 1059
#define IDC_ST_MASK 1060
#define IDC_ST_TO 1061
#define IDC_ST_MASK_LABEL 1062

// Wizard.
#define IDC_MODE_ADD 1070
#define IDC_MODE_DELETE 1071
#define IDC_INTRO 1072
#define IDC_PRESET 1080 // 1080 + FilterPreset, seven radio buttons
#define IDC_DEFINE 1087
#define IDC_SERVICE_LABEL 1088
#define IDC_SUMMARY 1090
#define IDC_ANOTHER 1091
#define IDC_DEL_LIST 1095
#define IDC_DEL_BUTTON 1096
#define IDC_FINISH_TITLE 1100
#define IDC_FINISH_TEXT 1101

// Correction dialog.
#define IDC_CORR_INFO 1110
#define IDC_CORR_TEXT 1111
#define IDC_CORR_LABEL 1112

// The header texts put into a wizard page's template for the old page layout.
#define IDC_HDR_TITLE 1120
#define IDC_HDR_SUBTITLE 1121
