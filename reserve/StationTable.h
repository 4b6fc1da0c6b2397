// CStationTable: the user's Station.txt as a map from channel number to
// station name (code page 932 bytes, exactly as stored in the file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

class CStationTable {
public:
    // The longest station name a line can carry: the file's name field holds
    // 255 bytes and a terminator. A line with a longer name makes no entry.
    static constexpr size_t kMaxNameBytes = 255;

    // Builds the table from the whole text of Station.txt (NUL-terminated;
    // null counts as empty). Each line (cut at every line feed, which it
    // keeps) is read as a channel number and a name, as scanf's "%u%s" reads
    // them; a line that does not give both is skipped silently, as is a line
    // whose number exceeds 32 bits or whose name exceeds kMaxNameBytes. The
    // rest of the line from the name on, white space trimmed from both ends,
    // is kept too when it is longer than the name and within kMaxNameBytes
    // (station names with blanks, "101 NHK BS1"). A later line with the same
    // number replaces the earlier entry. Owns a copy of every name. Throws
    // only std::bad_alloc.
    explicit CStationTable(const char* text);

    // The lowest channel number whose name, or whose whole trimmed rest of
    // the line, equals name byte for byte (same length, same bytes: no
    // trimming of name, no case or width folding); 0 when no
    // entry matches or name is null. A station stored under channel 0
    // therefore counts as missing. Throws nothing.
    uint32_t GetChannel(const char* name) const;

    // The channel as GetChannel finds it; when no entry matches exactly, the
    // lowest channel whose name or rest of the line equals name after
    // FoldName (TV-guide sites write ＮＨＫ総合 where people type NHK総合).
    // An exact match always wins.
    uint32_t FindChannel(const char* name) const;

    // name with the full-width ASCII letters and digits of code page 932
    // turned half-width, ASCII letters lowercase, and every blank (space,
    // tab, ideographic space) dropped; kana, kanji and every other
    // character stay as they are. Throws only std::bad_alloc.
    static std::string FoldName(const std::string& name);

    // Number of entries (channel numbers) in the table.
    size_t GetCount() const { return m_stations.size(); }

private:
    struct Entry {
        std::string name;  // the first word after the number
        std::string line;  // the trimmed rest of the line; empty when it is just the name
        std::string foldedName;  // FoldName of each
        std::string foldedLine;
    };
    std::map<uint32_t, Entry> m_stations;  // ascending channel order
};
