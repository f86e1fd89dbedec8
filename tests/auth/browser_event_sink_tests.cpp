#include "auth/browser_event_sink.h"

#include "errors/exception.h"
#include "plugin/com_object.h"

#include <gtest/gtest.h>

#include <exdispid.h>
#include <ocidl.h>
#include <urlmon.h>
#include <wininet.h>

#include <new>
#include <string>
#include <vector>

namespace gd {
namespace {

TEST(ExtractTitleParam, FindsTheNamedValueOnly) {
    struct Case {
        const wchar_t* title;
        const wchar_t* code; // nullptr: not found
    } cases[] = {
        {L"Success code=4/P7q-xyz_0", L"4/P7q-xyz_0"},
        // The value ends at the first "&", however many parameters follow.
        {L"Success code=abc&state=s&scope=drive", L"abc"},
        {L"Success state=s&code=abc&scope=drive&x=y", L"abc"},
        {L"Success CODE=AbC", L"AbC"},
        // A longer name ending in "code" is not the name.
        {L"Success xcode=abc", nullptr},
        {L"Success barcode=1&code=2", L"2"},
        // The last counted occurrence wins; one with no value ends the search.
        {L"Success code=first code=second", L"second"},
        {L"Success code=abc&code", nullptr},
        {L"Success code=", nullptr},
        {L"Success code", nullptr},
        {L"code=x", L"x"},
        {L"Success", nullptr},
        {L"", nullptr},
    };
    for (const Case& c : cases) {
        std::wstring title = c.title;
        std::wstring value = L"stale";
        HRESULT hr = ExtractTitleParam(title.c_str(), title.size(), L"code", 4, value);
        if (c.code == nullptr) {
            EXPECT_EQ(hr, S_FALSE) << title;
            EXPECT_EQ(value, L"") << title;
        } else {
            EXPECT_EQ(hr, S_OK) << title;
            EXPECT_EQ(value, c.code) << title;
        }
    }
}

TEST(JudgeTitle, SuccessOrDeniedAnywhereInAnyCase) {
    struct Case {
        const wchar_t* title;
        TitleVerdict verdict;
    } cases[] = {
        {L"Success code=abc", TitleVerdict::Approved},
        {L"the SUCCESS page", TitleVerdict::Approved},
        {L"Denied error=access_denied", TitleVerdict::Denied},
        {L"access denied", TitleVerdict::Denied},
        // Both words: the approval wins.
        {L"Denied? No: Success code=x", TitleVerdict::Approved},
        {L"Sign in - Google Accounts", TitleVerdict::None},
        {L"Error", TitleVerdict::None},
        {L"", TitleVerdict::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeTitle(c.title), c.verdict) << c.title;
}

class SignInDecision : public ::testing::Test {
protected:
    void TearDown() override { SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr); }

    std::vector<int> m_ends;
    BrowserEventSink m_sink{[this](int code) { return m_ends.push_back(code), S_OK; }};
};

TEST_F(SignInDecision, OnlyPagesOnTheAuthorizationHostDecide) {
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr);
    EXPECT_TRUE(IsAuthorizationAddress(L"https://accounts.google.com/o/oauth2/approval?x=1"));
    EXPECT_TRUE(IsAuthorizationAddress(L"https://ACCOUNTS.google.com/"));
    const wchar_t* elsewhere[] = {
        L"https://accounts.google.com.evil.example/o/oauth2/approval",
        L"https://evil.example/accounts.google.com",
        L"https://accounts.google.com:8443/",
        // Google's host and port, but not over TLS.
        L"http://accounts.google.com:443/o/oauth2/approval",
        L"http://127.0.0.1:4567/o/oauth2/approval",
        L"about:blank",
        L"",
    };
    for (const wchar_t* url : elsewhere)
        EXPECT_FALSE(IsAuthorizationAddress(url)) << url;

    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", L"127.0.0.1:4567");
    EXPECT_TRUE(IsAuthorizationAddress(L"http://127.0.0.1:4567/o/oauth2/approval"));
    EXPECT_FALSE(IsAuthorizationAddress(L"http://127.0.0.1:4568/o/oauth2/approval"));
    EXPECT_FALSE(IsAuthorizationAddress(L"https://accounts.google.com/o/oauth2/approval"));

