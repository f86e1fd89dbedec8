#include "host/headless_browser.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <ole2.h>

#include <algorithm>
#include <deque>
#include <utility>

#include "errors/check.h"
#include "host/browser_objects.h"
#include "host/html_page.h"
#include "host/page_fetch.h"
#include "host/ui_thread.h"

namespace gd {

void BrowserRecord::SetScript(BrowserScript script) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_script = std::move(script);
}

BrowserScript BrowserRecord::Script() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_script;
}

std::vector<BrowserRequest> BrowserRecord::Requests() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

std::vector<BrowserDocumentEvent> BrowserRecord::Events() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_events;
}

std::vector<BrowserKey> BrowserRecord::Keys() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_keys;
}

bool BrowserRecord::LastRects(BrowserRects* rects) const {
    std::lock_guard<std::mutex> guard(m_lock);
    *rects = m_rects;
    return m_has_rects;
}

int BrowserRecord::Alive() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_alive;
}

void BrowserRecord::AddRequest(BrowserRequest request) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.push_back(std::move(request));
}

void BrowserRecord::AddEvent(BrowserDocumentEvent event) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_events.push_back(std::move(event));
}

void BrowserRecord::AddKey(BrowserKey key) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_keys.push_back(key);
}

void BrowserRecord::SetRects(const BrowserRects& rects) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rects = rects;
    m_has_rects = true;
}

void BrowserRecord::Created() {
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_alive;
}

void BrowserRecord::Destroyed() {
    std::lock_guard<std::mutex> guard(m_lock);
    --m_alive;
}

int BrowserRecord::RunningLocks() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_running_locks;
}

void BrowserRecord::LockedRunning(bool locked) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_running_locks += locked ? 1 : -1;
}

