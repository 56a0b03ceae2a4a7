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
#define IDM_HELP_CONTENTS 40002
#define IDM_HELP_ABOUT 40003
