#include "drivefs/name_list.h"

#include "errors/check.h"
#include "errors/codes.h"

namespace gd {

HRESULT NameList::Add(Lumo::IAfsName* name) {
    RETURN_HR_IF_NULL(GD_E_INVALID_ARG, name);
    return RunGuarded([&] {
        SectionLock lock(m_section);
        m_names.emplace_back(name);
        return S_OK;
    });
}

HRESULT NameList::Clear() {
    std::vector<ComPtr<Lumo::IAfsName>> names;
    SectionLock lock(m_section);
    names.swap(m_names);
    return S_OK;
}

HRESULT NameList::get_Count(long* count) {
    RETURN_HR_IF_NULL(E_POINTER, count);
    SectionLock lock(m_section);
    *count = static_cast<long>(m_names.size());
    return S_OK;
}

HRESULT NameList::get_Item(long index, Lumo::IAfsName** name) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    *name = nullptr;
    SectionLock lock(m_section);
    RETURN_HR_IF(E_INVALIDARG, index < 0 || static_cast<size_t>(index) >= m_names.size());
    return m_names[static_cast<size_t>(index)].CopyTo(name);
}

HRESULT NameList::get_IsEmpty(VARIANT_BOOL* empty) {
    RETURN_HR_IF_NULL(E_POINTER, empty);
    SectionLock lock(m_section);
    *empty = m_names.empty() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

} // namespace gd
