#pragma once
// Who runs the program, on which machine, and the local time: what a record of an update says
// besides the update's own facts.

#include <cstdint>
#include <string>

// The user's login name; "" when the system does not tell it.
std::string GetLoginName();
// The machine's name; "" when the system does not tell it.
std::string GetMachineName();

// A moment in local time, with its distance from UTC.
struct CLocalTime {
    int nYear = 1970;
    int nMonth = 1;  // 1 to 12
    int nDay = 1;    // 1 to 31
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
    int nMillisecond = 0;
    int nUtcOffsetMinutes = 0; // east of UTC positive: +60 for Central European winter time
};

// The local time now.
CLocalTime GetLocalTimeNow();
