#include "host/dialogs.h"

#include <shlwapi.h>
#include <xmllite.h>

#include <algorithm>

#include "errors/check.h"
#include "host/module_code.h"
#include "host/uix_host.h"
#include "host/ui_thread.h"
#include "host/xml_reader.h"

namespace gd {
namespace {

constexpr const wchar_t* kDialogClass = L"LumoHostDialog";
constexpr const wchar_t* kListClass = L"LumoHostList";

class HostEvent : public ComObject<Lumo::IUixEvent> {
public:
    HostEvent(long code, Lumo::IUixObj* object, long item_id, long kind)
        : m_code(code), m_object(object), m_item_id(item_id), m_kind(kind) {}
    HRESULT STDMETHODCALLTYPE get_Code(long* code) override { return Out(code, m_code); }
    HRESULT STDMETHODCALLTYPE get_Object(Lumo::IUixObj** obj) override {
        return m_object.CopyTo(obj);
    }
    HRESULT STDMETHODCALLTYPE get_ItemId(long* id) override { return Out(id, m_item_id); }
    HRESULT STDMETHODCALLTYPE get_Kind(long* kind) override { return Out(kind, m_kind); }
    HRESULT STDMETHODCALLTYPE get_Window(HWND* window) override { return Out(window, m_window); }
    HRESULT STDMETHODCALLTYPE get_WParam(WPARAM* wparam) override { return Out(wparam, m_wparam); }
    HRESULT STDMETHODCALLTYPE get_LParam(LPARAM* lparam) override { return Out(lparam, m_lparam); }
    HRESULT STDMETHODCALLTYPE get_Point(POINT* point) override { return Out(point, POINT{}); }
    HRESULT STDMETHODCALLTYPE put_Handled(VARIANT_BOOL handled) override {
        m_handled = handled != VARIANT_FALSE;
        return S_OK;
    }
    bool m_handled = false;

private:
    template <class T> static HRESULT Out(T* out, T value) {
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = value;
        return S_OK;
    }
    long m_code;
    ComPtr<Lumo::IUixObj> m_object;
    long m_item_id;
    long m_kind;

public:
    // A window message's window and parameters (a key's code, a new size).
    HWND m_window = nullptr;
    WPARAM m_wparam = 0;
    LPARAM m_lparam = 0;
};

struct LayoutControl {
    ControlKind kind;
    std::wstring id, text;
    long x = 0, y = 0, width = 0, height = 0;
    DWORD style = 0;
    bool fixed = false;
};

struct Layout {
    std::wstring title;
    long width = 0, height = 0, fixed_size = 0;
    std::vector<LayoutControl> controls;
};

bool KindOf(const std::wstring& element, ControlKind* kind) {
    const struct {
        const wchar_t* name;
        ControlKind kind;
    } kKinds[] = {{L"combo", ControlKind::Combo}, {L"button", ControlKind::Button},
                  {L"list", ControlKind::List},   {L"label", ControlKind::Label},
                  {L"edit", ControlKind::Edit},   {L"picture", ControlKind::Picture}};
    for (const auto& entry : kKinds) {
        if (element == entry.name) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}

long Number(const std::wstring& text) {
    return static_cast<long>(wcstol(text.c_str(), nullptr, 10));
}

// "#00000102" to its bits.
DWORD Bits(const std::wstring& text) {
    return text.size() > 1 && text[0] == L'#' ? wcstoul(text.c_str() + 1, nullptr, 16) : 0;
}

// The dialog `id` of a layout document; ERROR_NOT_FOUND when it has none.
HRESULT ParseLayout(const void* data, ULONG size, const std::wstring& id, Layout* layout) {
    RETURN_HR_IF(E_INVALIDARG, data == nullptr || size == 0);
    ComPtr<IStream> stream;
    stream.Attach(SHCreateMemStream(static_cast<const BYTE*>(data), size));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, stream.Get());
    ComPtr<IXmlReader> reader;
    RETURN_IF_FAILED(CreateXmlReaderOn(stream.Get(), &reader));
    bool inside = false, found = false;
    XmlNodeType type = XmlNodeType_None;
    HRESULT hr;
    while ((hr = reader->Read(&type)) == S_OK && type != XmlNodeType_None) {
        if (type == XmlNodeType_EndElement && inside && XmlLocalName(reader.Get()) == L"dialog")
            inside = false;
        if (type != XmlNodeType_Element)
            continue;
        std::wstring name = XmlLocalName(reader.Get());
        ControlKind kind;
        if (name == L"dialog") {
            inside = XmlAttribute(reader.Get(), L"id") == id && !found;
            if (inside) {
                found = true;
                layout->title = XmlAttribute(reader.Get(), L"title");
                layout->width = Number(XmlAttribute(reader.Get(), L"width"));
                layout->height = Number(XmlAttribute(reader.Get(), L"height"));
                inside = !reader->IsEmptyElement();
            }
        } else if (inside && name == L"fixedArea") {
            layout->fixed_size = Number(XmlAttribute(reader.Get(), L"size"));
        } else if (inside && KindOf(name, &kind)) {
            LayoutControl control{kind, XmlAttribute(reader.Get(), L"id"),
                                  XmlAttribute(reader.Get(), L"text")};
            control.x = Number(XmlAttribute(reader.Get(), L"x"));
            control.y = Number(XmlAttribute(reader.Get(), L"y"));
            control.width = Number(XmlAttribute(reader.Get(), L"width"));
            control.height = Number(XmlAttribute(reader.Get(), L"height"));
            control.style = Bits(XmlAttribute(reader.Get(), L"style"));
            control.fixed = XmlAttribute(reader.Get(), L"fixed") == L"true";
            layout->controls.push_back(control);
        }
    }
    RETURN_IF_FAILED(hr);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), !found);
    return S_OK;
}

