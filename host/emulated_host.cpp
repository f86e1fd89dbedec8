#include "host/emulated_host.h"

#include "http/encoding.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <shlwapi.h>

#include "errors/check.h"
#include "host/document_io.h"
#include "host/module_code.h"

namespace gd {
namespace {

class HostProperty : public ComObject<Lumo::ILumoProperty> {
public:
    HostProperty(long type, const VARIANT& value) : m_type(type) {
        VariantCopy(&m_value.Get(), const_cast<VARIANT*>(&value));
    }
    HRESULT STDMETHODCALLTYPE get_Type(long* type) override {
        RETURN_HR_IF_NULL(E_POINTER, type);
        *type = m_type;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Value(VARIANT* value) override {
        RETURN_HR_IF_NULL(E_POINTER, value);
        VariantInit(value);
        return VariantCopy(value, &m_value.Get());
    }
    // The value must come in the property's own type, as the host stores it.
    HRESULT STDMETHODCALLTYPE put_Value(VARIANT value) override {
        if (m_type != Lumo::LUMO_PropType_Empty && V_VT(&value) != OwnType()) {
            m_wrong_type_write = true;
            RETURN_HR_IF(DISP_E_TYPEMISMATCH, true);
        }
        return VariantCopy(m_value.Put(), &value);
    }
    bool WrongTypeWrite() const { return m_wrong_type_write; }
    long Int() const { return V_VT(&m_value.Get()) == VT_I4 ? V_I4(&m_value.Get()) : 0; }
    bool Bool() const {
        return V_VT(&m_value.Get()) == VT_BOOL && V_BOOL(&m_value.Get()) != VARIANT_FALSE;
    }

private:
    VARTYPE OwnType() const {
        switch (m_type) {
        case Lumo::LUMO_PropType_Bool:
            return VT_BOOL;
        case Lumo::LUMO_PropType_Int:
            return VT_I4;
        case Lumo::LUMO_PropType_Int64:
            return VT_I8;
        case Lumo::LUMO_PropType_Double:
            return VT_R8;
        default:
            return VT_EMPTY;
        }
    }

    long m_type;
    Variant m_value;
    bool m_wrong_type_write = false;
};

// Open parameters and save options: a bag of named properties.
class HostProperties : public ComObject<Lumo::ILumoOpenParams, Lumo::ILumoProperties> {
public:
    HRESULT STDMETHODCALLTYPE get_Properties(Lumo::ILumoProperties** properties) override {
        RETURN_HR_IF_NULL(E_POINTER, properties);
        *properties = this;
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindItem(LPCWSTR name, Lumo::ILumoProperty** property) override {
        RETURN_HR_IF_NULL(E_POINTER, property);
        *property = nullptr;
        RETURN_HR_IF_NULL(E_INVALIDARG, name);
        auto found = m_items.find(name);
        if (found == m_items.end())
            return S_FALSE;
        *property = found->second.Get();
        (*property)->AddRef();
        return S_OK;
    }
    HRESULT Add(const wchar_t* name, long type, const VARIANT& value) {
        ComPtr<HostProperty> property;
        RETURN_IF_FAILED(MakeObject(&property, type, value));
        m_items[name] = property;
        return S_OK;
    }
    const HostProperty* Item(const wchar_t* name) const {
        auto found = m_items.find(name);
        return found == m_items.end() ? nullptr : found->second.Get();
    }

private:
    std::map<std::wstring, ComPtr<HostProperty>> m_items;
};

class HostView : public ComObject<Lumo::ILumoView> {
public:
    explicit HostView(EmulatedHost* host) : m_host(host) {}
    HRESULT STDMETHODCALLTYPE get_Window(HWND* window) override {
        return m_host->get_MainWindow(window);
    }
    HRESULT STDMETHODCALLTYPE OpenDocument(Lumo::IAfsName* name, Lumo::ILumoOpenParams* params,
                                           long, long) override {
        RETURN_HR_IF_NULL(E_INVALIDARG, name);
        OpenRecord record{ComPtr<Lumo::IAfsName>(name), -1, false};
        if (auto* properties = dynamic_cast<HostProperties*>(params)) {
            if (const HostProperty* flags = properties->Item(L"OpenFileFlags")) {
                record.open_file_flags = flags->Int();
                record.wrong_type_write |= flags->WrongTypeWrite();
            }
            if (const HostProperty* show = properties->Item(L"CanShowErrMsg")) {
                record.can_show_err_msg = show->Bool();
                record.wrong_type_write |= show->WrongTypeWrite();
            }
        }
        return m_host->OpenThroughFileSystem(std::move(record));
    }
    HRESULT STDMETHODCALLTYPE SaveDocument(Lumo::IAfsName* target, long mode, IUnknown*, long, long,
                                           long, long, long) override {
        RETURN_HR_IF_NULL(E_INVALIDARG, target);
        return m_host->SaveThroughFileSystem({ComPtr<Lumo::IAfsName>(target), mode});
    }

private:
    ComPtr<EmulatedHost> m_host;
};

class HostFrame : public ComObject<Lumo::ILumoFrame> {
public:
    explicit HostFrame(EmulatedHost* host) : m_host(host) {}
    HRESULT STDMETHODCALLTYPE get_MainView(Lumo::ILumoView** view) override {
        RETURN_HR_IF_NULL(E_POINTER, view);
        *view = nullptr;
        if (!m_host->HasDocument())
            return S_FALSE;
        ComPtr<HostView> created;
        RETURN_IF_FAILED(MakeObject(&created, m_host.Get()));
        *view = created.Detach();
        return S_OK;
    }

private:
    ComPtr<EmulatedHost> m_host;
};

HRESULT MakeOpenParams(ComPtr<HostProperties>* params, long openFileFlags) {
    RETURN_IF_FAILED(MakeObject(params));
    VARIANT flags;
    V_VT(&flags) = VT_I4;
    V_I4(&flags) = openFileFlags;
    RETURN_IF_FAILED((*params)->Add(L"OpenFileFlags", Lumo::LUMO_PropType_Int, flags));
    VARIANT show;
    V_VT(&show) = VT_BOOL;
    V_BOOL(&show) = VARIANT_FALSE;
    return (*params)->Add(L"CanShowErrMsg", Lumo::LUMO_PropType_Bool, show);
}

// The file of the prefix where the test browser (tools/test-browser) reads
// its script or writes its log; empty when the folder is unknown.
std::wstring SystemBrowserFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"PUBLIC", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(folder, length) + L"\\" + name;
}

constexpr wchar_t kSystemBrowserScript[] = L"gd-test-browser.txt";
constexpr wchar_t kSystemBrowserLog[] = L"gd-test-browser-log.txt";

// The script is "consent\nuser\nstrays\n"; the previous script's log goes.
void WriteSystemBrowserScript(const BrowserScript& script) {
    std::wstring path = SystemBrowserFile(kSystemBrowserScript);
    if (path.empty())
        return;
    DeleteFileW(SystemBrowserFile(kSystemBrowserLog).c_str());
    const char* consent = script.action == BrowserAction::Approve ? "approve"
                          : script.action == BrowserAction::Deny  ? "deny"
                                                                  : "close";
    std::string text = std::string(consent) + "\n" + ToUtf8(script.user) + "\n" +
                       (script.stray_requests ? "strays" : "") + "\n";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

void EmulatedHost::SetBrowserScript(BrowserScript script) {
    WriteSystemBrowserScript(script);
    m_browser->SetScript(std::move(script));
}

std::vector<int> EmulatedHost::SystemBrowserStatuses() const {
    std::ifstream log(SystemBrowserFile(kSystemBrowserLog).c_str());
    std::vector<int> statuses;
    for (int status = 0; log >> status;)
        statuses.push_back(status);
    return statuses;
}

EmulatedHost::EmulatedHost()
    : m_strings(std::make_shared<StringTable>()), m_browser(std::make_shared<BrowserRecord>()) {
    THROW_IF_FAILED(MakeObject(&m_afs));
    THROW_IF_FAILED(MakeObject(&m_uix, m_strings, m_ui.ThreadId()));
    // Class objects belong to an apartment: the UI thread's, where OleCreate runs.
    THROW_IF_FAILED(
        m_ui.Run([this] { return RegisterHeadlessBrowser(m_browser, &m_browser_cookie); }));
    WriteSystemBrowserScript(BrowserScript{});
}

EmulatedHost::~EmulatedHost() {
    if (m_browser_cookie != 0)
        m_ui.Run([this] { return CoRevokeClassObject(m_browser_cookie); });
}

HRESULT EmulatedHost::GetExtension(LPCWSTR name, IUnknown** extension) {
    RETURN_HR_IF_NULL(E_POINTER, extension);
    *extension = nullptr;
    RETURN_HR_IF_NULL(E_INVALIDARG, name);
    if (std::wstring_view(name) == L"AFS")
        return m_afs->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(extension));
    if (std::wstring_view(name) == L"UIX")
        return m_uix->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(extension));
    return E_NOINTERFACE;
}

HRESULT EmulatedHost::LoadLocalization(IStream* strings) {
    return m_strings->Load(strings);
}

HRESULT EmulatedHost::GetNameId(LPCWSTR name, long requested, long* id) {
    RETURN_HR_IF_NULL(E_POINTER, id);
    RETURN_HR_IF(E_INVALIDARG, name == nullptr || *name == L'\0');
    *id = m_strings->NameId(name, requested);
    return S_OK;
}

HRESULT EmulatedHost::GetString(BSTR id, BSTR* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    *text = nullptr;
    std::wstring found;
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                 id == nullptr || !m_strings->Find(id, &found));
    return CopyToBstr(found.c_str(), text);
}

HRESULT EmulatedHost::GetStringByNumber(long id, BSTR* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    *text = nullptr;
    std::wstring name, found;
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                 !m_strings->NameOf(id, &name) || !m_strings->Find(name, &found));
    return CopyToBstr(found.c_str(), text);
}

