// The plain COM objects of the headless browser: what a page's document and
// an inner frame answer. The wide interfaces answer E_NOTIMPL for everything
// a sign-in does not use.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>

#include <string>

#include "plugin/com_object.h"

namespace gd {

// One member answering E_NOTIMPL.
#define GD_STUB(name, params)                                                                      \
    HRESULT STDMETHODCALLTYPE name params override {                                               \
        return E_NOTIMPL;                                                                          \
    }

// IDispatch without type information: events and scripts have nothing to call.
#define GD_DISPATCH_STUBS                                                                          \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {                             \
        if (count == nullptr)                                                                      \
            return E_POINTER;                                                                      \
        *count = 0;                                                                                \
        return S_OK;                                                                               \
    }                                                                                              \
    GD_STUB(GetTypeInfo, (UINT, LCID, ITypeInfo**))                                                \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {     \
        return DISP_E_UNKNOWNNAME;                                                                 \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,            \
                                     EXCEPINFO*, UINT*) override {                                 \
        return DISP_E_MEMBERNOTFOUND;                                                              \
    }

// IWebBrowser2 with every member a stub; a browser or frame overrides what it
// answers. More: further interfaces of the object.
template <class... More> class WebBrowserObject : public ComObject<IWebBrowser2, More...> {
public:
    GD_DISPATCH_STUBS

    GD_STUB(GoBack, ())
    GD_STUB(GoForward, ())
    GD_STUB(GoHome, ())
    GD_STUB(GoSearch, ())
    GD_STUB(Navigate, (BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*))
    GD_STUB(Refresh, ())
    GD_STUB(Refresh2, (VARIANT*))
    GD_STUB(Stop, ())
    GD_STUB(get_Application, (IDispatch**))
    GD_STUB(get_Parent, (IDispatch**))
    GD_STUB(get_Container, (IDispatch**))
    GD_STUB(get_Document, (IDispatch**))
    GD_STUB(get_TopLevelContainer, (VARIANT_BOOL*))
    GD_STUB(get_Type, (BSTR*))
    GD_STUB(get_Left, (LONG*))
    GD_STUB(put_Left, (LONG))
    GD_STUB(get_Top, (LONG*))
    GD_STUB(put_Top, (LONG))
    GD_STUB(get_Width, (LONG*))
    GD_STUB(put_Width, (LONG))
    GD_STUB(get_Height, (LONG*))
    GD_STUB(put_Height, (LONG))
    GD_STUB(get_LocationName, (BSTR*))
    GD_STUB(get_LocationURL, (BSTR*))
    GD_STUB(get_Busy, (VARIANT_BOOL*))
    GD_STUB(Quit, ())
    GD_STUB(ClientToWindow, (int*, int*))
    GD_STUB(PutProperty, (BSTR, VARIANT))
    GD_STUB(GetProperty, (BSTR, VARIANT*))
    GD_STUB(get_Name, (BSTR*))
    GD_STUB(get_HWND, (SHANDLE_PTR*))
    GD_STUB(get_FullName, (BSTR*))
    GD_STUB(get_Path, (BSTR*))
    GD_STUB(get_Visible, (VARIANT_BOOL*))
    GD_STUB(put_Visible, (VARIANT_BOOL))
    GD_STUB(get_StatusBar, (VARIANT_BOOL*))
    GD_STUB(put_StatusBar, (VARIANT_BOOL))
    GD_STUB(get_StatusText, (BSTR*))
    GD_STUB(put_StatusText, (BSTR))
    GD_STUB(get_ToolBar, (int*))
    GD_STUB(put_ToolBar, (int))
    GD_STUB(get_MenuBar, (VARIANT_BOOL*))
    GD_STUB(put_MenuBar, (VARIANT_BOOL))
    GD_STUB(get_FullScreen, (VARIANT_BOOL*))
    GD_STUB(put_FullScreen, (VARIANT_BOOL))
    GD_STUB(Navigate2, (VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*))
    GD_STUB(QueryStatusWB, (OLECMDID, OLECMDF*))
    GD_STUB(ExecWB, (OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*))
    GD_STUB(ShowBrowserBar, (VARIANT*, VARIANT*, VARIANT*))
    GD_STUB(get_ReadyState, (READYSTATE*))
    GD_STUB(get_Offline, (VARIANT_BOOL*))
    GD_STUB(put_Offline, (VARIANT_BOOL))
    GD_STUB(get_Silent, (VARIANT_BOOL*))
    GD_STUB(put_Silent, (VARIANT_BOOL))
    GD_STUB(get_RegisterAsBrowser, (VARIANT_BOOL*))
    GD_STUB(put_RegisterAsBrowser, (VARIANT_BOOL))
    GD_STUB(get_RegisterAsDropTarget, (VARIANT_BOOL*))
    GD_STUB(put_RegisterAsDropTarget, (VARIANT_BOOL))
    GD_STUB(get_TheaterMode, (VARIANT_BOOL*))
    GD_STUB(put_TheaterMode, (VARIANT_BOOL))
    GD_STUB(get_AddressBar, (VARIANT_BOOL*))
    GD_STUB(put_AddressBar, (VARIANT_BOOL))
    GD_STUB(get_Resizable, (VARIANT_BOOL*))
    GD_STUB(put_Resizable, (VARIANT_BOOL))

protected:
    void* QueryMore(REFIID iid) override {
        if (iid == __uuidof(IDispatch) || iid == __uuidof(IWebBrowser) ||
            iid == __uuidof(IWebBrowserApp))
            return static_cast<IWebBrowser2*>(this);
        return nullptr;
    }
};