const wchar_t* WindowClassOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::Combo:
        return L"COMBOBOX";
    case ControlKind::Button:
        return L"BUTTON";
    case ControlKind::Edit:
        return L"EDIT";
    case ControlKind::List:
        return kListClass;
    default:
        return L"STATIC";
    }
}

HRESULT CreateWindowOf(const wchar_t* window_class, const std::wstring& text, DWORD style,
                       const RECT& rect, HWND parent, HWND* window) {
    *window = CreateWindowExW(0, window_class, text.c_str(), style, rect.left, rect.top,
                              rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), *window == nullptr);
    SendMessageW(*window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    return S_OK;
}

// A list on a screen draws what its callback gives, as the editor's does.
LRESULT CALLBACK ListWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* list = reinterpret_cast<HostControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message != WM_PAINT || list == nullptr)
        return DefWindowProcW(window, message, wparam, lparam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    list->Paint(dc);
    EndPaint(window, &paint);
    return 0;
}

// A host image's pixels (premultiplied BGRA, opaque here) at left, top.
void DrawImage(HDC dc, Lumo::IUixImage* image, int left, int top) {
    const auto* pixels = static_cast<const HostImage*>(image);
    if (pixels->m_pixels.empty())
        return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(pixels->m_width);
    info.bmiHeader.biHeight = -static_cast<LONG>(pixels->m_height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    StretchDIBits(dc, left, top, static_cast<int>(pixels->m_width),
                  static_cast<int>(pixels->m_height), 0, 0, static_cast<int>(pixels->m_width),
                  static_cast<int>(pixels->m_height), pixels->m_pixels.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
}

} // namespace

HRESULT WindowOf(HWND window, HWND* out) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = window;
    return S_OK;
}

HRESULT ClientRectOf(HWND window, RECT* rect) {
    RETURN_HR_IF_NULL(E_POINTER, rect);
    RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), !GetClientRect(window, rect));
    return S_OK;
}

HRESULT WindowText(HWND window, BSTR* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    int length = GetWindowTextLengthW(window);
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, buffer.data(), length + 1);
    return CopyToBstr(buffer.c_str(), text);
}

HRESULT HostEventSource::Advise(Lumo::IUixEventHandler* handler, DWORD* cookie) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, cookie);
    RETURN_HR_IF_NULL(E_INVALIDARG, handler);
    *cookie = m_next_cookie++;
    m_handlers.emplace_back(*cookie, ComPtr<Lumo::IUixEventHandler>(handler));
    return S_OK;
}

