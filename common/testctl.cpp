#include "common/testctl.h"

#include "common/text.h"

#include <chrono>
#include <thread>

std::string TestCtlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string TestCtlUnescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            out += text[i + 1] == 'n' ? '\n' : '\\';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string TestCtlLabel(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string TestCtlMenuText(std::string_view text)
{
    size_t tab = text.find('\t');
    std::string label = TestCtlLabel(text.substr(0, tab));
    while (!label.empty() && label.back() == ' ')
        label.pop_back();
    if (label.size() >= 3 && label.compare(label.size() - 3, 3, "...") == 0)
        label.erase(label.size() - 3);
    return label;
}

std::vector<std::string> TestCtlWords(std::string_view text)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= text.size())
            break;
        std::string word;
        if (text[i] == '"') {
            size_t end = text.find('"', i + 1);
            if (end == std::string_view::npos)
                end = text.size();
            word = std::string(text.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t end = text.find_first_of(" \t", i);
            if (end == std::string_view::npos)
                end = text.size();
            word = std::string(text.substr(i, end - i));
            i = end;
        }
        words.push_back(TestCtlUnescape(word));
    }
    return words;
}

TestCtlCommand TestCtlParse(std::string_view line)
{
    TestCtlCommand c;
    std::string_view t = TrimLeft(line);
    size_t end = t.find_first_of(" \t");
    c.verb = std::string(t.substr(0, end));
    if (end != std::string_view::npos) {
        std::string_view rest = t.substr(end + 1);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
        c.rest = std::string(rest);
    }
    return c;
}

std::string TestCtlOk()
{
    return "ok\n";
}

std::string TestCtlOkLines(const std::vector<std::string>& lines)
{
    std::string out = "ok\n";
    for (const std::string& l : lines) {
        // A line that is a lone "." would end the answer early.
        out += l == "." ? std::string("\\.") : l;
        out += '\n';
    }
    out += ".\n";
    return out;
}

std::string TestCtlError(std::string_view text)
{
    return "error " + TestCtlEscape(text) + "\n";
}

std::string TestCtlHandle(uintptr_t handle)
{
    return StrFormat("0x%llX", static_cast<unsigned long long>(handle));
}

uintptr_t TestCtlParseHandle(std::string_view text)
{
    std::optional<uint32_t> v = ParseUnsignedStrict(Trim(text));
    return v ? static_cast<uintptr_t>(*v) : 0;
}

uint16_t TestCtlServer::Start(uint16_t port, Runner run, std::function<bool()> isIdle, uint32_t idleLimitMs)
{
    return server_.Start(
        port, [run = std::move(run), isIdle = std::move(isIdle), idleLimitMs](const std::string& line) {
            TestCtlCommand c = TestCtlParse(line);
            if (c.verb.empty())
                return TestCtlError("empty command");
            if (c.verb == "idle") {
                auto start = std::chrono::steady_clock::now();
                while (!isIdle()) {
                    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(idleLimitMs))
                        return TestCtlError("still busy");
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                return TestCtlOk();
            }
            return run(c);
        });
}

void TestCtlServer::Stop()
{
    server_.Stop();
}
