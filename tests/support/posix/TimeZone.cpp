#include "tests/support/TimeZone.h"

#include <cstdlib>
#include <ctime>

void UseJapanTime() {
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
}
