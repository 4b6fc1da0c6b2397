#include "mail/SmtpReply.h"

#include <cstdint>
#include <cstring>
#include <sstream>

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
        std::istringstream words(line.substr(4));
        std::string word;
        if (first) {
            first = false;
            words >> caps.serverName;  // the greeting line names the server, no keyword
            continue;
        }
        if (!(words >> word)) continue;
        word = Upper(word);
        if (word == "STARTTLS") {
            caps.startTls = true;
        } else if (word == "AUTH" || word.compare(0, 5, "AUTH=") == 0) {
            std::string mechanism = word.size() > 5 ? word.substr(5) : std::string();
            do {
                mechanism = Upper(mechanism);
                if (mechanism == "PLAIN") caps.authPlain = true;
                if (mechanism == "LOGIN") caps.authLogin = true;
            } while (words >> mechanism);
        }
    }
    return caps;
}

std::string Base64(const std::string& data) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = data.size() - i < 3 ? data.size() - i : 3;
        uint32_t v = static_cast<unsigned char>(data[i]) << 16;
        if (n > 1) v |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (n > 2) v |= static_cast<unsigned char>(data[i + 2]);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += n > 1 ? kDigits[(v >> 6) & 63] : '=';
        out += n > 2 ? kDigits[v & 63] : '=';
    }
    return out;
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
