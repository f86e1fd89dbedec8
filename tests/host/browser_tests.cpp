#include "host/emulated_host.h"

#include <exdisp.h>
#include <exdispid.h>
#include <gtest/gtest.h>
#include <mshtml.h>
#include <ocidl.h>
#include <ole2.h>
#include <rapidjson/document.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "errors/check.h"
#include "host/html_page.h"
#include "tests/support/emulator.h"

namespace gd {
namespace {

constexpr DWORD kDeadline = 20000;     // for a page to load or a dialog to end
constexpr DWORD kCallDeadline = 60000; // for work on the UI thread, which waits itself

const wchar_t kConsentPath[] =
    L"/o/oauth2/auth?response_type=code"
    L"&client_id=123456789012-gdriveemulatordemoclient00000001.apps.googleusercontent.com"
    L"&redirect_uri=urn:ietf:wg:oauth:2.0:oob:auto&scope=https://www.googleapis.com/auth/drive";
const wchar_t kConsentTitle[] = L"Sign in - Google Accounts";
const char kLayout[] =
    R"(<layouts><dialog id="DlgBrowser" title="Sign in" width="800" height="500"/></layouts>)";

std::wstring EmulatorUrl(const std::wstring& path) {
    test::ServerAddress address = test::EmulatorAddress();
    return L"http://" + address.host + L":" + std::to_wstring(address.port) + path;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsSameObject(IUnknown* a, IUnknown* b) {
    ComPtr<IUnknown> identity_a, identity_b;
    return a != nullptr && b != nullptr &&
           SUCCEEDED(a->QueryInterface(__uuidof(IUnknown), identity_a.PutVoid())) &&
           SUCCEEDED(b->QueryInterface(__uuidof(IUnknown), identity_b.PutVoid())) &&
           identity_a.Get() == identity_b.Get();
}

// The title of a browser's or frame's document, read as a sign-in dialog does.
std::wstring TitleOf(IUnknown* source) {
    ComPtr<IWebBrowser2> browser;
    ComPtr<IDispatch> document;
    ComPtr<IHTMLDocument2> html;
    Bstr title;
    if (FAILED(source->QueryInterface(browser.Put())) ||
        FAILED(browser->get_Document(document.Put())) || !document || FAILED(document.As(&html)) ||
        FAILED(html->get_title(title.Put())))
        return L"<no document>";
    return title.Text();
}

struct SeenEvent {
    std::wstring url;
    std::wstring title;
    bool from_browser = false; // the event's object is the advised browser
};

// A DWebBrowserEvents2 sink that answers IUnknown and IDispatch only.
class EventSink : public ComObject<IDispatch> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        if (id != DISPID_DOCUMENTCOMPLETE)
            return S_OK;
        EXPECT_EQ(params->cArgs, 2u);
        EXPECT_EQ(V_VT(&params->rgvarg[1]), VT_DISPATCH);
        EXPECT_EQ(V_VT(&params->rgvarg[0]), VT_BYREF | VT_VARIANT);
        if (params->cArgs != 2 || V_VT(&params->rgvarg[1]) != VT_DISPATCH ||
            V_VT(&params->rgvarg[0]) != (VT_BYREF | VT_VARIANT))
            return E_INVALIDARG;
        const VARIANT* url = V_VARIANTREF(&params->rgvarg[0]);
        EXPECT_EQ(V_VT(url), VT_BSTR);
        IDispatch* source = V_DISPATCH(&params->rgvarg[1]);
        SeenEvent seen{V_VT(url) == VT_BSTR ? V_BSTR(url) : L"", TitleOf(source),
                       IsSameObject(source, m_browser)};
        m_seen.push_back(seen);
        if (m_on_event)
            m_on_event(seen);
        return S_OK;
    }