namespace {

constexpr const wchar_t* kBrowserClass = L"LumoHostBrowser";
constexpr UINT kLoadMessage = WM_APP + 1;

struct PendingLoad {
    std::wstring method;
    std::wstring url;
    std::string body;
};

// The consent form: a user to pick and a submit button for the decision.
struct ConsentForm {
    const HtmlForm* form = nullptr;
    const HtmlSelect* user = nullptr;
};

ConsentForm FindConsentForm(const HtmlPage& page) {
    for (const HtmlForm& form : page.forms) {
        for (const HtmlSelect& select : form.selects) {
            if (select.name == L"user")
                return {&form, &select};
        }
    }
    return {};
}

// Everything on the browser's own thread: the class object is registered
// for the UI thread's apartment, and loads run from its messages.
class HeadlessBrowser
    : public WebBrowserObject<IOleObject, IPersistStorage, IRunnableObject, IOleInPlaceObject,
                              IOleInPlaceActiveObject, IConnectionPointContainer> {
public:
    explicit HeadlessBrowser(std::shared_ptr<BrowserRecord> record) : m_record(std::move(record)) {
        m_record->Created();
    }

    ~HeadlessBrowser() override {
        if (m_window != nullptr)
            DestroyWindow(m_window);
        if (m_loader != nullptr) {
            SetWindowLongPtrW(m_loader, GWLP_USERDATA, 0);
            if (GetWindowThreadProcessId(m_loader, nullptr) == GetCurrentThreadId())
                DestroyWindow(m_loader);
            else
                PostMessageW(m_loader, WM_CLOSE, 0, 0);
        }
        m_record->Destroyed();
    }

    // The window whose messages carry the loads, so that Navigate2 returns at once.
    HRESULT Init() {
        RegisterWindowClass(kBrowserClass, WindowProc);
        m_loader = CreateWindowExW(0, kBrowserClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), m_loader == nullptr);
        SetWindowLongPtrW(m_loader, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        return S_OK;
    }

    // IWebBrowser2
    HRESULT STDMETHODCALLTYPE Navigate(BSTR url, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
        RETURN_HR_IF(E_INVALIDARG, url == nullptr);
        return StartNavigation(url);
    }
    HRESULT STDMETHODCALLTYPE Navigate2(VARIANT* url, VARIANT*, VARIANT*, VARIANT*,
                                        VARIANT*) override {
        RETURN_HR_IF_NULL(E_INVALIDARG, url);
        const VARIANT* value = url;
        while (V_VT(value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(value) != nullptr)
            value = V_VARIANTREF(value);
        RETURN_HR_IF(E_INVALIDARG, V_VT(value) != VT_BSTR || V_BSTR(value) == nullptr);
        return StartNavigation(V_BSTR(value));
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        CancelLoads();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** document) override {
        RETURN_HR_IF_NULL(E_POINTER, document);
        *document = nullptr;
        if (!m_document)
            return S_FALSE;
        *document = static_cast<IHTMLDocument2*>(m_document.Get());
        (*document)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* url) override {
        return CopyToBstr(m_url.c_str(), url);
    }
    HRESULT STDMETHODCALLTYPE get_LocationName(BSTR* name) override {
        return CopyToBstr(m_document ? m_document->Title().c_str() : L"", name);
    }
    HRESULT STDMETHODCALLTYPE get_Busy(VARIANT_BOOL* busy) override {
        RETURN_HR_IF_NULL(E_POINTER, busy);
        *busy = m_busy ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
        m_client_site = ComPtr<IOleClientSite>(site);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
        return m_client_site.CopyTo(site);
    }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override {
        ComPtr<HeadlessBrowser> alive(this);
        CancelLoads();
        return InPlaceDeactivate();
    }
    GD_STUB(SetMoniker, (DWORD, IMoniker*))
    GD_STUB(GetMoniker, (DWORD, DWORD, IMoniker**))
    GD_STUB(InitFromData, (IDataObject*, WINBOOL, DWORD))
    GD_STUB(GetClipboardData, (DWORD, IDataObject**))
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* active_site, LONG,
                                     HWND parent, LPCRECT position) override {
        switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
        case OLEIVERB_INPLACEACTIVATE:
            return ActivateInPlace(active_site, parent, position);
        case OLEIVERB_HIDE:
            if (m_window != nullptr)
                ShowWindow(m_window, SW_HIDE);
            return S_OK;
        default:
            return E_NOTIMPL;
        }
    }
    GD_STUB(EnumVerbs, (IEnumOLEVERB**))
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* id) override { return GetClassID(id); }
    GD_STUB(GetUserType, (DWORD, LPOLESTR*))
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL* size) override {
        RETURN_HR_IF_NULL(E_INVALIDARG, size);
        m_extent = *size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL* size) override {
        RETURN_HR_IF_NULL(E_INVALIDARG, size);
        *size = m_extent;
        return S_OK;
    }
    GD_STUB(Advise, (IAdviseSink*, DWORD*))
    GD_STUB(Unadvise, (DWORD))
    GD_STUB(EnumAdvise, (IEnumSTATDATA**))
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
        RETURN_HR_IF_NULL(E_POINTER, status);
        *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                  OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
        return S_OK;
    }
    GD_STUB(SetColorScheme, (LOGPALETTE*))

    // IPersistStorage: nothing to keep, so any storage will do.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
        RETURN_HR_IF_NULL(E_POINTER, id);
        *id = CLSID_WebBrowser;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE InitNew(IStorage*) override { return S_OK; }
    GD_STUB(Load, (IStorage*))
    GD_STUB(Save, (IStorage*, WINBOOL))
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override { return S_OK; }

    // IRunnableObject: always running; locks are counted, never owning.
    HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID id) override { return GetClassID(id); }
    HRESULT STDMETHODCALLTYPE Run(LPBINDCTX) override { return S_OK; }
    WINBOOL STDMETHODCALLTYPE IsRunning() override { return TRUE; }
    HRESULT STDMETHODCALLTYPE LockRunning(WINBOOL lock, WINBOOL last_unlock_closes) override {
        if (lock) {
            ++m_running_locks;
            m_record->LockedRunning(true);
            return S_OK;
        }
        RETURN_HR_IF(E_UNEXPECTED, m_running_locks == 0);
        m_record->LockedRunning(false);
        if (--m_running_locks == 0 && last_unlock_closes)
            return Close(OLECLOSE_SAVEIFDIRTY);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetContainedObject(WINBOOL) override { return S_OK; }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
        RETURN_HR_IF_NULL(E_POINTER, window);
        *window = m_window;
        return m_window != nullptr ? S_OK : E_FAIL;
    }
    GD_STUB(ContextSensitiveHelp, (WINBOOL))

    // IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
        ComPtr<HeadlessBrowser> alive(this);
        if (m_window != nullptr)
            DestroyWindow(m_window);
        m_window = nullptr;
        ComPtr<IOleInPlaceSite> site = std::exchange(m_in_place_site, nullptr);
        if (site)
            site->OnInPlaceDeactivate();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UIDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override {
        RETURN_HR_IF(E_INVALIDARG, position == nullptr);
        m_position = *position;
        m_record->SetRects({*position, clip != nullptr ? *clip : *position});
        if (m_window != nullptr)
            MoveWindow(m_window, position->left, position->top, position->right - position->left,
                       position->bottom - position->top, FALSE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }

    // IOleInPlaceActiveObject: Tab, Enter and Backspace belong to the page.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override {
        RETURN_HR_IF_NULL(E_INVALIDARG, message);
        const bool handled = message->message == WM_KEYDOWN &&
                             (message->wParam == VK_TAB || message->wParam == VK_RETURN ||
                              message->wParam == VK_BACK);
        m_record->AddKey({message->message, message->wParam, handled});
        return handled ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, WINBOOL) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL) override { return S_OK; }

    // IConnectionPointContainer
    GD_STUB(EnumConnectionPoints, (IEnumConnectionPoints**))
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // The events' connection point.
    HRESULT AddSink(IUnknown* sink, DWORD* cookie);
    HRESULT RemoveSink(DWORD cookie);