    m_sink.Decide(L"http://127.0.0.1:4568/frame", L"Success code=forged");
    m_sink.Decide(L"https://evil.example/", L"Denied");
    EXPECT_FALSE(m_sink.Done());
    EXPECT_TRUE(m_ends.empty());
}

TEST_F(SignInDecision, ApprovalKeepsTheCodeAndIsFinal) {
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", L"127.0.0.1:4567");
    const wchar_t* host = L"http://127.0.0.1:4567/o/oauth2/approval";
    m_sink.Decide(host, L"Sign in - Google Accounts");
    EXPECT_FALSE(m_sink.Done());
    m_sink.Decide(host, L"Success code=4/abc&scope=drive&state=1");
    m_sink.Decide(host, L"Denied error=access_denied");
    m_sink.Decide(host, L"Success code=later");
    EXPECT_TRUE(m_sink.Done());
    EXPECT_EQ(m_sink.Code(), L"4/abc");
    EXPECT_EQ(m_ends, std::vector<int>{kSignInApproved});
}

TEST_F(SignInDecision, DenialEndsWithoutACode) {
    SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", L"127.0.0.1:4567");
    m_sink.Decide(L"http://127.0.0.1:4567/o/oauth2/approval", L"Denied error=access_denied");
    EXPECT_TRUE(m_sink.Done());
    EXPECT_EQ(m_sink.Code(), L"");
    EXPECT_EQ(m_ends, std::vector<int>{kSignInDenied});

    // "Success" without a code approves nothing.
    BrowserEventSink empty([](int) { return S_OK; });
    empty.Decide(L"http://127.0.0.1:4567/o/oauth2/approval", L"Success");
    EXPECT_TRUE(empty.Done());
    EXPECT_FALSE(empty.Approved());

    // A dialog that cannot be ended reports why.
    BrowserEventSink stuck([](int) { return E_UNEXPECTED; });
    EXPECT_EQ(stuck.Decide(L"http://127.0.0.1:4567/o/oauth2/approval", L"Denied"), E_UNEXPECTED);
}

TEST_F(SignInDecision, AnUnadvisedSinkTakesNoEventForTheBrowsers) {
    // Not advised: no event, whatever its object, can be the browser's.
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = SysAllocString(L"http://127.0.0.1:4567/o/oauth2/approval");
    V_VT(&args[1]) = VT_DISPATCH;
    V_DISPATCH(&args[1]) = &m_sink;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXPECT_EQ(m_sink.Invoke(259, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(m_sink.Invoke(252, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_FALSE(m_sink.Done());
    EXPECT_EQ(m_sink.Advise(nullptr), E_INVALIDARG);
    VariantClear(&args[0]);
}

// NavigateError(pDisp, URL, Frame, StatusCode, Cancel) as the browser sends
// it: arguments last first, the status and the flag by reference.
struct NavigateErrorCall {
    explicit NavigateErrorCall(LONG statusCode) {
        for (VARIANT& arg : args)
            VariantInit(&arg);
        VariantInit(&status);
        V_VT(&status) = VT_I4;
        V_I4(&status) = statusCode;
        V_VT(&args[1]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&args[1]) = &status;
        V_VT(&args[0]) = VT_BYREF | VT_BOOL;
        V_BOOLREF(&args[0]) = &cancel;
    }
    HRESULT SendTo(BrowserEventSink& sink) {
        DISPPARAMS params{args, nullptr, 5, 0};
        return sink.Invoke(DISPID_NAVIGATEERROR, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                           nullptr, nullptr);
    }
    VARIANT args[5];
    VARIANT status;
    VARIANT_BOOL cancel = VARIANT_FALSE;
};

TEST_F(SignInDecision, ARefusedCertificateEndsTheSignInWithItsFailure) {
    struct Case {
        LONG status;
        HRESULT failure; // S_OK: not a certificate's
    } cases[] = {
        {INET_E_INVALID_CERTIFICATE, static_cast<HRESULT>(0x83FF2F89)},
        {ERROR_INTERNET_INVALID_CA, static_cast<HRESULT>(0x83FF2F0D)},
        {HRESULT_FROM_WIN32(ERROR_INTERNET_SEC_CERT_CN_INVALID), static_cast<HRESULT>(0x83FF2F06)},
        {ERROR_INTERNET_SEC_CERT_DATE_INVALID, static_cast<HRESULT>(0x83FF2F05)},
        {ERROR_INTERNET_SEC_CERT_REVOKED, static_cast<HRESULT>(0x83FF2F8A)},
        {404, S_OK},
        {INET_E_RESOURCE_NOT_FOUND, S_OK},
        {ERROR_INTERNET_NAME_NOT_RESOLVED, S_OK},
    };
    for (const Case& c : cases) {
        std::vector<int> ends;
        BrowserEventSink sink([&ends](int code) { return ends.push_back(code), S_OK; });
        NavigateErrorCall call(c.status);
        EXPECT_EQ(call.SendTo(sink), S_OK) << c.status;
        EXPECT_EQ(sink.Failure(), c.failure) << c.status;
        EXPECT_EQ(CertificateFailure(c.status), c.failure) << c.status;
        const bool refused = FAILED(c.failure);
        EXPECT_EQ(call.cancel != VARIANT_FALSE, refused) << c.status;
        EXPECT_EQ(ends, refused ? std::vector<int>{kSignInFailed} : std::vector<int>{}) << c.status;
        // Nothing approves after it.
        SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", L"127.0.0.1:4567");
        sink.Decide(L"http://127.0.0.1:4567/o/oauth2/approval", L"Success code=late");
        EXPECT_EQ(sink.Approved(), !refused) << c.status;
    }
}

TEST(BrowserEventSink, NoExceptionLeavesInvoke) {
    struct Case {
        void (*raise)();
        HRESULT expected;
    } cases[] = {
        {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
        {[] { throw HResultException(E_ACCESSDENIED); }, E_ACCESSDENIED},
        {[] { throw 42; }, E_FAIL},
    };
    for (const Case& c : cases) {
        BrowserEventSink sink([&c](int) -> HRESULT { return c.raise(), S_OK; });
        NavigateErrorCall call(INET_E_INVALID_CERTIFICATE);
        HRESULT hr = S_OK;
        EXPECT_NO_THROW(hr = call.SendTo(sink));
        EXPECT_EQ(hr, c.expected);
    }
}

class TwoInterfaces : public ComObject<IPersist, IOleWindow> {
public:
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
};

TEST(IsSameObject, ComparesIdentityNotInterfacePointers) {
    ComPtr<TwoInterfaces> one, other;
    ASSERT_EQ(MakeObject(&one), S_OK);
    ASSERT_EQ(MakeObject(&other), S_OK);
    IPersist* persist = one.Get();
    IOleWindow* window = one.Get();
    ASSERT_NE(static_cast<void*>(persist), static_cast<void*>(window));
    EXPECT_TRUE(IsSameObject(persist, window));
    EXPECT_FALSE(IsSameObject(persist, static_cast<IOleWindow*>(other.Get())));
    EXPECT_FALSE(IsSameObject(persist, nullptr));
}

} // namespace
} // namespace gd