HRESULT EmulatedHost::get_Events(Lumo::ILumoEvents** events) {
    RETURN_HR_IF_NULL(E_POINTER, events);
    *events = this;
    AddRef();
    return S_OK;
}

HRESULT EmulatedHost::RunOnMainThread(Lumo::ILumoTask* task, DWORD timeout) {
    RETURN_HR_IF_NULL(E_INVALIDARG, task);
    ComPtr<Lumo::ILumoTask> kept(task);
    return m_ui.Run([kept] { return kept->Run(); }, timeout);
}

HRESULT EmulatedHost::GetMainFrame(IUnknown*, long, Lumo::ILumoFrame** frame) {
    RETURN_HR_IF_NULL(E_POINTER, frame);
    *frame = nullptr;
    ComPtr<HostFrame> created;
    RETURN_IF_FAILED(MakeObject(&created, this));
    *frame = created.Detach();
    return S_OK;
}

HRESULT EmulatedHost::get_MainWindow(HWND* window) {
    RETURN_HR_IF_NULL(E_POINTER, window);
    *window = m_ui.Window();
    return S_OK;
}

HRESULT EmulatedHost::CreateOpenParams(Lumo::ILumoOpenParams** params) {
    RETURN_HR_IF_NULL(E_POINTER, params);
    *params = nullptr;
    ComPtr<HostProperties> created;
    long flags = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        flags = m_open_file_flags;
    }
    RETURN_IF_FAILED(MakeOpenParams(&created, flags));
    *params = created.Detach();
    return S_OK;
}

