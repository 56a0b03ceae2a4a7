#include "common/datafolder.h"

#include "common/diag.h"

namespace {
bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

std::string WithSeparator(std::string folder, char separator)
{
    if (folder.empty() || !IsSeparator(folder.back()))
        folder += separator;
    return folder;
}
} // namespace

DataFolderChoice ChooseDataFolder(std::string_view programFolder, std::string_view product,
    const std::vector<std::string>& seedFiles, const DataFolderSystem& system)
{
    DataFolderChoice choice;
    std::string own = std::string(programFolder);
    while (own.size() > 1 && IsSeparator(own.back()))
        own.pop_back();
    choice.folder = WithSeparator(own.empty() ? std::string(".") : own, system.separator);
    if (system.takesFiles(own.empty() ? "." : own))
        return choice;

    std::string root = system.userDataRoot();
    if (root.empty()) {
        Diag("settings: %s takes no files and there is no user folder: saves will fail\n", own.c_str());
        return choice;
    }
    std::string user
        = WithSeparator(root, system.separator) + kDataFolderMaker + system.separator + std::string(product);
    if (!system.makeFolders(user)) {
        Diag("settings: cannot make %s: saves will fail\n", user.c_str());
        return choice;
    }
    choice.folder = WithSeparator(user, system.separator);
    choice.ownFolder = false;
    // Seeded once: a file the user's folder holds already is the user's own and stays.
    for (const std::string& name : seedFiles) {
        std::string from = WithSeparator(own, system.separator) + name;
        std::string to = choice.folder + name;
        if (system.exists(to) || !system.exists(from))
            continue;
        if (system.copyFile(from, to))
            choice.seeded.push_back(name);
        else
            Diag("settings: cannot copy %s to %s\n", from.c_str(), to.c_str());
    }
    return choice;
}

DataFolderChoice ChooseDataFolder(
    std::string_view programFolder, std::string_view product, const std::vector<std::string>& seedFiles)
{
    return ChooseDataFolder(programFolder, product, seedFiles, DataFolderSystemDefault());
}
