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
    for (const auto& entry : m_stations) {
        if (entry.second.name == wanted || (!entry.second.line.empty() && entry.second.line == wanted))
            return entry.first;
    }
    return 0;
}

uint32_t CStationTable::FindChannel(const char* name) const {
    if (const uint32_t channel = GetChannel(name); channel != 0 || name == nullptr) return channel;
    const std::string wanted = FoldName(name);
    if (wanted.empty()) return 0;
    for (const auto& entry : m_stations) {
        if (entry.second.foldedName == wanted || (!entry.second.line.empty() && entry.second.foldedLine == wanted))
            return entry.first;
    }
    return 0;
}