HRESULT EmulatedHost::CreateOperationOptions(IUnknown** options) {
    RETURN_HR_IF_NULL(E_POINTER, options);
    *options = nullptr;
    ComPtr<HostProperties> created;
    RETURN_IF_FAILED(MakeObject(&created));
    return created->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(options));
}

HRESULT EmulatedHost::ShowMessage(LPCWSTR text, LPCWSTR caption, DWORD help_id, HWND owner,
                                  DWORD style, long* answer) {
    RETURN_HR_IF(RPC_E_WRONG_THREAD, !m_ui.IsCurrent());
    std::lock_guard<std::mutex> guard(m_lock);
    MessageRecord record{text != nullptr ? text : L"",
                         caption != nullptr ? caption : L"",
                         style,
                         kDefaultAnswer,
                         owner,
                         help_id};
    if (!m_answers.empty()) {
        record.answer = m_answers.front();
        m_answers.pop_front();
    }
    m_messages.push_back(record);
    if (answer != nullptr)
        *answer = record.answer;
    return S_OK;
}

namespace {

struct FilterText {
    const wchar_t* key;
    const wchar_t* text;
    // What expand adds: the entries of the formats the key stands for.
    const wchar_t* expanded;
};

// The editor's file types, each "description|patterns|" and the whole text
// ended by a second "|". "<allSupp>" stands for every format it opens, so
// expanded it lists each of them after its own entry.
constexpr FilterText kFilterTexts[] = {
    {L"<pdf>", L"PDF Documents (*.pdf)|*.pdf|", nullptr},
    {L"<doc>", L"Word Documents (*.doc, *.docx)|*.doc;*.docx|", nullptr},
    {L"<xls>", L"Excel Workbooks (*.xls, *.xlsx)|*.xls;*.xlsx|", nullptr},
    {L"<ppt>", L"PowerPoint Presentations (*.ppt, *.pptx)|*.ppt;*.pptx|", nullptr},
    {L"<vsd>", L"Visio Drawings (*.vsd, *.vsdx)|*.vsd;*.vsdx|", nullptr},
    {L"<xps>", L"XPS Documents (*.xps, *.oxps)|*.xps;*.oxps|", nullptr},
    {L"<img>", L"Image Files (*.tif, *.png, *.jpg)|*.tif;*.tiff;*.png;*.jpg;*.jpeg|", nullptr},
    {L"<allSupp>",
     L"All Supported Files|*.pdf;*.doc;*.docx;*.xls;*.xlsx;*.ppt;*.pptx;*.vsd;*.vsdx;*.xps;*.oxps;"
     L"*.tif;*.tiff;*.png;*.jpg;*.jpeg|",
     L"<pdf><doc><xls><ppt><vsd><xps><img>"},
    {L"<all>", L"All Files (*.*)|*.*|", nullptr},
};

const FilterText* FindFilterText(std::wstring_view key) {
    for (const FilterText& entry : kFilterTexts) {
        if (key == entry.key)
            return &entry;
    }
    return nullptr;
}

} // namespace