    IUnknown* m_browser = nullptr; // compared only, not held
    std::vector<SeenEvent> m_seen;
    std::function<void(const SeenEvent&)> m_on_event;
};

// The smallest container that hosts the browser as a sign-in dialog does.
class Container : public ComObject<IOleClientSite, IOleInPlaceSite> {
public:
    HRESULT Create(HWND parent, const RECT& rect) {
        m_parent = parent;
        m_rect = rect;
        ComPtr<ILockBytes> bytes;
        ComPtr<IStorage> storage;
        RETURN_IF_FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.Put()));
        RETURN_IF_FAILED(StgCreateDocfileOnILockBytes(
            bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.Put()));
        RETURN_IF_FAILED(OleCreate(CLSID_WebBrowser, IID_IOleObject, OLERENDER_DRAW, nullptr,
                                   static_cast<IOleClientSite*>(this), storage.Get(),
                                   m_object.PutVoid()));
        RETURN_IF_FAILED(m_object->SetClientSite(this));
        RETURN_IF_FAILED(OleSetContainedObject(m_object.Get(), TRUE));
        RECT position = rect;
        RETURN_IF_FAILED(
            m_object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, -1, parent, &position));
        RETURN_IF_FAILED(m_object.As(&m_browser));
        RETURN_HR_IF_NULL(E_UNEXPECTED, m_in_place.Get());
        RETURN_IF_FAILED(m_in_place->GetWindow(&m_window));
        ShowWindow(m_window, SW_SHOW);
        return S_OK;
    }

    HRESULT Advise(EventSink* sink) {
        ComPtr<IConnectionPointContainer> points;
        ComPtr<IConnectionPoint> point;
        RETURN_IF_FAILED(m_browser.As(&points));
        RETURN_IF_FAILED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Put()));
        RETURN_IF_FAILED(point->Advise(sink, &m_cookie));
        sink->m_browser = m_browser.Get();
        return S_OK;
    }

    HRESULT Navigate(const std::wstring& url) {
        Variant target, none;
        RETURN_IF_FAILED(target.SetText(url.c_str()));
        return m_browser->Navigate2(&target.Get(), &none.Get(), &none.Get(), &none.Get(),
                                    &none.Get());
    }

    HRESULT SetRect(const RECT& rect) {
        m_rect = rect;
        SIZEL size{rect.right - rect.left, rect.bottom - rect.top};
        RETURN_IF_FAILED(m_object->SetExtent(DVASPECT_CONTENT, &size));
        return m_in_place->SetObjectRects(&m_rect, &m_rect);
    }

    // Unadvises, deactivates, closes and lets the browser go.
    void Close() {
        ComPtr<Container> alive(this);
        if (m_cookie != 0) {
            ComPtr<IConnectionPointContainer> points;
            ComPtr<IConnectionPoint> point;
            if (SUCCEEDED(m_browser.As(&points)) &&
                SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, point.Put()))) {
                EXPECT_EQ(point->Unadvise(m_cookie), S_OK);
            }
            m_cookie = 0;
        }
        if (ComPtr<IOleInPlaceObject> in_place = m_in_place)
            in_place->InPlaceDeactivate();
        m_browser.Reset();
        if (m_object) {
            m_object->Close(OLECLOSE_NOSAVE);
            m_object->SetClientSite(nullptr);
            m_object.Reset();
        }
    }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        *window = m_parent;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        RETURN_IF_FAILED(OleLockRunning(m_object.Get(), TRUE, FALSE));
        RETURN_IF_FAILED(m_object.As(&m_in_place));
        return m_in_place->SetObjectRects(&m_rect, &m_rect);
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                               IOleInPlaceUIWindow** document, RECT* position,
                                               RECT* clip, OLEINPLACEFRAMEINFO* info) override {
        *frame = nullptr;
        *document = nullptr;
        *position = *clip = m_rect;
        info->fMDIApp = FALSE;
        info->hwndFrame = m_parent;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        m_in_place.Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }
    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    ComPtr<IOleObject> m_object;
    ComPtr<IOleInPlaceObject> m_in_place;
    ComPtr<IWebBrowser2> m_browser;
    HWND m_window = nullptr; // the browser's
    DWORD m_cookie = 0;

private:
    HWND m_parent = nullptr;
    RECT m_rect{};
};

// The dialog's side: a browser in its client area that follows its size,
// and the size events it saw.
class BrowserDialog : public ComObject<Lumo::IUixEventHandler> {
public:
    HRESULT STDMETHODCALLTYPE OnEvent(Lumo::IUixEvent* event) override {
        long code = 0;
        RETURN_IF_FAILED(event->get_Code(&code));
        if (code == Lumo::UIX_Event_ObjAttached)
            return event->get_Object(m_dialog.Put());
        if (code == Lumo::UIX_Event_ObjDetached) {
            Stop();
            m_dialog.Reset();
        } else if (code == Lumo::UIX_Event_Size) {
            WPARAM wparam = 0;
            LPARAM lparam = 0;
            HWND window = nullptr;
            RETURN_IF_FAILED(event->get_Window(&window));
            RETURN_IF_FAILED(event->get_WParam(&wparam));
            RETURN_IF_FAILED(event->get_LParam(&lparam));
            m_sizes.push_back({window, wparam, lparam});
            RECT client{};
            RETURN_IF_FAILED(m_dialog->get_ClientRect(&client));
            if (m_container)
                RETURN_IF_FAILED(m_container->SetRect(client));
        }
        return S_OK;
    }