protected:
    void* QueryMore(REFIID iid) override {
        if (iid == __uuidof(IOleWindow))
            return static_cast<IOleInPlaceObject*>(this);
        if (iid == __uuidof(IPersist))
            return static_cast<IPersistStorage*>(this);
        return WebBrowserObject::QueryMore(iid);
    }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message != kLoadMessage)
            return DefWindowProcW(window, message, wparam, lparam);
        auto* browser =
            reinterpret_cast<HeadlessBrowser*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (browser != nullptr)
            RunGuarded([browser] { return browser->RunNextLoad(); });
        return 0;
    }

    HRESULT ActivateInPlace(IOleClientSite* active_site, HWND parent, LPCRECT position);
    HRESULT StartNavigation(const std::wstring& url);
    HRESULT Queue(PendingLoad load);
    void CancelLoads();
    HRESULT RunNextLoad();
    void Load(const PendingLoad& load, unsigned generation);
    void LoadFrame(const std::wstring& url);
    void Fire(IDispatch* source, const std::wstring& url, const std::wstring& title,
              bool top_level);
    bool FireNavigateError(const std::wstring& url, LONG status);
    void ShowErrorPage(const wchar_t* url, const wchar_t* title);
    void Notify(DISPID id, DISPPARAMS& params);
    void FollowScript(const HtmlPage& page);
    void Submit(const ConsentForm& consent, const BrowserScript& script);

    std::shared_ptr<BrowserRecord> m_record;
    HWND m_loader = nullptr; // message-only: carries the loads
    HWND m_window = nullptr; // the in-place window, a child of the site's
    ComPtr<IOleClientSite> m_client_site;
    ComPtr<IOleInPlaceSite> m_in_place_site;
    RECT m_position{};
    SIZEL m_extent{};
    ULONG m_running_locks = 0;

    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> m_sinks;
    DWORD m_next_cookie = 1;

    std::wstring m_url;
    ComPtr<HtmlDocument> m_document;
    std::deque<PendingLoad> m_pending;
    // Counts navigations, stops and closes: a load that sees it change ends.
    unsigned m_generation = 0;
    bool m_busy = false;
    bool m_script_followed = false;
};

