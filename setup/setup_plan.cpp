#include "setup/setup_plan.h"

#include "common/text.h"

namespace {

SetupStep MakeStep(StepKind kind, std::string section = {}, unsigned level = 0)
{
    SetupStep step;
    step.kind = kind;
    step.section = std::move(section);
    step.level = level;
    return step;
}

void AddExecPass(
    const InfSource& inf, const std::vector<std::string>& sections, unsigned level, std::vector<SetupStep>& plan)
{
    for (const std::string& section : sections) {
        for (const std::string& entry : InfKeyFields(inf, section, "Exec")) {
            if (entry.starts_with('@')) {
                // An "@" entry runs once, in the first pass, and the installer waits for it.
                if (level == 1 && entry.size() > 1) {
                    SetupStep step = MakeStep(StepKind::Exec, section, level);
                    step.exec.level = level;
                    step.exec.program = entry.substr(1);
                    step.exec.atEntry = true;
                    plan.push_back(std::move(step));
                }
                continue;
            }
            for (const InfLine& line : inf.Lines(entry)) {
                std::optional<ExecLine> exec = SetupReadExecLine(line);
                if (exec && exec->level == level) {
                    SetupStep step = MakeStep(StepKind::Exec, entry, level);
                    step.exec = std::move(*exec);
                    plan.push_back(std::move(step));
                }
            }
        }
    }
}

void AddServices(const InfSource& inf, const std::vector<std::string>& sections, bool nt,
    std::initializer_list<ServiceAction> actions, std::vector<SetupStep>& plan)
{
    if (!nt)
        return;
    for (const std::string& section : sections) {
        for (const ServiceOp& op : SetupReadServiceOps(inf, section)) {
            if (std::find(actions.begin(), actions.end(), op.action) == actions.end())
                continue;
            SetupStep step = MakeStep(StepKind::StopService, section + ".Services");
            step.name = op.name;
            switch (op.action) {
            case ServiceAction::Stop:
                step.kind = StepKind::StopService;
                break;
            case ServiceAction::Start:
                step.kind = StepKind::StartService;
                break;
            case ServiceAction::Add:
                step.kind = StepKind::AddService;
                step.service = SetupReadServiceConfig(inf, op.installSection, op.name);
                break;
            case ServiceAction::Delete:
                step.kind = StepKind::DeleteService;
                break;
            }
            plan.push_back(std::move(step));
        }
    }
}

std::string Quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

} // namespace

std::vector<SetupStep> SetupBuildPlan(const InfSource& inf, const std::vector<std::string>& sections, bool nt)
{
    std::vector<SetupStep> plan;
    for (const std::string& section : sections)
        plan.push_back(MakeStep(StepKind::QueueFiles, section));
    for (const std::string& section : sections) {
        for (const std::string& library : InfKeyFields(inf, section, "Plugins")) {
            if (!library.empty()) {
                SetupStep step = MakeStep(StepKind::CollectPlugins, section);
                step.name = library;
                plan.push_back(std::move(step));
            }
        }
    }
    AddExecPass(inf, sections, 1, plan);
    plan.push_back(MakeStep(StepKind::Stage, {}, kStageStopServices));
    AddServices(inf, sections, nt, { ServiceAction::Stop }, plan);
    plan.push_back(MakeStep(StepKind::Stage, {}, kStageFiles));
    plan.push_back(MakeStep(StepKind::CommitQueue));
    plan.push_back(MakeStep(StepKind::Stage, {}, kStageRegistry));
    for (const std::string& section : sections)
        plan.push_back(MakeStep(StepKind::InstallRegistry, section));
    plan.push_back(MakeStep(StepKind::PluginSteps, {}, 4));
    AddServices(inf, sections, nt, { ServiceAction::Add, ServiceAction::Delete }, plan);
    plan.push_back(MakeStep(StepKind::Stage, {}, kStageShortcuts));
    bool openFolders = false;
    for (const std::string& section : sections) {
        for (const char* key : { "MakeIcons", "DelIcons" }) {
            const bool make = key[0] == 'M';
            for (const std::string& list : InfKeyFields(inf, section, key)) {
                for (const InfLine& line : inf.Lines(list)) {
                    SetupStep step = MakeStep(make ? StepKind::MakeIcon : StepKind::DeleteIcon, list);
                    step.shortcut = SetupReadShortcutLine(line);
                    openFolders = openFolders || (make && step.shortcut.openFolder);
                    plan.push_back(std::move(step));
                }
            }
        }
    }
    plan.push_back(MakeStep(StepKind::Stage, {}, kStageStartServices));
    AddServices(inf, sections, nt, { ServiceAction::Start }, plan);
    AddExecPass(inf, sections, 2, plan);
    plan.push_back(MakeStep(StepKind::FreePlugins));
    plan.push_back(MakeStep(StepKind::AllowShutdown));
    AddExecPass(inf, sections, 3, plan);
    plan.push_back(MakeStep(StepKind::RefuseShutdown));
    if (openFolders) {
        // Opened once everything is in place: the folder shows the finished installation's links.
        plan.push_back(MakeStep(StepKind::OpenFolders));
    }
    plan.push_back(MakeStep(StepKind::Stage, {}, kStageDone));
    return plan;
}

