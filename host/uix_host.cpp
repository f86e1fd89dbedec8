#include "host/uix_host.h"

#include <wincodec.h>

#include <algorithm>
#include <map>

#include "errors/check.h"
#include "host/module_code.h"

namespace gd {

HRESULT HostIcon::AddImage(Lumo::IUixImage* image) {
    RETURN_HR_IF_NULL(E_INVALIDARG, image);
    std::lock_guard<std::mutex> guard(m_lock);
    m_images.emplace_back(image);
    return S_OK;
}

std::vector<UINT> HostIcon::ImageWidths() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<UINT> widths;
    for (const auto& image : m_images) {
        auto* decoded = dynamic_cast<HostImage*>(image.Get());
        widths.push_back(decoded != nullptr ? decoded->m_width : 0);
    }
    return widths;
}

void* HostIcon::QueryMore(REFIID iid) {
    return iid == __uuidof(Lumo::IUixImage) ? static_cast<Lumo::IUixImage*>(this) : nullptr;
}

HostCommand::HostCommand(std::wstring name, long id, Lumo::IUixCmdHandler* handler)
    : m_name(std::move(name)), m_id(id), m_handler(handler) {}

HRESULT HostCommand::get_ID(long* id) {
    RETURN_HR_IF_NULL(E_POINTER, id);
    *id = m_id;
    return S_OK;
}

HRESULT HostCommand::put_Title(LPCWSTR title) {
    m_title = title != nullptr ? title : L"";
    return S_OK;
}

HRESULT HostCommand::put_Tip(LPCWSTR tip) {
    m_tip = tip != nullptr ? tip : L"";
    return S_OK;
}

HRESULT HostCommand::put_Style(long style) {
    m_style = style;
    return S_OK;
}

HRESULT HostCommand::put_Category(LPCWSTR category) {
    m_category = category != nullptr ? category : L"";
    return S_OK;
}

HRESULT HostCommand::put_Icon(Lumo::IUixIcon* icon) {
    m_icon = ComPtr<Lumo::IUixIcon>(icon);
    return S_OK;
}

namespace {

class HostMenuItem : public ComObject<Lumo::IUixMenuItem> {
public:
    explicit HostMenuItem(HostMenu* sub_menu) : m_sub_menu(sub_menu) {}
    HRESULT STDMETHODCALLTYPE get_SubMenu(Lumo::IUixMenu** menu) override {
        RETURN_HR_IF_NULL(E_POINTER, menu);
        *menu = m_sub_menu.Get();
        if (*menu != nullptr)
            (*menu)->AddRef();
        return S_OK;
    }

private:
    ComPtr<HostMenu> m_sub_menu;
};

} // namespace

HRESULT HostMenu::FindItem(LPCWSTR command_name, long* index) {
    RETURN_HR_IF_NULL(E_POINTER, index);
    RETURN_HR_IF_NULL(E_INVALIDARG, command_name);
    return FindCommand(m_strings->NameId(command_name), 0, index);
}

HRESULT HostMenu::get_Item(long index, Lumo::IUixMenuItem** item) {
    RETURN_HR_IF_NULL(E_POINTER, item);
    *item = nullptr;
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= static_cast<long>(m_entries.size()));
    ComPtr<HostMenuItem> result;
    RETURN_IF_FAILED(MakeObject(&result, m_entries[index].sub_menu.Get()));
    *item = result.Detach();
    return S_OK;
}

HRESULT HostMenu::FindCommand(long command_id, long, long* position) {
    RETURN_HR_IF_NULL(E_POINTER, position);
    *position = -1;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].command_id == command_id) {
            *position = static_cast<long>(i);
            break;
        }
    }
    return S_OK;
}

HRESULT HostMenu::InsertCommand(long position, long command_id, long style, long) {
    RETURN_HR_IF(E_INVALIDARG, position < -1 || position > static_cast<long>(m_entries.size()));
    HostMenuEntry entry{command_id, style, nullptr};
    auto at = position == -1 ? m_entries.end() : m_entries.begin() + position;
    m_entries.insert(at, std::move(entry));
    return S_OK;
}

HostMenu* HostMenu::Append(const std::wstring& command_name, bool with_sub_menu) {
    HostMenuEntry entry{m_strings->NameId(command_name), 0, nullptr};
    if (with_sub_menu)
        THROW_IF_FAILED(MakeObject(&entry.sub_menu, m_strings));
    m_entries.push_back(entry);
    return entry.sub_menu.Get();
}