// The DWebBrowserEvents2 connection point; the sinks live in the browser.
class BrowserEvents : public ComObject<IConnectionPoint> {
public:
    explicit BrowserEvents(HeadlessBrowser* browser) : m_browser(browser) {}

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        RETURN_HR_IF_NULL(E_POINTER, iid);
        *iid = DIID_DWebBrowserEvents2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** container) override {
        return m_browser->QueryInterface(__uuidof(IConnectionPointContainer),
                                         reinterpret_cast<void**>(container));
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        return m_browser->AddSink(sink, cookie);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        return m_browser->RemoveSink(cookie);
    }
    GD_STUB(EnumConnections, (IEnumConnections**))

private:
    ComPtr<HeadlessBrowser> m_browser;
};

HRESULT HeadlessBrowser::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    RETURN_HR_IF_NULL(E_POINTER, point);
    *point = nullptr;
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, iid != DIID_DWebBrowserEvents2);
    ComPtr<BrowserEvents> events;
    RETURN_IF_FAILED(MakeObject(&events, this));
    *point = events.Detach();
    return S_OK;
}

HRESULT HeadlessBrowser::AddSink(IUnknown* sink, DWORD* cookie) {
    RETURN_HR_IF_NULL(E_POINTER, cookie);
    *cookie = 0;
    RETURN_HR_IF_NULL(E_POINTER, sink);
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(DIID_DWebBrowserEvents2, dispatch.PutVoid())))
        RETURN_HR_IF(CONNECT_E_CANNOTCONNECT, FAILED(sink->QueryInterface(dispatch.Put())));
    *cookie = m_next_cookie++;
    m_sinks.emplace_back(*cookie, std::move(dispatch));
    return S_OK;
}

HRESULT HeadlessBrowser::RemoveSink(DWORD cookie) {
    auto found = std::find_if(m_sinks.begin(), m_sinks.end(),
                              [cookie](const auto& entry) { return entry.first == cookie; });
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, found == m_sinks.end());
    m_sinks.erase(found);
    return S_OK;
}

// The calls a real control makes on its site; the window is created hidden,
// the container shows it.
HRESULT HeadlessBrowser::ActivateInPlace(IOleClientSite* active_site, HWND parent,
                                         LPCRECT position) {
    if (m_window != nullptr)
        return S_OK;
    IOleClientSite* site = active_site != nullptr ? active_site : m_client_site.Get();
    RETURN_HR_IF_NULL(E_INVALIDARG, site);
    ComPtr<IOleInPlaceSite> in_place;
    RETURN_IF_FAILED(site->QueryInterface(in_place.Put()));
    RETURN_HR_IF(E_FAIL, in_place->CanInPlaceActivate() != S_OK);
    ComPtr<HeadlessBrowser> alive(this);
    if (position != nullptr)
        m_position = *position;
    m_in_place_site = in_place;
    HRESULT hr = in_place->OnInPlaceActivate();
    if (SUCCEEDED(hr)) {
        ComPtr<IOleInPlaceFrame> frame;
        ComPtr<IOleInPlaceUIWindow> document;
        RECT window_position = m_position, clip = m_position;
        OLEINPLACEFRAMEINFO info{};
        info.cb = sizeof info;
        if (SUCCEEDED(in_place->GetWindowContext(frame.Put(), document.Put(), &window_position,
                                                 &clip, &info)))
            m_position = window_position;
        HWND site_window = nullptr;
        if (SUCCEEDED(in_place->GetWindow(&site_window)) && site_window != nullptr)
            parent = site_window;
        m_window = CreateWindowExW(
            0, kBrowserClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, m_position.left,
            m_position.top, m_position.right - m_position.left, m_position.bottom - m_position.top,
            parent, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (m_window == nullptr)
            hr = HRESULT_FROM_WIN32(GetLastError());
    }
    if (FAILED(hr)) {
        InPlaceDeactivate();
        RETURN_IF_FAILED(hr);
    }
    return S_OK;
}

HRESULT HeadlessBrowser::StartNavigation(const std::wstring& url) {
    RETURN_HR_IF(E_INVALIDARG, url.empty());
    CancelLoads();
    m_script_followed = false;
    return Queue({L"GET", url, {}});
}

HRESULT HeadlessBrowser::Queue(PendingLoad load) {
    m_pending.push_back(std::move(load));
    m_busy = true;
    RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), !PostMessageW(m_loader, kLoadMessage, 0, 0));
    return S_OK;
}

