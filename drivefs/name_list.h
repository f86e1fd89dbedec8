// The plug-in's list of host names: what its dialogs hand back.
#pragma once

#include "errors/critical_section.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

#include <vector>

namespace gd {

class NameList : public ComObject<Lumo::IAfsNameList> {
public:
    HRESULT STDMETHODCALLTYPE Add(Lumo::IAfsName* name) override;
    HRESULT STDMETHODCALLTYPE Clear() override;
    HRESULT STDMETHODCALLTYPE get_Count(long* count) override;
    HRESULT STDMETHODCALLTYPE get_Item(long index, Lumo::IAfsName** name) override;
    HRESULT STDMETHODCALLTYPE get_IsEmpty(VARIANT_BOOL* empty) override;

private:
    CriticalSection m_section{4000};
    std::vector<ComPtr<Lumo::IAfsName>> m_names;
};

} // namespace gd
