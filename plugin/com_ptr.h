// Owners for COM interface pointers, BSTRs and VARIANTs (MinGW has no ATL).
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

namespace gd {

// Holds one counted reference to a COM interface.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit ComPtr(T* p) : m_p(p) {
        if (m_p != nullptr)
            m_p->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
    ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    void Reset() {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }
    // Adopts a reference the caller already owns.
    void Attach(T* p) {
        Reset();
        m_p = p;
    }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(m_p, nullptr); }
    // For out parameters: drops the current reference first.
    T** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Copies a new reference into an out parameter (null is allowed).
    HRESULT CopyTo(T** out) const {
        if (out == nullptr)
            return E_POINTER;
        *out = m_p;
        if (m_p != nullptr)
            m_p->AddRef();
        return S_OK;
    }
    template <class U> HRESULT As(ComPtr<U>* other) const {
        if (m_p == nullptr)
            return E_POINTER;
        return m_p->QueryInterface(__uuidof(U), other->PutVoid());
    }

private:
    T* m_p = nullptr;
};

// Owns a BSTR.
class Bstr {
public:
    Bstr() = default;
    ~Bstr() { Reset(); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : m_s(std::exchange(other.m_s, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        Attach(other.Detach());
        return *this;
    }

    // A copy of text; E_OUTOFMEMORY when it cannot be allocated.
    HRESULT Assign(const wchar_t* text) {
        BSTR copy = SysAllocString(text);
        if (copy == nullptr && text != nullptr)
            return E_OUTOFMEMORY;
        Attach(copy);
        return S_OK;
    }
    BSTR Get() const { return m_s; }
    // Never null: an absent BSTR reads as empty text.
    const wchar_t* Text() const { return m_s != nullptr ? m_s : L""; }
    UINT Length() const { return SysStringLen(m_s); }
    void Reset() { SysFreeString(std::exchange(m_s, nullptr)); }
    void Attach(BSTR s) {
        Reset();
        m_s = s;
    }
    BSTR Detach() { return std::exchange(m_s, nullptr); }
    BSTR* Put() {
        Reset();
        return &m_s;
    }

private:
    BSTR m_s = nullptr;
};

// A newly allocated copy of text in *out: E_POINTER for a null out,
// E_OUTOFMEMORY when the copy fails.
inline HRESULT CopyToBstr(const wchar_t* text, BSTR* out) {
    if (out == nullptr)
        return E_POINTER;
    *out = SysAllocString(text);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// Owns a VARIANT: cleared on destruction.
class Variant {
public:
    Variant() { VariantInit(&m_v); }
    ~Variant() { VariantClear(&m_v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    // A BSTR variant holding a copy of text.
    HRESULT SetText(const wchar_t* text) {
        VariantClear(&m_v);
        BSTR copy = SysAllocString(text);
        if (copy == nullptr)
            return E_OUTOFMEMORY;
        V_VT(&m_v) = VT_BSTR;
        V_BSTR(&m_v) = copy;
        return S_OK;
    }
    VARIANT& Get() { return m_v; }
    const VARIANT& Get() const { return m_v; }
    VARIANT* Put() {
        VariantClear(&m_v);
        return &m_v;
    }

private:
    VARIANT m_v;
};

} // namespace gd
