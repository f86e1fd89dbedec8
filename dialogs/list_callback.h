// The host list's callbacks that a list does not answer: every one says
// E_NOTIMPL until a list overrides the ones it serves.
#pragma once

#include "plugin/sdk/lumo.h"

namespace gd {

class DefaultListCallback : public Lumo::IUixListCallback {
public:
    HRESULT STDMETHODCALLTYPE GetItemText(const Lumo::UIX_ListItemId*, LPCWSTR*, long*,
                                          DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetItemImage(const Lumo::UIX_ListItemId*, Lumo::IUixImage**,
                                           double*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetItemImageSize(const Lumo::UIX_ListItemId*, SIZE*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnItemActivated(const Lumo::UIX_ListItemId*, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnColumnClick(long, long) override { return E_NOTIMPL; }
};

} // namespace gd