HRESULT EmulatedHost::GetFileTypeFilter(LPCWSTR key, long expand, BSTR* filter) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    *filter = nullptr;
    RETURN_HR_IF_NULL(E_INVALIDARG, key);
    const FilterText* found = FindFilterText(key);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), found == nullptr);
    std::wstring text = found->text;
    if (expand != 0 && found->expanded != nullptr) {
        std::wstring_view keys = found->expanded;
        for (size_t start = 0; start < keys.size();) {
            size_t end = keys.find(L'>', start) + 1;
            text += FindFilterText(keys.substr(start, end - start))->text;
            start = end;
        }
    }
    text += L'|';
    return CopyToBstr(text.c_str(), filter);
}

HRESULT EmulatedHost::FormatSize(LONGLONG bytes, DWORD, BSTR* text) {
    wchar_t buffer[64];
    RETURN_HR_IF(E_FAIL, StrFormatByteSizeW(bytes, buffer, ARRAYSIZE(buffer)) == nullptr);
    return CopyToBstr(buffer, text);
}

HRESULT EmulatedHost::InitCreateParams(long, Lumo::UIX_CreateParams* params) {
    RETURN_HR_IF_NULL(E_POINTER, params);
    *params = Lumo::UIX_CreateParams{};
    params->size = sizeof *params;
    params->owner = m_ui.Window();
    params->placement = Lumo::UIX_Placement_CenterOwner;
    return S_OK;
}

