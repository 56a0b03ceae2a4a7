// The ids of the accounting and VPN views' texts (res/talvine/strings.*): their titles, columns, cells,
// questions and buttons.
#pragma once

constexpr unsigned ViewStrAccountingTitle = 5201; // "%s - Accounting Information"
// The accounting columns, in the order shown (ViewStrAccUser to ViewStrAccOnlineTime).
constexpr unsigned ViewStrAccUser = 5202; // "User"
constexpr unsigned ViewStrAccRemoteSite = 5203; // "Remote Site"
constexpr unsigned ViewStrAccType = 5204; // "Type"
constexpr unsigned ViewStrAccConnections = 5205; // "Connections"
constexpr unsigned ViewStrAccReceived = 5206; // "Received"
constexpr unsigned ViewStrAccTransmitted = 5207; // "Transmitted"
constexpr unsigned ViewStrAccOnlineTime = 5208; // "Total Online Time"
constexpr unsigned ViewStrAccountingFilter = 5212; // "Accounting information|*.ACC|All files (*.*)|*|"
constexpr unsigned ViewStrAccountingFolder = 5213; // "Accounting": the folder of the saved files
// The connection types: ViewStrTypeUnknown, then one text each for the types 1, 2 and 4 to 8.
constexpr unsigned ViewStrTypeUnknown = 5220; // "Unknown"
constexpr unsigned ViewStrTypeDialIsdn = 5221; // "Dial-up (ISDN)"
constexpr unsigned ViewStrTypeLeasedIsdn = 5222; // "Leased line (ISDN)"
constexpr unsigned ViewStrTypeDialDsl = 5223; // "Dial-up (DSL)"
constexpr unsigned ViewStrTypeSolvane = 5224; // "SOLVANE"
constexpr unsigned ViewStrTypeAbPort = 5225; // "a/b port"
constexpr unsigned ViewStrTypeVpn = 5226; // "VPN connection"
constexpr unsigned ViewStrTypePptp = 5227; // "PPTP connection"
// Byte counts (given in KB).
constexpr unsigned ViewStrSizeKb = 5240; // "%s KB"
constexpr unsigned ViewStrSizeMb = 5241; // "%s MB"
constexpr unsigned ViewStrSizeGb = 5242; // "%s GB"
constexpr unsigned ViewStrAskDelete = 5250; // "Would you like to delete the accounting information stored in ..."
constexpr unsigned ViewStrDeleteFailed = 5251; // "The accounting data can't be deleted. ..."
// The buttons of a view's window.
constexpr unsigned ViewStrCmdRefresh = 5260; // "&Refresh"
constexpr unsigned ViewStrCmdLoad = 5261; // "&Load..."
constexpr unsigned ViewStrCmdSave = 5262; // "&Save..."
constexpr unsigned ViewStrCmdDelete = 5263; // "&Delete"
constexpr unsigned ViewStrCmdTopMost = 5264; // "Keep on &top"
constexpr unsigned ViewStrCmdClose = 5265; // "&Close"

// The VPN columns, in the order shown (ViewStrVpnName to ViewStrVpnHash).
constexpr unsigned ViewStrVpnName = 6201; // "Name"
constexpr unsigned ViewStrVpnState = 6202; // "State"
constexpr unsigned ViewStrVpnShortHold = 6203; // "Short Hold"
constexpr unsigned ViewStrVpnConnection = 6204; // "Connection"
constexpr unsigned ViewStrVpnGateway = 6205; // "Gateway"
constexpr unsigned ViewStrVpnEncryption = 6206; // "Encryption Algorithm"
constexpr unsigned ViewStrVpnHmac = 6207; // "Hmac Algorithm"
constexpr unsigned ViewStrVpnHash = 6208; // "Hash Algorithm"
constexpr unsigned ViewStrVpnTitle = 6209; // "%s - VPN Connections"
constexpr unsigned ViewStrKeyBits = 6300; // "%s (%d bit)": an algorithm and its key length
// A connection's states 4 to 8 (ViewStrStateOutgoing to ViewStrStateDisconnecting).
constexpr unsigned ViewStrStateOutgoing = 6400; // "Outgoing call"
constexpr unsigned ViewStrStateIncoming = 6401; // "Incoming call"
constexpr unsigned ViewStrStateNegotiation = 6402; // "Protocol negotiation"
constexpr unsigned ViewStrStateConnected = 6403; // "Connected"
constexpr unsigned ViewStrStateDisconnecting = 6404; // "Disconnecting"
constexpr unsigned ViewStrShortHoldSeconds = 6405; // "%d seconds"
