#include "reserve/Scan.h"

#include <climits>

namespace scan {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads an optional sign and at least one digit at pos. Returns false when
// there is no digit or the magnitude exceeds limit; on success sets negative,
// magnitude and next (the index after the last digit).
bool ScanMagnitude(std::string_view text, size_t pos, uint64_t limit, bool& negative,
                   uint64_t& magnitude, size_t& next) {
    negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos >= text.size() || !IsDigit(text[pos])) return false;
    magnitude = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        // Checked before it can grow further, so it never wraps.
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[pos] - '0');
        if (magnitude > limit) return false;
    }
    next = pos;
    return true;
}

}  // namespace

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

size_t SkipSpace(std::string_view text, size_t pos) {
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    return pos;
}

bool ScanInt(std::string_view text, size_t pos, int& value, size_t& next) {
    bool negative = false;
    uint64_t magnitude = 0;
    // INT_MIN's magnitude is one more than INT_MAX's.
    const uint64_t limit = static_cast<uint64_t>(INT_MAX) + 1;
    if (!ScanMagnitude(text, SkipSpace(text, pos), limit, negative, magnitude, next)) return false;
    if (negative) {
        value = magnitude == limit ? INT_MIN : -static_cast<int>(magnitude);
    } else {
        if (magnitude > static_cast<uint64_t>(INT_MAX)) return false;
        value = static_cast<int>(magnitude);
    }
    return true;
}

bool ScanUnsigned32(std::string_view text, size_t pos, uint32_t& value, size_t& next) {
    bool negative = false;
    uint64_t magnitude = 0;
    if (!ScanMagnitude(text, SkipSpace(text, pos), UINT32_MAX, negative, magnitude, next)) {
        return false;
    }
    const uint32_t m = static_cast<uint32_t>(magnitude);
    value = negative ? static_cast<uint32_t>(0u - m) : m;  // unsigned: wraps by definition
    return true;
}

bool ScanWord(std::string_view text, size_t pos, std::string_view& word, size_t& next) {
    const size_t start = SkipSpace(text, pos);
    size_t end = start;
    while (end < text.size() && !IsSpace(text[end])) ++end;
    if (end == start) return false;
    word = text.substr(start, end - start);
    next = end;
    return true;
}

bool ScanOneInt(std::string_view text, int& value) {
    size_t next = 0;
    return ScanInt(text, 0, value, next);
}

bool ScanIntColonInt(std::string_view text, int& first, int& second) {
    size_t pos = 0;
    int a = 0;
    if (!ScanInt(text, 0, a, pos)) return false;
    pos = SkipSpace(text, pos);
    if (pos >= text.size() || text[pos] != ':') return false;
    int b = 0;
    if (!ScanInt(text, pos + 1, b, pos)) return false;
    first = a;
    second = b;
    return true;
}

}  // namespace scan
