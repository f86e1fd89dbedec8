#include "http/dates.h"

#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <string>

namespace gd {
namespace {

// The platform's own conversion is the reference.
ULONGLONG Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    FILETIME fileTime = {};
    EXPECT_TRUE(SystemTimeToFileTime(&time, &fileTime));
    return ULARGE_INTEGER{{fileTime.dwLowDateTime, fileTime.dwHighDateTime}}.QuadPart;
}

ULONGLONG ValueOf(const FILETIME& fileTime) {
    return ULARGE_INTEGER{{fileTime.dwLowDateTime, fileTime.dwHighDateTime}}.QuadPart;
}

constexpr FILETIME kUntouched = {0x12345678, 0x9ABCDEF};

TEST(DateParseHttpDate, AcceptsTheFourFormsAsUtc) {
    struct Case {
        const wchar_t* text;
        ULONGLONG expected;
    } cases[] = {
        {L"2015-03-01T10:20:30.000Z", Utc(2015, 3, 1, 10, 20, 30)},
        {L"2015-03-01T10:20:30", Utc(2015, 3, 1, 10, 20, 30)},
        {L"2015-03-01T10:20:30+02:00", Utc(2015, 3, 1, 10, 20, 30)}, // the zone is ignored
        {L"Sun, 06 Nov 1994 08:49:37 GMT", Utc(1994, 11, 6, 8, 49, 37)},
        {L"Sunday, 06 Nov 1994 08:49:37 GMT", Utc(1994, 11, 6, 8, 49, 37)},
        {L"sun, 6 NOVEMBER 1994 08:49:37", Utc(1994, 11, 6, 8, 49, 37)},
        {L"Sunday, 06-Nov-94 08:49:37 GMT", Utc(1994, 11, 6, 8, 49, 37)},
        {L"Thu, 01-Jan-68 00:00:00 GMT", Utc(2068, 1, 1, 0, 0, 0)},
        {L"Wed, 01-Jan-69 00:00:00 GMT", Utc(1969, 1, 1, 0, 0, 0)},
        {L"Wed, 01-Jan-00 00:00:00 GMT", Utc(2000, 1, 1, 0, 0, 0)},
        {L"Sun Nov 16 08:49:37 1994", Utc(1994, 11, 16, 8, 49, 37)},
        {L"Mon, 30 Feb 2015 12:00:00 GMT", Utc(2015, 3, 2, 12, 0, 0)}, // carried over
        {L"Tue, 30 Feb 2016 12:00:00 GMT", Utc(2016, 3, 1, 12, 0, 0)}, // leap year
        {L"Wed, 31 Dec 2014 23:59:60 GMT", Utc(2015, 1, 1, 0, 0, 0)},  // leap second
        {L"Sat, 01 Jan 1900 00:00:00 GMT", Utc(1900, 1, 1, 0, 0, 0)},
        {L"Fri, 31 Dec 9999 23:59:59 GMT", Utc(9999, 12, 31, 23, 59, 59)},
    };
    for (const auto& c : cases) {
        FILETIME fileTime = kUntouched;
        EXPECT_TRUE(ParseHttpDate(c.text, &fileTime)) << c.text;
        EXPECT_EQ(ValueOf(fileTime), c.expected) << c.text;
    }
}

TEST(DateParseHttpDate, RejectsWhatNoFormMatchesAndLeavesTheValue) {
    const wchar_t* texts[] = {
        L"",
        L"yesterday",
        L"Sun Nov  6 08:49:37 1994", // a blank before a single-digit day
        L"Sun, 06 Nov 1994 08:49",   // the text ends before the format
        L"Sun, 32 Nov 1994 08:49:37 GMT",
        L"Sun, 00 Nov 1994 08:49:37 GMT",
        L"Sun, 06 Nov 1994 24:00:00 GMT",
        L"Sun, 06 Nov 1994 08:60:00 GMT",
        L"Sun, 06 Nov 1994 08:49:61 GMT",
        L"Sun, 06 Nov 1899 08:49:37 GMT",
        L"Sun, 06 Nox 1994 08:49:37 GMT",
        L"Sun; 06 Nov 1994 08:49:37 GMT",
        L"Sun, +6 Nov 1994 08:49:37 GMT",
        L"2015-13-01T10:20:30Z",
        L"2015-00-01T10:20:30Z",
        L"2015-03-01 10:20:30Z",
        L"2015-03-01t10:20:30Z", // literals are case-sensitive
    };
    for (const wchar_t* text : texts) {
        FILETIME fileTime = kUntouched;
        EXPECT_FALSE(ParseHttpDate(text, &fileTime)) << text;
        EXPECT_EQ(ValueOf(fileTime), ValueOf(kUntouched)) << text;
    }
    FILETIME fileTime = kUntouched;
    EXPECT_FALSE(ParseHttpDate(nullptr, &fileTime));
    EXPECT_FALSE(ParseHttpDate(L"2015-03-01T10:20:30Z", nullptr));
}

TEST(DateParseWithFormat, FillsTheFieldsAndReturnsWhereMatchingStopped) {
    const wchar_t* text = L"Monday 7 March 2011 +rest";
    BrokenDownTime time;
    const wchar_t* end = ParseDateWithFormat(text, L"%A %d %B %Y", time);
    ASSERT_NE(end, nullptr);
    EXPECT_STREQ(end, L" +rest");
    EXPECT_EQ(time.day_of_week, 1);
    EXPECT_EQ(time.day_of_month, 7);
    EXPECT_EQ(time.month, 2);
    EXPECT_EQ(time.years_since_1900, 111);
    EXPECT_EQ(time.hours, 0);
}

TEST(DateParseWithFormat, Directives) {
    struct Case {
        const wchar_t* text;
        const wchar_t* format;
        const wchar_t* rest; // nullptr: no match
    } cases[] = {
        {L"anything", L"", L"anything"},
        {L"50%", L"%M%%", L""},
        {L"50x", L"%M%%", nullptr},
        {L"12 \t\n34", L"%H%n%M", L""},
        {L"1234", L"%H%t%M", nullptr}, // 1234 is no hour
        {L"12-34", L"%H%t-%M", L""},   // no white space to skip
        {L"Jun 5", L"%h %e", L""},
        {L"0000000000002015", L"%Y", L""}, // any count of digits
        {L"99999999999999999999", L"%Y", nullptr},
        {L"12", L"%q", nullptr},
        {L"12", L"%H%", nullptr},
        {L"May", L"%b", L""},
        {L"Thursday", L"%a", L""},
        {L"Thurs", L"%a", L"rs"},
    };
    for (const auto& c : cases) {
        BrokenDownTime time;
        const wchar_t* end = ParseDateWithFormat(c.text, c.format, time);
        if (c.rest == nullptr) {
            EXPECT_EQ(end, nullptr) << c.text << " / " << c.format;
        } else {
            ASSERT_NE(end, nullptr) << c.text << " / " << c.format;
            EXPECT_STREQ(end, c.rest) << c.text << " / " << c.format;
        }
    }
}

TEST(DateGetDateMember, ParsesAStringMemberAndZeroesOtherwise) {
    rapidjson::Document document;
    document.Parse(R"({"modifiedDate":"2015-03-01T10:20:30.000Z","size":5,"title":"x"})");
    ASSERT_TRUE(document.IsObject());

    FILETIME fileTime = kUntouched;
    EXPECT_EQ(GetDateMember(document, "modifiedDate", &fileTime), S_OK);
    EXPECT_EQ(ValueOf(fileTime), Utc(2015, 3, 1, 10, 20, 30));

    for (const char* name : {"size", "title", "createdDate"}) {
        fileTime = kUntouched;
        EXPECT_EQ(GetDateMember(document, name, &fileTime), S_FALSE) << name;
        EXPECT_EQ(ValueOf(fileTime), 0u) << name;
    }

    rapidjson::Value notAnObject("2015-03-01T10:20:30Z");
    fileTime = kUntouched;
    EXPECT_EQ(GetDateMember(notAnObject, "modifiedDate", &fileTime), S_FALSE);
    EXPECT_EQ(ValueOf(fileTime), 0u);
    EXPECT_EQ(GetDateMember(document, "modifiedDate", nullptr), E_POINTER);
}

} // namespace
} // namespace gd