HRESULT HostEventSource::Unadvise(DWORD cookie) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    auto found = std::find_if(m_handlers.begin(), m_handlers.end(),
                              [cookie](const auto& entry) { return entry.first == cookie; });
    RETURN_HR_IF(E_INVALIDARG, found == m_handlers.end());
    m_handlers.erase(found);
    return S_OK;
}

bool HostEventSource::Fire(Lumo::IUixEvent* event) {
    auto handlers = m_handlers; // a handler may unadvise while called
    for (const auto& entry : handlers)
        entry.second->OnEvent(event);
    auto* host_event = static_cast<HostEvent*>(event);
    return host_event->m_handled;
}

bool HostEventSource::Holds(HMODULE module) const {
    return std::any_of(m_handlers.begin(), m_handlers.end(), [module](const auto& entry) {
        return IsCodeOf(entry.second.Get(), module);
    });
}

// ---- controls ----

HostControl::HostControl(ControlKind kind, std::wstring name, long id, HWND window,
                         HostDialog* dialog)
    : HostWindowObject(window), m_kind(kind), m_name(std::move(name)), m_id(id), m_dialog(dialog) {}

HostControl::~HostControl() = default;

bool HostControl::Answers(REFIID iid) const {
    if (iid == __uuidof(Lumo::IUixCombo))
        return m_kind == ControlKind::Combo;
    if (iid == __uuidof(Lumo::IUixList))
        return m_kind == ControlKind::List;
    if (iid == __uuidof(Lumo::IUixWaitProgress))
        return m_kind == ControlKind::WaitProgress;
    return true;
}

HRESULT HostControl::QueryInterface(REFIID iid, void** out) {
    if (out != nullptr && !Answers(iid)) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    return HostWindowObject::QueryInterface(iid, out);
}

HRESULT HostControl::DoModal(Lumo::UIX_ObjModal, long*) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    return E_NOTIMPL;
}
HRESULT HostControl::EndModal(long) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    return E_NOTIMPL;
}
// The callback and the handlers go with the window: a list's callback
// usually holds the list, and would keep both alive.
HRESULT HostControl::Destroy() {
    RETURN_IF_FAILED(CheckThread(m_thread));
    ComPtr<HostControl> alive(this);
    if (m_window != nullptr) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    m_window = nullptr;
    ComPtr<Lumo::IUixListCallback> callback = std::move(m_callback);
    if (ComPtr<HostEventSource> source = std::move(m_notify_source))
        source->Clear();
    return S_OK;
}

// An edit control tells its handlers of a change of its text, also of one
// made by code, as a single-line edit does on WM_SETTEXT.
HRESULT HostControl::put_Text(LPCWSTR text) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    std::wstring changed = text != nullptr ? text : L"";
    const bool notify = m_kind == ControlKind::Edit && m_dialog != nullptr && changed != Text();
    SetWindowTextW(m_window, changed.c_str());
    if (notify)
        LOG_IF_FAILED(Notify(Lumo::UIX_Notify_TextChanged));
    return S_OK;
}

HRESULT HostControl::SetStyle(DWORD bits, DWORD mask) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    m_style = (m_style & ~mask) | (bits & mask);
    return S_OK;
}

HRESULT HostControl::GetEventSource(Lumo::UIX_EventSourceKind kind,
                                    Lumo::IUixEventSource** source) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, source);
    *source = nullptr;
    if (kind != Lumo::UIX_EventSource_Notify)
        return S_FALSE;
    if (!m_notify_source)
        RETURN_IF_FAILED(MakeObject(&m_notify_source));
    return ComPtr<Lumo::IUixEventSource>(m_notify_source.Get()).CopyTo(source);
}

HRESULT HostControl::Clear() {
    RETURN_IF_FAILED(CheckThread(m_thread));
    m_entries.clear();
    m_selected = -1;
    return S_OK;
}

HRESULT HostControl::get_Count(long* count) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = static_cast<long>(m_entries.size());
    return S_OK;
}

HRESULT HostControl::InsertItem(long index, LPCWSTR text, LPCWSTR edit_text, Lumo::IUixImage*,
                                Lumo::PARAM_T param, DWORD) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_INVALIDARG, index < -1 || index > static_cast<long>(m_entries.size()));
    ComboEntry entry{text != nullptr ? text : L"", edit_text != nullptr ? edit_text : L"", param};
    m_entries.insert(index == -1 ? m_entries.end() : m_entries.begin() + index, entry);
    return S_OK;
}

