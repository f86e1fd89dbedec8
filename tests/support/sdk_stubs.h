// Parts of the host SDK's callback interfaces that test objects (and the
// test plug-in module) leave unanswered. Header only: the module has no
// test library.
#pragma once

#include "plugin/sdk/lumo.h"

namespace gd::test {

// An event sink's IDispatch part: hosts call OnEvent only.
template <class Base> class NoDispatch : public Base {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

// A list callback's images: none.
template <class Base> class NoListImages : public Base {
public:
    HRESULT STDMETHODCALLTYPE GetItemImage(const Lumo::UIX_ListItemId*, Lumo::IUixImage** image,
                                           double* opacity) override {
        *image = nullptr;
        *opacity = 0;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetItemImageSize(const Lumo::UIX_ListItemId*, SIZE* size) override {
        *size = {};
        return S_FALSE;
    }
};

} // namespace gd::test
