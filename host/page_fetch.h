// How the headless browser loads a page: WinINet on the calling thread,
// redirects followed, certificates always checked.
#pragma once

#include <windows.h>

#include <string>

namespace gd {

struct FetchedPage {
    std::wstring url;  // where the page came from, after redirects
    DWORD status = 0;  // 0 when no server answered
    std::wstring text; // the body read as UTF-8
};

// GET, or POST of an x-www-form-urlencoded body, of an http or https URL.
// Follows up to ten redirects (a POST turns into a GET on 301, 302 and 303).
// An error status still gives its page and S_OK; a failure gives its code
// with page->url set to the URL that failed.
HRESULT FetchPage(const std::wstring& url, const std::wstring& method, const std::string& body,
                  FetchedPage* page);

// relative read against base, as a link on the page at base; relative itself
// when it cannot be combined.
std::wstring ResolveUrl(const std::wstring& base, const std::wstring& relative);

} // namespace gd
