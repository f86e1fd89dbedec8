// What the headless browser reads of an HTML page: its title, its inner
// frames and its forms. A small tag scanner, not an HTML engine: enough for
// the consent pages a sign-in shows.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gd {

using FormValues = std::vector<std::pair<std::wstring, std::wstring>>;

struct HtmlSelect {
    std::wstring name;
    std::vector<std::wstring> options; // option values, in order
};

struct HtmlForm {
    std::wstring method; // lower case; "get" when the form names none
    std::wstring action; // as written; empty: the page itself
    FormValues fields;   // hidden and text inputs, in order
    std::vector<HtmlSelect> selects;
    FormValues buttons; // submit buttons: name and value
};

struct HtmlPage {
    std::wstring title;               // entities decoded, white space collapsed
    std::vector<std::wstring> frames; // src of each iframe or frame, as written
    std::vector<HtmlForm> forms;
};

HtmlPage ParseHtml(std::wstring_view text);

// Replaces character references (&amp;, &#39;, &#x27;, ...); unknown ones stay.
std::wstring DecodeEntities(std::wstring_view text);

// application/x-www-form-urlencoded, as a browser submits a form: UTF-8,
// spaces as "+", everything but letters, digits and *-._ escaped.
std::string EncodeForm(const FormValues& values);

} // namespace gd