    // Creates the browser over the client area and navigates it to url.
    HRESULT Start(const std::wstring& url) {
        HWND window = nullptr;
        RECT client{};
        RETURN_IF_FAILED(m_dialog->get_Window(&window));
        RETURN_IF_FAILED(m_dialog->get_ClientRect(&client));
        RETURN_IF_FAILED(MakeObject(&m_container));
        RETURN_IF_FAILED(MakeObject(&m_sink));
        RETURN_IF_FAILED(m_container->Create(window, client));
        RETURN_IF_FAILED(m_container->Advise(m_sink.Get()));
        return url.empty() ? S_OK : m_container->Navigate(url);
    }

    void Stop() {
        if (m_container)
            m_container->Close();
        m_container.Reset();
    }

    // A top-level page other than the consent page has completed.
    bool Decided() const {
        for (const SeenEvent& event : m_sink->m_seen) {
            if (event.from_browser && event.title != kConsentTitle)
                return true;
        }
        return false;
    }

    struct Size {
        HWND window;
        WPARAM wparam;
        LPARAM lparam;
    };

    ComPtr<Lumo::IUixObj> m_dialog;
    ComPtr<Container> m_container;
    ComPtr<EventSink> m_sink;
    std::vector<Size> m_sizes;
};

class HeadlessBrowserTest : public testing::Test {
protected:
    void SetUp() override {
        test::ResetEmulator();
        ASSERT_TRUE(SUCCEEDED(MakeObject(&m_host)));
        m_host->SetCallTimeout(kCallDeadline);
        ASSERT_TRUE(SUCCEEDED(MakeObject(&m_handler)));
    }
    // A test that failed midway leaves its dialog modal: end it.
    void TearDown() override {
        if (m_shown.valid()) {
            m_host->OnUi([&] { return m_host->Uix().CancelModalDialogs(), S_OK; });
            m_shown.wait_for(std::chrono::milliseconds(kDeadline));
        }
    }

    // On the UI thread: the dialog with m_handler as its handler.
    HRESULT MakeDialog(ComPtr<HostDialog>* dialog) {
        Lumo::UIX_CreateParams params{};
        RETURN_IF_FAILED(m_host->InitCreateParams(0, &params));
        params.kind = Lumo::UIX_ObjKind_Dialog;
        params.layout_format = Lumo::UIX_LayoutFormat_Xml;
        params.layout = reinterpret_cast<const BYTE*>(kLayout);
        params.layout_size = sizeof kLayout - 1;
        params.id = L"DlgBrowser";
        params.style = 0x86CD0000; // popup with caption and sizing frame
        params.handler = m_handler.Get();
        RETURN_IF_FAILED(m_host->Uix().CreateObj(&params, nullptr));
        *dialog = m_host->Uix().Dialogs().back();
        return S_OK;
    }

    // Opens the consent page in a dialog and waits for a decisive page.
    HRESULT RunConsent() {
        return m_host->OnUi([&]() -> HRESULT {
            ComPtr<HostDialog> dialog;
            RETURN_IF_FAILED(MakeDialog(&dialog));
            RETURN_IF_FAILED(m_handler->Start(EmulatorUrl(kConsentPath)));
            EXPECT_TRUE(UiThread::PumpUntil([&] { return m_handler->Decided(); }, kDeadline));
            return dialog->Destroy();
        });
    }

    ComPtr<EmulatedHost> m_host;
    ComPtr<BrowserDialog> m_handler;
    std::future<long> m_shown;
};

std::string JsonString(const std::string& json, const char* name) {
    rapidjson::Document document;
    document.Parse(json.c_str(), json.size());
    if (document.HasParseError() || !document.IsObject() || !document.HasMember(name) ||
        !document[name].IsString())
        return {};
    return document[name].GetString();
}

// The id of the user whose e-mail is given, or of the first user.
std::string UserId(const std::wstring& email) {
    rapidjson::Document users;
    std::string json = test::EmulatorControl(L"GET", L"/_emu/users");
    users.Parse(json.c_str(), json.size());
    for (const auto& user : users["users"].GetArray()) {
        std::string address = user["email"].GetString();
        if (email.empty() || std::wstring(address.begin(), address.end()) == email)
            return user["id"].GetString();
    }
    return {};
}

