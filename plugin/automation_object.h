// An automation-style object: IUnknown, then the four IDispatch operations
// (no type information; names cannot be invoked), then its own.
#pragma once

#include "plugin/com_object.h"

#include <oaidl.h>

namespace gd {

template <class Interface> class AutomationObject : public ComObject<Interface> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

protected:
    void* QueryMore(REFIID iid) override {
        return iid == __uuidof(IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
    }
};

} // namespace gd
