#include "host/html_page.h"

#include "http/encoding.h"

namespace gd {
namespace {

bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f';
}

bool IsLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

std::wstring Lower(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return lower;
}

// Trimmed, each run of white space one blank, as document.title reads.
std::wstring Collapse(std::wstring_view text) {
    std::wstring collapsed;
    bool blank = false;
    for (wchar_t c : text) {
        if (IsSpace(c)) {
            blank = !collapsed.empty();
            continue;
        }
        if (blank)
            collapsed += L' ';
        blank = false;
        collapsed += c;
    }
    return collapsed;
}

void AppendCodePoint(unsigned long code, std::wstring& out) {
    if (code > 0xFFFF) {
        code -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (code >> 10));
        out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
        out += static_cast<wchar_t>(code);
    }
}

// The character a reference's name (between "&" and ";") stands for.
bool DecodeReference(std::wstring_view name, std::wstring& out) {
    if (name.size() > 1 && name[0] == L'#') {
        const bool hex = name[1] == L'x' || name[1] == L'X';
        std::wstring digits(name.substr(hex ? 2 : 1));
        if (digits.empty() || digits.size() > 8)
            return false;
        wchar_t* end = nullptr;
        unsigned long code = wcstoul(digits.c_str(), &end, hex ? 16 : 10);
        if (*end != L'\0' || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        AppendCodePoint(code, out);
        return true;
    }
    static const struct {
        const wchar_t* name;
        wchar_t character;
    } kNamed[] = {{L"amp", L'&'},  {L"lt", L'<'},    {L"gt", L'>'},
                  {L"quot", L'"'}, {L"apos", L'\''}, {L"nbsp", L'\u00A0'}};
    for (const auto& named : kNamed) {
        if (name == named.name) {
            out += named.character;
            return true;
        }
    }
    return false;
}

struct Tag {
    std::wstring name; // lower case
    bool end = false;
    FormValues attributes; // names lower case, values decoded

    bool Has(const wchar_t* attribute) const {
        for (const auto& entry : attributes) {
            if (entry.first == attribute)
                return true;
        }
        return false;
    }
    std::wstring Attribute(const wchar_t* attribute) const {
        for (const auto& entry : attributes) {
            if (entry.first == attribute)
                return entry.second;
        }
        return {};
    }
};

class Scanner {
public:
    explicit Scanner(std::wstring_view text) : m_text(text) {}

    // The next tag; the text between the last tag and this one goes to *before.
    bool Next(Tag* tag, std::wstring_view* before) {
        size_t start = m_pos;
        for (;;) {
            size_t open = m_text.find(L'<', m_pos);
            if (open == std::wstring_view::npos) {
                m_pos = m_text.size();
                return false;
            }
            *before = m_text.substr(start, open - start);
            std::wstring_view rest = m_text.substr(open);
            if (rest.substr(0, 4) == L"<!--") {
                size_t close = m_text.find(L"-->", open + 4);
                m_pos = close == std::wstring_view::npos ? m_text.size() : close + 3;
                start = m_pos;
            } else if (rest.size() > 1 && (rest[1] == L'!' || rest[1] == L'?')) {
                SkipPast(open, L'>');
                start = m_pos;
            } else if (rest.size() > 2 && rest[1] == L'/' && IsLetter(rest[2])) {
                m_pos = open + 2;
                *tag = Tag{ReadName(), true, {}};
                SkipPast(m_pos, L'>');
                return true;
            } else if (rest.size() > 1 && IsLetter(rest[1])) {
                m_pos = open + 1;
                *tag = Tag{ReadName(), false, {}};
                ReadAttributes(tag);
                return true;
            } else {
                m_pos = open + 1; // a lone "<" is text
            }
        }
    }

    // The raw text up to the end tag `name` (title, script, style), past which
    // the scanner moves.
    std::wstring_view RawTextUntilEnd(std::wstring_view name) {
        size_t start = m_pos;
        for (size_t found = m_text.find(L"</", start); found != std::wstring_view::npos;
             found = m_text.find(L"</", found + 2)) {
            if (Lower(m_text.substr(found + 2, name.size())) == name) {
                SkipPast(found, L'>');
                return m_text.substr(start, found - start);
            }
        }
        m_pos = m_text.size();
        return m_text.substr(start);
    }

private:
    void SkipPast(size_t from, wchar_t c) {
        size_t found = m_text.find(c, from);
        m_pos = found == std::wstring_view::npos ? m_text.size() : found + 1;
    }

    std::wstring ReadName() {
        size_t start = m_pos;
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos]) && m_text[m_pos] != L'>' &&
               m_text[m_pos] != L'/' && m_text[m_pos] != L'=')
            ++m_pos;
        return Lower(m_text.substr(start, m_pos - start));
    }

    void SkipSpaces() {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
            ++m_pos;
    }

    void ReadAttributes(Tag* tag) {
        for (;;) {
            while (m_pos < m_text.size() && (IsSpace(m_text[m_pos]) || m_text[m_pos] == L'/'))
                ++m_pos;
            if (m_pos >= m_text.size())
                return;
            if (m_text[m_pos] == L'>') {
                ++m_pos;
                return;
            }
            std::wstring name = ReadName();
            if (name.empty()) { // a stray "=": skip it
                ++m_pos;
                continue;
            }
            SkipSpaces();
            std::wstring value;
            if (m_pos < m_text.size() && m_text[m_pos] == L'=') {
                ++m_pos;
                SkipSpaces();
                value = DecodeEntities(ReadValue());
            }
            tag->attributes.emplace_back(std::move(name), std::move(value));
        }
    }

    std::wstring_view ReadValue() {
        if (m_pos < m_text.size() && (m_text[m_pos] == L'"' || m_text[m_pos] == L'\'')) {
            wchar_t quote = m_text[m_pos];
            size_t start = m_pos + 1;
            size_t close = m_text.find(quote, start);
            if (close == std::wstring_view::npos)
                close = m_text.size();
            m_pos = close < m_text.size() ? close + 1 : close;
            return m_text.substr(start, close - start);
        }
        size_t start = m_pos;
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos]) && m_text[m_pos] != L'>')
            ++m_pos;
        return m_text.substr(start, m_pos - start);
    }

    std::wstring_view m_text;
    size_t m_pos = 0;
};

