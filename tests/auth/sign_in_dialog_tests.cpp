#include "auth/sign_in_dialog.h"

#include "auth/browser_sign_in.h"
#include "auth/client_credentials.h"
#include "auth/endpoints.h"
#include "auth/token_client.h"
#include "errors/codes.h"
#include "plugin/com_object.h"
#include "tests/auth/auth_support.h"
#include "tests/support/host_sign_in.h"

#include <gtest/gtest.h>

#include <urlmon.h>
#include <wininet.h>

#include <string>
#include <vector>

namespace gd {
namespace {

// Stands in for the browser's IOleInPlaceActiveObject.
class FakeActiveObject : public ComObject<IOleInPlaceActiveObject> {
public:
    explicit FakeActiveObject(HRESULT answer) : m_answer(answer) {}
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override {
        m_messages.push_back(*msg);
        return m_answer;
    }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

    HRESULT m_answer;
    std::vector<MSG> m_messages;
};

// A host key event.
class FakeEvent : public ComObject<Lumo::IUixEvent> {
public:
    FakeEvent(long code, WPARAM wparam) : m_code(code), m_wparam(wparam) {}
    HRESULT STDMETHODCALLTYPE get_Code(long* code) override {
        *code = m_code;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Object(Lumo::IUixObj** obj) override {
        *obj = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_ItemId(long*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Kind(long*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Window(HWND* window) override {
        *window = reinterpret_cast<HWND>(0x1234);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_WParam(WPARAM* wparam) override {
        *wparam = m_wparam;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LParam(LPARAM* lparam) override {
        *lparam = 0x1C0001;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Point(POINT* point) override {
        *point = POINT{12, 34};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Handled(VARIANT_BOOL handled) override {
        m_handled = handled;
        return S_OK;
    }

    long m_code;
    WPARAM m_wparam;
    VARIANT_BOOL m_handled = VARIANT_FALSE;
};

TEST(AcceleratorFilter, OffersKeyDownsToTheControlAndMarksWhatItTook) {
    struct Case {
        long message;
        HRESULT answer;
        HRESULT expected;
        size_t offered;
        bool handled;
    } cases[] = {
        {WM_KEYDOWN, S_OK, S_OK, 1, true},      {WM_KEYDOWN, S_FALSE, S_OK, 1, false},
        {WM_KEYDOWN, E_FAIL, E_FAIL, 1, false}, {WM_KEYUP, S_OK, S_OK, 0, false},
        {WM_CHAR, S_OK, S_OK, 0, false},
    };
    for (const Case& c : cases) {
        ComPtr<FakeActiveObject> active;
        ASSERT_EQ(MakeObject(&active, c.answer), S_OK);
        ComPtr<AcceleratorFilter> filter;
        ASSERT_EQ(MakeObject(&filter, active.Get()), S_OK);
        ComPtr<FakeEvent> event;
        ASSERT_EQ(MakeObject(&event, c.message, static_cast<WPARAM>(VK_TAB)), S_OK);
        EXPECT_EQ(filter->OnEvent(event.Get()), c.expected) << c.message;
        ASSERT_EQ(active->m_messages.size(), c.offered) << c.message;
        EXPECT_EQ(event->m_handled == VARIANT_TRUE, c.handled) << c.message;
        if (c.offered) {
            const MSG& msg = active->m_messages[0];
            EXPECT_EQ(msg.hwnd, reinterpret_cast<HWND>(0x1234));
            EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
            EXPECT_EQ(msg.wParam, static_cast<WPARAM>(VK_TAB));
            EXPECT_EQ(msg.lParam, 0x1C0001);
            EXPECT_EQ(msg.pt.x, 12);
            EXPECT_EQ(msg.pt.y, 34);
        }
    }
    ComPtr<AcceleratorFilter> empty;
    ASSERT_EQ(MakeObject(&empty, nullptr), S_OK);
    ComPtr<FakeEvent> key;
    ASSERT_EQ(MakeObject(&key, static_cast<long>(WM_KEYDOWN), static_cast<WPARAM>('A')), S_OK);
    EXPECT_EQ(empty->OnEvent(key.Get()), E_UNEXPECTED);
}

TEST(BrowserHost, AnswersTheControlAsAnEmptyContainer) {
    BrowserHost host;
    // Identities: IUnknown is the client site.
    void* out = nullptr;
    ASSERT_EQ(host.QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<IOleClientSite*>(&host));
    ASSERT_EQ(host.QueryInterface(IID_IOleClientSite, &out), S_OK);
    EXPECT_EQ(out, static_cast<IOleClientSite*>(&host));
    ASSERT_EQ(host.QueryInterface(IID_IOleInPlaceSite, &out), S_OK);
    EXPECT_EQ(out, static_cast<IOleInPlaceSite*>(&host));
    ASSERT_EQ(host.QueryInterface(IID_IStorage, &out), S_OK);
    EXPECT_EQ(out, static_cast<IStorage*>(&host));
    EXPECT_EQ(host.QueryInterface(IID_IOleContainer, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(host.QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    // Nothing is stored and there is no container or moniker.
    IStream* stream = reinterpret_cast<IStream*>(1);
    EXPECT_EQ(host.CreateStream(L"s", 0, 0, 0, &stream), E_NOTIMPL);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(host.OpenStream(L"s", nullptr, 0, 0, nullptr), E_INVALIDARG);
    IStorage* storage = reinterpret_cast<IStorage*>(1);
    EXPECT_EQ(host.OpenStorage(L"s", nullptr, 0, nullptr, 0, &storage), E_NOTIMPL);
    EXPECT_EQ(storage, nullptr);
    EXPECT_EQ(host.SetClass(CLSID_WebBrowser), S_OK);
    EXPECT_EQ(host.Commit(0), E_NOTIMPL);
    IOleContainer* container = reinterpret_cast<IOleContainer*>(1);
    EXPECT_EQ(host.GetContainer(&container), E_NOINTERFACE);
    EXPECT_EQ(container, nullptr);
    EXPECT_EQ(host.GetMoniker(0, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(host.RequestNewObjectLayout(), E_NOTIMPL);

    // Before Create there is no window, control or place.
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(host.GetWindow(&window), S_OK);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(host.GetWindow(nullptr), E_INVALIDARG);
    EXPECT_EQ(host.GetControl(), nullptr);
    EXPECT_EQ(host.Create(nullptr, RECT{0, 0, 1, 1}), E_INVALIDARG);
    EXPECT_EQ(host.SetRect(RECT{0, 0, 10, 10}), GD_E_MISSING);

    IOleInPlaceFrame* frame = reinterpret_cast<IOleInPlaceFrame*>(1);
    IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
    RECT position{1, 1, 1, 1}, clip{1, 1, 1, 1};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    EXPECT_EQ(host.GetWindowContext(&frame, &document, &position, &clip, nullptr), E_INVALIDARG);
    EXPECT_EQ(frame, nullptr);
    EXPECT_EQ(document, nullptr);
    EXPECT_EQ(host.GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
    EXPECT_FALSE(info.fMDIApp);
    EXPECT_EQ(info.haccel, nullptr);
    EXPECT_EQ(info.cAccelEntries, 0u);
}

TEST(SignIn, WithoutAHostNothingIsShown) {
    for (auto* signIn : {&SignInThroughHost, &SignInThroughBrowser}) {
        AuthorizationCode grant{L"unchanged", kOobRedirectUri, {}};
        EXPECT_EQ(signIn(L"client", ScopesFromMask(kSignInScopes), grant), GD_E_MISSING);
        EXPECT_EQ(grant.code, L"unchanged");
    }
    ComPtr<AuthDialog> dialog;
    ASSERT_EQ(MakeObject(&dialog, nullptr), S_OK);
    long result = 0;
    EXPECT_EQ(dialog->Show(nullptr, &result), E_INVALIDARG);
    EXPECT_EQ(dialog->Show(L"http://127.0.0.1/", nullptr), E_INVALIDARG);
}

// The real dialog in the emulated host, its browser approving, refusing or
// closing the emulator's consent page; the embedded flow whatever the build
// picked.
class SignInDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetEmulator();
        test::UseEmulator();
        m_built_in = SetInteractiveSignIn(SignInThroughHost);
    }
    void TearDown() override {
        SetInteractiveSignIn(m_built_in);
        SetEnvironmentVariableW(L"DRIVE_EMULATOR_HOST", nullptr);
    }

    HRESULT SignIn(std::shared_ptr<TokenSet>& tokens) {
        return m_sign_in.Run([&] {
            return AuthorizeInteractive(BuiltInClientId(), BuiltInClientSecret(), kSignInScopes,
                                        tokens);
        });
    }
    EmulatedHost& Host() { return m_sign_in.Host(); }
    // The last sign-in dialog the host made, ended or not.
    ComPtr<HostDialog> LastAuthDialog() {
        ComPtr<HostDialog> last;
        for (auto& dialog : Host().Uix().Dialogs())
            if (dialog->LayoutId() == L"DlgAuth")
                last = dialog;
        return last;
    }

    // A sign-in on a thread of its own whose browser leaves the consent page
    // alone; its dialog once the page shows, null when it never does.
    ComPtr<HostDialog> StartWaitingSignIn(std::shared_ptr<TokenSet>& tokens) {
        Host().SetBrowserScript({BrowserAction::Wait, L""});
        m_waiting = std::async(std::launch::async, [&] { return SignIn(tokens); });
        ComPtr<HostDialog> dialog = Host().Uix().WaitForDialog(L"DlgAuth", test::kSignInDeadline);
        if (!UiThread::PumpUntil([&] { return Host().Browser().Events().size() >= 2; },
                                 test::kSignInDeadline))
            dialog.Reset();
        return dialog;
    }
    // How that sign-in ended; E_PENDING when it did not.
    HRESULT WaitingSignInResult() {
        if (m_waiting.wait_for(std::chrono::milliseconds(test::kSignInDeadline)) !=
            std::future_status::ready)
            return E_PENDING;
        return m_waiting.get();
    }

    test::HostSignIn m_sign_in;
    std::future<HRESULT> m_waiting;
    InteractiveSignIn m_built_in;
};

TEST_F(SignInDialogTest, ApprovingInTheBrowserSignsThatUserIn) {
    Host().SetBrowserScript({BrowserAction::Approve, L"bob.emulator@example.org"});
    std::shared_ptr<TokenSet> tokens;
    ASSERT_EQ(SignIn(tokens), S_OK);
    ASSERT_TRUE(tokens);
    EXPECT_EQ(test::TokenOwnerId(tokens->access_token), test::kBobId);

    // The browser was sent to the consent URL; the page's inner frame, whose
    // title looks decisive, completed first and was passed over.
    std::wstring consent;
    BuildAuthorizationUrl(AuthorizationEndpointUrl(), BuiltInClientId(),
                          ScopesFromMask(kSignInScopes), consent);
    auto requests = Host().Browser().Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].url, consent);
    auto events = Host().Browser().Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_FALSE(events[0].top_level);
    EXPECT_EQ(events[0].title.rfind(L"Success", 0), 0u);
    EXPECT_TRUE(events[1].top_level);
    EXPECT_EQ(events.back().title.rfind(L"Success code=", 0), 0u);

    ComPtr<HostDialog> dialog = LastAuthDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->IsDestroyed());
    EXPECT_EQ(Host().Browser().Alive(), 0);
    EXPECT_EQ(Host().Browser().RunningLocks(), 0);
}

TEST_F(SignInDialogTest, AnEndOfTheLoopWithOkFromElsewhereIsNoApproval) {
    std::shared_ptr<TokenSet> tokens;
    ComPtr<HostDialog> dialog = StartWaitingSignIn(tokens);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(Host().OnUi([&] { return dialog->EndModal(kSignInApproved); }), S_OK);
    EXPECT_EQ(WaitingSignInResult(), GD_E_CANCELLED);
    EXPECT_FALSE(tokens);
    EXPECT_TRUE(test::RequestsTo("/oauth2/v3/token").empty());
}

TEST_F(SignInDialogTest, ACertificateTheBrowserRefusedEndsTheSignInWithItsFailure) {
    struct Case {
        LONG status;
        HRESULT expected;
    } cases[] = {
        {INET_E_INVALID_CERTIFICATE, static_cast<HRESULT>(0x83FF2F89)},
        {ERROR_INTERNET_INVALID_CA, static_cast<HRESULT>(0x83FF2F0D)},
    };
    for (const Case& c : cases) {
        test::ResetEmulator();
        BrowserScript script{BrowserAction::Approve, L""};
        script.navigate_error = c.status;
        Host().SetBrowserScript(script);
        std::shared_ptr<TokenSet> tokens;
        EXPECT_EQ(SignIn(tokens), c.expected) << c.status;
        EXPECT_FALSE(tokens);
        EXPECT_TRUE(test::RequestsTo("/oauth2/v3/token").empty());
        // The sign-in stopped the navigation: the browser showed no page of its own.
        EXPECT_TRUE(Host().Browser().Events().empty());
        EXPECT_EQ(Host().Browser().Alive(), 0);
    }
}

TEST_F(SignInDialogTest, OnlyAnApprovalWithACodeReachesTheTokenEndpoint) {
    struct Case {
        BrowserAction action;
        const char* oauth; // emulator settings for the consent's answer
        HRESULT expected;
    } cases[] = {
        {BrowserAction::Deny, nullptr, GD_E_CANCELLED},
        {BrowserAction::Deny, R"({"approval_redirect": true})", GD_E_CANCELLED},
        {BrowserAction::Close, nullptr, GD_E_CANCELLED},
        {BrowserAction::Approve, R"({"approval_redirect": true})", S_OK},
        // "Success" without a code ends the dialog as a refusal.
        {BrowserAction::Approve, R"({"success_title": "Success"})", GD_E_CANCELLED},
    };
    for (const Case& c : cases) {
        test::ResetEmulator();
        if (c.oauth)
            test::EmulatorControl(L"POST", L"/_emu/oauth", c.oauth);
        Host().SetBrowserScript({c.action, L""});
        std::shared_ptr<TokenSet> tokens;
        HRESULT hr = SignIn(tokens);
        const std::string name =
            std::to_string(static_cast<int>(c.action)) + (c.oauth ? c.oauth : "");
        EXPECT_EQ(hr, c.expected) << name;
        EXPECT_EQ(tokens != nullptr, SUCCEEDED(c.expected)) << name;
        EXPECT_EQ(test::RequestsTo("/oauth2/v3/token").empty(), FAILED(c.expected)) << name;
        EXPECT_EQ(Host().Browser().Alive(), 0) << name;
    }
}

TEST_F(SignInDialogTest, TheControlFillsTheDialogAndTakesItsKeys) {
    std::shared_ptr<TokenSet> tokens;
    ComPtr<HostDialog> dialog = StartWaitingSignIn(tokens);
    ASSERT_TRUE(dialog);
    // The control fills the dialog's client area from the start.
    BrowserRects rects;
    RECT client{};
    ASSERT_TRUE(Host().Browser().LastRects(&rects));
    ASSERT_EQ(Host().OnUi([&] { return dialog->get_ClientRect(&client); }), S_OK);
    EXPECT_TRUE(EqualRect(&rects.position, &client));
    EXPECT_EQ(client.right, 800);
    // In-place activation keeps the control running while it is shown.
    EXPECT_EQ(Host().Browser().RunningLocks(), 1);

    HRESULT tab = E_FAIL, letter = E_FAIL;
    EXPECT_EQ(Host().OnUi([&] {
        tab = dialog->PressKey(VK_TAB);
        letter = dialog->PressKey('A');
        return dialog->Resize(640, 400);
    }),
              S_OK);
    // A page's keys go to the control; others stay the host's.
    EXPECT_EQ(tab, S_OK);
    EXPECT_EQ(letter, S_FALSE);
    auto keys = Host().Browser().Keys();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].key, static_cast<WPARAM>(VK_TAB));
    ASSERT_TRUE(Host().Browser().LastRects(&rects));
    EXPECT_EQ(rects.position.right - rects.position.left, 640);
    EXPECT_EQ(rects.position.bottom - rects.position.top, 400);

    EXPECT_EQ(Host().OnUi([&] { return dialog->Close(); }), S_OK);
    EXPECT_EQ(WaitingSignInResult(), GD_E_CANCELLED);
    EXPECT_FALSE(tokens);
    EXPECT_TRUE(dialog->IsDestroyed());
    EXPECT_EQ(Host().Browser().RunningLocks(), 0);
}

} // namespace
} // namespace gd
