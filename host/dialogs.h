// Dialogs and controls of the emulated "UIX" extension: built from a layout
// document as real but hidden windows, with state the host keeps and tests
// drive through the Host* driver operations (always on the UI thread).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "errors/check.h"
#include "host/string_table.h"
#include "host/ui_thread.h"
#include "plugin/com_object.h"
#include "plugin/sdk/lumo.h"

namespace gd {

class HostDialog;

// Handlers advised for one kind of events of an object; made on the UI thread.
class HostEventSource : public ComObject<Lumo::IUixEventSource> {
public:
    HRESULT STDMETHODCALLTYPE Advise(Lumo::IUixEventHandler* handler, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    // Calls every advised handler; true when one marked the event handled.
    bool Fire(Lumo::IUixEvent* event);
    // Drops every handler: the object is destroyed.
    void Clear() { m_handlers.clear(); }
    // Whether a handler's code lies in the module.
    bool Holds(HMODULE module) const;

private:
    const DWORD m_thread = GetCurrentThreadId();
    std::vector<std::pair<DWORD, ComPtr<Lumo::IUixEventHandler>>> m_handlers;
    DWORD m_next_cookie = 1;
};

// Window operations that take nothing but the object's window.
HRESULT WindowOf(HWND window, HWND* out);
HRESULT ClientRectOf(HWND window, RECT* rect);
HRESULT WindowText(HWND window, BSTR* text);

// The IUixObj operations that dialogs and controls share: each is a window,
// and answers only on the thread that owns it (the UI thread).
template <class... Interfaces>
class HostWindowObject : public ComObject<Lumo::IUixObj, Interfaces...> {
public:
    explicit HostWindowObject(HWND window)
        : m_window(window), m_thread(GetWindowThreadProcessId(window, nullptr)) {}