// Whom the emulator issues tokens for when the code is exchanged.
std::string ExchangeForUserId(const std::wstring& code) {
    std::string form = EncodeForm({{L"grant_type", L"authorization_code"},
                                   {L"code", code},
                                   {L"client_id", L"123456789012-gdriveemulatordemoclient00000001."
                                                  L"apps.googleusercontent.com"},
                                   {L"client_secret", L"Emulator_Demo_Secret_001"},
                                   {L"redirect_uri", L"urn:ietf:wg:oauth:2.0:oob:auto"}});
    std::string token =
        JsonString(test::EmulatorControl(L"POST", L"/oauth2/v3/token", form), "access_token");
    if (token.empty())
        return {};
    std::wstring path =
        L"/oauth2/v3/tokeninfo?access_token=" + std::wstring(token.begin(), token.end());
    return JsonString(test::EmulatorControl(L"GET", path.c_str()), "user_id");
}

struct ConsentCase {
    BrowserAction action;
    const wchar_t* user;
    bool approval_redirect;
    const wchar_t* title; // the last page's title starts with it
    const char* decision; // in the posted form
};

TEST_F(HeadlessBrowserTest, TheConsentPageIsAnsweredAsScripted) {
    const ConsentCase cases[] = {
        {BrowserAction::Approve, L"bob.emulator@example.org", false, L"Success code=",
         "decision=approve"},
        {BrowserAction::Approve, L"", true, L"Success code=", "decision=approve"},
        {BrowserAction::Deny, L"", false, L"Denied error=access_denied", "decision=deny"},
        {BrowserAction::Deny, L"bob.emulator@example.org", true, L"Denied error=access_denied",
         "decision=deny"},
    };
    for (const ConsentCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "user '" << c.user << "', decision " << c.decision
                                        << ", redirect " << c.approval_redirect);
        test::ResetEmulator();
        if (c.approval_redirect)
            test::EmulatorControl(L"POST", L"/_emu/oauth", R"({"approval_redirect": true})");
        ASSERT_TRUE(SUCCEEDED(MakeObject(&m_handler)));
        const size_t recorded = m_host->Browser().Events().size();
        m_host->SetBrowserScript({c.action, c.user});
        ASSERT_EQ(RunConsent(), S_OK);

        // The relay frame completes first, as an object of its own.
        const std::vector<SeenEvent>& seen = m_handler->m_sink->m_seen;
        ASSERT_EQ(seen.size(), 3u);
        EXPECT_FALSE(seen[0].from_browser);
        EXPECT_EQ(seen[0].url, EmulatorUrl(L"/o/oauth2/postmessageRelay"));
        EXPECT_EQ(seen[0].title, L"Success code=frame-not-a-code");
        EXPECT_TRUE(seen[1].from_browser);
        EXPECT_EQ(seen[1].url, EmulatorUrl(kConsentPath));
        EXPECT_EQ(seen[1].title, kConsentTitle);
        EXPECT_TRUE(seen[2].from_browser);
        EXPECT_TRUE(StartsWith(seen[2].title, c.title)) << seen[2].title;
        EXPECT_TRUE(StartsWith(
            seen[2].url,
            EmulatorUrl(c.approval_redirect ? L"/o/oauth2/approval/v2?" : L"/o/oauth2/approval")))
            << seen[2].url;

        std::vector<BrowserDocumentEvent> events = m_host->Browser().Events();
        ASSERT_EQ(events.size(), recorded + 3);
        EXPECT_FALSE(events[recorded].top_level);
        EXPECT_TRUE(events[recorded + 2].top_level);
        EXPECT_EQ(events[recorded + 2].title, seen[2].title);

        std::vector<BrowserRequest> requests = m_host->Browser().Requests();
        ASSERT_FALSE(requests.empty());
        const BrowserRequest& posted = requests.back();
        EXPECT_EQ(posted.method, L"POST");
        EXPECT_EQ(posted.url, EmulatorUrl(L"/o/oauth2/approval"));
        EXPECT_NE(posted.body.find(c.decision), std::string::npos) << posted.body;
        EXPECT_NE(posted.body.find("client_id=123456789012-"), std::string::npos) << posted.body;

        if (c.action == BrowserAction::Approve) {
            std::wstring code = seen[2].title.substr(wcslen(c.title));
            EXPECT_EQ(ExchangeForUserId(code), UserId(c.user));
        }
        EXPECT_EQ(m_host->Browser().Alive(), 0);
    }
}

