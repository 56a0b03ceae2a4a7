#include "common/platform/process.h"

std::vector<std::string> ProcessSplitParameters(std::string_view parameters)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < parameters.size()) {
        while (pos < parameters.size() && (parameters[pos] == ' ' || parameters[pos] == '\t'))
            ++pos;
        size_t end = pos;
        while (end < parameters.size() && parameters[end] != ' ' && parameters[end] != '\t')
            ++end;
        if (end > pos)
            out.emplace_back(parameters.substr(pos, end - pos));
        pos = end;
    }
    return out;
}