std::string SetupStepText(const SetupStep& step)
{
    switch (step.kind) {
    case StepKind::QueueFiles:
        return "queue files: " + step.section;
    case StepKind::CollectPlugins:
        return "collect plug-in steps: " + step.name + " (" + step.section + ")";
    case StepKind::Exec:
        if (step.exec.atEntry)
            return StrFormat("exec %u: @%s", step.level, step.exec.program.c_str());
        return StrFormat("exec %u: %s %s (directory %s, flags %u)", step.level, Quoted(step.exec.program).c_str(),
            Quoted(step.exec.parameters).c_str(), Quoted(step.exec.directory).c_str(), step.exec.flags);
    case StepKind::Stage:
        return StrFormat("stage %u", step.level);
    case StepKind::StopService:
        return "stop service: " + step.name;
    case StepKind::CommitQueue:
        return "commit file queue";
    case StepKind::InstallRegistry:
        return "registry and INI entries: " + step.section;
    case StepKind::PluginSteps:
        return "plug-in steps of level 4";
    case StepKind::AddService: {
        const ServiceConfig& s = step.service;
        std::string text = StrFormat("add service: %s %s type %u start %u error %u binary %s", s.name.c_str(),
            Quoted(s.displayName).c_str(), s.type, s.startType, s.errorControl, Quoted(s.binary).c_str());
        if (!s.loadOrderGroup.empty())
            text += " group " + Quoted(s.loadOrderGroup);
        for (const std::string& dependency : s.dependencies)
            text += " depends " + Quoted(dependency);
        if (!s.startName.empty())
            text += " account " + Quoted(s.startName);
        if (s.hasGroupOrder)
            text += " group order " + Quoted(s.group) + " " + Quoted(s.anchor);
        return text;
    }
    case StepKind::DeleteService:
        return "delete service: " + step.name;
    case StepKind::MakeIcon:
    case StepKind::DeleteIcon: {
        const ShortcutLine& s = step.shortcut;
        if (step.kind == StepKind::DeleteIcon)
            return "delete shortcut: " + s.folder + " " + Quoted(s.link);
        return StrFormat("make shortcut: %s %s -> %s %s (icon %s,%d%s)", s.folder.c_str(), Quoted(s.link).c_str(),
            Quoted(s.target).c_str(), Quoted(s.arguments).c_str(), Quoted(s.iconFile).c_str(), s.iconIndex,
            s.openFolder ? ", open folder" : "");
    }
    case StepKind::StartService:
        return "start service: " + step.name;
    case StepKind::FreePlugins:
        return "free plug-in steps";
    case StepKind::AllowShutdown:
        return "allow shutdown";
    case StepKind::RefuseShutdown:
        return "refuse shutdown";
    case StepKind::OpenFolders:
        return "open shortcut folders";
    }
    return "?";
}