void HeadlessBrowser::CancelLoads() {
    ++m_generation;
    m_pending.clear();
    m_busy = false;
}

HRESULT HeadlessBrowser::RunNextLoad() {
    if (m_pending.empty())
        return S_FALSE;
    // A sink may close and release the browser while it is called.
    ComPtr<HeadlessBrowser> alive(this);
    PendingLoad load = std::move(m_pending.front());
    m_pending.pop_front();
    const unsigned generation = m_generation;
    Load(load, generation);
    if (generation == m_generation)
        m_busy = !m_pending.empty();
    return S_OK;
}

// Inner frames complete first, then the page; a failed load is a page without
// a title.
void HeadlessBrowser::Load(const PendingLoad& load, unsigned generation) {
    m_record->AddRequest({load.method, load.url, load.body});
    if (const LONG status = m_record->Script().navigate_error) {
        if (!FireNavigateError(load.url, status) && generation == m_generation)
            ShowErrorPage(L"res://ieframe.dll/invalidcert.htm", L"Certificate error");
        return;
    }
    FetchedPage page;
    FetchPage(load.url, load.method, load.body, &page);
    HtmlPage html = ParseHtml(page.text);
    ComPtr<HtmlDocument> document;
    if (FAILED(MakeObject(&document, page.url, html.title)))
        return;
    m_url = page.url;
    m_document = document;
    for (const std::wstring& frame : html.frames) {
        LoadFrame(ResolveUrl(page.url, frame));
        if (generation != m_generation)
            return;
    }
    Fire(static_cast<IWebBrowser2*>(this), page.url, html.title, true);
    if (generation != m_generation)
        return;
    FollowScript(html);
}

void HeadlessBrowser::LoadFrame(const std::wstring& url) {
    m_record->AddRequest({L"GET", url, {}});
    FetchedPage page;
    FetchPage(url, L"GET", {}, &page);
    HtmlPage html = ParseHtml(page.text);
    ComPtr<HtmlDocument> document;
    ComPtr<FrameBrowser> frame;
    if (FAILED(MakeObject(&document, page.url, html.title)) ||
        FAILED(MakeObject(&frame, document.Get())))
        return;
    Fire(static_cast<IWebBrowser2*>(frame.Get()), page.url, html.title, false);
}

// DocumentComplete(pDisp, URL): arguments in reverse order, the URL a
// VARIANT by reference.
void HeadlessBrowser::Fire(IDispatch* source, const std::wstring& url, const std::wstring& title,
                           bool top_level) {
    m_record->AddEvent({url, title, top_level});
    Variant url_value;
    if (FAILED(url_value.SetText(url.c_str())))
        return;
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_DISPATCH;
    V_DISPATCH(&args[1]) = source;
    V_VT(&args[0]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[0]) = &url_value.Get();
    DISPPARAMS params{args, nullptr, 2, 0};
    Notify(DISPID_DOCUMENTCOMPLETE, params);
}