TEST_F(HeadlessBrowserTest, CloseEndsTheDialogsModalLoopWithCancel) {
    m_host->SetBrowserScript({BrowserAction::Close, L""});
    m_shown = std::async(std::launch::async, [this] {
        long result = -1;
        m_host->Ui().Run([&]() -> HRESULT {
            ComPtr<HostDialog> dialog;
            RETURN_IF_FAILED(MakeDialog(&dialog));
            RETURN_IF_FAILED(m_handler->Start(EmulatorUrl(kConsentPath)));
            RETURN_IF_FAILED(dialog->DoModal(Lumo::UIX_ObjModal_AppModal, &result));
            return dialog->Destroy();
        });
        return result;
    });
    ASSERT_EQ(m_shown.wait_for(std::chrono::milliseconds(kDeadline)), std::future_status::ready);
    EXPECT_EQ(m_shown.get(), Lumo::UIX_ModalResult_Cancel);

    ASSERT_EQ(m_handler->m_sink->m_seen.size(), 2u);
    EXPECT_EQ(m_handler->m_sink->m_seen[1].title, kConsentTitle);
    for (const BrowserRequest& request : m_host->Browser().Requests())
        EXPECT_EQ(request.method, L"GET") << request.body;
    EXPECT_EQ(m_host->Browser().Alive(), 0);
}

TEST_F(HeadlessBrowserTest, KeysSizesAndTeardownOfTheInPlaceBrowser) {
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        ComPtr<HostDialog> dialog;
        RETURN_IF_FAILED(MakeDialog(&dialog));
        RETURN_IF_FAILED(m_handler->Start(L""));
        HWND dialog_window = nullptr;
        RETURN_IF_FAILED(dialog->get_Window(&dialog_window));
        HWND browser_window = m_handler->m_container->m_window;
        EXPECT_EQ(GetParent(browser_window), dialog_window);
        EXPECT_EQ(m_host->Browser().Alive(), 1);

        RETURN_IF_FAILED(dialog->Resize(640, 400));
        if (m_handler->m_sizes.empty())
            return E_FAIL; // no size event
        const BrowserDialog::Size& size = m_handler->m_sizes.back();
        EXPECT_EQ(size.window, dialog_window);
        EXPECT_EQ(size.wparam, static_cast<WPARAM>(SIZE_RESTORED));
        EXPECT_EQ(size.lparam, MAKELPARAM(640, 400));
        BrowserRects rects{};
        EXPECT_TRUE(m_host->Browser().LastRects(&rects));
        EXPECT_EQ(rects.position.right, 640);
        EXPECT_EQ(rects.position.bottom, 400);
        RECT client{};
        GetClientRect(browser_window, &client);
        EXPECT_EQ(client.right, 640);
        EXPECT_EQ(client.bottom, 400);

        ComPtr<IOleInPlaceActiveObject> active;
        RETURN_IF_FAILED(m_handler->m_container->m_browser.As(&active));
        const struct {
            WPARAM key;
            HRESULT answer;
        } keys[] = {{VK_TAB, S_OK},
                    {VK_RETURN, S_OK},
                    {VK_BACK, S_OK},
                    {'A', S_FALSE},
                    {VK_ESCAPE, S_FALSE}};
        for (const auto& key : keys) {
            MSG message{browser_window, WM_KEYDOWN, key.key, 0, 0, {}};
            EXPECT_EQ(active->TranslateAccelerator(&message), key.answer) << key.key;
        }
        std::vector<BrowserKey> translated = m_host->Browser().Keys();
        EXPECT_EQ(translated.size(), std::size(keys));
        for (size_t i = 0; i < translated.size() && i < std::size(keys); ++i) {
            EXPECT_EQ(translated[i].key, keys[i].key);
            EXPECT_EQ(translated[i].handled, keys[i].answer == S_OK);
        }
        active.Reset();

        m_handler->Stop();
        EXPECT_FALSE(IsWindow(browser_window));
        EXPECT_EQ(m_host->Browser().Alive(), 0);
        return dialog->Destroy();
    });
    EXPECT_EQ(hr, S_OK);
}

