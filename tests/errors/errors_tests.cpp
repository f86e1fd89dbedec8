#include "errors/check.h"
#include "errors/codes.h"
#include "errors/registry.h"
#include "tests/support/trace_collector.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace gd {
namespace {

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(DescribeError, ComposesSeveritySubsystemAndDescription) {
    struct Case {
        HRESULT code;
        const wchar_t* text;
    } cases[] = {
        {0, L"Success"},
        {static_cast<HRESULT>(0x82220011), L"Error [Zidivo Ridev Aduviz]: Internal error."},
        // The subsystem's own row wins over the common table's.
        {static_cast<HRESULT>(0x822204C7),
         L"Error [Zidivo Ridev Aduviz]: Operation was canceled by user."},
        {static_cast<HRESULT>(0x82221003),
         L"Error [Zidivo Ridev Aduviz]: Unknown error: 0x82221003."},
        {static_cast<HRESULT>(0x82221194),
         L"Error [Zidivo Ridev Aduviz]: HTTP status codes (404). The server has not found anything "
         L"matching the requested URI (Uniform Resource Identifier)."},
        {static_cast<HRESULT>(0x4222000E), L"Warning [Zidivo Ridev Aduviz]: Failure."},
        {static_cast<HRESULT>(0xC2020009), L"Failure [IO subsystem]: Unsupported operation."},
        {static_cast<HRESULT>(0x820D1003),
         L"Error [Frame buffer]: Error accessing temporary file."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DescribeError(c.code), c.text) << std::hex << c.code;
}

TEST(DescribeError, BriefGivesTheDescriptionOnly) {
    EXPECT_EQ(DescribeError(static_cast<HRESULT>(0x82220011), true), L"Internal error.");
    EXPECT_EQ(DescribeError(static_cast<HRESULT>(0x82221003), true), L"Unknown error: 0x82221003.");
}

TEST(DescribeError, SystemCodesUseTheSystemText) {
    std::wstring text = DescribeError(E_ACCESSDENIED);
    ASSERT_EQ(text.rfind(L"Error [System]: ", 0), 0u) << text;
    EXPECT_GT(text.size(), std::wstring(L"Error [System]: ").size() + 1);
    EXPECT_TRUE(EndsWith(text, L".")) << text;
    EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << text;
    EXPECT_EQ(text.find(L"Unknown"), std::wstring::npos) << text;
}

TEST(DescribeError, TransportFailuresBelongToTheOperatingSystem) {
    // A failed WinINet call is 0x83FF0000 plus its Win32 code (12045: unknown authority);
    // whether the networking library has a text for it depends on the platform.
    ASSERT_NE(LoadLibraryW(L"wininet.dll"), nullptr);
    std::wstring text = DescribeError(static_cast<HRESULT>(0x83FF2F0D));
    EXPECT_EQ(text.rfind(L"Error [Operating system]: ", 0), 0u) << text;
    EXPECT_TRUE(EndsWith(text, L".")) << text;
}

// The system's message for a Win32 number (then the networking library's),
// shaped as a description: empty when neither has one.
std::wstring SystemText(DWORD number) {
    const DWORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    const DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS;
    wchar_t buffer[1024];
    DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, number, neutral,
                                  buffer, 1024, nullptr);
    if (length == 0)
        length = FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, LoadLibraryW(L"wininet.dll"),
                                number, neutral, buffer, 1024, nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && text.back() <= L' ')
        text.pop_back();
    return text.empty() || text.back() == L'.' ? text : text + L'.';
}

// A failed Win32 call reads as what the system says of that number; our own
// words only where the system has none, never a common row that merely shares it.
TEST(DescribeError, Win32FailuresReadAsTheSystemSaysFirst) {
    struct Case {
        DWORD number;
        const wchar_t* ownText;       // ours where the system has nothing
        const wchar_t* sameNumberRow; // the common row it must not read as
    } cases[] = {
        {ERROR_ACCESS_DENIED, nullptr, L"File corrupted."},
        {ERROR_INVALID_HANDLE, nullptr, L"Unsupported compression type."},
        {12031, L"The connection with the server was reset.", nullptr},
        {700, L"Invalid structure.", nullptr}, // only the common table knows it
    };
    for (const Case& c : cases) {
        HRESULT code = MakeWin32Failure(c.number);
        std::wstring text = DescribeError(code, true);
        std::wstring system = SystemText(c.number);
        if (!system.empty()) {
            EXPECT_EQ(text, system) << c.number;
        } else {
            ASSERT_NE(c.ownText, nullptr) << c.number << " has no system text here";
            EXPECT_EQ(text, c.ownText) << c.number;
        }
        if (c.sameNumberRow) {
            EXPECT_NE(text, c.sameNumberRow) << c.number;
        }
        EXPECT_EQ(DescribeError(code).rfind(L"Error [Operating system]: ", 0), 0u) << c.number;
    }
}

