// CStationTable: the user's Station.txt as a map from channel number to
// station name (code page 932 bytes, exactly as stored in the file), and
// beside the names the broadcast codes that digital files give instead of a
// name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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
    // (station names with blanks, "101 NHK BS1"). Names accumulate: a later
    // line with the same number adds its name to the channel and replaces
    // none ("1 ＮＨＫ総合" and "1 ＮＨＫ総合１" both name channel 1). Owns a
    // copy of every name. Throws only std::bad_alloc.
    //
    // A line whose name is a broadcast code (IsStationCode, after FoldName)
    // names nothing: the code is kept apart for its channel, so one channel
    // can have names and any number of codes ("1 ＮＨＫ総合" and
    // "1 DFS00400"). The rest of a code line after the code is a note.
    explicit CStationTable(const char* text);

    // Reads line (its text up to its first line feed) as if the text had
    // held it as one more line at its end: what a line appended to
    // Station.txt would add. Throws only std::bad_alloc.
    void AppendLine(const std::string& line);

    // The lowest channel number whose name, or whose whole trimmed rest of
    // the line, equals name byte for byte (same length, same bytes: no
    // trimming of name, no case or width folding); 0 when no
    // entry matches or name is null. A station stored under channel 0
    // therefore counts as missing. Codes are not names: see FindStation.
    // Throws nothing.
    uint32_t GetChannel(const char* name) const;

    // FindStation(name, ""): the channel of a file's station value alone
    // (0 for null). For a station name this is the name lookup it always
    // was: exact first, then folded.
    uint32_t FindChannel(const char* name) const;

    // The channel for a file's "station:" value and its "station-name:"
    // value (empty when the file has none), in this order, the first found
    // winning:
    //   1. station, when it is a broadcast code, among the codes (FoldName
    //      on both sides: DFS05c38 is DFS05C38; a remote-control key by its
    //      number: 0004 is 4);
    //   2. station among the names exactly (GetChannel), then folded
    //      (TV-guide sites write ＮＨＫ総合 where people type NHK総合);
    //   3. stationName among the names exactly, then folded.
    // Each step takes the lowest channel that matches; 0 when none does.
    // Throws only std::bad_alloc.
    uint32_t FindStation(const std::string& station, const std::string& stationName) const;

    // What a lookup found: the channel, and the table's own line for it.
    struct Match {
        uint32_t channel = 0;  // 0: nothing found
        // The station as the table names it: the name (or whole rest) of the
        // line that matched; for a code, the channel's first name line, else
        // the note of the code's line, else the code as the table writes it.
        std::string name;
        size_t line = 0;  // 1-based line of Station.txt that gave the channel
    };
    // FindStation's three steps, then, when they find nothing, a guide
    // server's "service-id:" (decimal) with its "type:" among the codes
    // (ServiceCode). Throws only std::bad_alloc.
    Match Lookup(const std::string& station, const std::string& stationName, const std::string& serviceId = "",
                 const std::string& type = "") const;

    // The broadcast code of a service id (decimal, 1 to 65535) of type GR,
    // BS or CS (any case): "DFS%05X", "BSDT%03d", "CSDT%03d" (1040 of GR is
    // DFS00410). Empty for any other value or type. Throws only
    // std::bad_alloc.
    static std::string ServiceCode(const std::string& serviceId, const std::string& type);

    // name with the full-width ASCII letters and digits of code page 932
    // turned half-width, ASCII letters lowercase, and every blank (space,
    // tab, ideographic space) dropped; kana, kanji and every other
    // character stay as they are. Throws only std::bad_alloc.
    static std::string FoldName(const std::string& name);

    // Whether folded (a FoldName result) is a broadcast code: "dfs" and five
    // hexadecimal digits (terrestrial), "bsdt" or "csdt" and one or more
    // decimal digits (BS, CS), or decimal digits alone (the remote-control
    // key some servers write, "0004"). Throws nothing.
    static bool IsStationCode(const std::string& folded);

    // Number of entries (channel numbers with a name, a code or both).
    size_t GetCount() const { return m_stations.size(); }

private:
    struct Name {
        std::string name;  // the first word after the number
        std::string line;  // the trimmed rest of the line; empty when it is just the name
        std::string foldedName;  // FoldName of each
        std::string foldedLine;
        size_t lineNo = 0;
    };
    struct Code {
        uint32_t channel = 0;  // the lowest channel that has the code
        std::string written;   // the code as that line writes it
        std::string note;      // the rest of that line, trimmed
        size_t lineNo = 0;
    };
    // A code as compared: FoldName's result, a remote-control key without
    // its leading zeros.
    static std::string CodeKey(const std::string& folded);
    // The name lookups, exact then folded: the lowest channel and its line.
    Match FindName(const std::string& name) const;
    Match FindCode(const std::string& code) const;
    // One line of the text, numbered after the ones before it.
    void ReadLine(std::string_view line);

    std::map<uint32_t, std::vector<Name>> m_stations;  // ascending channel order; names in line order
    std::map<std::string, Code> m_codes;
    size_t m_lines = 0;  // lines read so far  // CodeKey to the lowest channel that has it
};

namespace reserve {

// The longest name of a file (its station, station-name) that a box shows,
// in bytes: enough to recognise it, and a box stays a box whatever the file
// holds. A longer one is cut between characters and "…" follows
// (cp932::Shortened).
constexpr size_t kMaxShownNameBytes = 64;

// The warning for a station that no channel matches:
// "<station>をチャンネル番号に変換できません\nStation.txtに設定してください",
// with "(stationName)" after "<station>" when stationName is not empty, so
// the user sees both the code and the name a line can give; each at most
// kMaxShownNameBytes. Throws only std::bad_alloc.
std::string UnknownStationText(const std::string& station, const std::string& stationName);

// What 放送局の登録 says about station: UnknownStationText's first line, as
// the box said it, then how the dialog goes on. Throws only std::bad_alloc.
std::string RegistrationText(const std::string& station, const std::string& stationName);

// The box when Station.txt cannot take the line: the reservation goes on
// with channel this time only. Throws only std::bad_alloc.
std::string NotRegisteredText(uint32_t channel);

// The channel the station registration suggests for station (a file's
// "station:" value): nnn of BSDTnnn and CSDTnnn (BS and CS channels are
// their numbers), the number of a remote-control key ("0004": "4"), else
// nothing. Throws only std::bad_alloc.
std::string SuggestedChannel(const std::string& station);

// The Station.txt line that registers station under channel, without a line
// end: "800 DFS00800 ＮＨＫ総合１・大阪" for a code (its name as a note),
// "8 フジテレビ" for a name (with stationName as a note when it differs and
// the name has no blank, which would make the whole rest the name). Throws
// only std::bad_alloc.
std::string StationLine(uint32_t channel, const std::string& station, const std::string& stationName);

}  // namespace reserve
