#include "reserve/IepgParts.h"

#include "reserve/Scan.h"

namespace iepg {

namespace {

constexpr std::string_view kMultiTypes[] = {"application/x-multi-tv-program-info",
                                            "application/x-multi-tv-program-digital-info"};
constexpr std::string_view kContentTypeKey = "content-type:";
constexpr std::string_view kBoundaryKey = "boundary:";
constexpr std::string_view kDashes = "--";
// The UTF-8 byte order mark an editor may put before the first line.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII case-insensitive equality; other bytes compare as they are.
bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && scan::IsSpace(text[begin])) ++begin;
    while (end > begin && scan::IsSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// Walks text line by line; a line is a view that keeps its line feed.
class Lines {
public:
    explicit Lines(std::string_view text) : m_text(text) {}
    bool Next(std::string_view& line, size_t& start) {
        if (m_pos >= m_text.size()) return false;
        start = m_pos;
        const size_t lf = m_text.find('\n', m_pos);
        m_pos = lf == std::string_view::npos ? m_text.size() : lf + 1;
        line = m_text.substr(start, m_pos - start);
        return true;
    }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};

bool IsBlank(std::string_view text) { return Trim(text).empty(); }

std::string_view WithoutByteOrderMark(std::string_view text) {
    return text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? text.substr(kByteOrderMark.size()) : text;
}

// Whether text holds a line that begins (after white space) with
// "boundary:", or more than contentTypes lines that begin with
// "Content-type:": the header of another programme.
bool HoldsAnotherHeader(std::string_view text, int contentTypes) {
    Lines lines(text);
    std::string_view line;
    size_t start = 0;
    while (lines.Next(line, start)) {
        const std::string_view trimmed = Trim(line);
        if (StartsNoCase(trimmed, kBoundaryKey)) return true;
        if (StartsNoCase(trimmed, kContentTypeKey) && --contentTypes < 0) return true;
    }
    return false;
}

}  // namespace

bool IsMultiFile(std::string_view text) {
    Lines lines(WithoutByteOrderMark(text));
    std::string_view line;
    size_t start = 0;
    bool inHeader = false;  // past the blank lines before it
    while (lines.Next(line, start)) {
        if (IsBlank(line)) {
            if (inHeader) break;
            continue;
        }
        inHeader = true;
        if (!StartsNoCase(line, kContentTypeKey)) continue;
        std::string_view type = Trim(line.substr(kContentTypeKey.size()));
        size_t typeEnd = 0;
        while (typeEnd < type.size() && type[typeEnd] != ';' && !scan::IsSpace(type[typeEnd])) ++typeEnd;
        type = type.substr(0, typeEnd);
        for (std::string_view multi : kMultiTypes) {
            if (EqualsNoCase(type, multi)) return true;
        }
        return false;
    }
    return false;
}

PartsError SplitParts(std::string_view text, std::vector<std::string_view>& parts) {
    parts.clear();
    if (!IsMultiFile(text)) {
        // Read as one programme only when it can be no more than one.
        if (HoldsAnotherHeader(WithoutByteOrderMark(text), 1)) return PartsError::kUnrecognised;
        parts.push_back(text);
        return PartsError::kNone;
    }
    text = WithoutByteOrderMark(text);
    Lines lines(text);
    std::string_view line;
    size_t start = 0;

    // The boundary comes in the outer header: before the next Content-type
    // line, which would be the first programme's own.
    std::string_view boundary;
    int contentTypes = 0;
    while (boundary.empty()) {
        if (!lines.Next(line, start)) return PartsError::kNoBoundary;
        if (StartsNoCase(line, kContentTypeKey) && ++contentTypes > 1) return PartsError::kNoBoundary;
        if (!StartsNoCase(line, kBoundaryKey)) continue;
        boundary = Trim(line.substr(kBoundaryKey.size()));
        if (boundary.empty()) return PartsError::kNoBoundary;
    }
    const std::string dashed = std::string(kDashes) + std::string(boundary);
    const std::string closing = std::string(boundary) + std::string(kDashes);
    const std::string dashedClosing = dashed + std::string(kDashes);

    // The part being read begins at partStart; npos before the first
    // boundary line.
    size_t partStart = std::string_view::npos;
    const auto endPart = [&](size_t end) {
        if (partStart == std::string_view::npos) return PartsError::kNone;
        const std::string_view part = text.substr(partStart, end - partStart);
        if (IsBlank(part)) return PartsError::kNone;
        if (HoldsAnotherHeader(part, 1)) return PartsError::kMergedParts;
        if (parts.size() == kMaxParts) return PartsError::kTooManyParts;
        parts.push_back(part);
        return PartsError::kNone;
    };
    while (lines.Next(line, start)) {
        const std::string_view trimmed = Trim(line);
        const bool isClosing = trimmed == closing || trimmed == dashedClosing;
        if (trimmed == boundary || trimmed == dashed || isClosing) {
            const PartsError error = endPart(start);
            if (error != PartsError::kNone) {
                parts.clear();
                return error;
            }
            if (isClosing) {
                if (!parts.empty()) return PartsError::kNone;
                return PartsError::kNoParts;
            }
            partStart = start + line.size();
        }
    }
    parts.clear();
    return PartsError::kNoEnd;
}

std::string PartsErrorText(PartsError error) {
    switch (error) {
        case PartsError::kNone:
            return std::string();
        case PartsError::kNoBoundary:
            return "複数の番組のファイルに区切り(boundary:)がありません\n予約は送信されていません";
        case PartsError::kNoEnd:
            return "複数の番組のファイルが途中で終わっています\n予約は送信されていません";
        case PartsError::kNoParts:
            return "複数の番組のファイルに番組がありません\n予約は送信されていません";
        case PartsError::kTooManyParts:
            return "複数の番組のファイルの番組が多すぎます(" + std::to_string(kMaxParts) +
                   "件まで)\n予約は送信されていません";
        case PartsError::kUnrecognised:
            return "ファイルに複数の番組がありますが、番組の区切りを読み取れません\n予約は送信されていません";
        case PartsError::kMergedParts:
            return "複数の番組のファイルに区切りの欠けた番組があります\n予約は送信されていません";
    }
    return std::string();
}

}  // namespace iepg