// A loaded page's document: its title and address.
class HtmlDocument : public ComObject<IHTMLDocument2> {
public:
    HtmlDocument(std::wstring url, std::wstring title)
        : m_url(std::move(url)), m_title(std::move(title)) {}

    const std::wstring& Title() const { return m_title; }

    HRESULT STDMETHODCALLTYPE get_title(BSTR* title) override {
        return CopyToBstr(m_title.c_str(), title);
    }
    HRESULT STDMETHODCALLTYPE get_URL(BSTR* url) override { return CopyToBstr(m_url.c_str(), url); }

    GD_DISPATCH_STUBS

    GD_STUB(get_Script, (IDispatch**))
    GD_STUB(get_all, (IHTMLElementCollection**))
    GD_STUB(get_body, (IHTMLElement**))
    GD_STUB(get_activeElement, (IHTMLElement**))
    GD_STUB(get_images, (IHTMLElementCollection**))
    GD_STUB(get_applets, (IHTMLElementCollection**))
    GD_STUB(get_links, (IHTMLElementCollection**))
    GD_STUB(get_forms, (IHTMLElementCollection**))
    GD_STUB(get_anchors, (IHTMLElementCollection**))
    GD_STUB(put_title, (BSTR))
    GD_STUB(get_scripts, (IHTMLElementCollection**))
    GD_STUB(put_designMode, (BSTR))
    GD_STUB(get_designMode, (BSTR*))
    GD_STUB(get_selection, (IHTMLSelectionObject**))
    GD_STUB(get_readyState, (BSTR*))
    GD_STUB(get_frames, (IHTMLFramesCollection2**))
    GD_STUB(get_embeds, (IHTMLElementCollection**))
    GD_STUB(get_plugins, (IHTMLElementCollection**))
    GD_STUB(put_alinkColor, (VARIANT))
    GD_STUB(get_alinkColor, (VARIANT*))
    GD_STUB(put_bgColor, (VARIANT))
    GD_STUB(get_bgColor, (VARIANT*))
    GD_STUB(put_fgColor, (VARIANT))
    GD_STUB(get_fgColor, (VARIANT*))
    GD_STUB(put_linkColor, (VARIANT))
    GD_STUB(get_linkColor, (VARIANT*))
    GD_STUB(put_vlinkColor, (VARIANT))
    GD_STUB(get_vlinkColor, (VARIANT*))
    GD_STUB(get_referrer, (BSTR*))
    GD_STUB(get_location, (IHTMLLocation**))
    GD_STUB(get_lastModified, (BSTR*))
    GD_STUB(put_URL, (BSTR))
    GD_STUB(put_domain, (BSTR))
    GD_STUB(get_domain, (BSTR*))
    GD_STUB(put_cookie, (BSTR))
    GD_STUB(get_cookie, (BSTR*))
    GD_STUB(put_expando, (VARIANT_BOOL))
    GD_STUB(get_expando, (VARIANT_BOOL*))
    GD_STUB(put_charset, (BSTR))
    GD_STUB(get_charset, (BSTR*))
    GD_STUB(put_defaultCharset, (BSTR))
    GD_STUB(get_defaultCharset, (BSTR*))
    GD_STUB(get_mimeType, (BSTR*))
    GD_STUB(get_fileSize, (BSTR*))
    GD_STUB(get_fileCreatedDate, (BSTR*))
    GD_STUB(get_fileModifiedDate, (BSTR*))
    GD_STUB(get_fileUpdatedDate, (BSTR*))
    GD_STUB(get_security, (BSTR*))
    GD_STUB(get_protocol, (BSTR*))
    GD_STUB(get_nameProp, (BSTR*))
    GD_STUB(write, (SAFEARRAY*))
    GD_STUB(writeln, (SAFEARRAY*))
    GD_STUB(open, (BSTR, VARIANT, VARIANT, VARIANT, IDispatch**))
    GD_STUB(close, ())
    GD_STUB(clear, ())
    GD_STUB(queryCommandSupported, (BSTR, VARIANT_BOOL*))
    GD_STUB(queryCommandEnabled, (BSTR, VARIANT_BOOL*))
    GD_STUB(queryCommandState, (BSTR, VARIANT_BOOL*))
    GD_STUB(queryCommandIndeterm, (BSTR, VARIANT_BOOL*))
    GD_STUB(queryCommandText, (BSTR, BSTR*))
    GD_STUB(queryCommandValue, (BSTR, VARIANT*))
    GD_STUB(execCommand, (BSTR, VARIANT_BOOL, VARIANT, VARIANT_BOOL*))
    GD_STUB(execCommandShowHelp, (BSTR, VARIANT_BOOL*))
    GD_STUB(createElement, (BSTR, IHTMLElement**))
    GD_STUB(put_onhelp, (VARIANT))
    GD_STUB(get_onhelp, (VARIANT*))
    GD_STUB(put_onclick, (VARIANT))
    GD_STUB(get_onclick, (VARIANT*))
    GD_STUB(put_ondblclick, (VARIANT))
    GD_STUB(get_ondblclick, (VARIANT*))
    GD_STUB(put_onkeyup, (VARIANT))
    GD_STUB(get_onkeyup, (VARIANT*))
    GD_STUB(put_onkeydown, (VARIANT))
    GD_STUB(get_onkeydown, (VARIANT*))
    GD_STUB(put_onkeypress, (VARIANT))
    GD_STUB(get_onkeypress, (VARIANT*))
    GD_STUB(put_onmouseup, (VARIANT))
    GD_STUB(get_onmouseup, (VARIANT*))
    GD_STUB(put_onmousedown, (VARIANT))
    GD_STUB(get_onmousedown, (VARIANT*))
    GD_STUB(put_onmousemove, (VARIANT))
    GD_STUB(get_onmousemove, (VARIANT*))
    GD_STUB(put_onmouseout, (VARIANT))
    GD_STUB(get_onmouseout, (VARIANT*))
    GD_STUB(put_onmouseover, (VARIANT))
    GD_STUB(get_onmouseover, (VARIANT*))
    GD_STUB(put_onreadystatechange, (VARIANT))
    GD_STUB(get_onreadystatechange, (VARIANT*))
    GD_STUB(put_onafterupdate, (VARIANT))
    GD_STUB(get_onafterupdate, (VARIANT*))
    GD_STUB(put_onrowexit, (VARIANT))
    GD_STUB(get_onrowexit, (VARIANT*))
    GD_STUB(put_onrowenter, (VARIANT))
    GD_STUB(get_onrowenter, (VARIANT*))
    GD_STUB(put_ondragstart, (VARIANT))
    GD_STUB(get_ondragstart, (VARIANT*))
    GD_STUB(put_onselectstart, (VARIANT))
    GD_STUB(get_onselectstart, (VARIANT*))
    GD_STUB(elementFromPoint, (LONG, LONG, IHTMLElement**))
    GD_STUB(get_parentWindow, (IHTMLWindow2**))
    GD_STUB(get_styleSheets, (IHTMLStyleSheetsCollection**))
    GD_STUB(put_onbeforeupdate, (VARIANT))
    GD_STUB(get_onbeforeupdate, (VARIANT*))
    GD_STUB(put_onerrorupdate, (VARIANT))
    GD_STUB(get_onerrorupdate, (VARIANT*))
    GD_STUB(toString, (BSTR*))
    GD_STUB(createStyleSheet, (BSTR, LONG, IHTMLStyleSheet**))

protected:
    void* QueryMore(REFIID iid) override {
        if (iid == __uuidof(IDispatch) || iid == __uuidof(IHTMLDocument))
            return static_cast<IHTMLDocument2*>(this);
        return nullptr;
    }

private:
    std::wstring m_url;
    std::wstring m_title;
};

// An inner frame: an object of its own (not the browser) with its document.
class FrameBrowser : public WebBrowserObject<> {
public:
    explicit FrameBrowser(HtmlDocument* document) : m_document(document) {}

    HRESULT STDMETHODCALLTYPE get_Document(IDispatch** document) override {
        if (document == nullptr)
            return E_POINTER;
        *document = static_cast<IHTMLDocument2*>(m_document.Get());
        (*document)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_LocationURL(BSTR* url) override {
        return m_document->get_URL(url);
    }
    HRESULT STDMETHODCALLTYPE get_LocationName(BSTR* name) override {
        return m_document->get_title(name);
    }

private:
    ComPtr<HtmlDocument> m_document;
};

} // namespace gd
