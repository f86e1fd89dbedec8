#include "errors/codes.h"
#include "http/encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gd {
namespace {

std::string Utf8WithBom(const std::wstring& text) {
    size_t needed = ToUtf8WithBom(text.c_str(), static_cast<ptrdiff_t>(text.size()), nullptr, 0);
    std::string bytes(needed, '\0');
    size_t written = ToUtf8WithBom(text.c_str(), static_cast<ptrdiff_t>(text.size()),
                                   reinterpret_cast<BYTE*>(bytes.data()), bytes.size());
    EXPECT_EQ(written, needed);
    return bytes;
}

std::string Contents(const MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.GetSize());
}

FormField TextField(const wchar_t* name, const wchar_t* value) {
    FormField field;
    EXPECT_EQ(MakeFormField(name, value, field), S_OK);
    return field;
}

FormField FileField(const wchar_t* name, const wchar_t* fileName, const wchar_t* contentType,
                    const wchar_t* transferEncoding, const std::string& bytes) {
    FormField field;
    field.name = name;
    field.file_name = fileName;
    field.content_type = contentType;
    field.transfer_encoding = transferEncoding;
    EXPECT_EQ(field.data.Write(bytes.data(), bytes.size(), nullptr), S_OK);
    return field;
}

TEST(EncodingUtf8WithBom, EncodesEachUnitAfterOneMark) {
    struct Case {
        std::wstring text;
        std::string bytes;
    } cases[] = {
        {L"", ""},
        {L"A", "\xEF\xBB\xBF"
               "A"},
        {L"\uFEFF"
         L"A",
         "\xEF\xBB\xBF"
         "A"}, // the text's own mark is not doubled
        {L"\u00E9", "\xEF\xBB\xBF\xC3\xA9"},
        {L"\u07FF\u0800", "\xEF\xBB\xBF\xDF\xBF\xE0\xA0\x80"},
        {L"\u20AC", "\xEF\xBB\xBF\xE2\x82\xAC"},
        {L"\U0001F600", "\xEF\xBB\xBF\xED\xA0\xBD\xED\xB8\x80"}, // a pair: two sequences
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8WithBom(c.text), c.bytes);
}

TEST(EncodingUtf8WithBom, ZeroTerminatedAndShortBuffersStopAtWholeSequences) {
    EXPECT_EQ(ToUtf8WithBom(L"ab", -1, nullptr, 0), 5u);
    EXPECT_EQ(ToUtf8WithBom(nullptr, -1, nullptr, 0), 0u);

    BYTE buffer[8] = {};
    EXPECT_EQ(ToUtf8WithBom(L"\u00E9\u20AC", -1, buffer, 7), 5u); // the euro sign does not fit
    EXPECT_EQ(ToUtf8WithBom(L"\u00E9", -1, buffer, 4), 3u);
    EXPECT_EQ(ToUtf8WithBom(L"a", -1, buffer, 2), 0u); // not even the mark
}

