#include "host/file_dialog_driver.h"

#include "errors/check.h"

namespace gd {
namespace {

constexpr wchar_t kDialogLayout[] = L"DlgOpenFile";
constexpr wchar_t kList[] = L"gd.lst.Test";

// A row's title and extension, as the user reads them.
HRESULT RowText(HostControl* list, long row, std::wstring* text) {
    std::wstring extension;
    RETURN_IF_FAILED(list->CellText(row, 0, text));
    RETURN_IF_FAILED(list->CellText(row, 1, &extension));
    if (!extension.empty())
        *text += L"." + extension;
    return S_OK;
}

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
            std::wstring row_text;
            RETURN_IF_FAILED(RowText(list, row, &row_text));
            if (row_text == text) {
                found = true;
                return act(list, row);
            }
        }
        return S_OK;
    }));
    return found ? S_OK : S_FALSE;
}

HRESULT FileDialogDriver::Rows(HostDialog* dialog, std::vector<std::wstring>* rows) {
    rows->clear();
    return OnUi([&]() -> HRESULT {
        HostControl* list = dialog->Control(kList);
        RETURN_HR_IF(E_UNEXPECTED, list == nullptr);
        for (long row = 0; row < list->RowCount(); ++row) {
            std::wstring text;
            RETURN_IF_FAILED(RowText(list, row, &text));
            rows->push_back(std::move(text));
        }
        return S_OK;
    });
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
