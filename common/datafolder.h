// Where a program keeps what it writes: its settings file, device lists and the folders "Config",
// "Firmware", "Log" and "Accounting". The programs read their shipped files (descriptions, wizards,
// scripts, plug-ins, help) from their own folder in every case; what they write goes there only while
// that folder takes new files (a portable copy, a folder the user owns). Started from a CD, from Program
// Files as a standard user or from a read-only share, they write into the user's application-data
// folder instead ("%APPDATA%\Zevra\Velquin", "%APPDATA%\Zevra\Travik"), which is made on first use and
// seeded with the settings files shipped beside the program.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The system services the choice needs; DataFolderSystemDefault() gives the real ones.
struct DataFolderSystem {
    // True when a new file can be made in the folder (made and removed again at once).
    std::function<bool(const std::string& folder)> takesFiles;
    // The user's application-data folder without a trailing separator ("" when the system has none).
    std::function<std::string()> userDataRoot;
    // Makes the folder and its parents; true when it exists afterwards.
    std::function<bool(const std::string& folder)> makeFolders;
    std::function<bool(const std::string& path)> exists;
    // Copies a file; false when it could not.
    std::function<bool(const std::string& from, const std::string& to)> copyFile;
    char separator = '/';
};
DataFolderSystem DataFolderSystemDefault();

// The subfolder of the application-data folder for a product ("Zevra\Velquin").
inline constexpr const char* kDataFolderMaker = "Zevra";

struct DataFolderChoice {
    std::string folder; // with its trailing separator
    bool ownFolder = true; // the program's own folder
    std::vector<std::string> seeded; // settings files copied from the program's folder just now
};

// The one decision for every program: `programFolder` (with or without its trailing separator) when it
// takes files, else the product's folder below the user's application-data folder, each of `seedFiles`
// (names) that is missing there and lies beside the program copied over first. When no user folder
// can be made either, the program's folder (its saves then fail and say so).
DataFolderChoice ChooseDataFolder(std::string_view programFolder, std::string_view product,
    const std::vector<std::string>& seedFiles, const DataFolderSystem& system);
// The same with the system's services.
DataFolderChoice ChooseDataFolder(
    std::string_view programFolder, std::string_view product, const std::vector<std::string>& seedFiles);
