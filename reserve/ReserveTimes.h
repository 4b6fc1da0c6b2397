// The reservation's two times: built from the texts of an iEPG header,
// shifted by the configured adjustments, and the texts that show them.
// Every function works on its arguments only and throws only std::bad_alloc.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace reserve {

// Builds the start and end records from the header's value texts: year,
// month and date each converted as by "%d", the start and end times as by
// "%d : %d" (hours, then minutes). Sets tm_year = year - 1900,
// tm_mon = month - 1, tm_mday, tm_hour, tm_min, tm_sec = 0 and tm_isdst = 0
// (standard time); the end takes the start's date. No field is range-checked:
// AdjustTime normalises them later. When the end's time of day is earlier than
// the start's (as read, before any adjustment) the end moves to the next day.
// Returns false when a text holds no number where one is needed, or when a
// number or the arithmetic on it does not fit in int; start and end are
// then unspecified.
bool BuildTimes(const std::string& year, const std::string& month, const std::string& date,
                const std::string& startTime, const std::string& endTime, tm& start, tm& end);

// Adds minutes to t's minutes and normalises t as a calendar time of no time
// zone (which also fills tm_wday and tm_yday), so the wall-clock time stays
// as written whatever zone the PC is set to. Returns false when the sum does
// not fit in int or the runtime cannot represent the time.
bool AdjustTime(tm& t, int minutes);

// The asctime text of t ("Wed Jan 02 02:03:55 1980\n" style, ending in a
// line feed). Within the years asctime is defined for, the C runtime's own
// text; outside them (where asctime is undefined or fails) the same layout
// as the C standard gives it, with the year in as many digits as it needs.
std::string AsctimeText(const tm& t);

// The weekday's one-character Japanese name for tm_wday (0 = Sunday); "?"
// for a value outside 0..6.
const char* WeekdayName(int wday);

// The question that asks the user to confirm: the start's date, weekday and
// time, the end's time and the channel.
std::string ConfirmationText(const tm& start, const tm& end, uint32_t channel);

}  // namespace reserve
