#include "tests/support/TimeZone.h"

#include <cstdlib>
#include <ctime>

void UseJapanTime() {
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
}

void UseZoneWithDaylightSaving() {
    // The rule is spelt out, so no zone database is needed.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
}