// NavigateError(pDisp, URL, Frame, StatusCode, Cancel), last first; true when
// a sink cancelled the navigation.
bool HeadlessBrowser::FireNavigateError(const std::wstring& url, LONG status) {
    Variant url_value, frame_value;
    if (FAILED(url_value.SetText(url.c_str())) || FAILED(frame_value.SetText(L"")))
        return false;
    VARIANT status_value;
    VariantInit(&status_value);
    V_VT(&status_value) = VT_I4;
    V_I4(&status_value) = status;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[5];
    for (VARIANT& arg : args)
        VariantInit(&arg);
    V_VT(&args[4]) = VT_DISPATCH;
    V_DISPATCH(&args[4]) = static_cast<IWebBrowser2*>(this);
    V_VT(&args[3]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[3]) = &url_value.Get();
    V_VT(&args[2]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[2]) = &frame_value.Get();
    V_VT(&args[1]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[1]) = &status_value;
    V_VT(&args[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&args[0]) = &cancel;
    DISPPARAMS params{args, nullptr, 5, 0};
    Notify(DISPID_NAVIGATEERROR, params);
    return cancel != VARIANT_FALSE;
}

// What a browser shows in place of a page it could not load.
void HeadlessBrowser::ShowErrorPage(const wchar_t* url, const wchar_t* title) {
    ComPtr<HtmlDocument> document;
    if (FAILED(MakeObject(&document, url, title)))
        return;
    m_url = url;
    m_document = document;
    Fire(static_cast<IWebBrowser2*>(this), url, title, true);
}

// A sink may unadvise itself or others while called: call each one that is
// still advised, holding it.
void HeadlessBrowser::Notify(DISPID id, DISPPARAMS& params) {
    auto sinks = m_sinks;
    for (const auto& sink : sinks) {
        auto advised = [&](const auto& entry) { return entry.first == sink.first; };
        if (std::none_of(m_sinks.begin(), m_sinks.end(), advised))
            continue;
        sink.second->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                            nullptr, nullptr);
    }
}

// What the script's person does on the consent page, once per navigation.
void HeadlessBrowser::FollowScript(const HtmlPage& page) {
    ConsentForm consent = FindConsentForm(page);
    if (consent.form == nullptr || m_script_followed)
        return;
    m_script_followed = true;
    BrowserScript script = m_record->Script();
    switch (script.action) {
    case BrowserAction::Wait:
        return;
    case BrowserAction::Close:
        if (HWND top = m_window != nullptr ? GetAncestor(m_window, GA_ROOT) : nullptr)
            PostMessageW(top, WM_CLOSE, 0, 0);
        return;
    case BrowserAction::Approve:
    case BrowserAction::Deny:
        Submit(consent, script);
        return;
    }
}

void HeadlessBrowser::Submit(const ConsentForm& consent, const BrowserScript& script) {
    const wchar_t* decision = script.action == BrowserAction::Approve ? L"approve" : L"deny";
    auto button = std::find_if(consent.form->buttons.begin(), consent.form->buttons.end(),
                               [decision](const auto& entry) { return entry.second == decision; });
    if (button == consent.form->buttons.end())
        return; // nothing to click
    FormValues values = consent.form->fields;
    std::wstring user = script.user;
    if (user.empty() && !consent.user->options.empty())
        user = consent.user->options.front();
    values.emplace_back(consent.user->name, user);
    values.push_back(*button);
    std::wstring action =
        ResolveUrl(m_url, consent.form->action.empty() ? m_url : consent.form->action);
    std::string body = EncodeForm(values);
    if (consent.form->method == L"post") {
        Queue({L"POST", action, body});
        return;
    }
    action = action.substr(0, action.find_first_of(L"?#"));
    Queue({L"GET", action + L"?" + std::wstring(body.begin(), body.end()), {}});
}

class BrowserFactory : public ComObject<IClassFactory> {
public:
    explicit BrowserFactory(std::shared_ptr<BrowserRecord> record) : m_record(std::move(record)) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = nullptr;
        RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr);
        ComPtr<HeadlessBrowser> browser;
        RETURN_IF_FAILED(MakeObject(&browser, m_record));
        RETURN_IF_FAILED(browser->Init());
        return browser->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL) override { return S_OK; }

private:
    std::shared_ptr<BrowserRecord> m_record;
};

} // namespace

HRESULT RegisterHeadlessBrowser(std::shared_ptr<BrowserRecord> record, DWORD* cookie) {
    RETURN_HR_IF_NULL(E_POINTER, cookie);
    *cookie = 0;
    RETURN_HR_IF_NULL(E_INVALIDARG, record.get());
    ComPtr<BrowserFactory> factory;
    RETURN_IF_FAILED(MakeObject(&factory, std::move(record)));
    return CoRegisterClassObject(CLSID_WebBrowser, static_cast<IClassFactory*>(factory.Get()),
                                 CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, cookie);
}

} // namespace gd
