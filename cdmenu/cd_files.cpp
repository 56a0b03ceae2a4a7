#include "cdmenu/cd_files.h"

#include "common/text.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {
bool HasWildcard(std::string_view part)
{
    return part.find_first_of("*?") != std::string_view::npos;
}

// The entries of `dir` whose names match `part` (exact names first, then any case).
std::vector<fs::path> Matches(const fs::path& dir, std::string_view part)
{
    std::vector<fs::path> out;
    std::error_code ec;
    if (part == "." || part == "..") {
        out.push_back(dir / std::string(part));
        return out;
    }
    if (!HasWildcard(part) && fs::exists(dir / std::string(part), ec)) {
        out.push_back(dir / std::string(part));
        return out;
    }
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec))
        if (WildcardMatch(part, it->path().filename().string()))
            out.push_back(it->path());
    return out;
}
} // namespace

bool CdDirFileSystem::AnyMatch(const std::string& pattern)
{
    std::string p = pattern;
    for (char& c : p)
        if (c == '\\')
            c = '/';
    fs::path start = root_.empty() ? fs::path(".") : fs::path(root_);
    std::string_view rest = p;
    if (!rest.empty() && rest.front() == '/') {
        start = "/";
    } else if (rest.size() >= 2 && rest[1] == ':') {
        start = std::string(rest.substr(0, 2)) + "/";
        rest.remove_prefix(2);
    }
    std::vector<std::string> parts;
    for (size_t s = 0; s <= rest.size();) {
        size_t e = rest.find('/', s);
        if (e == std::string_view::npos)
            e = rest.size();
        if (e > s)
            parts.emplace_back(rest.substr(s, e - s));
        s = e + 1;
    }
    if (parts.empty())
        return false;
    std::vector<fs::path> current { start };
    for (size_t i = 0; i < parts.size() && !current.empty(); ++i) {
        std::vector<fs::path> next;
        for (const fs::path& dir : current) {
            std::error_code ec;
            if (i > 0 && !fs::is_directory(dir, ec))
                continue;
            for (fs::path& m : Matches(dir, parts[i]))
                next.push_back(std::move(m));
            if (next.size() > 4096)
                break; // enough candidates to go on with
        }
        current = std::move(next);
    }
    return !current.empty();
}
