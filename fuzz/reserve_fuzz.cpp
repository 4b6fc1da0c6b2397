// libFuzzer target for the reservation code that reads untrusted text: the
// iEPG header extraction, the splitting of files with several programmes,
// the "%d" / "%d : %d" / "%u%s" conversions, the building and formatting of
// the two times, the station table with its codes and the mail the file's
// title and station make. Besides the sanitizers' checks it compares the
// conversions with the C library's own wherever the library's result is
// defined, checks the split and the station lookup against the rules they
// promise, and checks the mail as MailChecks.h says.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/Cp932.h"
#include "fuzz/MailChecks.h"
#include "mail/MailAccount.h"
#include "mail/MailComposer.h"
#include "reserve/IepgParts.h"
#include "reserve/IepgText.h"
#include "reserve/ReserveTimes.h"
#include "reserve/Scan.h"
#include "reserve/StationTable.h"

namespace {

const char* const kKeys[] = {"station:", "year:", "month:", "date:", "start:", "end:"};

// Digits in the longest run of decimal digits of text.
size_t LongestDigitRun(std::string_view text) {
    size_t longest = 0;
    size_t run = 0;
    for (char c : text) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        if (run > longest) longest = run;
    }
    return longest;
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "mismatch: %s\n", what);
        std::abort();
    }
}

// The library's conversions are defined for numbers of up to nine digits.
constexpr size_t kSafeDigits = 9;

void CheckNumbers(const std::string& text) {
    const bool safe = LongestDigitRun(text) <= kSafeDigits;
    int value = 0;
    const bool ours = scan::ScanOneInt(text, value);
    if (safe) {
        int theirs = 0;
        const bool library = std::sscanf(text.c_str(), "%d", &theirs) == 1;
        Check(ours == library, "%d success");
        if (ours) Check(value == theirs, "%d value");
    }
    int h = 0, m = 0;
    const bool oursTime = scan::ScanIntColonInt(text, h, m);
    if (safe) {
        int th = 0, tm = 0;
        const bool library = std::sscanf(text.c_str(), "%d : %d", &th, &tm) == 2;
        Check(oursTime == library, "%d : %d success");
        if (oursTime) Check(h == th && m == tm, "%d : %d values");
    }
}

// A code as the table compares it: folded, a remote-control key as a number.
std::string CodeKey(const std::string& folded) {
    if (folded.find_first_not_of("0123456789") != std::string::npos) return folded;
    const size_t first = folded.find_first_not_of('0');
    return first == std::string::npos ? "0" : folded.substr(first);
}

// The table as the library's "%u%s" builds it, every name line adding its
// name to its channel, with the lines whose name is a broadcast code kept
// apart (code key to the lowest channel), for texts
// whose numbers and names stay within the library's defined range; false
// otherwise. channels counts every channel with a name or a code.
bool ReferenceTable(std::string_view text, std::multimap<uint32_t, std::string>& names,
                    std::map<std::string, uint32_t>& codes, std::map<uint32_t, bool>& channels) {
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t lf = text.find('\n', begin);
        const size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        const std::string line(text.substr(begin, end - begin));
        begin = end;
        if (LongestDigitRun(line) > kSafeDigits) return false;
        unsigned number = 0;
        char name[CStationTable::kMaxNameBytes + 2] = {};
        if (std::sscanf(line.c_str(), "%u%256s", &number, name) != 2) continue;
        if (std::strlen(name) > CStationTable::kMaxNameBytes) return false;
        channels[number] = true;
        const std::string folded = CStationTable::FoldName(name);
        if (CStationTable::IsStationCode(folded)) {
            const auto inserted = codes.emplace(CodeKey(folded), number);
            if (number < inserted.first->second) inserted.first->second = number;
        } else {
            names.emplace(number, name);
        }
    }
    return true;
}