std::vector<std::wstring> HostMenu::CommandNames() const {
    std::vector<std::wstring> names;
    for (const auto& entry : m_entries) {
        std::wstring name;
        names.push_back(m_strings->NameOf(entry.command_id, &name) ? name : L"?");
    }
    return names;
}

HostMenu* HostMenu::SubMenu(const std::wstring& command_name) const {
    long id = m_strings->NameId(command_name);
    for (const auto& entry : m_entries) {
        if (entry.command_id == id)
            return entry.sub_menu.Get();
    }
    return nullptr;
}

HostCmdBars::HostCmdBars(std::shared_ptr<StringTable> strings,
                         const std::vector<std::wstring>& removed) {
    THROW_IF_FAILED(MakeObject(&m_menu_bar, strings));
    HostMenu* file = m_menu_bar->Append(L"cmd.file", true);
    m_menu_bar->Append(L"cmd.edit", true);
    // The File menu's entries with the one entry each sub-menu starts with.
    const struct {
        const wchar_t* name;
        const wchar_t* first_in_sub_menu;
    } kFile[] = {{L"cmd.new", nullptr},
                 {L"cmd.open", nullptr},
                 {L"cmd.openFrom", L"cmd.openLocal"},
                 {L"cmd.save", nullptr},
                 {L"cmd.saveTo", L"cmd.saveLocal"},
                 {L"cmd.exit", nullptr}};
    for (const auto& entry : kFile) {
        if (std::find(removed.begin(), removed.end(), entry.name) != removed.end())
            continue;
        HostMenu* sub_menu = file->Append(entry.name, entry.first_in_sub_menu != nullptr);
        if (sub_menu != nullptr)
            sub_menu->Append(entry.first_in_sub_menu, false);
    }
}

HRESULT HostCmdBars::get_MenuBar(Lumo::IUixMenu** menu_bar) {
    RETURN_HR_IF_NULL(E_POINTER, menu_bar);
    *menu_bar = m_menu_bar.Get();
    (*menu_bar)->AddRef();
    return S_OK;
}

HRESULT UixHost::get_CmdRegistry(Lumo::IUixCmdRegistry** registry) {
    RETURN_HR_IF_NULL(E_POINTER, registry);
    *registry = this;
    AddRef();
    return S_OK;
}

HRESULT UixHost::get_Collection(Lumo::IUixCmdCollection** collection) {
    RETURN_HR_IF_NULL(E_POINTER, collection);
    *collection = this;
    AddRef();
    return S_OK;
}

HRESULT UixHost::CreateCommand(LPCWSTR name, long, Lumo::IUixCmdHandler* handler,
                               Lumo::IUixCommand** command) {
    RETURN_HR_IF_NULL(E_POINTER, command);
    *command = nullptr;
    RETURN_HR_IF(E_INVALIDARG, name == nullptr || *name == L'\0');
    ComPtr<HostCommand> created;
    RETURN_IF_FAILED(MakeObject(&created, name, m_strings->NameId(name), handler));
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_commands.push_back(created);
    }
    *command = created.Detach();
    return S_OK;
}

ComPtr<HostCommand> UixHost::FindCommand(const std::wstring& name) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& command : m_commands) {
        if (command->m_name == name)
            return command;
    }
    return nullptr;
}

std::vector<ComPtr<HostCommand>> UixHost::Commands() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_commands;
}

HRESULT UixHost::CreateIcon(Lumo::IUixIcon** icon) {
    RETURN_HR_IF_NULL(E_POINTER, icon);
    *icon = nullptr;
    ComPtr<HostIcon> created;
    RETURN_IF_FAILED(MakeObject(&created));
    *icon = created.Detach();
    return S_OK;
}

HRESULT UixHost::DecodeImage(IStream* stream, Lumo::IUixImage** image) {
    RETURN_HR_IF_NULL(E_POINTER, image);
    *image = nullptr;
    RETURN_HR_IF_NULL(E_INVALIDARG, stream);
    ComPtr<IWICImagingFactory> factory;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      __uuidof(IWICImagingFactory), factory.PutVoid()));
    ComPtr<IWICBitmapDecoder> decoder;
    RETURN_IF_FAILED(factory->CreateDecoderFromStream(
        stream, nullptr, WICDecodeMetadataCacheOnDemand, decoder.Put()));
    ComPtr<IWICBitmapFrameDecode> frame;
    RETURN_IF_FAILED(decoder->GetFrame(0, frame.Put()));
    ComPtr<IWICFormatConverter> converter;
    RETURN_IF_FAILED(factory->CreateFormatConverter(converter.Put()));
    RETURN_IF_FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA,
                                           WICBitmapDitherTypeNone, nullptr, 0,
                                           WICBitmapPaletteTypeCustom));
    ComPtr<HostImage> decoded;
    RETURN_IF_FAILED(MakeObject(&decoded));
    RETURN_IF_FAILED(converter->GetSize(&decoded->m_width, &decoded->m_height));
    const UINT stride = decoded->m_width * 4;
    decoded->m_pixels.resize(static_cast<size_t>(stride) * decoded->m_height);
    RETURN_IF_FAILED(converter->CopyPixels(
        nullptr, stride, static_cast<UINT>(decoded->m_pixels.size()), decoded->m_pixels.data()));
    *image = decoded.Detach();
    return S_OK;
}