// A plug-in code carrying an HTTP status reads as the transport's text of that
// status unless it has one of its own; every Drive refusal has words.
TEST(DescribeError, DriveCodesReadAsText) {
    struct Case {
        unsigned code;
        const wchar_t* start;
    } cases[] = {
        {0x82221191, L"HTTP status codes (401). "},
        {0x82221193, L"HTTP status codes (403). "},
        {0x822211F7, L"HTTP status codes (503). "},
        {0x82221194, L"HTTP status codes (404). The server has not found"}, // its own row
        {0x82221008, L"Google Drive could not read the request"},
        {0x8222100D, L"Google Drive cannot process the application request because the user does "
                     L"not have"},
        {0x822211AD, L"Unknown error: 0x822211AD."}, // 429: the transport has no text either
        {0x82221003, L"Unknown error: 0x82221003."}, // not a status
    };
    for (const Case& c : cases) {
        std::wstring text = DescribeError(static_cast<HRESULT>(c.code));
        EXPECT_EQ(text.rfind(std::wstring(L"Error [Zidivo Ridev Aduviz]: ") + c.start, 0), 0u)
            << std::hex << c.code << ": " << text;
    }
}

TEST(DescribeError, CodesWithoutAnyTextGetTheUnknownForm) {
    EXPECT_TRUE(EndsWith(DescribeError(0x00001234 | 0x3A0000), L"Unknown code: 0x003A1234."));
    EXPECT_TRUE(
        EndsWith(DescribeError(static_cast<HRESULT>(0x8FAB1234)), L"Unknown error: 0x8FAB1234."));
}

const ErrorRow kFirstRows[] = {{0x7, "First table."}};
const ErrorRow kSecondRows[] = {{0x7, "Second table"}};

TEST(ErrorRegistry, KeepsTheFirstRegistrationAndForgetsUnregistered) {
    const HRESULT code = MakeError(300, 0x7);
    RegisterSubsystem(300, kFirstRows, 1, "Test subsystem");
    RegisterSubsystem(300, kSecondRows, 1, "Other name");
    // The row ends with "." already: no second one.
    EXPECT_EQ(DescribeError(code), L"Error [Test subsystem]: First table.");
    UnregisterSubsystem(300);
    // Unregistered: the common table still describes the code.
    EXPECT_EQ(DescribeError(code), L"Error [System]: Incompatible file format.");
}

TEST(ErrorRegistry, FindsEveryRecordAfterManyUnorderedInsertions) {
    static const ErrorRow row[] = {{0x42, "Row"}};
    static std::vector<std::string> names;
    names.clear();
    for (unsigned i = 0; i < 60; ++i)
        names.push_back("Subsystem " + std::to_string((i * 37) % 60 + 100));
    for (unsigned i = 0; i < 60; ++i)
        RegisterSubsystem((i * 37) % 60 + 100, row, 1, names[i].c_str());
    for (unsigned n = 100; n < 160; ++n) {
        std::wstring expected = L"Error [Subsystem " + std::to_wstring(n) + L"]: Row.";
        EXPECT_EQ(DescribeError(MakeError(n, 0x42)), expected);
    }
    for (unsigned n = 100; n < 160; ++n)
        UnregisterSubsystem(n);
    EXPECT_EQ(DescribeError(static_cast<HRESULT>(0x82220011)),
              L"Error [Zidivo Ridev Aduviz]: Internal error.");
}

TEST(GetErrorPart, MeasuresWritesAndTruncates) {
    const HRESULT code = static_cast<HRESULT>(0x82220011);
    EXPECT_EQ(GetErrorPart(code, kErrorPartSubsystem, nullptr, 0), 19);
    wchar_t buffer[6];
    EXPECT_EQ(GetErrorPart(code, kErrorPartSeverity, buffer, 6), 5);
    EXPECT_STREQ(buffer, L"Error");
    EXPECT_EQ(GetErrorPart(code, kErrorPartDescription, buffer, 6), 14);
    EXPECT_STREQ(buffer, L"Inter");
    EXPECT_LE(GetErrorPart(static_cast<HRESULT>(0x82221003), kErrorPartDescription, buffer, 6), 0);
    EXPECT_LE(GetErrorPart(code, 7, buffer, 6), 0);
}

TEST(FormatHResult, UsesTheSystemTextOrSaysThereIsNone) {
    EXPECT_EQ(FormatHResult(static_cast<HRESULT>(0x82221003)),
              L"HRESULT 0x82221003: <no system error information avaliable>");
    std::wstring text = FormatHResult(E_OUTOFMEMORY);
    EXPECT_EQ(text.rfind(L"HRESULT 0x8007000e: ", 0), 0u) << text;
    EXPECT_EQ(text.find(L"<no system"), std::wstring::npos) << text;
}