void CheckStationTable(const std::string& text) {
    const CStationTable table(text.c_str());
    std::multimap<uint32_t, std::string> names;
    std::map<std::string, uint32_t> codes;
    std::map<uint32_t, bool> channels;
    if (!ReferenceTable(text, names, codes, channels)) return;
    Check(table.GetCount() == channels.size(), "station count");
    for (const auto& entry : names) {
        // The lowest channel with this name is the one found.
        uint32_t lowest = entry.first;
        for (const auto& other : names) {
            if (other.second == entry.second) {
                lowest = other.first;
                break;
            }
        }
        Check(table.GetChannel(entry.second.c_str()) == lowest, "station lookup");
    }
    for (const auto& code : codes) {
        if (code.second != 0) Check(table.FindStation(code.first, "") == code.second, "code lookup");
    }
}

std::string Cased(std::string text, bool upper) {
    for (char& c : text) {
        if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Whether text holds the header of a second programme: a line that begins,
// after white space, with "boundary:" or a second "Content-type:" (in any
// case). Written apart from the split's own scan.
bool HoldsTwoHeaders(std::string_view text) {
    int contentTypes = 0;
    for (size_t begin = 0; begin < text.size();) {
        size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(begin, end - begin));
        begin = end + 1;
        line.erase(0, line.find_first_not_of(" \t\n\v\f\r"));
        line = Cased(line.substr(0, 13), false);
        if (line.compare(0, 9, "boundary:") == 0) return true;
        if (line == "content-type:" && ++contentTypes > 1) return true;
    }
    return false;
}

// The split keeps its promises: a file with one programme is read whole,
// unless it holds a second programme's header; otherwise the parts lie in
// the text in order, never overlap, never hold a blank programme nor a
// second header, and are at most kMaxParts; a refusal leaves none.
void CheckParts(std::string_view text, iepg::PartsError error, const std::vector<std::string_view>& parts) {
    if (error != iepg::PartsError::kNone) {
        Check(parts.empty() && !iepg::PartsErrorText(error).empty(), "refusal");
        Check(iepg::IsMultiFile(text) == (error != iepg::PartsError::kUnrecognised), "refusal of its kind");
        return;
    }
    if (!iepg::IsMultiFile(text)) {
        Check(parts.size() == 1 && parts[0].data() == text.data() && parts[0].size() == text.size(), "whole file");
        Check(!HoldsTwoHeaders(text), "two programmes read as one");
        return;
    }
    Check(!parts.empty() && parts.size() <= iepg::kMaxParts, "part count");
    const char* previousEnd = text.data();
    for (std::string_view part : parts) {
        Check(part.data() >= previousEnd && part.data() + part.size() <= text.data() + text.size(), "part bounds");
        Check(part.find_first_not_of(" \t\n\v\f\r") != std::string_view::npos, "blank part");
        Check(!HoldsTwoHeaders(part), "two programmes in one part");
        previousEnd = part.data() + part.size();
    }
}

// One programme's keys, looked up in table as a reservation does.
void CheckProgramme(std::string_view part, const CStationTable& table) {
    iepg::Programme p;
    if (iepg::ReadProgramme(part, p) != nullptr) return;
    for (const std::string* value : {&p.stationName, &p.programId}) {
        for (char c : *value) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "control in a line value");
    }
    const uint32_t byStation = table.FindStation(p.station, "");
    const uint32_t channel = table.FindStation(p.station, p.stationName);
    Check(byStation == 0 || channel == byStation, "station before station-name");
    Check(table.FindChannel(p.station.c_str()) == byStation, "one-value lookup");
    // A value with blanks can equal a whole line exactly, which wins in any
    // case; a code written without blanks compares in no case.
    if (p.station.find_first_of(" \t") == std::string::npos &&
        CStationTable::IsStationCode(CStationTable::FoldName(p.station))) {
        Check(table.FindStation(Cased(p.station, true), p.stationName) ==
                  table.FindStation(Cased(p.station, false), p.stationName),
              "code case");
    }
    const std::string box = reserve::UnknownStationText(p.station, p.stationName);
    const std::string shown = cp932::Shortened(p.station, reserve::kMaxShownNameBytes);
    Check(box.compare(0, shown.size() + 2, "<" + shown + ">") == 0, "warning names the station");
    const size_t ellipsis = std::string("…").size();
    const size_t kept = shown == p.station ? shown.size() : shown.size() - ellipsis;
    Check(kept <= reserve::kMaxShownNameBytes && p.station.compare(0, kept, shown, 0, kept) == 0,
          "a name in a box is bounded and its beginning");
    Check(box.size() <= 2 * (reserve::kMaxShownNameBytes + ellipsis) + 200, "a bounded box");
}

