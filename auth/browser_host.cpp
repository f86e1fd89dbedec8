#include "auth/browser_host.h"

#include "errors/check.h"
#include "errors/codes.h"

#include <utility>

namespace gd {
namespace {

// Clears an out pointer; false when there is none.
template <class T> bool ClearOut(T** out) {
    if (out == nullptr)
        return false;
    *out = nullptr;
    return true;
}

} // namespace

BrowserHost::BrowserHost() : m_ole_initialized(OleInitialize(nullptr)) {}

BrowserHost::~BrowserHost() {
    Close();
    if (SUCCEEDED(m_ole_initialized))
        OleUninitialize();
}

HRESULT BrowserHost::Create(HWND i_parent_window, const RECT& rect) {
    RETURN_HR_IF(E_INVALIDARG, i_parent_window == nullptr);
    Close();
    _parent_window = i_parent_window;
    _rect = rect;
    HRESULT hr = Activate(rect);
    if (FAILED(hr))
        Close();
    return hr;
}

HRESULT BrowserHost::Activate(const RECT& rect) {
    RETURN_IF_FAILED(OleCreate(CLSID_WebBrowser, IID_IOleObject, OLERENDER_DRAW, nullptr,
                               static_cast<IOleClientSite*>(this), static_cast<IStorage*>(this),
                               _ole_object.PutVoid()));
    RETURN_IF_FAILED(_ole_object->SetClientSite(this));
    RETURN_IF_FAILED(OleSetContainedObject(_ole_object.Get(), TRUE));
    RECT position = rect;
    RETURN_IF_FAILED(_ole_object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, -1,
                                         _parent_window, &position));
    RETURN_IF_FAILED(_ole_object.As(&_web_browser2));
    // ShowWindow answers 0 for a window that was hidden before; only an error
    // set by this call counts.
    SetLastError(ERROR_SUCCESS);
    const DWORD error = ShowWindow(GetControl(), SW_SHOW) ? ERROR_SUCCESS : GetLastError();
    RETURN_HR_IF(HRESULT_FROM_WIN32(error), error != ERROR_SUCCESS);
    return S_OK;
}

HRESULT BrowserHost::SetRect(const RECT& rect) {
    RETURN_HR_IF_NULL(GD_E_MISSING, _ole_object.Get());
    _rect = rect;
    SIZEL size{rect.right - rect.left, rect.bottom - rect.top};
    RETURN_IF_FAILED(_ole_object->SetExtent(DVASPECT_CONTENT, &size));
    if (_ole_in_place_object)
        RETURN_IF_FAILED(_ole_in_place_object->SetObjectRects(&_rect, &_rect));
    return S_OK;
}

HWND BrowserHost::GetControl() const {
    HWND window = nullptr;
    if (!_ole_in_place_object || FAILED(_ole_in_place_object->GetWindow(&window)))
        return nullptr;
    return window;
}

void BrowserHost::Close() {
    // Deactivation calls OnInPlaceDeactivate, which drops the member.
    ComPtr<IOleInPlaceObject> in_place = _ole_in_place_object;
    if (in_place)
        in_place->InPlaceDeactivate();
    in_place.Reset();
    _ole_in_place_object.Reset();
    _web_browser2.Reset();
    if (_ole_object) {
        if (std::exchange(m_running_locked, false))
            LOG_IF_FAILED(OleLockRunning(_ole_object.Get(), FALSE, FALSE));
        _ole_object->Close(OLECLOSE_NOSAVE);
        _ole_object->SetClientSite(nullptr);
        _ole_object.Reset();
    }
}

HRESULT BrowserHost::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
        *out = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleInPlaceSite)
        *out = static_cast<IOleInPlaceSite*>(this);
    else if (iid == IID_IStorage)
        *out = static_cast<IStorage*>(this);
    else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    return S_OK;
}

HRESULT BrowserHost::GetWindow(HWND* window) {
    RETURN_HR_IF_NULL(E_INVALIDARG, window);
    *window = _parent_window;
    return S_OK;
}

HRESULT BrowserHost::OnInPlaceActivate() {
    RETURN_HR_IF_NULL(E_UNEXPECTED, _ole_object.Get());
    if (!m_running_locked) {
        RETURN_HR_IF(E_UNEXPECTED, !SUCCEEDED(OleLockRunning(_ole_object.Get(), TRUE, FALSE)));
        m_running_locked = true;
    }
    RETURN_HR_IF(E_UNEXPECTED, !SUCCEEDED(_ole_object.As(&_ole_in_place_object)));
    RETURN_HR_IF(E_UNEXPECTED, !SUCCEEDED(_ole_in_place_object->SetObjectRects(&_rect, &_rect)));
    return S_OK;
}

HRESULT BrowserHost::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                      RECT* position, RECT* clip, OLEINPLACEFRAMEINFO* info) {
    const bool has_frame = ClearOut(frame);
    const bool has_document = ClearOut(document);
    if (position != nullptr)
        SetRectEmpty(position);
    if (clip != nullptr)
        SetRectEmpty(clip);
    RETURN_HR_IF(E_INVALIDARG, !has_frame || !has_document || position == nullptr ||
                                   clip == nullptr || info == nullptr);
    *position = _rect;
    *clip = _rect;
    info->fMDIApp = FALSE;
    info->hwndFrame = _parent_window;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

HRESULT BrowserHost::OnInPlaceDeactivate() {
    _ole_in_place_object.Reset();
    return S_OK;
}

HRESULT BrowserHost::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    RETURN_HR_IF(E_INVALIDARG, !ClearOut(moniker));
    return E_NOTIMPL;
}

HRESULT BrowserHost::GetContainer(IOleContainer** container) {
    RETURN_HR_IF(E_INVALIDARG, !ClearOut(container));
    return E_NOINTERFACE;
}

HRESULT BrowserHost::CreateStream(const OLECHAR*, DWORD, DWORD, DWORD, IStream** stream) {
    RETURN_HR_IF(E_INVALIDARG, !ClearOut(stream));
    return E_NOTIMPL;
}

HRESULT BrowserHost::OpenStream(const OLECHAR*, void*, DWORD, DWORD, IStream** stream) {
    RETURN_HR_IF(E_INVALIDARG, !ClearOut(stream));
    return E_NOTIMPL;
}

HRESULT BrowserHost::CreateStorage(const OLECHAR*, DWORD, DWORD, DWORD, IStorage** storage) {
    RETURN_HR_IF(E_INVALIDARG, !ClearOut(storage));
    return E_NOTIMPL;
}

HRESULT BrowserHost::OpenStorage(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage** storage) {
    RETURN_HR_IF(E_INVALIDARG, !ClearOut(storage));
    return E_NOTIMPL;
}

HRESULT BrowserHost::EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** elements) {
    RETURN_HR_IF(E_INVALIDARG, !ClearOut(elements));
    return E_NOTIMPL;
}

} // namespace gd
