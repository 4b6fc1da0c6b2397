// libFuzzer target for the reservation code that reads untrusted text: the
// iEPG header extraction, the "%d" / "%d : %d" / "%u%s" conversions, the
// building and formatting of the two times, and the station table. Besides
// the sanitizers' checks it compares the conversions with the C library's
// own wherever the library's result is defined.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/MailChecks.h"
#include "mail/MailAccount.h"
#include "mail/MailComposer.h"
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

// The table as the library's "%u%s" builds it, for texts whose numbers and
// names stay within the library's defined range; false otherwise.
bool ReferenceTable(std::string_view text, std::map<uint32_t, std::string>& table) {
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
        table[number] = name;
    }
    return true;
}

void CheckStationTable(const std::string& text) {
    const CStationTable table(text.c_str());
    std::map<uint32_t, std::string> reference;
    if (!ReferenceTable(text, reference)) return;
    Check(table.GetCount() == reference.size(), "station count");
    for (const auto& entry : reference) {
        // The lowest channel with this name is the one found.
        uint32_t lowest = entry.first;
        for (const auto& other : reference) {
            if (other.second == entry.second) {
                lowest = other.first;
                break;
            }
        }
        Check(table.GetChannel(entry.second.c_str()) == lowest, "station lookup");
    }
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
    return 0;
}
