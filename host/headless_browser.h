// The emulated host's web browser: the class object for CLSID_WebBrowser that
// the host registers on its UI thread, so that a plug-in's OleCreate gets a
// browser without an HTML engine. It loads pages with WinINet, fires
// DocumentComplete for inner frames and pages, and answers a consent form
// the way its script says, as a person would.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace gd {

enum class BrowserAction {
    Wait,    // leave the consent page alone
    Approve, // submit it with the user
    Deny,    // submit it with decision=deny
    Close,   // close the window holding the browser, as the close box does
};

struct BrowserScript {
    BrowserAction action = BrowserAction::Wait;
    std::wstring user; // the account's e-mail; empty: the first one offered
    // Not 0: every page the browser navigates to fails with this status, the
    // way a refused server certificate does (INET_E_INVALID_CERTIFICATE or a
    // WinINet certificate error): NavigateError, then, unless a sink cancels,
    // the browser's own error page.
    LONG navigate_error = 0;
    // The system browser (tools/test-browser) first asks the listener for
    // another path and for the callback with another state, as a stale tab or
    // a favicon fetch would, before it follows the real redirect.
    bool stray_requests = false;
};

// A request a browser sent: a navigation, a frame or a submitted form.
struct BrowserRequest {
    std::wstring method;
    std::wstring url;
    std::string body;
};

struct BrowserDocumentEvent {
    std::wstring url;
    std::wstring title;
    bool top_level = false; // the browser's own page, not an inner frame
};

struct BrowserKey {
    UINT message = 0;
    WPARAM key = 0;
    bool handled = false; // TranslateAccelerator answered S_OK
};

struct BrowserRects {
    RECT position{};
    RECT clip{};
};

// The script the browsers follow and what they did; shared by the host, its
// browsers and tests, on any thread.
class BrowserRecord {
public:
    void SetScript(BrowserScript script);
    BrowserScript Script() const;

    std::vector<BrowserRequest> Requests() const;
    std::vector<BrowserDocumentEvent> Events() const;
    std::vector<BrowserKey> Keys() const;
    // The last SetObjectRects; false when there was none.
    bool LastRects(BrowserRects* rects) const;
    // Browser objects not yet destroyed.
    int Alive() const;
    // Running locks (IRunnableObject::LockRunning) taken and not given back,
    // also on browsers already destroyed.
    int RunningLocks() const;

    // Called by the browsers.
    void AddRequest(BrowserRequest request);
    void AddEvent(BrowserDocumentEvent event);
    void AddKey(BrowserKey key);
    void SetRects(const BrowserRects& rects);
    void Created();
    void Destroyed();
    void LockedRunning(bool locked);

private:
    mutable std::mutex m_lock;
    BrowserScript m_script;
    std::vector<BrowserRequest> m_requests;
    std::vector<BrowserDocumentEvent> m_events;
    std::vector<BrowserKey> m_keys;
    BrowserRects m_rects;
    bool m_has_rects = false;
    int m_alive = 0;
    int m_running_locks = 0;
};

// Registers the browser's class object for the calling thread's apartment
// (the thread that calls OleCreate); *cookie is for CoRevokeClassObject,
// called on the same thread.
HRESULT RegisterHeadlessBrowser(std::shared_ptr<BrowserRecord> record, DWORD* cookie);

} // namespace gd
