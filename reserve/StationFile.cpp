#include "reserve/StationFile.h"

#include <string_view>

#include "platform/platform.h"
#include "reserve/Scan.h"

namespace reserve {

namespace {

// The line's row, when it maps a channel; the rules are the table's.
bool ReadRow(std::string_view line, StationRow* row) {
    size_t next = 0;
    std::string_view name;
    if (!scan::ScanUnsigned32(line, 0, row->channel, next)) return false;
    if (!scan::ScanWord(line, next, name, next)) return false;
    size_t restEnd = line.size();
    while (restEnd > next && scan::IsSpace(line[restEnd - 1])) --restEnd;
    const size_t noteStart = scan::SkipSpace(line, next);
    row->name = std::string(name);
    row->note = noteStart < restEnd ? std::string(line.substr(noteStart, restEnd - noteStart)) : std::string();
    return true;
}

// The line end line has ("\r\n", "\n" or none), in code page 932.
std::string EndOf(const std::string& line) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) return "\r\n";
    return !line.empty() && line.back() == '\n' ? "\n" : "";
}

// Adds line (without a line end) to lines as their last, ended as they
// are; a last line without a line end gets one first.
bool AddLine(text::Lines& lines, const std::string& line) {
    const std::string end = text::LineEnd(lines);
    std::string bytes;
    if (!lines.text.empty() && EndOf(lines.text.back()).empty()) {
        if (!text::Encode(end, lines.encoding, &bytes)) return false;
        lines.raw.back() += bytes;
        lines.text.back() += end;
    }
    if (!text::Encode(line + end, lines.encoding, &bytes)) return false;
    lines.raw.push_back(bytes);
    lines.text.push_back(line + end);
    return true;
}

}  // namespace

bool AppendStationLine(const text::Lines& file, const std::string& line, std::string* raw) {
    text::Lines grown = file;
    if (!AddLine(grown, line)) return false;
    *raw = text::JoinRaw(grown);
    return true;
}

bool AppendToStationFile(const std::string& path, const std::string& line) {
    std::string raw;
    if (!plat::ReadWholeFile(path, &raw)) raw.clear();
    text::Lines file;
    if (text::ReadLines(raw, &file) != 0) return false;
    std::string grown;
    return AppendStationLine(file, line, &grown) && plat::ReplaceWholeFile(path, grown);
}

std::vector<StationRow> StationRows(const text::Lines& file) {
    std::vector<StationRow> rows;
    for (size_t i = 0; i < file.text.size(); ++i) {
        StationRow row;
        row.line = i + 1;
        if (ReadRow(file.text[i], &row)) rows.push_back(row);
    }
    return rows;
}

std::string RowLine(const StationRow& row) {
    return std::to_string(row.channel) + " " + row.name + (row.note.empty() ? "" : " " + row.note);
}

bool SaveStationRows(const text::Lines& file, const std::vector<StationRow>& rows, std::string* raw) {
    text::Lines saved = file;
    saved.raw.clear();
    saved.text.clear();
    std::vector<const StationRow*> byLine(file.text.size() + 1, nullptr);
    for (const StationRow& row : rows) {
        if (row.line != 0 && row.line <= file.text.size()) byLine[row.line] = &row;
    }
    for (size_t i = 0; i < file.text.size(); ++i) {
        StationRow was;
        const bool mapped = ReadRow(file.text[i], &was);
        const StationRow* now = byLine[i + 1];
        if (mapped && now == nullptr) continue;  // removed
        if (mapped && (now->channel != was.channel || now->name != was.name || now->note != was.note)) {
            const std::string line = RowLine(*now) + EndOf(file.text[i]);
            std::string bytes;
            if (!text::Encode(line, file.encoding, &bytes)) return false;
            saved.raw.push_back(bytes);
            saved.text.push_back(line);
            continue;
        }
        saved.raw.push_back(file.raw[i]);
        saved.text.push_back(file.text[i]);
    }
    for (const StationRow& row : rows) {
        if (row.line != 0 && row.line <= file.text.size()) continue;
        if (!AddLine(saved, RowLine(row))) return false;
    }
    *raw = text::JoinRaw(saved);
    return true;
}

std::string CheckStationRow(const StationRow& row) {
    if (row.name.empty()) return "局名またはコードを入力してください";
    for (const std::string* field : {&row.name, &row.note}) {
        if (field->size() > kMaxStationFieldBytes) return "局名とメモは255バイトまでです";
        for (const char c : *field) {
            if (c == '\r' || c == '\n') return "改行は入力できません";
        }
    }
    for (const char c : row.name) {
        if (scan::IsSpace(c)) return "局名またはコードに空白は入れられません\n(空白の後ろはメモになります)";
    }
    return "";
}

}  // namespace reserve
