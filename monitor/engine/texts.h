// The ids of the engine's texts (res/talvine/strings.*): why a detection added no device.
#pragma once

constexpr unsigned EngineStrNoAnswer = 2021; // "No device responded at IP address %s. ... repeat the input now?"
constexpr unsigned EngineStrNotSupported = 2022; // "The device at %s is not supported."