TEST(EncodingUtf8, SurrogatePairsBecomeOneFourByteSequence) {
    struct Case {
        std::wstring text;
        std::string bytes;
    } cases[] = {
        {L"", ""},
        {L"plain", "plain"},
        {L"\u00E9\u20AC", "\xC3\xA9\xE2\x82\xAC"},
        {L"a\U0001F600b", "a\xF0\x9F\x98\x80"
                          "b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToUtf8(c.text), c.bytes);
        EXPECT_EQ(FromUtf8(c.bytes), c.text);
    }
}

TEST(EncodingFormValue, KeepsTheSafeSetAndEscapesEverythingElse) {
    struct Case {
        std::wstring value;
        std::string encoded;
    } cases[] = {
        {L"", ""},
        {L"\uFEFF", ""}, // nothing but the mark
        {L"a b&c", "a%20b%26c"},
        {L"~x*y", "~x*y"},
        {L"+", "+"},
        {L"AZaz09!'()*+-._~", "AZaz09!'()*+-._~"},
        {L"/?=%#\"", "%2F%3F%3D%25%23%22"},
        {L"\n\t", "%0A%09"},
        {L"\u00E9", "%C3%A9"},
        {L"\U0001F600", "%ED%A0%BD%ED%B8%80"},
    };
    for (const auto& c : cases) {
        std::string encoded = "stale";
        ASSERT_EQ(EncodeFormValue(c.value, encoded), S_OK);
        EXPECT_EQ(encoded, c.encoded);
    }
}

TEST(EncodingFormValue, ReadsAFieldsDataAsUtf16) {
    FormField field = TextField(L"n", L"x y\u00E9");
    std::string encoded;
    ASSERT_EQ(EncodeFormValue(field.data, encoded), S_OK);
    EXPECT_EQ(encoded, "x%20y%C3%A9");
}

TEST(EncodingQueryString, AppendsEachFieldWithItsSeparator) {
    std::vector<FormField> fields;
    fields.push_back(TextField(L"q", L"x y"));
    fields.push_back(TextField(L"n", L"1"));
    fields.push_back(TextField(L"empty", L""));
    std::wstring object = L"/p";
    ASSERT_EQ(AppendQueryString(object, fields), S_OK);
    EXPECT_EQ(object, L"/p?q=x%20y&n=1&empty=");

    std::wstring untouched = L"/p";
    ASSERT_EQ(AppendQueryString(untouched, {}), S_OK);
    EXPECT_EQ(untouched, L"/p");
}

TEST(EncodingUrlEncodedForm, JoinsFieldsWithoutTrailingSeparator) {
    std::vector<FormField> fields;
    fields.push_back(TextField(L"grant_type", L"refresh token"));
    fields.push_back(TextField(L"v", L"\u00E9&"));
    MemoryStream body;
    ASSERT_EQ(WriteUrlEncodedForm(body, fields), S_OK);
    EXPECT_EQ(Contents(body), "grant_type=refresh%20token&v=%C3%A9%26");

    MemoryStream empty;
    ASSERT_EQ(WriteUrlEncodedForm(empty, {}), S_OK);
    EXPECT_EQ(empty.GetSize(), 0u);
}

TEST(EncodingMultipartForm, WritesOnePartPerFieldAndTheClosingLine) {
    std::vector<FormField> fields;
    fields.push_back(FileField(L"f", L"a.txt", L"text/plain", L"", "hi"));
    fields.push_back(FileField(L"g", L"", L"", L"binary", std::string("\0\xFF", 2)));
    MemoryStream body;
    ASSERT_EQ(WriteMultipartForm(body, fields), S_OK);
    EXPECT_EQ(Contents(body), "--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
                              "Content-Disposition: form-data; name=\"f\"; filename=\"a.txt\";\r\n"
                              "Content-Type: text/plain\r\n"
                              "\r\n"
                              "hi\r\n"
                              "--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
                              "Content-Disposition: form-data; name=\"g\";\r\n"
                              "Content-Transfer-Encoding: binary\r\n"
                              "\r\n" +
                                  std::string("\0\xFF", 2) +
                                  "\r\n"
                                  "--MULTI-PARTS-FORM-DATA-BOUNDARY--");

    MemoryStream empty;
    ASSERT_EQ(WriteMultipartForm(empty, {}), S_OK);
    EXPECT_EQ(Contents(empty), "--MULTI-PARTS-FORM-DATA-BOUNDARY--");
    EXPECT_EQ(MultipartContentTypeHeader(),
              L"Content-Type: multipart/form-data; boundary=MULTI-PARTS-FORM-DATA-BOUNDARY\r\n");
}

TEST(EncodingForms, AFailingSinkEndsTheBodyWithItsCode) {
    std::vector<FormField> fields;
    fields.push_back(TextField(L"name", L"value"));
    fields.push_back(TextField(L"other", L"value"));
    char buffer[12];
    BufferView small(buffer, sizeof buffer);
    EXPECT_EQ(WriteUrlEncodedForm(small, fields), IO_E_UNSUPPORTED);
    EXPECT_EQ(std::string(buffer, small.GetSize()), "name=value"); // the first field only

    BufferView tiny(buffer, sizeof buffer);
    EXPECT_EQ(WriteMultipartForm(tiny, fields), IO_E_UNSUPPORTED);
}

TEST(EncodingEscapeUrlText, EscapesThroughThePlatform) {
    struct Case {
        std::wstring text;
        DWORD options;
        std::wstring escaped;
    } cases[] = {
        {L"AZaz09-._~", 0, L"AZaz09-._~"},
        {L"a b", 0, L"a%20b"},
        {L"a b/c?d e", kEscapeSpacesOnly, L"a%20b/c?d%20e"},
        {L"a/b", kEscapeSegmentOnly, L"a%2Fb"},
        {L"100%", kEscapePercent, L"100%25"},
        {L"x y\u00E9", 0, L"x%20y%C3%A9"}, // non-ASCII goes through UTF-8
    };
    for (const auto& c : cases) {
        std::wstring escaped;
        EXPECT_TRUE(EscapeUrlText(c.text, escaped, c.options)) << c.options;
        EXPECT_EQ(escaped, c.escaped) << c.options;
    }
}

TEST(EncodingEscapeUrlText, AnEmptyTextGivesNothingAndFalse) {
    std::wstring escaped = L"stale";
    EXPECT_FALSE(EscapeUrlText(L"", escaped));
    EXPECT_TRUE(escaped.empty());
}

// What a Content-Length may be: digits only, within 64 bits.
TEST(EncodingParseDecimal, TakesPlainDigitsOnly) {
    struct Case {
        const wchar_t* text;
        bool parsed;
        unsigned long long value;
    } cases[] = {
        {L"0", true, 0},
        {L"5", true, 5},
        {L"3000000000", true, 3000000000ull},
        {L"18446744073709551615", true, 18446744073709551615ull},
        {L"18446744073709551616", false, 0}, // one past the largest
        {L"99999999999999999999", false, 0},
        {L"", false, 0},
        {L"-5", false, 0},
        {L"+5", false, 0},
        {L" 5", false, 0},
        {L"5 ", false, 0},
        {L"5,6", false, 0},
        {L"0x10", false, 0},
    };
    for (const Case& c : cases) {
        unsigned long long value = 7;
        EXPECT_EQ(ParseDecimal(c.text, value), c.parsed) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(EncodingDecodePercent, DecodesValidEscapesAndRejectsBrokenOnes) {
    struct Case {
        std::wstring text;
        bool ok;
        std::wstring decoded; // the previous value when not ok
        size_t length;
    } cases[] = {
        {L"/a%2Fb", true, L"/a/b", 4},
        {L"%41%4a%4A%6b", true, L"AJJk", 4},
        {L"", true, L"", 0},
        {L"/plain", true, L"/plain", 6},
        {L"/a%2", false, L"before", 3}, // one character after the "%"
        {L"/a%", false, L"before", 3},
        {L"/a%00", false, L"before", 3},
        {L"/a%g1", false, L"before", 3},
        {L"/a%1g", false, L"before", 3},
    };
    for (const auto& c : cases) {
        std::wstring decoded = L"before";
        size_t length = 99;
        EXPECT_EQ(DecodePercent(c.text, decoded, length), c.ok) << c.text;
        EXPECT_EQ(decoded, c.decoded) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
    }
}

TEST(EncodingDecodePercent, OutputBeyondTheCapacityFailsReportingTheNeed) {
    std::wstring decoded = L"before";
    size_t length = 0;
    EXPECT_FALSE(DecodePercent(L"/abc%20def", decoded, length, 6));
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(decoded, L"before");
    EXPECT_TRUE(DecodePercent(L"/abc%20def", decoded, length, 8));
    EXPECT_EQ(decoded, L"/abc def");
}

} // namespace
} // namespace gd
