// The texts that name Drive files: links of the Drive and Docs web hosts,
// the plug-in's own "gd://" names, and local texts that carry the marker
// "googledriveid" before a folder id.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace gd {

inline constexpr wchar_t kGdScheme[] = L"gd://";
inline constexpr wchar_t kIdMarker[] = L"googledriveid";
// The id Drive takes for the root of My Drive.
inline constexpr wchar_t kRootFolderId[] = L"root";

struct NameUrl {
    std::wstring scheme; // empty when the text names none
    std::wstring host;   // without port
    std::wstring path;
    std::wstring query;
};

// Splits scheme://host[:port]/path?query; a text without "://" has no
// scheme, and only with allowBareHost its first component is the host.
NameUrl SplitNameUrl(std::wstring_view text, bool allowBareHost);

// scheme://host of a text's account root ("https" when it names no scheme,
// the Drive web host when it names no host).
std::wstring RootTextOf(const NameUrl& url);

// Whether a text is one of this file system's names (a "gd://" name with a
// host, or a link of the Drive or Docs web host).
bool IsDriveNameText(const wchar_t* text);

// An account root, the file of an id below it, then names still to be found
// by title below that, top-down.
struct ParsedName {
    std::wstring root_text;
    std::wstring id; // empty: the account root itself ("root" in a marker)
    std::vector<std::wstring> titles;
};

// What a text names; 0x82220001 when it is none of the forms or its id has
// other characters than letters, digits, "-" and "_".
HRESULT ParseNameText(std::wstring_view text, ParsedName* parsed);

// "https://" and the Drive web host: the base of the links shown to users.
std::wstring DriveWebBase();

} // namespace gd
