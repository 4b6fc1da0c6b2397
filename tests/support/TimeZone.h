// Test support: pins the local time zone of the test process, so that
// mktime and localtime give the same results on every machine.
#pragma once

// Sets the process's local time zone to Japan Standard Time (UTC+9, no
// daylight saving time), the zone of the program's users, and makes the C
// runtime take it up at once.
void UseJapanTime();
