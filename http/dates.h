// Dates of HTTP headers and of Drive file resources, as FILETIME values.
#pragma once

#include <windows.h>

#include <rapidjson/document.h>

namespace gd {

// Broken-down time; every field starts at 0 for each format tried.
struct BrokenDownTime {
    int seconds = 0;
    int minutes = 0;
    int hours = 0;
    int day_of_month = 0; // 1-31
    int month = 0;        // 0-11
    int years_since_1900 = 0;
    int day_of_week = 0; // 0 = Sunday
    int daylight_saving = 0;
};

// Matches text against a strptime-like format (%a %A %b %B %h %d %e %H %M %S
// %m %Y %y %n %t %%). Returns the position after the last matched field, or
// nullptr. Text left after the format's end is ignored.
const wchar_t* ParseDateWithFormat(const wchar_t* text, const wchar_t* format,
                                   BrokenDownTime& time);

// The time taken as UTC; days past the month's end carry into the next month.
ULONGLONG ToFileTimeValue(const BrokenDownTime& time);

// RFC 1123, RFC 850, asctime or ISO 8601 (as Drive sends it). Anything after
// the last field (a zone, fractions of a second) is ignored. fileTime is
// written only on success.
bool ParseHttpDate(const wchar_t* text, FILETIME* fileTime);

// S_OK when object has a string member `name` that parses; else S_FALSE with
// fileTime zeroed.
HRESULT GetDateMember(const rapidjson::Value& object, const char* name, FILETIME* fileTime);

} // namespace gd