// An input or button inside a form adds a field or a submit button.
void AddControl(const Tag& tag, HtmlForm& form) {
    if (!tag.Has(L"name"))
        return;
    std::wstring type = Lower(tag.Attribute(L"type"));
    FormValues::value_type entry{tag.Attribute(L"name"), tag.Attribute(L"value")};
    if (tag.name == L"button") {
        if (type.empty() || type == L"submit")
            form.buttons.push_back(std::move(entry));
    } else if (type == L"submit") {
        form.buttons.push_back(std::move(entry));
    } else if (type.empty() || type == L"hidden" || type == L"text" || type == L"email" ||
               type == L"password") {
        form.fields.push_back(std::move(entry));
    }
}

} // namespace

std::wstring DecodeEntities(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] == L'&') {
            size_t semicolon = text.find(L';', i + 1);
            if (semicolon != std::wstring_view::npos && semicolon - i <= 10 &&
                DecodeReference(text.substr(i + 1, semicolon - i - 1), out)) {
                i = semicolon + 1;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

HtmlPage ParseHtml(std::wstring_view text) {
    HtmlPage page;
    Scanner scanner(text);
    Tag tag;
    std::wstring_view before;
    bool has_title = false;
    int form = -1, select = -1;
    bool option_open = false, option_has_value = false;
    std::wstring option_value;
    while (scanner.Next(&tag, &before)) {
        if (option_open) {
            if (!option_has_value)
                option_value = Collapse(DecodeEntities(before));
            page.forms[form].selects[select].options.push_back(option_value);
            option_open = false;
        }
        if (tag.end) {
            if (tag.name == L"form")
                form = select = -1;
            else if (tag.name == L"select")
                select = -1;
            continue;
        }
        if (tag.name == L"title") {
            std::wstring_view raw = scanner.RawTextUntilEnd(tag.name);
            if (!has_title)
                page.title = Collapse(DecodeEntities(raw));
            has_title = true;
        } else if (tag.name == L"script" || tag.name == L"style" || tag.name == L"textarea") {
            scanner.RawTextUntilEnd(tag.name);
        } else if (tag.name == L"iframe" || tag.name == L"frame") {
            if (tag.Has(L"src"))
                page.frames.push_back(tag.Attribute(L"src"));
        } else if (tag.name == L"form") {
            std::wstring method = Lower(tag.Attribute(L"method"));
            page.forms.push_back(
                HtmlForm{method.empty() ? L"get" : method, tag.Attribute(L"action"), {}, {}, {}});
            form = static_cast<int>(page.forms.size()) - 1;
            select = -1;
        } else if (form >= 0 && (tag.name == L"input" || tag.name == L"button")) {
            AddControl(tag, page.forms[form]);
        } else if (form >= 0 && tag.name == L"select") {
            page.forms[form].selects.push_back(HtmlSelect{tag.Attribute(L"name"), {}});
            select = static_cast<int>(page.forms[form].selects.size()) - 1;
        } else if (select >= 0 && tag.name == L"option") {
            option_open = true;
            option_has_value = tag.Has(L"value");
            option_value = tag.Attribute(L"value");
        }
    }
    return page;
}

std::string EncodeForm(const FormValues& values) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    auto append = [&encoded](const std::wstring& text) {
        for (unsigned char c : ToUtf8(text)) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '*' || c == '-' || c == '.' || c == '_') {
                encoded += static_cast<char>(c);
            } else if (c == ' ') {
                encoded += '+';
            } else {
                encoded += '%';
                encoded += kHex[c >> 4];
                encoded += kHex[c & 15];
            }
        }
    };
    for (const auto& entry : values) {
        if (!encoded.empty())
            encoded += '&';
        append(entry.first);
        encoded += '=';
        append(entry.second);
    }
    return encoded;
}

} // namespace gd
