#include "reserve/IepgText.h"

#include "base/Cp932.h"
#include "reserve/Scan.h"

namespace iepg {

size_t FindKey(std::string_view text, std::string_view key) {
    if (key.empty()) return std::string_view::npos;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text.compare(pos, key.size(), key) == 0) return pos;
        // A trailing lead byte with nothing after it is one character: the
        // step never leaves the text.
        const bool pair = cp932::IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size();
        pos += pair ? 2 : 1;
    }
    return std::string_view::npos;
}

bool ExtractValue(std::string_view text, std::string_view key, std::string& value) {
    const size_t at = FindKey(text, key);
    if (at == std::string_view::npos) return false;
    // Neither a space nor a line feed can be the second byte of a double-byte
    // character, so plain byte searches are exact here.
    const size_t space = text.find(' ', at);
    if (space == std::string_view::npos) return false;
    const size_t lf = text.find('\n', space);
    if (lf == std::string_view::npos) return false;

    size_t begin = space;
    size_t end = lf + 1;
    while (begin < end && scan::IsSpace(text[begin])) ++begin;
    while (end > begin && scan::IsSpace(text[end - 1])) --end;
    value.assign(text.data() + begin, end - begin);
    return true;
}

bool ExtractLineValue(std::string_view text, std::string_view key, std::string& value) {
    if (key.empty()) return false;
    size_t line = 0;
    // Line starts only: a line feed is never the second byte of a character.
    while (line < text.size() && text.compare(line, key.size(), key) != 0) {
        const size_t lf = text.find('\n', line);
        if (lf == std::string_view::npos) return false;
        line = lf + 1;
    }
    if (line >= text.size()) return false;
    size_t begin = line + key.size();
    size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    while (begin < end && scan::IsSpace(text[begin])) ++begin;
    while (end > begin && scan::IsSpace(text[end - 1])) --end;
    value.assign(text.data() + begin, end - begin);
    // Control bytes are never part of a double-byte character.
    for (char& c : value) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) c = ' ';
    }
    return true;
}

const char* const kRequiredKeys[kRequiredKeyCount] = {"station:", "year:", "month:", "date:", "start:", "end:"};

const char* ReadProgramme(std::string_view text, Programme& programme) {
    std::string* const required[kRequiredKeyCount] = {&programme.station, &programme.year,  &programme.month,
                                                      &programme.date,    &programme.start, &programme.end};
    for (int i = 0; i < kRequiredKeyCount; ++i) {
        if (!ExtractValue(text, kRequiredKeys[i], *required[i])) return kRequiredKeys[i];
    }
    programme.title.clear();
    programme.stationName.clear();
    programme.programId.clear();
    ExtractValue(text, "program-title:", programme.title);
    ExtractLineValue(text, "station-name:", programme.stationName);
    ExtractLineValue(text, "program-id:", programme.programId);
    return nullptr;
}

}  // namespace iepg
