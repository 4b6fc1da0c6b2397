#include "reserve/StationTable.h"

#include <cstdio>
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
// The digits a suggested channel may have: a channel is at most 4294967295.
constexpr size_t kMaxSuggestedDigits = 9;
// A service id is 16 bits in the broadcast's tables.
constexpr int kMaxServiceId = 0xFFFF;

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
        ReadLine(all.substr(begin, end - begin));
        begin = end;
    }
}

void CStationTable::AppendLine(const std::string& line) {
    const size_t lf = line.find('\n');
    ReadLine(std::string_view(line).substr(0, lf == std::string::npos ? line.size() : lf + 1));
}

void CStationTable::ReadLine(std::string_view line) {
    const size_t lineNo = ++m_lines;
    uint32_t channel = 0;
    std::string_view name;
    size_t next = 0;
    if (!scan::ScanUnsigned32(line, 0, channel, next)) return;
    if (!scan::ScanWord(line, next, name, next)) return;
    // Truncating would store a name that is not the station's (and could
    // split a double-byte character); such a line is not a valid entry.
    if (name.size() > kMaxNameBytes) return;
    size_t restEnd = line.size();
    while (restEnd > next && scan::IsSpace(line[restEnd - 1])) --restEnd;
    // A code line adds a code to its channel and names nothing.
    if (const std::string folded = FoldName(std::string(name)); IsStationCode(folded)) {
        m_stations[channel];
        const size_t noteStart = scan::SkipSpace(line, next);
        const std::string note(noteStart < restEnd ? line.substr(noteStart, restEnd - noteStart) : "");
        const auto inserted = m_codes.emplace(CodeKey(folded), Code{channel, std::string(name), note, lineNo});
        if (!inserted.second && channel < inserted.first->second.channel)
            inserted.first->second = Code{channel, std::string(name), note, lineNo};
        return;
    }
    // The first word is the name and the rest free text; yet a station
    // name may itself hold blanks, so the whole rest counts as well.
    const size_t nameStart = next - name.size();
    const std::string_view rest = line.substr(nameStart, restEnd - nameStart);
    Name entry;
    entry.name = std::string(name);
    entry.line = rest.size() > name.size() && rest.size() <= kMaxNameBytes ? std::string(rest) : std::string();
    entry.foldedName = FoldName(entry.name);
    entry.foldedLine = FoldName(entry.line);
    entry.lineNo = lineNo;
    m_stations[channel].push_back(std::move(entry));
}

uint32_t CStationTable::GetChannel(const char* name) const {
    if (name == nullptr) return 0;
    const std::string_view wanted(name);
    // A linear scan in channel order: the first match is the lowest channel.
    // A channel known only by its codes has no name to match.
    for (const auto& station : m_stations) {
        for (const Name& n : station.second) {
            if (n.name == wanted || (!n.line.empty() && n.line == wanted)) return station.first;
        }
    }
    return 0;
}

CStationTable::Match CStationTable::FindName(const std::string& name) const {
    const std::string folded = FoldName(name);
    // Exact first over the whole table, then folded: an exact match on a
    // higher channel wins over a folded one on a lower. A match on channel 0
    // ends the search as missing (the lowest channel is always found first).
    for (const bool exact : {true, false}) {
        if (!exact && folded.empty()) break;
        for (const auto& station : m_stations) {
            for (const Name& n : station.second) {
                const bool byName = exact ? n.name == name : n.foldedName == folded;
                const bool byLine = !n.line.empty() && (exact ? n.line == name : n.foldedLine == folded);
                if (byName || byLine) return Match{station.first, byLine && !byName ? n.line : n.name, n.lineNo};
            }
        }
    }
    return Match();
}

CStationTable::Match CStationTable::FindCode(const std::string& code) const {
    const std::string folded = FoldName(code);
    if (!IsStationCode(folded)) return Match();
    const auto found = m_codes.find(CodeKey(folded));
    if (found == m_codes.end() || found->second.channel == 0) return Match();
    const Code& c = found->second;
    const auto& names = m_stations.at(c.channel);
    if (!names.empty()) return Match{c.channel, names.front().name, c.lineNo};
    return Match{c.channel, c.note.empty() ? c.written : c.note, c.lineNo};
}

uint32_t CStationTable::FindChannel(const char* name) const {
    return name == nullptr ? 0 : FindStation(name, std::string());
}

uint32_t CStationTable::FindStation(const std::string& station, const std::string& stationName) const {
    return Lookup(station, stationName).channel;
}

CStationTable::Match CStationTable::Lookup(const std::string& station, const std::string& stationName,
                                           const std::string& serviceId, const std::string& type) const {
    if (Match m = FindCode(station); m.channel != 0) return m;
    if (Match m = FindName(station); m.channel != 0) return m;
    if (!stationName.empty()) {
        if (Match m = FindName(stationName); m.channel != 0) return m;
    }
    const std::string code = ServiceCode(serviceId, type);
    return code.empty() ? Match() : FindCode(code);
}

std::string CStationTable::ServiceCode(const std::string& serviceId, const std::string& type) {
    int id = 0;
    size_t next = 0;
    if (!scan::ScanInt(serviceId, 0, id, next) || scan::SkipSpace(serviceId, next) != serviceId.size()) return "";
    if (!IsDigit(serviceId[scan::SkipSpace(serviceId, 0)]) || id < 1 || id > kMaxServiceId) return "";
    const std::string kind = FoldName(type);
    char code[16];
    if (kind == "gr")
        std::snprintf(code, sizeof code, "DFS%05X", static_cast<unsigned>(id));
    else if (kind == "bs" || kind == "cs")
        std::snprintf(code, sizeof code, "%sDT%03d", kind == "bs" ? "BS" : "CS", id);
    else
        return "";
    return code;
}

namespace reserve {

std::string UnknownStationText(const std::string& station, const std::string& stationName) {
    std::string text = "<" + cp932::Shortened(station, kMaxShownNameBytes) + ">";
    if (!stationName.empty()) text += "(" + cp932::Shortened(stationName, kMaxShownNameBytes) + ")";
    return text + "をチャンネル番号に変換できません\nStation.txtに設定してください";
}

std::string RegistrationText(const std::string& station, const std::string& stationName) {
    const std::string box = UnknownStationText(station, stationName);
    return box.substr(0, box.find('\n')) +
           "\n録画機のチャンネル番号を入れて「登録して予約」を押すと、\nStation.txtに登録して予約します";
}

std::string NotRegisteredText(uint32_t channel) {
    return "Station.txtに書き込めません\n今回だけ" + std::to_string(channel) + "チャンネルで予約します";
}

std::string SuggestedChannel(const std::string& station) {
    const std::string folded = CStationTable::FoldName(station);
    if (!CStationTable::IsStationCode(folded) || StartsWith(folded, "dfs")) return "";
    const size_t digits = AllFrom(folded, 0, IsDigit) ? 0 : 4;  // after "bsdt" or "csdt"
    const size_t first = folded.find_first_not_of('0', digits);
    // A channel number fits in 32 bits: a longer run of digits suggests nothing.
    const std::string number = first == std::string::npos ? "" : folded.substr(first);
    return number.size() <= kMaxSuggestedDigits ? number : "";
}

std::string StationLine(uint32_t channel, const std::string& station, const std::string& stationName) {
    std::string line = std::to_string(channel) + " " + station;
    const bool code = CStationTable::IsStationCode(CStationTable::FoldName(station));
    const bool blank = station.find_first_of(" \t") != std::string::npos;
    if (!stationName.empty() && stationName != station && (code || !blank)) line += " " + stationName;
    return line;
}

}  // namespace reserve