HRESULT HostControl::Select(long index) {
    RETURN_HR_IF(E_INVALIDARG, index < -1 || index >= static_cast<long>(m_entries.size()));
    m_selected = index;
    SetWindowTextW(m_window, index == -1 ? L"" : m_entries[index].text.c_str());
    return S_OK;
}

// The editor's combo tells its handlers of every change of its selection,
// also of one made by code.
HRESULT HostControl::put_SelItem(long index) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    const long before = m_selected;
    RETURN_IF_FAILED(Select(index));
    if (index != before && m_dialog != nullptr)
        LOG_IF_FAILED(Notify(Lumo::UIX_Notify_SelChanged));
    return S_OK;
}

HRESULT HostControl::get_SelItem(long* index) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, index);
    *index = m_selected;
    return S_OK;
}

HRESULT HostControl::GetItemParam(long index, Lumo::PARAM_T* param) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, param);
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= static_cast<long>(m_entries.size()));
    *param = m_entries[index].param;
    return S_OK;
}

HRESULT HostControl::put_Callback(Lumo::IUixListCallback* callback) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    m_callback = ComPtr<Lumo::IUixListCallback>(callback);
    return S_OK;
}

HRESULT HostControl::InsertColumn(long index, long width, LPCWSTR text, LPCWSTR hint) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_INVALIDARG, index < -1 || index > static_cast<long>(m_columns.size()));
    ListColumn column{text != nullptr ? text : L"", hint != nullptr ? hint : L"", width, 0};
    m_columns.insert(index == -1 ? m_columns.end() : m_columns.begin() + index, column);
    Repaint();
    return S_OK;
}

HRESULT HostControl::SetColumn(long index, DWORD mask, LPCWSTR text, LPCWSTR hint, Lumo::IUixImage*,
                               long width, DWORD style_set, DWORD style_clear, DWORD) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= static_cast<long>(m_columns.size()));
    ListColumn& column = m_columns[index];
    if ((mask & Lumo::UIX_ListColumnMask_Text) != 0)
        column.text = text != nullptr ? text : L"";
    if ((mask & Lumo::UIX_ListColumnMask_Hint) != 0)
        column.hint = hint != nullptr ? hint : L"";
    if ((mask & Lumo::UIX_ListColumnMask_Width) != 0)
        column.width = width;
    if ((mask & Lumo::UIX_ListColumnMask_Style) != 0)
        column.style = (column.style & ~style_clear) | style_set;
    Repaint();
    return S_OK;
}

HRESULT HostControl::get_ColumnStyle(long index, DWORD* style) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, style);
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= static_cast<long>(m_columns.size()));
    *style = m_columns[index].style;
    return S_OK;
}

HRESULT HostControl::InsertItem(long index, Lumo::PARAM_T param, DWORD) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_INVALIDARG, index < -1 || index > m_row_count);
    m_rows.resize(m_row_count);
    m_rows.insert(index == -1 ? m_rows.end() : m_rows.begin() + index, param);
    ++m_row_count;
    m_selected_rows.clear();
    Repaint();
    return S_OK;
}

HRESULT HostControl::RemoveAllItems() {
    RETURN_IF_FAILED(CheckThread(m_thread));
    m_rows.clear();
    m_row_count = 0;
    m_selected_rows.clear();
    Repaint();
    return S_OK;
}

HRESULT HostControl::put_ItemCount(long count) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_INVALIDARG, count < 0);
    m_row_count = count;
    m_rows.resize(count);
    m_selected_rows.clear();
    Repaint();
    return S_OK;
}

// The cells are asked for again, texts and images, as a repaint would.
HRESULT HostControl::RedrawItems(long first, long count) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    for (long row = first; row < first + count && row < m_row_count; ++row) {
        for (long column = 0; column < static_cast<long>(m_columns.size()); ++column) {
            std::wstring text;
            CellText(row, column, &text);
            ComPtr<Lumo::IUixImage> image;
            double opacity = 0;
            SIZE size{};
            CellImage(row, column, &image, &opacity, &size);
        }
    }
    Repaint();
    return S_OK;
}

