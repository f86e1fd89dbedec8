// The IUnknown part of a COM object: an atomic reference count starting at
// 0 and QueryInterface over a list of interfaces.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <new>
#include <tuple>
#include <utility>

#include "plugin/com_ptr.h"
#include "plugin/sdk/lumo_base.h"

// Declares gd::name and binds the identifier `text` to it for __uuidof, the
// way the host's SDK declares its interfaces; for the plug-in's own.
#if defined(_MSC_VER)
#define GD_DECLARE_INTERFACE(name, text)                                                           \
    namespace gd {                                                                                 \
    struct __declspec(uuid(text)) name;                                                            \
    }
#else
#define GD_DECLARE_INTERFACE(name, text)                                                           \
    namespace gd {                                                                                 \
    struct name;                                                                                   \
    }                                                                                              \
    LUMO_APPLY(__CRT_UUID_DECL, gd::name, LUMO_GUID_PARTS(text))
#endif

namespace gd {

template <class... Interfaces> class ComObject : public Interfaces... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown))
            *out = static_cast<IUnknown*>(static_cast<First*>(this));
        else
            (Match<Interfaces>(iid, out) || ...);
        if (*out == nullptr)
            *out = QueryMore(iid);
        if (*out == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return refs;
    }

protected:
    // Further identifiers an object answers (a base interface of one of its
    // interfaces, say); null by default.
    virtual void* QueryMore(REFIID) { return nullptr; }

private:
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
    template <class I> bool Match(REFIID iid, void** out) {
        if (iid != __uuidof(I))
            return false;
        *out = static_cast<I*>(this);
        return true;
    }

    std::atomic<ULONG> m_refs{0};
};

// Creates an object with new (no exception) and hands over a reference.
template <class T, class... Args> HRESULT MakeObject(ComPtr<T>* out, Args&&... args) {
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (object == nullptr)
        return E_OUTOFMEMORY;
    *out = ComPtr<T>(object);
    return S_OK;
}

} // namespace gd