namespace {

// The folder of a folder code without a trailing "\".
std::optional<std::string> LinkFolder(const std::string& code)
{
    std::optional<std::string> folder = SetupResolveFolder(code);
    while (folder && folder->size() > 3 && folder->back() == '\\')
        folder->pop_back();
    return folder;
}

// Creates the link and the folders of its path; a written link with the open-folder flag adds its
// folder to `toOpen` (once).
void MakeIcon(const ShortcutLine& line, SetupHost& host, std::vector<std::string>& toOpen)
{
    std::optional<std::string> folder = LinkFolder(line.folder);
    if (!folder || line.link.empty())
        return; // an unknown code or an unreadable folder: the line does nothing
    std::string linkFile = *folder + "\\" + line.link + ".lnk";
    std::string linkDir = SetupParentPath(linkFile);
    host.CreateDirectories(linkDir);
    if (!host.CreateLink(linkFile, line, SetupParentPath(line.target)) || !line.openFolder)
        return;
    for (const std::string& dir : toOpen)
        if (StrEqualNoCase(dir, linkDir))
            return;
    toOpen.push_back(linkDir);
}

void DeleteIcon(const ShortcutLine& line, SetupHost& host)
{
    std::optional<std::string> folder = LinkFolder(line.folder);
    if (!folder || line.link.empty())
        return;
    std::string linkFile = *folder + "\\" + line.link + ".lnk";
    host.RemoveFile(linkFile);
    // Then the link's folders while they are empty, up to but not including the folder itself.
    const std::string& base = *folder;
    for (std::string dir = SetupParentPath(linkFile);
         dir.size() > base.size() && StrStartsWithNoCase(dir, base) && host.RemoveEmptyDirectory(dir);
         dir = SetupParentPath(dir)) { }
}

} // namespace

SetupResult SetupRunPlan(const std::vector<SetupStep>& plan, SetupHost& host)
{
    SetupResult result;
    std::vector<PluginStepInfo> steps; // latest first
    std::vector<std::string> foldersToOpen;
    auto fail = [&](uint32_t error) {
        result.ok = false;
        result.error = error;
        host.AllowShutdown(false);
        return result;
    };
    for (const SetupStep& step : plan) {
        uint32_t error = 0;
        switch (step.kind) {
        case StepKind::QueueFiles:
            if (!host.QueueFiles(step.section, &error))
                return fail(error);
            break;
        case StepKind::CollectPlugins: {
            std::vector<PluginStepInfo> collected = host.CollectPluginSteps(step.name);
            for (PluginStepInfo& info : collected)
                steps.insert(steps.begin(), std::move(info));
            break;
        }
        case StepKind::Exec:
            host.Exec(step.exec);
            break;
        case StepKind::Stage:
            host.Stage(step.level);
            break;
        case StepKind::StopService:
            if (!host.ServiceStop(step.name))
                result.restart = true;
            break;
        case StepKind::CommitQueue: {
            bool restart = false;
            if (!host.CommitQueue(&error, &restart))
                return fail(error);
            result.restart = result.restart || restart;
            break;
        }
        case StepKind::InstallRegistry:
            if (!host.InstallRegistry(step.section, &error))
                return fail(error);
            break;
        case StepKind::PluginSteps:
            for (const PluginStepInfo& info : steps)
                if (info.level == step.level)
                    host.RunPluginStep(info);
            break;
        case StepKind::AddService: {
            ServiceConfig config = step.service;
            config.binary = SetupQuoteServiceBinary(
                config.binary, [&](const std::string& path) { return host.FileExists(path); });
            if (!host.ServiceAdd(config, &error))
                return fail(error);
            if (config.hasGroupOrder && !SetupApplyGroupOrder(config.group, config.anchor))
                return fail(0);
            break;
        }
        case StepKind::DeleteService:
            if (!host.ServiceDelete(step.name, &error))
                return fail(error);
            break;
        case StepKind::MakeIcon:
            MakeIcon(step.shortcut, host, foldersToOpen);
            break;
        case StepKind::DeleteIcon:
            DeleteIcon(step.shortcut, host);
            break;
        case StepKind::StartService:
            if (!host.ServiceStart(step.name))
                result.restart = true;
            break;
        case StepKind::FreePlugins:
            steps.clear();
            break;
        case StepKind::AllowShutdown:
            host.AllowShutdown(true);
            break;
        case StepKind::RefuseShutdown:
            host.AllowShutdown(false);
            break;
        case StepKind::OpenFolders:
            for (const std::string& folder : foldersToOpen)
                host.OpenFolder(folder);
            break;
        }
    }
    return result;
}

