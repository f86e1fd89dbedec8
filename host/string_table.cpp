#include "host/string_table.h"

#include "errors/check.h"
#include "host/xml_reader.h"

namespace gd {

StringTable::StringTable() {
    m_strings[L"btn.ok"] = L"OK";
    m_strings[L"btn.cancel"] = L"Cancel";
    m_strings[L"dlg.open.actionBtnTitle"] = L"Open";
    m_strings[L"dlg.save.actionBtnTitle"] = L"Save";
}

HRESULT StringTable::Load(IStream* document) {
    RETURN_HR_IF_NULL(E_INVALIDARG, document);
    ComPtr<IXmlReader> reader;
    RETURN_IF_FAILED(CreateXmlReaderOn(document, &reader));
    std::map<std::wstring, std::wstring> found;
    std::wstring prefix, id, text;
    bool in_text = false;
    int depth = 0;
    XmlNodeType type = XmlNodeType_None;
    HRESULT hr;
    // Wine's reader may answer S_OK with no node at the end of a cut document.
    while ((hr = reader->Read(&type)) == S_OK && type != XmlNodeType_None) {
        if (type == XmlNodeType_Element && !reader->IsEmptyElement())
            ++depth;
        else if (type == XmlNodeType_EndElement)
            --depth;
        if (type == XmlNodeType_Element) {
            std::wstring name = XmlLocalName(reader.Get());
            if (name == L"Module") {
                std::wstring space = XmlAttribute(reader.Get(), L"namespace");
                prefix = space.empty() ? L"" : space + L".";
            } else if (name == L"text") {
                id = XmlAttribute(reader.Get(), L"id");
                text.clear();
                in_text = !reader->IsEmptyElement();
                if (!in_text)
                    found[prefix + id] = L"";
            }
        } else if (in_text && (type == XmlNodeType_Text || type == XmlNodeType_Whitespace ||
                               type == XmlNodeType_CDATA)) {
            const wchar_t* value = nullptr;
            if (SUCCEEDED(reader->GetValue(&value, nullptr)) && value != nullptr)
                text += value;
        } else if (in_text && type == XmlNodeType_EndElement) {
            found[prefix + id] = text;
            in_text = false;
        }
    }
    RETURN_IF_FAILED(hr);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INVALID_DATA), depth != 0);
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& entry : found)
        m_strings[entry.first] = std::move(entry.second);
    return S_OK;
}

long StringTable::NameId(const std::wstring& name, long requested) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto known = m_numbers.find(name);
    if (known != m_numbers.end())
        return known->second;
    long number = requested;
    if (number == -1 || m_names.count(number) != 0) {
        while (m_names.count(m_next_number) != 0)
            ++m_next_number;
        number = m_next_number++;
    }
    m_numbers[name] = number;
    m_names[number] = name;
    return number;
}

bool StringTable::HasName(const std::wstring& name) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_numbers.count(name) != 0;
}

bool StringTable::NameOf(long number, std::wstring* name) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto known = m_names.find(number);
    if (known == m_names.end())
        return false;
    *name = known->second;
    return true;
}

bool StringTable::Find(const std::wstring& id, std::wstring* text) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto known = m_strings.find(id);
    if (known == m_strings.end())
        return false;
    *text = known->second;
    return true;
}

std::wstring StringTable::Resolve(const std::wstring& text) const {
    constexpr std::wstring_view kMarker = L"$$$.";
    if (text.compare(0, kMarker.size(), kMarker) != 0)
        return text;
    std::wstring resolved;
    return Find(text.substr(kMarker.size()), &resolved) ? resolved : text;
}

} // namespace gd