HRESULT HostControl::GetFirstSelected(Lumo::UIX_ListItemId* item) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, item);
    if (m_selected_rows.empty())
        return S_FALSE;
    *item = {m_selected_rows.front(), 0};
    return S_OK;
}

HRESULT HostControl::GetNextSelected(Lumo::UIX_ListItemId* item) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, item);
    auto after = std::upper_bound(m_selected_rows.begin(), m_selected_rows.end(), item->nItem);
    if (after == m_selected_rows.end())
        return S_FALSE;
    *item = {*after, 0};
    return S_OK;
}

HRESULT HostControl::Start() {
    RETURN_IF_FAILED(CheckThread(m_thread));
    m_spinning = true;
    return S_OK;
}

HRESULT HostControl::Stop() {
    RETURN_IF_FAILED(CheckThread(m_thread));
    m_spinning = false;
    return S_OK;
}

HRESULT HostControl::Notify(long kind) {
    RETURN_HR_IF(E_UNEXPECTED, m_dialog == nullptr);
    ComPtr<HostControl> alive(this); // a handler may destroy the dialog and its controls
    ComPtr<HostEvent> event;
    RETURN_IF_FAILED(MakeObject(&event, Lumo::UIX_Event_Notify, this, m_id, kind));
    ComPtr<HostEventSource> source = m_notify_source;
    if (source && source->Fire(event.Get()))
        return S_OK;
    // A handler that destroyed the dialog leaves nobody to tell.
    if (m_dialog != nullptr)
        m_dialog->Send(Lumo::UIX_Event_Notify, this, m_id, kind);
    return S_OK;
}

HRESULT HostControl::Click() {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), !IsEnabled());
    return Notify(Lumo::UIX_Notify_Click);
}

HRESULT HostControl::Type(const std::wstring& text) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), !IsEnabled());
    SetWindowTextW(m_window, text.c_str());
    return Notify(Lumo::UIX_Notify_TextChanged);
}

HRESULT HostControl::Pick(long index) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), !IsEnabled());
    RETURN_IF_FAILED(Select(index));
    return Notify(Lumo::UIX_Notify_SelChanged);
}

HRESULT HostControl::SelectRows(const std::vector<long>& rows) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    for (long row : rows)
        RETURN_HR_IF(E_INVALIDARG, row < 0 || row >= m_row_count);
    // A single-selection list cannot hold several rows selected.
    RETURN_HR_IF(E_INVALIDARG, rows.size() > 1 && (m_style & Lumo::UIX_ListStyle_MultiSelect) == 0);
    m_selected_rows = rows;
    std::sort(m_selected_rows.begin(), m_selected_rows.end());
    Repaint();
    return Notify(Lumo::UIX_Notify_SelChanged);
}

HRESULT HostControl::ActivateRow(long row, DWORD flags) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_IF_FAILED(SelectRows({row}));
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_callback.Get());
    Lumo::UIX_ListItemId item{row, 0};
    return m_callback->OnItemActivated(&item, flags);
}

HRESULT HostControl::ClickColumn(long column, long click_kind) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_INVALIDARG, column < 0 || column >= static_cast<long>(m_columns.size()));
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_callback.Get());
    ComPtr<Lumo::IUixListCallback> callback = m_callback;
    return callback->OnColumnClick(column, click_kind);
}

std::wstring HostControl::Text() const {
    Bstr text;
    WindowText(m_window, text.Put());
    return text.Text();
}

bool HostControl::IsEnabled() const {
    return IsWindowEnabled(m_window) != FALSE;
}

HRESULT HostControl::CellText(long row, long column, std::wstring* text) const {
    DWORD flags = 0;
    return CellText(row, column, text, &flags);
}

HRESULT HostControl::CellText(long row, long column, std::wstring* text,
                              DWORD* draw_text_flags) const {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_callback.Get());
    Lumo::UIX_ListItemId item{row, column};
    LPCWSTR cell = nullptr;
    long length = 0;
    DWORD& flags = *draw_text_flags;
    flags = 0;
    RETURN_IF_FAILED(m_callback->GetItemText(&item, &cell, &length, &flags));
    text->assign(cell != nullptr ? cell : L"", cell != nullptr ? static_cast<size_t>(length) : 0);
    return S_OK;
}