// The dialog may end, unadvise and release everything from inside an event.
TEST_F(HeadlessBrowserTest, ABrowserTornDownInsideItsEventStopsThere) {
    m_host->SetBrowserScript({BrowserAction::Approve, L""});
    HRESULT hr = m_host->OnUi([&]() -> HRESULT {
        ComPtr<HostDialog> dialog;
        RETURN_IF_FAILED(MakeDialog(&dialog));
        RETURN_IF_FAILED(m_handler->Start(L""));
        m_handler->m_sink->m_on_event = [&](const SeenEvent&) { dialog->Destroy(); };
        RETURN_IF_FAILED(m_handler->m_container->Navigate(EmulatorUrl(kConsentPath)));
        EXPECT_TRUE(UiThread::PumpUntil([&] { return m_host->Browser().Alive() == 0; }, kDeadline));
        return S_OK;
    });
    EXPECT_EQ(hr, S_OK);
    // Only the frame's event came; nothing was submitted.
    EXPECT_EQ(m_host->Browser().Events().size(), 1u);
    for (const BrowserRequest& request : m_host->Browser().Requests())
        EXPECT_EQ(request.method, L"GET");
}

// An error answer is a page; a refused connection, or a certificate that
// does not verify (the emulator's own), completes without a title.
TEST_F(HeadlessBrowserTest, FailedLoadsStillComplete) {
    test::ServerAddress secure = test::EmulatorAddress("https");
    const struct {
        std::wstring url;
        const wchar_t* title;
    } cases[] = {
        {EmulatorUrl(L"/o/oauth2/auth?response_type=code&client_id=unknown"
                     L"&redirect_uri=urn:ietf:wg:oauth:2.0:oob:auto&scope=drive"),
         L"Error"},
        {L"http://127.0.0.1:1/o/oauth2/auth", L""},
        {L"https://" + secure.host + L":" + std::to_wstring(secure.port) + kConsentPath, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.url);
        ASSERT_TRUE(SUCCEEDED(MakeObject(&m_handler)));
        HRESULT hr = m_host->OnUi([&]() -> HRESULT {
            ComPtr<HostDialog> dialog;
            RETURN_IF_FAILED(MakeDialog(&dialog));
            RETURN_IF_FAILED(m_handler->Start(c.url));
            EXPECT_TRUE(
                UiThread::PumpUntil([&] { return !m_handler->m_sink->m_seen.empty(); }, kDeadline));
            return dialog->Destroy();
        });
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(m_handler->m_sink->m_seen.size(), 1u);
        EXPECT_TRUE(m_handler->m_sink->m_seen[0].from_browser);
        EXPECT_EQ(m_handler->m_sink->m_seen[0].url, c.url);
        EXPECT_EQ(m_handler->m_sink->m_seen[0].title, c.title);
    }
}

TEST(HtmlPage, TitleFramesAndFormsAreRead) {
    HtmlPage page = ParseHtml(
        L"<!DOCTYPE html><html><head><script>var s = '<title>not this</title>';</script>"
        L"<TITLE>\n Tom &amp; Jerry&#39;s &#x263A; page </title></head><body>"
        L"<!-- <iframe src=\"/hidden\"> -->"
        L"<iframe src='/relay?a=1&amp;b=2' width=0></iframe>"
        L"<form method=POST action=\"/submit\"><input type=\"hidden\" name=\"scope\" "
        L"value=\"a b&quot;c\"><select name=\"user\"><option value=\"x@example.com\">X"
        L"<option>y@example.com</option></select>"
        L"<button type=\"submit\" name=\"decision\" value=\"approve\">Allow</button>"
        L"<button type=\"button\" name=\"other\" value=\"no\">No</button></form></body></html>");
    EXPECT_EQ(page.title, L"Tom & Jerry's \u263A page");
    EXPECT_EQ(page.frames, std::vector<std::wstring>{L"/relay?a=1&b=2"});
    ASSERT_EQ(page.forms.size(), 1u);
    const HtmlForm& form = page.forms[0];
    EXPECT_EQ(form.method, L"post");
    EXPECT_EQ(form.action, L"/submit");
    EXPECT_EQ(form.fields, (FormValues{{L"scope", L"a b\"c"}}));
    ASSERT_EQ(form.selects.size(), 1u);
    EXPECT_EQ(form.selects[0].options,
              (std::vector<std::wstring>{L"x@example.com", L"y@example.com"}));
    EXPECT_EQ(form.buttons, (FormValues{{L"decision", L"approve"}}));

    EXPECT_EQ(EncodeForm({{L"scope", L"a b+c/\u00E9"}, {L"user", L"x@example.com"}}),
              "scope=a+b%2Bc%2F%C3%A9&user=x%40example.com");
}

} // namespace
} // namespace gd
