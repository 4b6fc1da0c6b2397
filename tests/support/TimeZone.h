// Test support: pins the local time zone of the test process, so that
// mktime and localtime give the same results on every machine.
#pragma once

// Sets the process's local time zone to Japan Standard Time (UTC+9, no
// daylight saving time), the zone of the program's users, and makes the C
// runtime take it up at once.
void UseJapanTime();

// Sets the process's local time zone to Central European Time with its
// summer time (UTC+1, UTC+2 in summer): a zone whose daylight saving would
// shift a time normalised in it.
void UseZoneWithDaylightSaving();