    HRESULT STDMETHODCALLTYPE get_Window(HWND* window) override {
        RETURN_IF_FAILED(CheckThread(m_thread));
        return WindowOf(m_window, window);
    }
    HRESULT STDMETHODCALLTYPE get_ClientRect(RECT* rect) override {
        RETURN_IF_FAILED(CheckThread(m_thread));
        return ClientRectOf(m_window, rect);
    }
    HRESULT STDMETHODCALLTYPE get_Text(BSTR* text) override {
        RETURN_IF_FAILED(CheckThread(m_thread));
        return WindowText(m_window, text);
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) override {
        RETURN_IF_FAILED(CheckThread(m_thread));
        EnableWindow(m_window, enabled != VARIANT_FALSE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Show(int command) override {
        RETURN_IF_FAILED(CheckThread(m_thread));
        ShowWindow(m_window, command);
        return S_OK;
    }

protected:
    HWND m_window;
    const DWORD m_thread;
};

enum class ControlKind { Combo, Button, List, Label, Edit, Picture, WaitProgress };

struct ComboEntry {
    std::wstring text;
    std::wstring edit_text;
    Lumo::PARAM_T param = 0;
};

class HostControl
    : public HostWindowObject<Lumo::IUixCombo, Lumo::IUixList, Lumo::IUixWaitProgress> {
public:
    HostControl(ControlKind kind, std::wstring name, long id, HWND window, HostDialog* dialog);
    ~HostControl() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;

    // IUixObj
    HRESULT STDMETHODCALLTYPE DoModal(Lumo::UIX_ObjModal modal, long* result) override;
    HRESULT STDMETHODCALLTYPE EndModal(long result) override;
    HRESULT STDMETHODCALLTYPE Destroy() override;
    HRESULT STDMETHODCALLTYPE put_Text(LPCWSTR text) override;
    HRESULT STDMETHODCALLTYPE SetStyle(DWORD bits, DWORD mask) override;
    HRESULT STDMETHODCALLTYPE GetEventSource(Lumo::UIX_EventSourceKind kind,
                                             Lumo::IUixEventSource** source) override;

    // IUixCombo
    HRESULT STDMETHODCALLTYPE Clear() override;
    HRESULT STDMETHODCALLTYPE get_Count(long* count) override;
    HRESULT STDMETHODCALLTYPE InsertItem(long index, LPCWSTR text, LPCWSTR edit_text,
                                         Lumo::IUixImage* icon, Lumo::PARAM_T param,
                                         DWORD flags) override;
    HRESULT STDMETHODCALLTYPE put_SelItem(long index) override;
    HRESULT STDMETHODCALLTYPE get_SelItem(long* index) override;
    HRESULT STDMETHODCALLTYPE GetItemParam(long index, Lumo::PARAM_T* param) override;

    // IUixList
    HRESULT STDMETHODCALLTYPE put_Callback(Lumo::IUixListCallback* callback) override;
    HRESULT STDMETHODCALLTYPE InsertColumn(long index, long width, LPCWSTR text,
                                           LPCWSTR hint) override;
    HRESULT STDMETHODCALLTYPE SetColumn(long index, DWORD mask, LPCWSTR text, LPCWSTR hint,
                                        Lumo::IUixImage* image, long width, DWORD style_set,
                                        DWORD style_clear, DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE get_ColumnStyle(long index, DWORD* style) override;
    HRESULT STDMETHODCALLTYPE InsertItem(long index, Lumo::PARAM_T param, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE RemoveAllItems() override;
    HRESULT STDMETHODCALLTYPE put_ItemCount(long count) override;
    HRESULT STDMETHODCALLTYPE RedrawItems(long first, long count) override;
    HRESULT STDMETHODCALLTYPE GetFirstSelected(Lumo::UIX_ListItemId* item) override;
    HRESULT STDMETHODCALLTYPE GetNextSelected(Lumo::UIX_ListItemId* item) override;

    // IUixWaitProgress
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;

    // Driver: what a user does, with the notifications it causes (a combo
    // notifies its selection also when code changes it).
    HRESULT Click();
    HRESULT Type(const std::wstring& text);
    HRESULT Pick(long index);
    HRESULT SelectRows(const std::vector<long>& rows);
    // A double click by default; other flags stand for a mere activation.
    HRESULT ActivateRow(long row, DWORD flags = Lumo::UIX_ListActivate_Confirm);
    // A click on a column header (kind 0: the left button); the callback's answer.
    HRESULT ClickColumn(long column, long click_kind = 0);
    // State a test reads.
    std::wstring Text() const;
    bool IsEnabled() const;
    bool IsSpinning() const { return m_spinning; }
    const std::vector<ComboEntry>& ComboEntries() const { return m_entries; }
    long RowCount() const { return m_row_count; }
    // A cell's text as the list's callback gives it.
    HRESULT CellText(long row, long column, std::wstring* text) const;
    HRESULT CellText(long row, long column, std::wstring* text, DWORD* draw_text_flags) const;
    // A cell's image as the list's callback gives it when it draws the row:
    // S_FALSE and none for a cell without image.
    HRESULT CellImage(long row, long column, ComPtr<Lumo::IUixImage>* image, double* opacity,
                      SIZE* size) const;
    struct ListColumn {
        std::wstring text, hint;
        long width = 0;
        DWORD style = 0;
    };
    const std::vector<ListColumn>& Columns() const { return m_columns; }
    // The style bits SetStyle left.
    DWORD Style() const { return m_style; }
    // Whether the control's window has WS_VISIBLE.
    bool IsShown() const;
    // The dialog the control belongs to; null once it is gone.
    HostDialog* Dialog() const { return m_dialog; }
    // The list a control made by CreateObj was placed in; null for one of the dialog.
    HostControl* ParentControl() const { return m_parent; }
    // Where CreateObj placed the control, in its parent's client area.
    const RECT& PlacedRect() const { return m_rect; }
    // Whether its list callback or a notify handler is code of the module.
    bool Holds(HMODULE module) const;
    // A list's header and the rows that fit, for a dialog on a screen.
    void Paint(HDC dc) const;

    const ControlKind m_kind;
    const std::wstring m_name;
    const long m_id;

private:
    friend class HostDialog;
    HRESULT Notify(long kind);
    // A list on a screen draws itself again.
    void Repaint();
    // A combo's selection, without telling anyone.
    HRESULT Select(long index);
    bool Answers(REFIID iid) const;

    HostDialog* m_dialog;            // not counted: the dialog owns its controls
    HostControl* m_parent = nullptr; // not counted: a control of the same dialog
    RECT m_rect{};
    DWORD m_style = 0;
    ComPtr<HostEventSource> m_notify_source;
    std::vector<ComboEntry> m_entries;
    long m_selected = -1;
    ComPtr<Lumo::IUixListCallback> m_callback;
    std::vector<ListColumn> m_columns;
    std::vector<Lumo::PARAM_T> m_rows;
    long m_row_count = 0;
    std::vector<long> m_selected_rows;
    bool m_spinning = false;
};

class HostDialog : public HostWindowObject<Lumo::IUixDialog> {
public:
    // Builds the dialog of params->id from the layout document in params and
    // hands it to params->handler (attached, then initialised).
    static HRESULT Create(const Lumo::UIX_CreateParams& params,
                          std::shared_ptr<StringTable> strings, ComPtr<HostDialog>* dialog);
    ~HostDialog() override;

    // IUixObj
    HRESULT STDMETHODCALLTYPE DoModal(Lumo::UIX_ObjModal modal, long* result) override;
    HRESULT STDMETHODCALLTYPE EndModal(long result) override;
    HRESULT STDMETHODCALLTYPE Destroy() override;
    HRESULT STDMETHODCALLTYPE put_Text(LPCWSTR text) override;
    HRESULT STDMETHODCALLTYPE SetStyle(DWORD bits, DWORD mask) override;
    HRESULT STDMETHODCALLTYPE GetEventSource(Lumo::UIX_EventSourceKind kind,
                                             Lumo::IUixEventSource** source) override;
    // IUixDialog
    HRESULT STDMETHODCALLTYPE GetItem(long id, Lumo::IUixObj** item) override;

    // The layout's dialog id ("DlgOpenFile").
    const std::wstring& LayoutId() const { return m_layout_id; }
    bool IsModal() const { return m_modal && !m_ended; }
    bool IsDestroyed() const { return m_destroyed; }
    // A key pressed in the dialog: its keyboard handlers see WM_KEYDOWN first;
    // S_OK when one of them handled it, S_FALSE otherwise.
    HRESULT PressKey(WPARAM key);
    // The user resizes the dialog so that its client area has this size; the
    // handler sees UIX_Event_Size.
    HRESULT Resize(int client_width, int client_height);
    // The user clicks the close box: a modal loop ends with
    // UIX_ModalResult_Cancel; the dialog stays until the plug-in destroys it.
    HRESULT Close();
    // A control by its layout id; null when none.
    HostControl* Control(const std::wstring& name) const;
    // A text with its "$$$." string ids resolved.
    std::wstring Resolve(const std::wstring& text) const { return m_strings->Resolve(text); }
    // A control of the kind, made by CreateObj with this dialog (or, given,
    // one of its controls) as parent; rect is in the parent's client area.
    HRESULT AddControl(ControlKind kind, const std::wstring& name, long id, const RECT& rect,
                       ComPtr<HostControl>* control, HostControl* parent = nullptr,
                       bool visible = true);

    // Sends an event to the dialog's handler; true when it was handled.
    bool Send(long code, Lumo::IUixObj* object, long item_id, long kind);
    // Whether its handler, a keyboard handler or a control's callback or
    // handler is code of the module.
    bool Holds(HMODULE module) const;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    // An event of a window message: its window and parameters filled in.
    bool SendWindowEvent(long code, WPARAM wparam, LPARAM lparam);

    HostDialog(std::wstring layout_id, HWND window, Lumo::IUixEventHandler* handler,
               std::shared_ptr<StringTable> strings);

    std::wstring m_layout_id;
    ComPtr<Lumo::IUixEventHandler> m_handler;
    std::shared_ptr<StringTable> m_strings;
    std::vector<ComPtr<HostControl>> m_controls;
    ComPtr<HostEventSource> m_keyboard_source;
    // Read by tests' waits on other threads. An end asked for before the
    // modal loop runs is kept for it.
    std::atomic<bool> m_modal{false};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_destroyed{false};
    long m_result = 0;
};

} // namespace gd
