#include "dialogs/file_type_filter.h"

#include "errors/check.h"
#include "errors/codes.h"

namespace gd {
namespace {

HRESULT HostFilterText(Lumo::ILumoInstance* host, const wchar_t* key, long expand,
                       std::wstring* text) {
    Bstr answer;
    RETURN_IF_FAILED(host->GetFileTypeFilter(key, expand, answer.Put()));
    text->assign(answer.Text(), answer.Length());
    return S_OK;
}

// A key's own entry, "description|patterns", without the "|" that end it.
HRESULT OwnEntry(Lumo::ILumoInstance* host, const wchar_t* key, std::wstring* entry) {
    RETURN_IF_FAILED(HostFilterText(host, key, 0, entry));
    for (int i = 0; i < 2 && !entry->empty() && entry->back() == L'|'; ++i)
        entry->pop_back();
    return S_OK;
}

// Removes part where it occurs at or after from, with one following
// separator; false when it does not occur.
bool RemoveWithSeparator(std::wstring& text, const std::wstring& part, wchar_t separator,
                         size_t from = 0) {
    if (part.empty())
        return false;
    size_t at = text.find(part, from);
    if (at == std::wstring::npos)
        return false;
    size_t length = part.size();
    if (at + length < text.size() && text[at + length] == separator)
        ++length;
    text.erase(at, length);
    return true;
}

} // namespace

HRESULT BuildFilterText(Lumo::ILumoInstance* host, bool open_mode, std::wstring* filter) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    filter->clear();
    RETURN_HR_IF_NULL(GD_E_MISSING, host);
    static const wchar_t* const kOpenKeys[] = {L"<pdf>", L"<allSupp>", L"<all>"};
    static const wchar_t* const kSaveKeys[] = {L"<pdf>", L"<all>"};
    std::vector<const wchar_t*> keys(open_mode ? std::begin(kOpenKeys) : std::begin(kSaveKeys),
                                     open_mode ? std::end(kOpenKeys) : std::end(kSaveKeys));
    for (const wchar_t* key : keys) {
        std::wstring text;
        RETURN_IF_FAILED(HostFilterText(host, key, 1, &text));
        if (!text.empty() && text.back() == L'|')
            text.pop_back();
        *filter += text;
    }
    *filter += L'|';
    if (!open_mode)
        return S_OK;
    for (const wchar_t* key : {L"<doc>", L"<xls>", L"<ppt>", L"<vsd>"}) {
        std::wstring entry;
        RETURN_IF_FAILED(OwnEntry(host, key, &entry));
        RemoveWithSeparator(*filter, entry, L'|');
        size_t bar = entry.find(L'|');
        if (bar != std::wstring::npos)
            RemoveWithSeparator(*filter, entry.substr(bar + 1), L';');
    }
    std::wstring pdf;
    RETURN_IF_FAILED(OwnEntry(host, L"<pdf>", &pdf));
    size_t first = pdf.empty() ? std::wstring::npos : filter->find(pdf);
    if (first != std::wstring::npos)
        RemoveWithSeparator(*filter, pdf, L'|', first + pdf.size());
    return S_OK;
}

std::vector<FileType> ParseFilterText(const std::wstring& filter) {
    std::vector<FileType> types;
    size_t at = 0;
    for (;;) {
        size_t bar = filter.find(L'|', at);
        if (bar == std::wstring::npos || bar == at)
            break;
        size_t end = filter.find(L'|', bar + 1);
        if (end == std::wstring::npos || end == bar + 1)
            break;
        FileType type{filter.substr(at, bar - at), {}};
        std::wstring_view patterns(filter.data() + bar + 1, end - bar - 1);
        for (size_t start = 0; start <= patterns.size();) {
            size_t stop = std::min(patterns.find(L';', start), patterns.size());
            std::wstring_view pattern = patterns.substr(start, stop - start);
            if (!pattern.empty() && pattern.front() == L'*')
                pattern.remove_prefix(1);
            if (!pattern.empty() && pattern.front() == L'.')
                pattern.remove_prefix(1);
            if (!pattern.empty())
                type.patterns.emplace_back(pattern);
            start = stop + 1;
        }
        types.push_back(std::move(type));
        at = end + 1;
    }
    return types;
}

HRESULT FileTypeFilter::Fill(std::vector<FileType> types) {
    RETURN_HR_IF(GD_E_MISSING, !m_combo);
    RETURN_IF_FAILED(m_combo->Clear());
    m_types = std::move(types);
    for (size_t i = 0; i < m_types.size(); ++i) {
        const wchar_t* text = m_types[i].description.c_str();
        RETURN_IF_FAILED(
            m_combo->InsertItem(-1, text, text, nullptr, static_cast<Lumo::PARAM_T>(i), 0));
    }
    if (!m_types.empty())
        RETURN_IF_FAILED(m_combo->put_SelItem(0));
    return S_OK;
}

bool FileTypeFilter::Accepts(Lumo::IAfsName* name) const {
    long selected = -1;
    Lumo::PARAM_T param = 0;
    if (!m_combo || FAILED(m_combo->get_SelItem(&selected)) || selected < 0 ||
        FAILED(m_combo->GetItemParam(selected, &param)) || param < 0 ||
        static_cast<size_t>(param) >= m_types.size())
        return MatchesFileType(name, nullptr);
    return MatchesFileType(name, &m_types[static_cast<size_t>(param)].patterns);
}

} // namespace gd