// A dialog from a layout document, or a wait indicator inside a dialog. The
// object reaches the caller through its handler; obj may be null.
HRESULT UixHost::CreateObj(Lumo::UIX_CreateParams* params, Lumo::IUixObj** obj) {
    if (obj != nullptr)
        *obj = nullptr;
    RETURN_IF_FAILED(CheckThread(m_ui_thread));
    RETURN_HR_IF_NULL(E_INVALIDARG, params);
    ComPtr<Lumo::IUixObj> created;
    if (params->kind == Lumo::UIX_ObjKind_Dialog) {
        ComPtr<HostDialog> dialog;
        RETURN_IF_FAILED(HostDialog::Create(*params, m_strings, &dialog));
        std::lock_guard<std::mutex> guard(m_lock);
        m_dialogs.push_back(dialog);
        created = ComPtr<Lumo::IUixObj>(dialog.Get());
    } else {
        ComPtr<HostControl> control;
        RETURN_IF_FAILED(CreateControl(*params, &control));
        created = ComPtr<Lumo::IUixObj>(control.Get());
    }
    if (obj != nullptr)
        *obj = created.Detach();
    return S_OK;
}

HRESULT UixHost::CreateControl(const Lumo::UIX_CreateParams& params, ComPtr<HostControl>* control) {
    RETURN_HR_IF(E_NOTIMPL, params.kind != Lumo::UIX_ObjKind_WaitProgress);
    // The parent is the dialog or one of its controls (a list it covers).
    auto* dialog = dynamic_cast<HostDialog*>(params.parent);
    auto* parent = dynamic_cast<HostControl*>(params.parent);
    if (parent != nullptr)
        dialog = parent->Dialog();
    RETURN_HR_IF_NULL(E_INVALIDARG, dialog);
    std::wstring name = params.id != nullptr ? params.id : L"";
    return dialog->AddControl(ControlKind::WaitProgress, name,
                              name.empty() ? 0 : m_strings->NameId(name), params.rect, control,
                              parent, (params.style & WS_VISIBLE) != 0);
}

ComPtr<HostDialog> UixHost::WaitForDialog(const std::wstring& layout_id, DWORD timeout) const {
    const ULONGLONG deadline = GetTickCount64() + timeout;
    for (;;) {
        for (const auto& dialog : Dialogs()) {
            if (dialog->LayoutId() == layout_id && dialog->IsModal() && !dialog->IsDestroyed())
                return dialog;
        }
        if (GetTickCount64() >= deadline)
            return nullptr;
        Sleep(10);
    }
}

void UixHost::CancelModalDialogs() const {
    for (const auto& dialog : Dialogs())
        if (dialog->IsModal())
            dialog->EndModal(Lumo::UIX_ModalResult_Cancel);
}

void UixHost::DropObjectsOf(HMODULE module) {
    std::vector<ComPtr<HostCommand>> dropped;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto kept = std::partition(m_commands.begin(), m_commands.end(), [module](const auto& c) {
            return !IsCodeOf(c->m_handler.Get(), module) && !IsCodeOf(c->m_icon.Get(), module);
        });
        dropped.assign(kept, m_commands.end());
        m_commands.erase(kept, m_commands.end());
    }
    // The plug-in may still hold a command: nothing in it may outlive the code.
    for (const auto& command : dropped) {
        command->m_handler.Reset();
        command->m_icon.Reset();
    }
    for (const auto& dialog : Dialogs()) {
        if (!dialog->IsDestroyed() && dialog->Holds(module))
            dialog->Destroy();
    }
}

std::vector<ComPtr<HostDialog>> UixHost::Dialogs() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_dialogs;
}

// The icon requests the host answered, per key; the theme's failure switch.
struct IconRecord {
    void Count(const std::wstring& key) {
        std::lock_guard<std::mutex> guard(lock);
        ++calls[key];
    }
    long Calls(const std::wstring& key) const {
        std::lock_guard<std::mutex> guard(lock);
        auto found = calls.find(key);
        return found == calls.end() ? 0 : found->second;
    }
    HRESULT ThemeFailure() const {
        std::lock_guard<std::mutex> guard(lock);
        return theme_failure;
    }
    void SetThemeFailure(HRESULT hr) {
        std::lock_guard<std::mutex> guard(lock);
        theme_failure = hr;
    }

