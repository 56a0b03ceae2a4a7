// The ids of the monitor's program-wide texts (res/talvine/strings.*): its files, its name (the title of
// its messages), the errors of its start and the parts of its taskbar tip.
#pragma once

constexpr unsigned TvStrLanguageName = 2000; // "English": the scripts choose their texts by it
constexpr unsigned TvStrSettingsFile = 2001; // "talvine.ini"
constexpr unsigned TvStrScriptPattern = 2002; // "talv*.dsc"
constexpr unsigned TvStrListFile = 2003; // "talvine.lst"
constexpr unsigned TvStrHelpFile = 2004; // "talvine%s.hlp"
constexpr unsigned TvStrHelpFileSuffix = 2005; // "0": filled into TvStrHelpFile
constexpr unsigned TvStrGuideFile = 2006; // "travik.html": the user's guide in HTML
constexpr unsigned TvStrProgramName = 2011; // "Travik"
constexpr unsigned TvStrNoTcpIp = 2019; // "TCP/IP protocol not found. ..."

// The taskbar tip: the program's name, then the count of devices and how they answer.
constexpr unsigned TvStrTipNoDevices = 2074; // "no devices"
constexpr unsigned TvStrTipOneDevice = 2075; // "one device"
constexpr unsigned TvStrTipDevices = 2076; // "%d devices"
constexpr unsigned TvStrTipAllAnswering = 2077; // "all answering"
constexpr unsigned TvStrTipNotAnswering = 2078; // "%d not answering"
constexpr unsigned TvStrTipRefusing = 2079; // "%d refusing registration"
