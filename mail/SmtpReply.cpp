#include "mail/SmtpReply.h"

#include <cctype>

#include <cstdint>
#include <cstring>
#include <vector>

namespace smtp {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A continuation line of a multi-line reply: three digits and a hyphen.
bool IsContinuationLine(const std::string& text, size_t begin) {
    return begin + 3 < text.size() && IsDigit(text[begin]) && IsDigit(text[begin + 1]) &&
           IsDigit(text[begin + 2]) && text[begin + 3] == '-';
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The blank-separated words of text (blanks as isspace has them in the C
// locale). No string stream: it would bring the C++ locale machinery into
// the executable for this one use.
std::vector<std::string> Words(const std::string& text) {
    static const char kBlanks[] = " \t\n\v\f\r";
    std::vector<std::string> words;
    for (size_t begin = text.find_first_not_of(kBlanks); begin != std::string::npos;) {
        const size_t end = text.find_first_of(kBlanks, begin);
        words.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        begin = end == std::string::npos ? end : text.find_first_not_of(kBlanks, end);
    }
    return words;
}

}  // namespace

bool ReplyComplete(const std::string& text) {
    for (size_t begin = 0, lf = text.find('\n'); lf != std::string::npos;
         begin = lf + 1, lf = text.find('\n', begin)) {
        if (!IsContinuationLine(text, begin)) return true;
    }
    return false;
}

bool AppendPiece(std::string& reply, const char* piece, size_t length, size_t maxSize) {
    const void* zero = std::memchr(piece, '\0', length);
    const size_t keep = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - piece) : length;
    if (keep > maxSize || reply.size() > maxSize - keep) return false;
    reply.append(piece, keep);
    return true;
}

Capabilities ParseCapabilities(const std::string& reply) {
    Capabilities caps;
    bool first = true;
    size_t begin = 0;
    while (begin < reply.size()) {
        size_t end = reply.find('\n', begin);
        if (end == std::string::npos) end = reply.size();
        std::string line = reply.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < 4 || line.compare(0, 3, "250") != 0 || (line[3] != ' ' && line[3] != '-')) continue;
        const std::vector<std::string> words = Words(line.substr(4));
        if (first) {
            first = false;
            // The greeting line names the server, no keyword.
            if (!words.empty()) caps.serverName = words[0];
            continue;
        }
        if (words.empty()) continue;
        const std::string keyword = Upper(words[0]);
        if (keyword == "STARTTLS") {
            caps.startTls = true;
        } else if (keyword == "PIPELINING") {
            caps.pipelining = true;
        } else if (keyword == "CHUNKING") {
            caps.chunking = true;
        } else if (keyword == "AUTH" || keyword.compare(0, 5, "AUTH=") == 0) {
            // "AUTH=PLAIN" (an old form) names its first mechanism itself.
            std::vector<std::string> mechanisms(words.begin() + 1, words.end());
            if (keyword.size() > 5) mechanisms.push_back(keyword.substr(5));
            for (const std::string& mechanism : mechanisms) {
                const std::string name = Upper(mechanism);
                if (name == "PLAIN") caps.authPlain = true;
                if (name == "LOGIN") caps.authLogin = true;
            }
        }
    }
    return caps;
}

bool RefusesSender(const std::string& reply, bool atMailFrom, const std::string& from, const std::string& rcpt) {
    if (reply.size() < 3 || reply[0] != '5') return false;
    if (atMailFrom) return true;
    const auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    const std::string text = lower(reply);
    const std::string sender = lower(from);
    return text.find("sender") != std::string::npos || text.find("sendas") != std::string::npos ||
           (!sender.empty() && sender != lower(rcpt) && text.find(sender) != std::string::npos);
}

namespace {

// A label of a host name (RFC 1123 section 2.1): 1 to 63 letters, digits and
// hyphens, neither first nor last a hyphen.
bool IsLabel(const std::string& label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (char c : label) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && c != '-') return false;
    }
    return true;
}

bool IsFullyQualified(const std::string& name) {
    if (name.size() > 253 || name.find('.') == std::string::npos) return false;
    size_t start = 0;
    for (;;) {
        const size_t dot = name.find('.', start);
        if (!IsLabel(name.substr(start, dot == std::string::npos ? std::string::npos : dot - start))) return false;
        if (dot == std::string::npos) return true;
        start = dot + 1;
    }
}

}  // namespace

std::string EhloDomain(const std::string& hostName, uint32_t localAddress) {
    if (IsFullyQualified(hostName)) return hostName;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&localAddress);  // network order: first byte first
    return "[" + std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
           std::to_string(bytes[3]) + "]";
}

}  // namespace smtp
