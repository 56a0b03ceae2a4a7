// The options that choose how a description is loaded (--dir, --lang, --features, --hardware, --easy),
// shared by every qorvexal-cli command that loads one, and the description index they start.
#pragma once

#include "cli/cli.h"

#include <cstdint>
#include <optional>
#include <string>

#define QV_DSC_USAGE "[--dir DIR] [--lang NAME] [--features MASK] [--hardware MASK] [--easy]"

struct QvDscOptions {
    std::string dir; // directory of the description files (default: the program's own directory)
    std::string language; // description language (default: the program's language name, "English")
    uint32_t featureMask = 0xFFFFFFFFu; // default: all features
    uint32_t hardwareMask = 0;
    bool featuresGiven = false; // --features / --hardware were on the command line
    bool hardwareGiven = false;
    bool easy = false; // simplified configuration mode
};

// Takes the options from the argument list. Returns 0, or the exit code after printing the error.
int QvTakeDscOptions(CliArgs& opts, QvDscOptions* out);

// The directory of the running program, where the build puts the shipped description files.
std::string QvProgramDirectory();

// The description index over the chosen directory, for as long as the object lives.
class QvDescriptionIndex {
public:
    QvDescriptionIndex() = default;
    ~QvDescriptionIndex();
    QvDescriptionIndex(const QvDescriptionIndex&) = delete;
    QvDescriptionIndex& operator=(const QvDescriptionIndex&) = delete;
    // Starts the index. Returns 0, or the exit code after printing the error (no such directory).
    int Start(const QvDscOptions& options);

private:
    bool started_ = false;
};

// Prints "There is no configuration description available for ..." and returns the exit code 1.
int QvNoDescription(const std::string& type, const std::string& version);
