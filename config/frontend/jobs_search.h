// The record of a search job (JobStartupCheck with a search, JobSearch).
#pragma once

#include "config/device/search.h"

#include <vector>

// A search job's record: the request (phase, found count and cancel flag shared with the window), the
// settings it runs with and the devices it found.
struct JobSearchRecord {
    SearchRequest request;
    SearchSettings settings;
    SearchEnv env;
    std::vector<DeviceEntry> results;
};
