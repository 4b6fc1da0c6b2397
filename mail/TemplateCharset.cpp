#include "mail/TemplateCharset.h"

#include <string_view>

#include "platform/platform.h"

namespace mail {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = Lower(c);
    return out;
}

}  // namespace

bool TemplateNamesUtf8(const std::string& format) {
    size_t begin = 0;
    while (begin < format.size()) {
        const size_t lf = format.find('\n', begin);
        const size_t end = lf == std::string::npos ? format.size() : lf;
        std::string line = Lowered(std::string_view(format).substr(begin, end - begin));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) return false;  // the header ends here
        if (line.compare(0, 13, "content-type:") == 0) {
            const size_t charset = line.find("charset=");
            if (charset == std::string::npos) return false;
            size_t value = charset + 8;
            if (value < line.size() && line[value] == '"') ++value;
            const std::string_view rest = std::string_view(line).substr(value);
            for (const std::string_view name : {"utf-8", "utf8"}) {
                if (rest.compare(0, name.size(), name) == 0 &&
                    (rest.size() == name.size() || rest[name.size()] == '"' || rest[name.size()] == ';' ||
                     rest[name.size()] == ' ' || rest[name.size()] == '\t'))
                    return true;
            }
            return false;
        }
        begin = end + 1;
    }
    return false;
}

std::string MessageInUtf8(const std::string& message) {
    std::string utf8;
    return plat::Cp932ToUtf8(message, &utf8) ? utf8 : message;
}

}  // namespace mail
