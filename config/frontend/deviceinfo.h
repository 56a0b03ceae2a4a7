// What the device properties and the firmware management say about a device beyond its list entry's
// columns: the features its system information reported (the Solvane server) and how it keeps its
// firmware images.
#pragma once

#include "device/deviceentry.h"

#include <string>
#include <vector>

constexpr unsigned DevInfoStrSolvane = 2380; // "Solvane server"
constexpr unsigned DevInfoStrSymmetric = 2381; // "symmetric, %i image(s)"
constexpr unsigned DevInfoStrAsymmetric = 2382; // "asymmetric, %i image(s)"
constexpr unsigned DevInfoStrLabel = 2383; // the label of the device properties' line

// The image store of a device that keeps several firmware images: symmetric or asymmetric with the
// number of images; "" for a device with one image (or none checked yet).
std::string DeviceImageStoreText(const DeviceEntry& entry);
// The device properties' information, one text each: the Solvane server when the device offers it, and
// the image store.
std::vector<std::string> DeviceInfoTexts(const DeviceEntry& entry);
