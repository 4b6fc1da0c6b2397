#include "base/CommandLine.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> args;
    size_t i = 0;
    const size_t n = line.size();
    if (n == 0) return args;

    // The program: no escapes, so a folder ending in a backslash stays whole.
    std::wstring program;
    if (line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        program = line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        i = close == std::wstring::npos ? n : close + 1;
    } else {
        while (i < n && !IsBlank(line[i])) program += line[i++];
    }
    args.push_back(program);

    for (;;) {
        while (i < n && IsBlank(line[i])) ++i;
        if (i >= n) break;
        std::wstring arg;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(line[i]))) {
            size_t backslashes = 0;
            while (i < n && line[i] == L'\\') ++backslashes, ++i;
            if (i < n && line[i] == L'"') {
                arg.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    arg += L'"';
                } else if (quoted && i + 1 < n && line[i + 1] == L'"') {
                    arg += L'"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, L'\\');
                if (i < n && (quoted || !IsBlank(line[i]))) arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}
