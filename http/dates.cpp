#include "http/dates.h"

#include "errors/check.h"
#include "http/encoding.h"

#include <climits>
#include <string>

namespace gd {

namespace {

// English and fixed: header dates never follow the user's locale.
constexpr const wchar_t* kDayNames[7][2] = {
    {L"Sunday", L"Sun"},   {L"Monday", L"Mon"}, {L"Tuesday", L"Tue"}, {L"Wednesday", L"Wed"},
    {L"Thursday", L"Thu"}, {L"Friday", L"Fri"}, {L"Saturday", L"Sat"}};
constexpr const wchar_t* kMonthNames[12][2] = {
    {L"January", L"Jan"},   {L"February", L"Feb"}, {L"March", L"Mar"},    {L"April", L"Apr"},
    {L"May", L"May"},       {L"June", L"Jun"},     {L"July", L"Jul"},     {L"August", L"Aug"},
    {L"September", L"Sep"}, {L"October", L"Oct"},  {L"November", L"Nov"}, {L"December", L"Dec"}};

// Formats tried in order: RFC 1123, RFC 850, asctime, ISO 8601.
constexpr const wchar_t* kHttpDateFormats[] = {L"%a, %e %b %Y %H:%M:%S", L"%a, %e-%b-%y %H:%M:%S",
                                               L"%a %b %e %H:%M:%S %Y", L"%Y-%m-%dT%H:%M:%S"};

constexpr LONGLONG kSecondsFrom1601To1970 = 11644473600LL;
constexpr LONGLONG kFileTimeUnitsPerSecond = 10000000LL;

wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c;
}

bool IsSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

// Length of name when text starts with it, ignoring case; else 0.
size_t MatchName(const wchar_t* text, const wchar_t* name) {
    size_t i = 0;
    for (; name[i] != 0; ++i)
        if (AsciiLower(text[i]) != AsciiLower(name[i]))
            return 0;
    return i;
}

// For each entry the full name is tried before the abbreviation.
template <size_t N>
bool ParseName(const wchar_t*& text, const wchar_t* const (&names)[N][2], int& value) {
    for (size_t i = 0; i < N; ++i) {
        for (const wchar_t* name : names[i]) {
            if (size_t length = MatchName(text, name)) {
                text += length;
                value = static_cast<int>(i);
                return true;
            }
        }
    }
    return false;
}

// One or more digits (no sign, no blank) whose value lies in [low, high].
bool ParseNumber(const wchar_t*& text, int low, int high, int& value) {
    if (*text < L'0' || *text > L'9')
        return false;
    long long number = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text)
        if (number <= INT_MAX) // any longer run is out of range anyway
            number = number * 10 + (*text - L'0');
    if (number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool ParseDirective(wchar_t directive, const wchar_t*& text, BrokenDownTime& time) {
    switch (directive) {
    case L'%':
        if (*text != L'%')
            return false;
        ++text;
        return true;
    case L'a':
    case L'A':
        return ParseName(text, kDayNames, time.day_of_week);
    case L'b':
    case L'B':
    case L'h':
        return ParseName(text, kMonthNames, time.month);
    case L'H':
        return ParseNumber(text, 0, 23, time.hours);
    case L'M':
        return ParseNumber(text, 0, 59, time.minutes);
    case L'S':
        return ParseNumber(text, 0, 60, time.seconds); // a leap second
    case L'd':
    case L'e':
        return ParseNumber(text, 1, 31, time.day_of_month);
    case L'm':
        if (!ParseNumber(text, 1, 12, time.month))
            return false;
        --time.month;
        return true;
    case L'Y':
        if (!ParseNumber(text, 1900, 9999, time.years_since_1900))
            return false;
        time.years_since_1900 -= 1900;
        return true;
    case L'y':
        if (!ParseNumber(text, 0, 99, time.years_since_1900))
            return false;
        if (time.years_since_1900 < 69)
            time.years_since_1900 += 100; // 00-68 mean 2000-2068
        return true;
    case L'n':
    case L't':
        while (IsSpace(*text))
            ++text;
        return true;
    default:
        return false;
    }
}

// Days since 1970-01-01 of a proleptic Gregorian date; a day past the month's
// end simply counts on into the next month.
LONGLONG DaysFromCivil(LONGLONG year, int month, int day) {
    year -= month <= 2;
    LONGLONG era = (year >= 0 ? year : year - 399) / 400;
    LONGLONG yearOfEra = year - era * 400;
    LONGLONG dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    LONGLONG dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

const wchar_t* ParseDateWithFormat(const wchar_t* text, const wchar_t* format,
                                   BrokenDownTime& time) {
    if (text == nullptr || format == nullptr)
        return nullptr;
    while (*format != 0) {
        if (*text == 0)
            return nullptr;
        if (*format != L'%') {
            if (*format++ != *text++)
                return nullptr;
            continue;
        }
        wchar_t directive = format[1];
        if (directive == 0)
            return nullptr;
        format += 2;
        if (!ParseDirective(directive, text, time))
            return nullptr;
    }
    return text;
}

ULONGLONG ToFileTimeValue(const BrokenDownTime& time) {
    LONGLONG days =
        DaysFromCivil(1900LL + time.years_since_1900, time.month + 1, time.day_of_month);
    LONGLONG seconds = days * 86400 + time.hours * 3600LL + time.minutes * 60LL + time.seconds;
    return static_cast<ULONGLONG>((seconds + kSecondsFrom1601To1970) * kFileTimeUnitsPerSecond);
}

bool ParseHttpDate(const wchar_t* text, FILETIME* fileTime) {
    if (text == nullptr || fileTime == nullptr)
        return false;
    for (const wchar_t* format : kHttpDateFormats) {
        BrokenDownTime time;
        if (ParseDateWithFormat(text, format, time) == nullptr)
            continue;
        ULONGLONG value = ToFileTimeValue(time);
        fileTime->dwLowDateTime = static_cast<DWORD>(value);
        fileTime->dwHighDateTime = static_cast<DWORD>(value >> 32);
        return true;
    }
    return false;
}

HRESULT GetDateMember(const rapidjson::Value& object, const char* name, FILETIME* fileTime) {
    RETURN_HR_IF_NULL(E_POINTER, fileTime);
    *fileTime = FILETIME{};
    if (!object.IsObject() || name == nullptr)
        return S_FALSE;
    auto member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsString())
        return S_FALSE;
    return RunGuarded([&]() -> HRESULT {
        std::wstring text =
            FromUtf8(std::string_view(member->value.GetString(), member->value.GetStringLength()));
        return ParseHttpDate(text.c_str(), fileTime) ? S_OK : S_FALSE;
    });
}

} // namespace gd
