// Station.txt as the program writes it: one line appended by the station
// registration, or the table's rows as the user edited them. Either way
// every line nobody changed keeps its bytes, and the file keeps its encoding
// (text::Lines) and its line ends; the caller writes the result in one step
// (plat::ReplaceWholeFile), so the file is the whole old one or the whole
// new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/TextFile.h"

namespace reserve {

// The longest name or note the table's editor takes, in bytes: what a line
// of the table can name (CStationTable::kMaxNameBytes).
constexpr size_t kMaxStationFieldBytes = 255;

// file's bytes with line (code page 932, without a line end) added as its
// last line, in file's encoding, ended as its lines are (text::LineEnd); a
// last line without a line end gets one first. false when line is not code
// page 932 text. Throws only std::bad_alloc.
bool AppendStationLine(const text::Lines& file, const std::string& line, std::string* raw);

// Appends line to the file at path (UTF-8) as AppendStationLine does, from
// the file as it is now, in one step (plat::ReplaceWholeFile): the file is
// the whole old one or the whole new one. false, the file as it was, when it
// cannot be read (a missing file is written new, in code page 932), holds a
// character with no code page 932 form, or cannot be replaced. Throws only
// std::bad_alloc.
bool AppendToStationFile(const std::string& path, const std::string& line);

// One line of Station.txt that maps a channel, as the table's editor shows
// it.
struct StationRow {
    uint32_t channel = 0;
    std::string name;  // the station's name or code: the first word after the number
    std::string note;  // the rest of the line, trimmed; empty for none
    size_t line = 0;   // 1-based line of the file; 0 for a row the user added
};

// The rows of file, in file order: every line that gives a number and a
// name as the station table reads it (CStationTable). Throws only
// std::bad_alloc.
std::vector<StationRow> StationRows(const text::Lines& file);

// The text of a row's line, without a line end: "1 ＮＨＫ総合 メモ".
std::string RowLine(const StationRow& row);

// file's bytes with rows as edited: each row with a line keeps that line's
// bytes when its fields are still those the line gives, else the line is
// written anew (RowLine) with the line's own line end; the lines of rows no
// longer there are dropped; every other line (comments, blank lines) stays
// where it was; rows without a line are appended (AppendStationLine). false
// when a row's text is not code page 932. Throws only std::bad_alloc.
bool SaveStationRows(const text::Lines& file, const std::vector<StationRow>& rows, std::string* raw);

// Why a row as typed cannot be saved, as a prompt (code page 932), or empty
// when it can: a name is needed, and holds no blank (the first word is the
// name); name and note within kMaxStationFieldBytes; neither holds a line
// break. Throws only std::bad_alloc.
std::string CheckStationRow(const StationRow& row);

}  // namespace reserve
