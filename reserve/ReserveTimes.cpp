#include "reserve/ReserveTimes.h"

#include <climits>

#include "afx/CString.h"
#include "platform/platform.h"
#include "reserve/Scan.h"

namespace reserve {

namespace {

// out = a + b when the sum fits in int.
bool AddChecked(int a, long long b, int& out) {
    const long long sum = static_cast<long long>(a) + b;
    if (sum < INT_MIN || sum > INT_MAX) return false;
    out = static_cast<int>(sum);
    return true;
}

// The years for which the C standard defines asctime (four digits) and which
// every runtime we build with formats (the Windows runtime refuses years
// before 1900).
constexpr long long kAsctimeFirstYear = 1900;
constexpr long long kAsctimeLastYear = 9999;

bool InNormalRanges(const tm& t) {
    return t.tm_sec >= 0 && t.tm_sec <= 60 && t.tm_min >= 0 && t.tm_min <= 59 && t.tm_hour >= 0 &&
           t.tm_hour <= 23 && t.tm_mday >= 1 && t.tm_mday <= 31 && t.tm_mon >= 0 && t.tm_mon <= 11 &&
           t.tm_wday >= 0 && t.tm_wday <= 6;
}

}  // namespace

bool BuildTimes(const std::string& year, const std::string& month, const std::string& date,
                const std::string& startTime, const std::string& endTime, tm& start, tm& end) {
    start = tm();
    end = tm();
    int number = 0;
    if (!scan::ScanOneInt(year, number) || !AddChecked(number, -1900, start.tm_year)) return false;
    if (!scan::ScanOneInt(month, number) || !AddChecked(number, -1, start.tm_mon)) return false;
    if (!scan::ScanOneInt(date, start.tm_mday)) return false;
    start.tm_isdst = 0;  // standard time: Japan keeps no daylight saving time
    end.tm_year = start.tm_year;
    end.tm_mon = start.tm_mon;
    end.tm_mday = start.tm_mday;
    end.tm_isdst = start.tm_isdst;
    if (!scan::ScanIntColonInt(startTime, start.tm_hour, start.tm_min)) return false;
    start.tm_sec = 0;
    if (!scan::ScanIntColonInt(endTime, end.tm_hour, end.tm_min)) return false;
    end.tm_sec = 0;

    // A programme that ends earlier in the day than it starts runs past
    // midnight. Equal times stay on the same day.
    if (end.tm_hour < start.tm_hour || (end.tm_hour == start.tm_hour && end.tm_min < start.tm_min)) {
        if (!AddChecked(end.tm_mday, 1, end.tm_mday)) return false;
    }
    return true;
}

bool AdjustTime(tm& t, int minutes) {
    if (!AddChecked(t.tm_min, minutes, t.tm_min)) return false;
    // iEPG times are Japanese wall-clock times: the PC's own zone, and its
    // daylight saving rules, must not move them.
    return plat::NormaliseCalendarTime(t);
}

std::string AsctimeText(const tm& t) {
    const long long year = static_cast<long long>(t.tm_year) + 1900;
    if (InNormalRanges(t) && year >= kAsctimeFirstYear && year <= kAsctimeLastYear) {
        tm copy = t;
        if (const char* text = std::asctime(&copy)) return text;
    }
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day = t.tm_wday >= 0 && t.tm_wday <= 6 ? kDays[t.tm_wday] : "???";
    const char* mon = t.tm_mon >= 0 && t.tm_mon <= 11 ? kMonths[t.tm_mon] : "???";
    CString text;
    text.Format("%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n", day, mon, t.tm_mday, t.tm_hour, t.tm_min,
                t.tm_sec, year);
    return text.str();
}

const char* WeekdayName(int wday) {
    static const char* const kNames[] = {"日", "月", "火", "水", "木", "金", "土"};
    return wday >= 0 && wday <= 6 ? kNames[wday] : "?";
}

std::string ConfirmationText(const tm& start, const tm& end, uint32_t channel) {
    // Wider arithmetic: after normalising, the year may be near INT_MAX.
    CString text;
    text.Format("%lld/%02lld/%02d(%s) %02d:%02d～%02d:%02d\n%uチャンネルで予約を実行します\nよろしいですか？",
                static_cast<long long>(start.tm_year) + 1900, static_cast<long long>(start.tm_mon) + 1,
                start.tm_mday, WeekdayName(start.tm_wday), start.tm_hour, start.tm_min, end.tm_hour,
                end.tm_min, static_cast<unsigned>(channel));
    return text.str();
}

}  // namespace reserve