HRESULT EmulatedHost::Subscribe(long event_id, Lumo::ILumoEventSink* sink, long) {
    RETURN_HR_IF_NULL(E_INVALIDARG, sink);
    std::lock_guard<std::mutex> guard(m_lock);
    m_sinks.emplace_back(event_id, ComPtr<Lumo::ILumoEventSink>(sink));
    return S_OK;
}

HRESULT EmulatedHost::FireEvent(const std::wstring& name, IUnknown* source, IUnknown* event) {
    const long id = m_strings->NameId(name);
    return OnUi([&] {
        std::vector<ComPtr<Lumo::ILumoEventSink>> sinks;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            for (const auto& entry : m_sinks) {
                if (entry.first == id)
                    sinks.push_back(entry.second);
            }
        }
        for (const auto& sink : sinks)
            sink->OnEvent(id, source, event);
        return S_OK;
    });
}

HRESULT EmulatedHost::MakeCmdBars(ComPtr<HostCmdBars>* bars) {
    std::vector<std::wstring> removed;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        removed = m_removed_file_entries;
    }
    return MakeObject(bars, m_strings, removed);
}

HRESULT EmulatedHost::CustomizeCmdBars(ComPtr<HostCmdBars>* bars) {
    RETURN_IF_FAILED(MakeCmdBars(bars));
    return FireEvent(L"e.mainView.customizeCmdBars", static_cast<Lumo::ILumoInstance*>(this),
                     static_cast<Lumo::IUixCmdBars*>(bars->Get()));
}

void EmulatedHost::DropObjectsOf(HMODULE module) {
    std::vector<std::pair<long, ComPtr<Lumo::ILumoEventSink>>> sinks; // released outside the lock
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto kept = std::partition(m_sinks.begin(), m_sinks.end(), [module](const auto& entry) {
            return !IsCodeOf(entry.second.Get(), module);
        });
        sinks.assign(kept, m_sinks.end());
        m_sinks.erase(kept, m_sinks.end());
    }
    std::vector<ComPtr<Lumo::IAfsName>> names;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (OpenRecord& open : m_opens) {
            if (IsCodeOf(open.name.Get(), module))
                names.push_back(std::move(open.name));
        }
        for (SaveRecord& save : m_saves) {
            if (IsCodeOf(save.target.Get(), module))
                names.push_back(std::move(save.target));
        }
    }
    m_afs->DropObjectsOf(module);
    m_uix->DropObjectsOf(module);
}

// The handler is read on the UI thread, where an unload may drop it.
HRESULT EmulatedHost::ExecuteCommand(const std::wstring& name) {
    ComPtr<HostCommand> command = m_uix->FindCommand(name);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), !command);
    return OnUi([&] {
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), !command->m_handler);
        return command->m_handler->Execute(0, command.Get(), 0, nullptr);
    });
}

HRESULT EmulatedHost::CommandState(const std::wstring& name, long* state) {
    ComPtr<HostCommand> command = m_uix->FindCommand(name);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), !command);
    return OnUi([&] {
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), !command->m_handler);
        return command->m_handler->UpdateState(command.Get(), 0, nullptr, state);
    });
}

void EmulatedHost::ScriptAnswers(std::initializer_list<long> answers) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_answers.insert(m_answers.end(), answers.begin(), answers.end());
}

std::vector<MessageRecord> EmulatedHost::Messages() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages;
}

std::vector<OpenRecord> EmulatedHost::Opens() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_opens;
}

std::vector<SaveRecord> EmulatedHost::Saves() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_saves;
}

void EmulatedHost::SetHasDocument(bool has_document) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_has_document = has_document;
}

bool EmulatedHost::HasDocument() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_has_document;
}

void EmulatedHost::SetDocumentResults(HRESULT open_result, HRESULT save_result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_open_result = open_result;
    m_save_result = save_result;
}

void EmulatedHost::SetRemovedFileEntries(std::vector<std::wstring> removed) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_removed_file_entries = std::move(removed);
}

void EmulatedHost::SetOpenFileFlags(long flags) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_open_file_flags = flags;
}

