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
    // whose number exceeds 32 bits or whose name exceeds kMaxNameBytes. A
    // later line with the same number replaces the earlier name. Owns a copy
    // of every name. Throws only std::bad_alloc.
    explicit CStationTable(const char* text);

    // The lowest channel number whose name equals name byte for byte (same
    // length, same bytes: no trimming, no case or width folding); 0 when no
    // entry matches or name is null. A station stored under channel 0
    // therefore counts as missing. Throws nothing.
    uint32_t GetChannel(const char* name) const;

    // Number of entries (channel numbers) in the table.
    size_t GetCount() const { return m_stations.size(); }

private:
    std::map<uint32_t, std::string> m_stations;  // ascending channel order
};