HRESULT HostControl::CellImage(long row, long column, ComPtr<Lumo::IUixImage>* image,
                               double* opacity, SIZE* size) const {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_callback.Get());
    Lumo::UIX_ListItemId item{row, column};
    *opacity = 0;
    *size = SIZE{};
    HRESULT hr = m_callback->GetItemImage(&item, image->Put(), opacity);
    RETURN_IF_FAILED(hr);
    if (hr != S_OK || !*image)
        return S_FALSE;
    RETURN_IF_FAILED(m_callback->GetItemImageSize(&item, size));
    return S_OK;
}

void HostControl::Repaint() {
    if (m_kind == ControlKind::List && m_window != nullptr)
        InvalidateRect(m_window, nullptr, TRUE);
}

void HostControl::Paint(HDC dc) const {
    constexpr int kRowHeight = 20;
    RECT client{};
    GetClientRect(m_window, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    HGDIOBJ font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    const UINT text_flags = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;
    int left = 0;
    for (const ListColumn& column : m_columns) {
        RECT cell{left, 0, left + column.width, kRowHeight};
        FillRect(dc, &cell, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(dc, &cell, BDR_RAISEDINNER, BF_RECT);
        InflateRect(&cell, -4, 0);
        std::wstring text = m_dialog != nullptr ? m_dialog->Resolve(column.text) : column.text;
        DrawTextW(dc, text.c_str(), -1, &cell, text_flags);
        left += column.width;
    }
    for (long row = 0; row < m_row_count && (row + 1) * kRowHeight < client.bottom; ++row) {
        const int top = (row + 1) * kRowHeight;
        const bool selected =
            std::binary_search(m_selected_rows.begin(), m_selected_rows.end(), row);
        if (selected) {
            RECT line{0, top, client.right, top + kRowHeight};
            FillRect(dc, &line, GetSysColorBrush(COLOR_HIGHLIGHT));
        }
        SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        left = 0;
        for (long column = 0; column < static_cast<long>(m_columns.size()); ++column) {
            RECT cell{left + 4, top, left + m_columns[column].width - 4, top + kRowHeight};
            left += m_columns[column].width;
            ComPtr<Lumo::IUixImage> image;
            double opacity = 0;
            SIZE size{};
            if (CellImage(row, column, &image, &opacity, &size) == S_OK) {
                DrawImage(dc, image.Get(), cell.left, top + (kRowHeight - 16) / 2);
                cell.left += 20;
            }
            std::wstring text;
            DWORD flags = 0;
            if (SUCCEEDED(CellText(row, column, &text, &flags)))
                DrawTextW(dc, text.c_str(), -1, &cell,
                          text_flags | (flags & (DT_CENTER | DT_RIGHT)));
        }
    }
    SelectObject(dc, font);
}

bool HostControl::IsShown() const {
    return (GetWindowLongW(m_window, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool HostControl::Holds(HMODULE module) const {
    return IsCodeOf(m_callback.Get(), module) ||
           (m_notify_source && m_notify_source->Holds(module));
}

// ---- dialogs ----

HostDialog::HostDialog(std::wstring layout_id, HWND window, Lumo::IUixEventHandler* handler,
                       std::shared_ptr<StringTable> strings)
    : HostWindowObject(window), m_layout_id(std::move(layout_id)), m_handler(handler),
      m_strings(std::move(strings)) {}

HostDialog::~HostDialog() {
    for (auto& control : m_controls)
        control->m_dialog = nullptr;
    if (m_window != nullptr) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

LRESULT CALLBACK HostDialog::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* dialog = reinterpret_cast<HostDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (dialog == nullptr)
        return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
    case WM_SIZE:
        dialog->SendWindowEvent(Lumo::UIX_Event_Size, wparam, lparam);
        return 0;
    case WM_CLOSE: // the close box cancels; the plug-in destroys the dialog
        dialog->EndModal(Lumo::UIX_ModalResult_Cancel);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

HRESULT HostDialog::Create(const Lumo::UIX_CreateParams& params,
                           std::shared_ptr<StringTable> strings, ComPtr<HostDialog>* dialog) {
    RETURN_HR_IF_NULL(E_INVALIDARG, params.id);
    Layout layout;
    RETURN_IF_FAILED(ParseLayout(params.layout, params.layout_size, params.id, &layout));
    RegisterWindowClass(kDialogClass, WindowProc);
    RegisterWindowClass(kListClass, ListWindowProc);
    HWND window = nullptr;
    // Hidden: tests drive the dialog without a screen.
    const DWORD style = params.style & ~WS_VISIBLE;
    // The layout's size is the client area's, where the controls and the
    // fixed strip at its bottom lie; the frame goes around it.
    RECT frame{0, 0, layout.width, layout.height};
    RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), !AdjustWindowRectEx(&frame, style, FALSE, 0));
    OffsetRect(&frame, -frame.left, -frame.top);
    RETURN_IF_FAILED(CreateWindowOf(kDialogClass, strings->Resolve(layout.title), style, frame,
                                    params.owner, &window));
    ComPtr<HostDialog> created;
    created.Attach(new (std::nothrow) HostDialog(params.id, window, params.handler, strings));
    if (!created) {
        DestroyWindow(window);
        return E_OUTOFMEMORY;
    }
    created->AddRef();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created.Get()));
    for (const LayoutControl& control : layout.controls) {
        long top = control.fixed ? layout.height - layout.fixed_size + control.y : control.y;
        RECT rect{control.x, top, control.x + control.width, top + control.height};
        ComPtr<HostControl> made;
        RETURN_IF_FAILED(created->AddControl(control.kind, control.id, strings->NameId(control.id),
                                             rect, &made));
        made->put_Text(strings->Resolve(control.text).c_str());
    }
    created->Send(Lumo::UIX_Event_ObjAttached, created.Get(), 0, 0);
    created->Send(Lumo::UIX_Event_InitDialog, created.Get(), 0, 0);
    *dialog = created;
    return S_OK;
}

HRESULT HostDialog::AddControl(ControlKind kind, const std::wstring& name, long id,
                               const RECT& rect, ComPtr<HostControl>* control, HostControl* parent,
                               bool visible) {
    HWND window = nullptr;
    HWND parent_window = parent != nullptr ? parent->m_window : m_window;
    RETURN_IF_FAILED(CreateWindowOf(WindowClassOf(kind), L"", WS_CHILD | (visible ? WS_VISIBLE : 0),
                                    rect, parent_window, &window));
    control->Attach(new (std::nothrow) HostControl(kind, name, id, window, this));
    if (!*control) {
        DestroyWindow(window);
        return E_OUTOFMEMORY;
    }
    if (kind == ControlKind::List)
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control->Get()));
    (*control)->m_parent = parent;
    (*control)->m_rect = rect;
    (*control)->AddRef();
    m_controls.push_back(*control);
    return S_OK;
}

