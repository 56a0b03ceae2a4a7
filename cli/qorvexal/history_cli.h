// The configuration history on qorvexal-cli's side, shared by history, diff --from and restore
// --version (cmd_history.cpp).
#pragma once

#include "cli/cli.h"

#include <string>

class QvJobFront;
struct DeviceEntry;

#define QV_HISTORY_DIFF_USAGE "diff --from N [--to M] [--json] [--unmasked] " QV_JOB_USAGE " DEVICE"

// The history folder of a started front's device: by its serial number or MAC address (checking the
// device when the entry does not know them), else by the name or address it last had. Returns 0 or
// the exit code (no history).
int QvHistoryFolder(QvJobFront& front, DeviceEntry& e, std::string* folder);
// The file of version `number` of the device. Returns 0 or the exit code.
int QvHistoryVersionFile(QvJobFront& front, DeviceEntry& e, const std::string& number, std::string* path);
// diff DEVICE --from N [--to M]: what differs between two versions, or a version and the device now.
int QvHistoryDiff(CliArgs& args, const std::string& from);