bool SetupCheckConditions(const InfSource& inf, std::string_view section, SetupHost& host, std::string* message)
{
    message->clear();
    for (const ConditionCheck& check : SetupReadConditions(inf, section))
        if (!host.CheckCondition(check.library, check.function, message))
            return false;
    return true;
}

namespace {

const ProductLine* FindProduct(const SetupJob& job, std::string_view key)
{
    for (const ProductLine& product : job.products)
        if (StrEqualNoCase(product.key, key))
            return &product;
    return nullptr;
}

bool IsSelected(const SetupJob& job, std::string_view key)
{
    for (const std::string& selected : job.selected)
        if (StrEqualNoCase(selected, key))
            return true;
    return false;
}

} // namespace

std::vector<std::string> SetupInstallSectionList(const SetupJob& job)
{
    std::vector<std::string> sections;
    if (!job.sections.install.empty())
        sections.push_back(job.sections.install);
    for (const ProductLine& product : job.products)
        if (IsSelected(job, product.key) && !product.installSection.empty())
            sections.push_back(product.installSection);
    return sections;
}

namespace {

// "%32768%" (the target directory) in a path the platform's reader has not already expanded.
std::string WithTargetDir(std::string path, const std::string& targetDir)
{
    const std::string id = "%32768%";
    for (size_t at = path.find(id); at != std::string::npos && !targetDir.empty(); at = path.find(id, at)) {
        path.replace(at, id.size(), targetDir);
        at += targetDir.size();
    }
    return path;
}

// The icon the list of installed programs shows for the sections: the icon of their first shortcut,
// else the first program they copy, in the target directory.
std::string EntryIcon(const SetupJob& job, const std::vector<std::string>& sections)
{
    for (const std::string& section : sections) {
        for (const std::string& list : InfKeyFields(*job.inf, section, "MakeIcons")) {
            for (const InfLine& line : job.inf->Lines(list)) {
                ShortcutLine shortcut = SetupReadShortcutLine(line);
                std::string file = shortcut.iconFile.empty() ? shortcut.target : shortcut.iconFile;
                if (!file.empty()) {
                    file = WithTargetDir(file, job.targetDir);
                    return shortcut.iconIndex != 0 ? StrFormat("%s,%d", file.c_str(), shortcut.iconIndex) : file;
                }
            }
        }
    }
    for (const std::string& file : SetupCopiedFiles(*job.inf, sections))
        if (file.size() > 4 && StrEqualNoCase(std::string_view(file).substr(file.size() - 4), ".exe")
            && !job.targetDir.empty())
            return job.targetDir + (job.targetDir.ends_with('\\') ? "" : "\\") + file;
    return {};
}

// The size of the files the sections copy, in kilobytes rounded up (0 when unknown).
uint32_t EntrySizeKb(const SetupJob& job, const std::vector<std::string>& sections)
{
    if (!job.fileSize)
        return 0;
    uint64_t bytes = 0;
    for (const std::string& file : SetupCopiedFiles(*job.inf, sections))
        bytes += job.fileSize(file).value_or(0);
    uint64_t kb = (bytes + 1023) / 1024;
    return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(kb);
}

std::string Publisher(const InfSource& inf)
{
    std::optional<InfLine> provider = InfFindLine(inf, "Version", "Provider");
    return provider ? provider->Field(1) : std::string();
}

} // namespace