bool HostDialog::Send(long code, Lumo::IUixObj* object, long item_id, long kind) {
    if (!m_handler)
        return false;
    ComPtr<HostEvent> event;
    if (FAILED(MakeObject(&event, code, object, item_id, kind)))
        return false;
    ComPtr<Lumo::IUixEventHandler> handler = m_handler; // the handler may destroy the dialog
    handler->OnEvent(event.Get());
    return event->m_handled;
}

bool HostDialog::SendWindowEvent(long code, WPARAM wparam, LPARAM lparam) {
    if (!m_handler)
        return false;
    ComPtr<HostDialog> alive(this);
    ComPtr<HostEvent> event;
    if (FAILED(MakeObject(&event, code, this, 0, 0)))
        return false;
    event->m_window = m_window;
    event->m_wparam = wparam;
    event->m_lparam = lparam;
    ComPtr<Lumo::IUixEventHandler> handler = m_handler;
    handler->OnEvent(event.Get());
    return event->m_handled;
}

HRESULT HostDialog::Resize(int client_width, int client_height) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_UNEXPECTED, m_window == nullptr);
    RETURN_HR_IF(E_INVALIDARG, client_width < 0 || client_height < 0);
    RECT frame{0, 0, client_width, client_height};
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE));
    const DWORD ex_style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_EXSTYLE));
    RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()),
                 !AdjustWindowRectEx(&frame, style, FALSE, ex_style));
    RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()),
                 !SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left,
                               frame.bottom - frame.top,
                               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    return S_OK;
}