    mutable std::mutex lock;
    std::map<std::wstring, long> calls;
    HRESULT theme_failure = S_OK;
};

namespace {

// A blank square image of a size.
HRESULT MakeBlankImage(UINT size, ComPtr<HostImage>* image) {
    RETURN_IF_FAILED(MakeObject(image));
    (*image)->m_width = (*image)->m_height = size;
    (*image)->m_pixels.assign(static_cast<size_t>(size) * size * 4, 0);
    return S_OK;
}

// A 16-pixel image of its own colour for a key: icons of different keys differ.
HRESULT MakeKeyedImage(const std::wstring& key, ComPtr<HostImage>* image) {
    RETURN_IF_FAILED(MakeBlankImage(16, image));
    (*image)->m_key = key;
    const size_t hash = std::hash<std::wstring>()(key);
    for (size_t i = 0; i < (*image)->m_pixels.size(); i += 4) {
        (*image)->m_pixels[i] = static_cast<BYTE>(hash);
        (*image)->m_pixels[i + 1] = static_cast<BYTE>(hash >> 8);
        (*image)->m_pixels[i + 2] = static_cast<BYTE>(hash >> 16);
        (*image)->m_pixels[i + 3] = 0xFF;
    }
    return S_OK;
}

// The theme knows the folder icons the file dialogs show.
class HostTheme : public ComObject<Lumo::IUixTheme> {
public:
    explicit HostTheme(std::shared_ptr<IconRecord> record) : m_record(std::move(record)) {}

    HRESULT STDMETHODCALLTYPE GetIcon(BSTR id, Lumo::IUixImage** icon) override {
        RETURN_HR_IF_NULL(E_POINTER, icon);
        *icon = nullptr;
        std::wstring name = id != nullptr ? id : L"";
        m_record->Count(name);
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                     name != L"ico.folder" && name != L"ico.folder.opened" && name != L"ico.user");
        ComPtr<HostImage> image;
        RETURN_IF_FAILED(MakeKeyedImage(name, &image));
        *icon = image.Detach();
        return S_OK;
    }

private:
    std::shared_ptr<IconRecord> m_record;
};

} // namespace

UixHost::UixHost(std::shared_ptr<StringTable> strings, DWORD ui_thread)
    : m_strings(std::move(strings)), m_ui_thread(ui_thread),
      m_icons(std::make_shared<IconRecord>()) {}

HRESULT UixHost::get_Theme(Lumo::IUixTheme** theme) {
    RETURN_HR_IF_NULL(E_POINTER, theme);
    *theme = nullptr;
    RETURN_IF_FAILED(CheckThread(m_ui_thread));
    RETURN_IF_FAILED(m_icons->ThemeFailure());
    ComPtr<HostTheme> created;
    RETURN_IF_FAILED(MakeObject(&created, m_icons));
    *theme = created.Detach();
    return S_OK;
}

HRESULT UixHost::CreateFileTypeIcon(BSTR extension, DWORD, Lumo::IUixImage** icon) {
    RETURN_HR_IF_NULL(E_POINTER, icon);
    *icon = nullptr;
    RETURN_IF_FAILED(CheckThread(m_ui_thread));
    std::wstring key = extension != nullptr ? extension : L"";
    m_icons->Count(key);
    ComPtr<HostImage> image;
    RETURN_IF_FAILED(MakeKeyedImage(key, &image));
    *icon = image.Detach();
    return S_OK;
}

long UixHost::IconCalls(const std::wstring& key) const {
    return m_icons->Calls(key);
}

void UixHost::SetThemeFailure(HRESULT hr) {
    m_icons->SetThemeFailure(hr);
}

HRESULT UixHost::GetMetric(long metric, long* value) {
    RETURN_HR_IF_NULL(E_POINTER, value);
    *value = 0;
    RETURN_HR_IF(E_INVALIDARG, metric != Lumo::UIX_Metric_ListReservedWidth);
    *value = GetSystemMetrics(SM_CXVSCROLL);
    return S_OK;
}

// The emulated screen has 96 dots per inch: a dialog unit is one pixel.
HRESULT UixHost::ScaleUnits(long units, long* pixels) {
    RETURN_HR_IF_NULL(E_POINTER, pixels);
    *pixels = units;
    return S_OK;
}

} // namespace gd
