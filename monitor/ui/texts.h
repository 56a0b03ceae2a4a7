// The ids of the monitor windows' texts (res/talvine/strings.*): the main window's questions, messages
// and tips (UiStr), the search window's (FindStr) and the graph window's (GraphStr).
#pragma once

constexpr unsigned UiStrSettingsNotSaved = 2007; // "The settings file %s could not be saved. ..."
constexpr unsigned UiStrAskExit = 2015; // "Do you wish to end %s?"
constexpr unsigned UiStrAskExitNoMore = 2016; // "&Do not display this query again"
constexpr unsigned UiStrAskDelete = 2017; // "Are you sure you want to delete the selected device?"
constexpr unsigned UiStrAskDeleteLogs = 2018; // "Are you sure you want to delete all your log files?"
constexpr unsigned UiStrNoHelp = 2020; // "Can't create help!"
constexpr unsigned UiStrAskPassword = 2023; // "The device did not respond ... try another password now?"
// The tips on a device's own item in the tree, by how the device answers.
constexpr unsigned UiStrTipNoAnswer = 2070; // "%s does not answer. ..."
constexpr unsigned UiStrTipRefused = 2071; // "%s answers, but refused the monitor's registration: ..."
constexpr unsigned UiStrTipAnswers = 2072; // "%s answers; the monitor registers with it."
constexpr unsigned UiStrEmptyTreeHint = 2073; // "No devices are monitored yet. ..."
constexpr unsigned UiStrDeviceTitle = 2080; // "%s (%s)": a device's type and address

// The search window.
constexpr unsigned FindStrFound = 2039; // "%d device(s) found"
constexpr unsigned FindStrSearching = 2041; // "Searching for devices ..."
constexpr unsigned FindStrColAddress = 2042; // "IP address"
constexpr unsigned FindStrColType = 2043; // "Device type"
constexpr unsigned FindStrColName = 2044; // "Name"
constexpr unsigned FindStrDetecting = 2045; // "Detecting the type of the device at %s ..."

// The graph window.
constexpr unsigned GraphStrTitle = 7000; // "Graph - %s"
// Its six buttons, in the order shown: four ranges, then copy and save.
constexpr unsigned GraphStrLastHour = 7001; // "Last &hour"
constexpr unsigned GraphStrLastDay = 7002; // "Last &day"
constexpr unsigned GraphStrLastWeek = 7003; // "Last &week"
constexpr unsigned GraphStrAll = 7004; // "&All"
constexpr unsigned GraphStrCopy = 7005; // "&Copy"
constexpr unsigned GraphStrSaveCsv = 7006; // "&Save as CSV..."
constexpr unsigned GraphStrOpen = 7007; // "&Graph...": the command that opens the window
constexpr unsigned GraphStrNoValues = 7008; // "No values kept yet."
constexpr unsigned GraphStrCsvFilter = 7009; // "CSV files (*.csv)|*.csv|All files (*.*)|*.*|"
constexpr unsigned GraphStrNotWritten = 7010; // "The file %s could not be written."
