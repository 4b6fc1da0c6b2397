#include "tests/support/TimeZone.h"

#include <cstdlib>
#include <ctime>

void UseJapanTime() {
    // The Windows runtime reads TZ in its own form (name, hours west of UTC),
    // not as a zone database name.
    _putenv("TZ=JST-9");
    _tzset();
}

void UseZoneWithDaylightSaving() {
    // The runtime applies its own summer-time rule to a zone with a
    // daylight-saving name; July is summer under any rule.
    _putenv("TZ=CET-1CEST");
    _tzset();
}