void EmulatedHost::SetActiveDocument(std::vector<BYTE> bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_active_document = std::move(bytes);
}

std::vector<BYTE> EmulatedHost::OpenedDocument() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_opened_document;
}

// The registered file system that made the name.
HRESULT EmulatedHost::OwnerOf(Lumo::IAfsName* name, ComPtr<Lumo::IAfsFileSystem>* owner) {
    ComPtr<Lumo::IAfsFileSystem> maker;
    RETURN_IF_FAILED(name->get_FileSystem(maker.Put()));
    for (const auto& registered : m_afs->FileSystems()) {
        if (registered.Get() == maker.Get()) {
            *owner = registered;
            return S_OK;
        }
    }
    RETURN_HR_IF(E_INVALIDARG, true);
}

HRESULT EmulatedHost::ReadDocument(Lumo::IAfsName* name, std::vector<BYTE>* bytes) {
    ComPtr<Lumo::IAfsFileSystem> fileSystem;
    RETURN_IF_FAILED(OwnerOf(name, &fileSystem));
    Bstr text;
    RETURN_IF_FAILED(fileSystem->NameToText(name, 0, text.Put()));
    ComPtr<Lumo::IAfsName> resolved;
    RETURN_IF_FAILED(
        fileSystem->ResolveName(text.Get(), 0, nullptr, nullptr, nullptr, resolved.Put()));
    ComPtr<Lumo::IAfsFileHandle> handle;
    RETURN_IF_FAILED(fileSystem->Open(resolved.Get(),
                                      Lumo::AFS_Open_Read | Lumo::AFS_Open_OpenExisting, nullptr,
                                      nullptr, handle.Put()));
    LONGLONG size = 0;
    RETURN_IF_FAILED(handle->GetSize(&size, nullptr, nullptr));
    return ReadThroughHandle(
        handle.Get(), kViewerChunk, ReadPattern::Pdf, size,
        [bytes](const BYTE* data, DWORD count) {
            bytes->insert(bytes->end(), data, data + count);
            return S_OK;
        },
        nullptr);
}

HRESULT EmulatedHost::WriteDocument(Lumo::IAfsName* target, const std::vector<BYTE>& bytes) {
    ComPtr<Lumo::IAfsFileSystem> fileSystem;
    RETURN_IF_FAILED(OwnerOf(target, &fileSystem));
    ComPtr<Lumo::IAfsFileHandle> handle;
    RETURN_IF_FAILED(fileSystem->Open(target, Lumo::AFS_Open_Write | Lumo::AFS_Open_CreateAlways,
                                      nullptr, nullptr, handle.Put()));
    std::size_t at = 0;
    return WriteThroughHandle(handle.Get(), static_cast<LONGLONG>(bytes.size()),
                              [&](BYTE* data, DWORD count, DWORD* got) {
                                  *got = static_cast<DWORD>(
                                      std::min<std::size_t>(count, bytes.size() - at));
                                  std::copy_n(bytes.data() + at, *got, data);
                                  at += *got;
                                  return S_OK;
                              });
}

HRESULT EmulatedHost::OpenThroughFileSystem(OpenRecord record) {
    HRESULT forced = S_OK;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        forced = m_open_result;
    }
    std::vector<BYTE> bytes;
    record.result = FAILED(forced) ? forced : ReadDocument(record.name.Get(), &bytes);
    std::lock_guard<std::mutex> guard(m_lock);
    if (SUCCEEDED(record.result))
        m_opened_document = std::move(bytes);
    m_opens.push_back(record);
    return record.result;
}

HRESULT EmulatedHost::SaveThroughFileSystem(SaveRecord record) {
    HRESULT forced = S_OK;
    std::vector<BYTE> document;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        forced = m_save_result;
        document = m_active_document;
    }
    record.result = FAILED(forced) ? forced : WriteDocument(record.target.Get(), document);
    std::lock_guard<std::mutex> guard(m_lock);
    m_saves.push_back(record);
    return record.result;
}

} // namespace gd
