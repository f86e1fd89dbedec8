#include "host/file_dialog_driver.h"

#include "errors/check.h"

namespace gd {
namespace {

constexpr wchar_t kDialogLayout[] = L"DlgOpenFile";
constexpr wchar_t kList[] = L"gd.lst.Test";

} // namespace

HRESULT FileDialogDriver::Wait(ComPtr<HostDialog>* dialog) {
    *dialog = m_host.Uix().WaitForDialog(kDialogLayout, m_deadline);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_TIMEOUT), !*dialog);
    return WaitListed(dialog->Get());
}

HRESULT FileDialogDriver::WaitListed(HostDialog* dialog) {
    const ULONGLONG deadline = GetTickCount64() + m_deadline;
    for (;;) {
        bool listed = false;
        RETURN_IF_FAILED(OnUi([&] {
            listed =
                dialog->IsDestroyed() || !dialog->IsModal() || dialog->Control(kList)->IsEnabled();
            return S_OK;
        }));
        if (listed)
            return S_OK;
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_TIMEOUT), GetTickCount64() > deadline);
        Sleep(10);
    }
}

HRESULT FileDialogDriver::OnRow(HostDialog* dialog, const std::wstring& text,
                                const std::function<HRESULT(HostControl*, long)>& act) {
    bool found = false;
    RETURN_IF_FAILED(OnUi([&]() -> HRESULT {
        HostControl* list = dialog->Control(kList);
        RETURN_HR_IF(E_UNEXPECTED, list == nullptr);
        for (long row = 0; row < list->RowCount(); ++row) {
            std::wstring title, extension;
            RETURN_IF_FAILED(list->CellText(row, 0, &title));
            RETURN_IF_FAILED(list->CellText(row, 1, &extension));
            if ((extension.empty() ? title : title + L"." + extension) == text) {
                found = true;
                return act(list, row);
            }
        }
        return S_OK;
    }));
    return found ? S_OK : S_FALSE;
}

HRESULT FileDialogDriver::Activate(HostDialog* dialog, const std::wstring& text) {
    HRESULT hr =
        OnRow(dialog, text, [](HostControl* list, long row) { return list->ActivateRow(row); });
    if (hr != S_OK)
        return hr;
    return WaitListed(dialog);
}

HRESULT FileDialogDriver::Select(HostDialog* dialog, const std::wstring& text) {
    return OnRow(dialog, text, [](HostControl* list, long row) { return list->SelectRows({row}); });
}

HRESULT FileDialogDriver::Type(HostDialog* dialog, const std::wstring& text) {
    return OnUi([&] { return dialog->Control(L"gd.ed.fileName")->Type(text); });
}

HRESULT FileDialogDriver::TypeAndOk(HostDialog* dialog, const std::wstring& text) {
    RETURN_IF_FAILED(Type(dialog, text));
    return OnUi([&] { return dialog->Control(L"btn.ok")->Click(); });
}

HRESULT FileDialogDriver::Cancel(HostDialog* dialog) {
    return OnUi([&] { return dialog->Control(L"btn.cancel")->Click(); });
}

} // namespace gd
