// Test support: broken-down times written the way people read them.
#pragma once

#include <ctime>

// A tm record with the calendar month (January = 1) and the full year, not
// normalised; wday and yday are given, not computed.
inline tm MakeTm(int year, int month, int day, int hour, int minute, int second = 0, int wday = 0,
                 int yday = 0) {
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_wday = wday;
    t.tm_yday = yday;
    return t;
}
