// The jobs of the device worker, each a fixed sequence of device operations over the entries of a
// job with its result code (what the window turns into a message). They run on the worker thread;
// tests and the command-line tool may also run them directly with RunDeviceJob.
#pragma once

#include "config/frontend/history.h"
#include "config/frontend/worker.h"
#include "device/deviceentry.h"
#include "device/firmware.h"
#include "device/search.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What the jobs take from the program's settings.
struct JobOptions {
    int32_t easy_config = 1; // "EasyConfig" of section "Options": editing reads load the simplified set
    std::string language; // description language; empty: any
    bool no_crypt = false; // "nocrypt": the save job writes secret values in plain
    HistSettings history; // where every configuration read or written is kept (no root: nowhere)
};

// A search job's record: the request (phase, found count and cancel flag shared with the window), the
// settings it runs with and the devices it found.
struct JobSearchRecord {
    SearchRequest request;
    SearchSettings settings;
    SearchEnv env;
    std::vector<DeviceEntry> results;
};

// Result codes of the jobs.
enum JobResult : int32_t {
    JobReadNoDescription = 1, // 1031-1033: no description for the first entry
    JobReadNotTogether = 2, // 1031-1033: a further entry cannot share the first entry's description
    JobReadFailed = 3, // 1031-1033: reading a configuration failed
    JobReadOk = 4,
    JobWriteFailed = 1, // 1034
    JobWriteNoRestart = 2, // 1034: a device did not come back
    JobWriteOk = 3,
    JobSaveReadFailed = 1, // 1036
    JobSaveFileFailed = 2,
    JobSaveOk = 3,
    JobRestoreNoFile = 1, // 1037
    JobRestoreWriteFailed = 2,
    JobRestoreNoRestart = 3,
    JobRestoreOk = 4,
    JobUploadNoFile = 1, // 1038
    JobUploadFailed = 2, // nothing was sent
    JobUploadBroken = 3, // failed after the update had started
    JobUploadNoRestart = 4,
    JobUploadOk = 5,
    JobActivateFailed = 1, // 1039
    JobActivateNoRestart = 2,
    JobActivateOk = 3,
    JobTimeFailed = 1, // 1040
    JobTimeOk = 2,
    JobSearchDone = 1, // 1027 with a search record, 1028
};

// Where a job reports: the window (redraw, changed entries) and the cancel targets of the worker.
struct JobContext {
    JobWindow* window = nullptr;
    JobOptions options;
    std::atomic<DeviceEntry*>* current = nullptr; // the entry being worked on
    std::atomic<SearchRequest*>* current_search = nullptr; // the search being run
};

// Runs one job to its end and returns its result code.
int32_t RunDeviceJob(uint32_t message, DeviceJob& job, uint32_t argument, JobSearchRecord* search, JobContext& context);

// The device name a configuration holds ("/sys/name"), or "" when it has none.
std::string JobConfigName(const struct CfgDescription& desc);