// The mail for the file's title and station: in a header field of their own
// each, with text after the title, and in the body.
void CheckMail(const std::string& text) {
    std::string title;
    std::string station;
    iepg::ExtractValue(text, "program-title:", title);
    iepg::ExtractValue(text, "station:", station);
    MailAccount account;
    account.sender = "rec@example.jp";
    account.recipient = "to@example.jp";
    tm start{};
    start.tm_year = 104;
    const ComposedBody body =
        ComposeBody("Subject: %titl% ch%chno%\r\nX-Station: %stat%\r\n\r\n%titl%\r\n%stat%\r\n.\r\n", account,
                    {start, start, 8, title, station}, 0);
    const std::string message = FinishMessage(body, account, start, 0x0100007f);
    mailcheck::CheckData(message);
    mailcheck::CheckHeaderLines(message);
    Check(mailcheck::FieldValue(message, "Subject", " ch8") == mailcheck::CutValue(title), "the title's field");
    Check(mailcheck::FieldValue(message, "X-Station", "") == mailcheck::CutValue(station), "the station's field");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "Asia/Tokyo", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The driver sees the file as a C string: it ends at the first NUL.
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string text(raw.c_str());

    std::string values[6];
    bool all = true;
    for (int i = 0; i < 6; ++i) {
        if (!iepg::ExtractValue(text, kKeys[i], values[i])) {
            all = false;
            continue;
        }
        const size_t at = iepg::FindKey(text, kKeys[i]);
        Check(at != std::string::npos && text.compare(at, std::strlen(kKeys[i]), kKeys[i]) == 0, "key position");
        CheckNumbers(values[i]);
    }
    CheckNumbers(text);

    const CStationTable table(text.c_str());
    if (all) {
        const uint32_t exact = table.GetChannel(values[0].c_str());
        Check(exact == 0 || table.FindChannel(values[0].c_str()) == exact, "an exact match wins");
        tm start{};
        tm end{};
        if (reserve::BuildTimes(values[1], values[2], values[3], values[4], values[5], start, end)) {
            // Adjustments from the input's size: any int, both signs.
            const int startAdjust = static_cast<int>(static_cast<uint32_t>(size) * 2654435761u);
            const int endAdjust = static_cast<int>(static_cast<uint32_t>(size) * 40503u) - 1000000;
            if (reserve::AdjustTime(start, startAdjust) && reserve::AdjustTime(end, endAdjust)) {
                Check(!reserve::AsctimeText(start).empty() && !reserve::AsctimeText(end).empty(), "asctime");
                Check(!reserve::ConfirmationText(start, end, 1).empty(), "confirmation");
            }
        }
    }
    CheckStationTable(text);
    CheckMail(text);

    std::vector<std::string_view> parts;
    const iepg::PartsError error = iepg::SplitParts(text, parts);
    CheckParts(text, error, parts);
    for (std::string_view part : parts) CheckProgramme(part, table);
    // The bytes after a NUL never reach the split; it keeps its promises on
    // them all the same.
    if (text.size() < raw.size()) {
        std::vector<std::string_view> rawParts;
        CheckParts(raw, iepg::SplitParts(raw, rawParts), rawParts);
    }
    return 0;
}
