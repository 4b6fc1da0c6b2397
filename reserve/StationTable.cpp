#include "reserve/StationTable.h"

#include <string_view>

#include "reserve/Scan.h"

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