HRESULT HostDialog::Close() {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_UNEXPECTED, m_window == nullptr);
    SendMessageW(m_window, WM_CLOSE, 0, 0);
    return S_OK;
}

HRESULT HostDialog::DoModal(Lumo::UIX_ObjModal, long* result) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_UNEXPECTED, m_window == nullptr || m_modal);
    ComPtr<HostDialog> alive(this);
    m_modal = true;
    // The loop keeps dispatching the UI thread's work, as the editor's does;
    // an end asked for already returns at once, and the host quitting cancels.
    if (!UiThread::PumpUntil([this] { return m_ended.load(); }, INFINITE))
        m_result = Lumo::UIX_ModalResult_Cancel;
    m_modal = false;
    m_ended = false;
    if (result != nullptr)
        *result = m_result;
    return S_OK;
}

HRESULT HostDialog::EndModal(long result) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    m_result = result;
    m_ended = true;
    return S_OK;
}

HRESULT HostDialog::Destroy() {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(S_FALSE, m_window == nullptr);
    ComPtr<HostDialog> alive(this);
    Send(Lumo::UIX_Event_ObjDetached, this, 0, 0);
    m_handler.Reset();
    if (m_keyboard_source)
        m_keyboard_source->Clear();
    m_keyboard_source.Reset();
    for (auto& control : m_controls) {
        control->m_dialog = nullptr;
        control->Destroy();
    }
    m_controls.clear();
    m_ended = true;
    SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    DestroyWindow(m_window);
    m_window = nullptr;
    m_destroyed = true;
    return S_OK;
}

HRESULT HostDialog::put_Text(LPCWSTR text) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    SetWindowTextW(m_window, text != nullptr ? m_strings->Resolve(text).c_str() : L"");
    return S_OK;
}

HRESULT HostDialog::SetStyle(DWORD bits, DWORD mask) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    DWORD style = static_cast<DWORD>(GetWindowLongPtrW(m_window, GWL_STYLE));
    SetWindowLongPtrW(m_window, GWL_STYLE, (style & ~mask) | (bits & mask));
    return S_OK;
}

HRESULT HostDialog::GetEventSource(Lumo::UIX_EventSourceKind kind, Lumo::IUixEventSource** source) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, source);
    *source = nullptr;
    if (kind != Lumo::UIX_EventSource_Keyboard)
        return S_FALSE;
    if (!m_keyboard_source)
        RETURN_IF_FAILED(MakeObject(&m_keyboard_source));
    return ComPtr<Lumo::IUixEventSource>(m_keyboard_source.Get()).CopyTo(source);
}

HRESULT HostDialog::GetItem(long id, Lumo::IUixObj** item) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF_NULL(E_POINTER, item);
    *item = nullptr;
    for (const auto& control : m_controls) {
        if (control->m_id == id)
            return ComPtr<Lumo::IUixObj>(control.Get()).CopyTo(item);
    }
    return E_INVALIDARG;
}

HRESULT HostDialog::PressKey(WPARAM key) {
    RETURN_IF_FAILED(CheckThread(m_thread));
    RETURN_HR_IF(E_UNEXPECTED, m_window == nullptr);
    ComPtr<HostEvent> event;
    RETURN_IF_FAILED(MakeObject(&event, static_cast<long>(WM_KEYDOWN), this, 0, 0));
    event->m_window = m_window;
    event->m_wparam = key;
    if (m_keyboard_source && m_keyboard_source->Fire(event.Get()))
        return S_OK;
    return S_FALSE;
}

bool HostDialog::Holds(HMODULE module) const {
    if (IsCodeOf(m_handler.Get(), module) ||
        (m_keyboard_source && m_keyboard_source->Holds(module)))
        return true;
    return std::any_of(m_controls.begin(), m_controls.end(),
                       [module](const auto& control) { return control->Holds(module); });
}

HostControl* HostDialog::Control(const std::wstring& name) const {
    for (const auto& control : m_controls) {
        if (control->m_name == name)
            return control.Get();
    }
    return nullptr;
}

} // namespace gd
