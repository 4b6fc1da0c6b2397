#include "reserve/StationTable.h"

#include <string_view>

#include "base/Cp932.h"
#include "reserve/Scan.h"

namespace {

// Code page 932's full-width forms: the ideographic space, ０-９, Ａ-Ｚ, ａ-ｚ.
constexpr unsigned char kWideLead = 0x82;
constexpr unsigned kIdeographicSpace = 0x8140;
constexpr unsigned char kWideDigit0 = 0x4F, kWideDigit9 = 0x58;
constexpr unsigned char kWideUpperA = 0x60, kWideUpperZ = 0x79;
constexpr unsigned char kWideLowerA = 0x81, kWideLowerZ = 0x9A;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }

// Whether text from pos on is one or more characters that all pass test.
template <typename Test>
bool AllFrom(const std::string& text, size_t pos, Test test) {
    if (pos >= text.size()) return false;
    for (size_t i = pos; i < text.size(); ++i) {
        if (!test(text[i])) return false;
    }
    return true;
}

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A terrestrial code is "DFS" and the service id in five hexadecimal digits.
constexpr size_t kServiceIdDigits = 5;

}  // namespace

std::string CStationTable::FoldName(const std::string& name) {
    std::string folded;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (cp932::IsLeadByte(c) && i + 1 < name.size()) {
            const unsigned char t = static_cast<unsigned char>(name[++i]);
            if ((c << 8 | t) == kIdeographicSpace) continue;
            if (c == kWideLead && t >= kWideDigit0 && t <= kWideDigit9)
                folded += static_cast<char>('0' + (t - kWideDigit0));
            else if (c == kWideLead && t >= kWideUpperA && t <= kWideUpperZ)
                folded += static_cast<char>('a' + (t - kWideUpperA));
            else if (c == kWideLead && t >= kWideLowerA && t <= kWideLowerZ)
                folded += static_cast<char>('a' + (t - kWideLowerA));
            else
                folded.append({static_cast<char>(c), static_cast<char>(t)});
        } else if (!scan::IsSpace(static_cast<char>(c))) {
            folded += Lower(static_cast<char>(c));
        }
    }
    return folded;
}

bool CStationTable::IsStationCode(const std::string& folded) {
    if (StartsWith(folded, "dfs"))
        return folded.size() == 3 + kServiceIdDigits && AllFrom(folded, 3, IsHexDigit);
    if (StartsWith(folded, "bsdt") || StartsWith(folded, "csdt")) return AllFrom(folded, 4, IsDigit);
    return AllFrom(folded, 0, IsDigit);
}

std::string CStationTable::CodeKey(const std::string& folded) {
    if (!AllFrom(folded, 0, IsDigit)) return folded;
    // A remote-control key is a number: 0004, 04 and 4 are the same key.
    const size_t first = folded.find_first_not_of('0');
    return first == std::string::npos ? std::string("0") : folded.substr(first);
}

CStationTable::CStationTable(const char* text) {
    const std::string_view all = text ? std::string_view(text) : std::string_view();
    size_t begin = 0;
    while (begin < all.size()) {
        // One line, with its line feed, or the rest of the text without one.
        const size_t lf = all.find('\n', begin);
        const size_t end = lf == std::string_view::npos ? all.size() : lf + 1;
        const std::string_view line = all.substr(begin, end - begin);
        begin = end;

        uint32_t channel = 0;
        std::string_view name;
        size_t next = 0;
        if (!scan::ScanUnsigned32(line, 0, channel, next)) continue;
        if (!scan::ScanWord(line, next, name, next)) continue;
        // Truncating would store a name that is not the station's (and could
        // split a double-byte character); such a line is not a valid entry.
        if (name.size() > kMaxNameBytes) continue;
        // A code line adds a code to its channel and leaves the name as it is.
        if (const std::string folded = FoldName(std::string(name)); IsStationCode(folded)) {
            m_stations[channel];
            const auto inserted = m_codes.emplace(CodeKey(folded), channel);
            if (!inserted.second && channel < inserted.first->second) inserted.first->second = channel;
            continue;
        }
        // The first word is the name and the rest free text; yet a station
        // name may itself hold blanks, so the whole rest counts as well.
        const size_t nameStart = next - name.size();
        size_t restEnd = line.size();
        while (restEnd > nameStart && scan::IsSpace(line[restEnd - 1])) --restEnd;
        const std::string_view rest = line.substr(nameStart, restEnd - nameStart);
        Entry& entry = m_stations[channel];
        entry.name = std::string(name);
        entry.line = rest.size() > name.size() && rest.size() <= kMaxNameBytes ? std::string(rest) : std::string();
        entry.foldedName = FoldName(entry.name);
        entry.foldedLine = FoldName(entry.line);
    }
}

uint32_t CStationTable::GetChannel(const char* name) const {
    if (name == nullptr) return 0;
    const std::string_view wanted(name);
    // A linear scan in channel order: the first match is the lowest channel.
    // A channel known only by its codes has no name to match.
    for (const auto& entry : m_stations) {
        if ((!entry.second.name.empty() && entry.second.name == wanted) ||
            (!entry.second.line.empty() && entry.second.line == wanted))
            return entry.first;
    }
    return 0;
}

uint32_t CStationTable::FindName(const std::string& name) const {
    if (const uint32_t channel = GetChannel(name.c_str()); channel != 0) return channel;
    const std::string wanted = FoldName(name);
    if (wanted.empty()) return 0;
    for (const auto& entry : m_stations) {
        if ((!entry.second.name.empty() && entry.second.foldedName == wanted) ||
            (!entry.second.line.empty() && entry.second.foldedLine == wanted))
            return entry.first;
    }
    return 0;
}

uint32_t CStationTable::FindChannel(const char* name) const {
    return name == nullptr ? 0 : FindStation(name, std::string());
}

uint32_t CStationTable::FindStation(const std::string& station, const std::string& stationName) const {
    if (const std::string folded = FoldName(station); IsStationCode(folded)) {
        const auto code = m_codes.find(CodeKey(folded));
        if (code != m_codes.end() && code->second != 0) return code->second;
    }
    if (const uint32_t channel = FindName(station); channel != 0) return channel;
    return stationName.empty() ? 0 : FindName(stationName);
}

namespace reserve {

std::string UnknownStationText(const std::string& station, const std::string& stationName) {
    std::string text = "<" + cp932::Shortened(station, kMaxShownNameBytes) + ">";
    if (!stationName.empty()) text += "(" + cp932::Shortened(stationName, kMaxShownNameBytes) + ")";
    return text + "をチャンネル番号に変換できません\nStation.txtに設定してください";
}

}  // namespace reserve