void SetupWriteUninstallEntries(const SetupJob& job)
{
    const InfSource& inf = *job.inf;
    const std::string publisher = Publisher(inf);
    std::string newest;
    for (const ProductLine& product : job.products) {
        if (!IsSelected(job, product.key) || product.name.empty() || product.installSection.empty()
            || product.removeSection.empty())
            continue;
        std::optional<std::string> setup
            = SetupFindSetupCopy(inf, product.installSection, job.sections.install, job.targetPath);
        if (!setup)
            return; // where the installer goes is unknown: no entry could remove anything
        UninstallDisplay display;
        display.publisher = publisher;
        display.displayIcon = EntryIcon(job, { product.installSection });
        display.estimatedSizeKb = EntrySizeKb(job, { product.installSection });
        SetupWriteUninstallEntry(
            { product.key, product.name, SetupUninstallString(*setup, product.key), product.version, job.targetDir },
            display);
        if (newest.empty() || SetupCompareVersions(product.version, newest) > 0)
            newest = product.version;
    }
    if (job.sections.install.empty())
        return;
    std::optional<InfLine> whole = InfFindLine(inf, job.sections.install, "Uninstall");
    if (!whole || whole->Field(1).empty())
        return;
    std::optional<std::string> setup = SetupFindSetupCopy(inf, job.sections.install, "", job.targetPath);
    if (!setup)
        return;
    const std::string& key = whole->Field(1);
    std::string name = whole->Field(2).empty() ? key : whole->Field(2);
    // The set's entry removes every product it stands for (SetupRemovalSelection); it shows the
    // installer's icon and size and the newest version of the products installed with it.
    std::string version = SetupInstalledValue(key, "ProductVersion").value_or("");
    if (!newest.empty() && (version.empty() || SetupCompareVersions(newest, version) > 0))
        version = newest;
    UninstallDisplay display;
    display.publisher = publisher;
    display.displayIcon = *setup;
    display.estimatedSizeKb = EntrySizeKb(job, { job.sections.install });
    SetupWriteUninstallEntry({ key, name, SetupUninstallString(*setup, key), version, job.targetDir }, display);
}

SetupResult SetupInstall(const SetupJob& job, SetupHost& host)
{
    SetupWriteUninstallEntries(job);
    SetupResult result = SetupRunPlan(SetupBuildPlan(*job.inf, SetupInstallSectionList(job), job.os.nt), host);
    if (!result.ok)
        return result;
    for (const ProductLine& product : job.products)
        if (IsSelected(job, product.key) && (product.flags & kProductNeedsRestart) != 0)
            result.restart = true;
    if (!job.sections.install.empty()) {
        std::optional<InfLine> reboot = InfFindLine(*job.inf, job.sections.install, "Reboot");
        if (reboot && ParseUnsigned(reboot->Field(1)) != 0)
            result.restart = true;
    }
    return result;
}

namespace {

} // namespace

std::string SetupWholeSetKey(const SetupJob& job)
{
    if (job.sections.install.empty())
        return {};
    std::optional<InfLine> whole = InfFindLine(*job.inf, job.sections.install, "Uninstall");
    return whole ? whole->Field(1) : std::string();
}

std::vector<std::string> SetupRemovalSelection(const SetupJob& job)
{
    const std::string whole = SetupWholeSetKey(job);
    bool wholeSet = false;
    for (const std::string& key : job.selected)
        wholeSet = wholeSet || (!whole.empty() && StrEqualNoCase(key, whole) && !FindProduct(job, key));
    if (!wholeSet)
        return job.selected;
    // Removing the set from the list of installed programs removes what it installed: every product
    // with an entry, then (as the last product goes) the set itself.
    std::vector<std::string> selected;
    for (const ProductLine& product : job.products)
        if (SetupHasUninstallEntry(product.key))
            selected.push_back(product.key);
    selected.push_back(whole);
    return selected;
}