HRESULT Fails() {
    return GD_E_INVALID_ARG;
}
HRESULT Succeeds() {
    return S_FALSE;
}

HRESULT ReturnCheck(HRESULT (*step)()) {
    RETURN_IF_FAILED(step());
    return S_OK;
}

HRESULT NullCheck(const void* pointer) {
    RETURN_HR_IF_NULL(E_POINTER, pointer);
    return S_OK;
}

TEST(CheckingForms, ReturnCheckReturnsTheCodeWithItsTrace) {
    test::TraceCollector collector;
    EXPECT_EQ(ReturnCheck(Succeeds), S_OK);
    EXPECT_TRUE(collector.Traces().empty());
    EXPECT_EQ(ReturnCheck(Fails), GD_E_INVALID_ARG);
    ASSERT_EQ(collector.Traces().size(), 1u);
    EXPECT_EQ(collector.Traces()[0], L"Expression: \"step()\" caused returning \"" +
                                         FormatHResult(GD_E_INVALID_ARG) + L"\"");
    int value = 0;
    EXPECT_EQ(NullCheck(&value), S_OK);
    EXPECT_EQ(NullCheck(nullptr), E_POINTER);
    EXPECT_EQ(collector.Traces().back().rfind(
                  L"Expression: \"(pointer) == nullptr\" caused returning", 0),
              0u);
    // The logging form traces a failure and hands the code on.
    collector.Clear();
    EXPECT_EQ(LOG_IF_FAILED(Succeeds()), Succeeds());
    EXPECT_TRUE(collector.Traces().empty());
    EXPECT_EQ(LOG_IF_FAILED(Fails()), GD_E_INVALID_ARG);
    ASSERT_EQ(collector.Traces().size(), 1u);
    EXPECT_EQ(collector.Traces()[0].rfind(L"Expression: \"Fails()\" caused returning", 0), 0u);
}

TEST(CheckingForms, ThrowCheckThrowsTheCodeWithItsText) {
    try {
        THROW_IF_FAILED(Fails());
        FAIL() << "no exception";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.m_hresult, GD_E_INVALID_ARG);
        EXPECT_EQ(e.Message(), L"Expression \"Fails()\" caused throwing \"" +
                                   FormatHResult(GD_E_INVALID_ARG) + L"\"");
    }
    EXPECT_NO_THROW(THROW_IF_FAILED(Succeeds()));
    EXPECT_EQ(HResultException(E_FAIL).Message(), FormatHResult(E_FAIL));
}

TEST(RunGuarded, TurnsEveryExceptionIntoACode) {
    test::TraceCollector collector;
    EXPECT_EQ(RunGuarded([] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(RunGuarded([]() -> HRESULT { throw HResultException(GD_E_MISSING); }), GD_E_MISSING);
    EXPECT_EQ(RunGuarded([]() -> HRESULT { throw HResultException(S_FALSE); }), E_FAIL);
    EXPECT_EQ(RunGuarded([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_EQ(RunGuarded([]() -> HRESULT { throw std::runtime_error("x"); }), E_FAIL);
    EXPECT_EQ(RunGuarded([]() -> HRESULT { throw 42; }), E_FAIL);
    std::vector<std::wstring> traces = collector.Traces();
    ASSERT_EQ(traces.size(), 5u);
    EXPECT_EQ(traces[0].rfind(L"Expression: \"e.m_hresult\" caused returning", 0), 0u);
    EXPECT_EQ(traces[2].rfind(L"Expression: \"E_OUTOFMEMORY\" caused returning", 0), 0u);
    EXPECT_EQ(traces[3].rfind(L"Expression: \"E_FAIL\" caused returning", 0), 0u);
}

TEST(ResultCodes, ComposeAsTheSchemeSays) {
    EXPECT_EQ(static_cast<unsigned>(GD_E_INVALID_ARG), 0x82220001u);
    EXPECT_EQ(static_cast<unsigned>(MakeHttpStatusError(kSubsystemInetUtils, 404)), 0x82211194u);
    EXPECT_EQ(static_cast<unsigned>(MakeHttpStatusError(kSubsystemPlugin, 401)), 0x82221191u);
    EXPECT_EQ(static_cast<unsigned>(MakeWin32Failure(12045)), 0x83FF2F0Du);
    EXPECT_TRUE(IsCancellation(GD_E_CANCELLED));
    EXPECT_TRUE(IsCancellation(HRESULT_FROM_WIN32(ERROR_CANCELLED)));
    EXPECT_FALSE(IsCancellation(static_cast<HRESULT>(0x000004C7)));
}

} // namespace
} // namespace gd
