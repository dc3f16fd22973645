// Dates: a DateValue counts the seconds from 1970-01-01 00:00:00 to a moment of
// the local wall clock, every day 86400 seconds, Gregorian calendar, with no time
// zone or daylight-saving shift: read back as if it were UTC it gives exactly the
// wall-clock fields it was made from. The full 64 bits are used, so moments after
// 2038 are ordinary values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using DateValue = int64_t;

// MakeDate's result for a date that does not exist or cannot be represented.
constexpr DateValue ImpossibleDate = -1;

// The local wall clock's date and time, to the second (a leap second reads as
// second 59). ImpossibleDate when the clock cannot be read or lies outside the
// range MakeDate accepts.
DateValue LocalNow();

// The DateValue of a wall-clock moment. ImpossibleDate when a field is out of
// range (second or minute above 59, hour above 23, day outside 1-31 or beyond the
// month's last day, month outside 1-12, any field negative) and for every moment
// outside 1970-01-01 00:00:00 to 9999-12-31 23:59:59: a DateValue is never
// negative, so -1 stays unambiguous.
DateValue MakeDate(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                   int64_t second);

// The mask with each token replaced by a field of date. A token is "%" followed
// by one of "yyyy", "yy", "mm", "dd", "hh", "ii", "ss" in any letter case, tried
// in that order ("%yyy" is the two-digit year and a "y"):
//   %yyyy  year, at least 4 digits     %yy  year modulo 100, 2 digits
//   %mm    month 01-12                 %dd  day 01-31
//   %hh    hour 00-23                  %ii  minute 00-59     %ss  second 00-59
// A "%" that starts no token is copied, and the scan goes on at the next byte
// ("%%dd" gives "%" and the day). A negative date has every field 0: "0000" and
// "00".
std::string DateText(std::string_view mask, DateValue date);