std::string SetupRemovalTargetDir(const SetupJob& job)
{
    for (const std::string& key : job.selected)
        if (FindProduct(job, key) && SetupHasUninstallEntry(key))
            return SetupInstalledValue(key, "UserTargetDir").value_or("");
    for (const ProductLine& product : job.products)
        if (SetupHasUninstallEntry(product.key))
            return SetupInstalledValue(product.key, "UserTargetDir").value_or("");
    return SetupInstalledValue(SetupWholeSetKey(job), "UserTargetDir").value_or("");
}

std::vector<std::string> SetupRemoveSectionList(const SetupJob& given)
{
    SetupJob job = given;
    job.selected = SetupRemovalSelection(given);
    std::vector<std::string> sections;
    for (const std::string& key : job.selected) {
        const ProductLine* product = FindProduct(job, key);
        if (product && !product->removeSection.empty())
            sections.push_back(product->removeSection);
    }
    bool othersInstalled = false;
    for (const ProductLine& product : job.products)
        if (!IsSelected(job, product.key) && SetupHasUninstallEntry(product.key))
            othersInstalled = true;
    if (!othersInstalled && !job.sections.remove.empty())
        sections.push_back(job.sections.remove);
    return sections;
}

SetupResult SetupRemove(const SetupJob& given, SetupHost& host)
{
    SetupJob job = given;
    job.selected = SetupRemovalSelection(given);
    std::vector<std::string> sections = SetupRemoveSectionList(job);
    bool installed = false;
    for (const std::string& key : job.selected)
        installed = installed || SetupHasUninstallEntry(key);
    if (sections.empty() || !installed) {
        // Nothing the selection names is installed: saying that it was removed would be untrue.
        SetupResult result;
        result.ok = false;
        result.error = kSetupErrorNotInstalled;
        return result;
    }
    const bool wholeSet = !job.sections.remove.empty() && sections.back() == job.sections.remove;
    for (const std::string& key : job.selected)
        SetupDeleteUninstallEntry(key);
    // With the whole set gone, its own entry would name a removed installer: it goes too.
    if (wholeSet)
        SetupDeleteUninstallEntry(SetupWholeSetKey(job));
    return SetupRunPlan(SetupBuildPlan(*job.inf, sections, job.os.nt), host);
}

std::vector<ProductLine> SetupAvailableProducts(
    const InfSource& inf, const SetupSections& sections, bool remove, SetupHost& host, std::string* message)
{
    std::vector<ProductLine> available;
    for (ProductLine& product : SetupReadProducts(inf, sections.products)) {
        if (!remove) {
            if (product.installSection.empty() || !inf.HasSection(product.installSection))
                continue;
            std::string failure;
            if (!SetupCheckConditions(inf, product.installSection, host, &failure)) {
                *message = failure;
                continue;
            }
        }
        available.push_back(std::move(product));
    }
    return available;
}

bool SetupInstalledIsNewer(const ProductLine& product)
{
    std::optional<std::string> installed = SetupInstalledValue(product.key, "ProductVersion");
    return installed && SetupCompareVersions(*installed, product.version) > 0;
}

std::vector<std::string> SetupInitialSelection(const std::vector<ProductLine>& products, const SetupCommandLine& cmd)
{
    std::vector<std::string> selected;
    if (cmd.keysGiven) {
        for (const std::string& key : cmd.keys) {
            bool found = false;
            for (const ProductLine& product : products) {
                if (!found && StrEqualNoCase(product.key, key)) {
                    selected.push_back(product.key);
                    found = true;
                }
            }
            // In remove mode a key that is no product (the whole set's own key) is kept as given.
            if (cmd.remove && !found)
                selected.push_back(key);
        }
        return selected;
    }
    for (const ProductLine& product : products)
        if (cmd.remove ? SetupHasUninstallEntry(product.key)
                       : (product.flags & kProductSelected) != 0 && !SetupInstalledIsNewer(product))
            selected.push_back(product.key);
    return selected;
}
