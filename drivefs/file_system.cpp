#include "drivefs/file_system.h"

#include "dialogs/browse_dialog.h"
#include "driveapi/upload.h"
#include "driveapi/retry.h"
#include "drivefs/drive_stream.h"
#include "drivefs/file_handle.h"
#include "drivefs/folder_objects.h"
#include "drivefs/fs_errors.h"
#include "drivefs/name_list.h"
#include "drivefs/name_text.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "http/encoding.h"

#include <algorithm>

namespace gd {
namespace {

bool IsProperty(BSTR name, const wchar_t* wanted) {
    return name != nullptr && EqualsIgnoringCase(std::wstring_view(name), wanted);
}

// The disposition test of an open; 0 means "none given".
HRESULT CheckDisposition(IDriveName* name, DWORD flags) {
    DWORD disposition = flags & Lumo::AFS_Open_DispositionMask;
    bool exists = false;
    switch (disposition) {
    case Lumo::AFS_Open_CreateNew:
        RETURN_IF_FAILED(Exists(name, &exists));
        RETURN_HR_IF(DRIVEFS_E_FILE_EXISTS, exists);
        return S_OK;
    case Lumo::AFS_Open_CreateAlways:
        RETURN_HR_IF(GD_E_INVALID_ARG, (flags & Lumo::AFS_Open_Write) == 0);
        return S_OK;
    case Lumo::AFS_Open_OpenExisting:
        RETURN_IF_FAILED(Exists(name, &exists));
        RETURN_HR_IF(DRIVEFS_E_FILE_NOT_FOUND, !exists);
        return S_OK;
    case Lumo::AFS_Open_OpenAlways:
        return S_OK;
    default:
        RETURN_HR_IF(GD_E_INVALID_ARG, true);
    }
}

DWORD NormalisedFlags(DWORD flags) {
    if ((flags & Lumo::AFS_Open_AccessMask) == 0)
        flags |= Lumo::AFS_Open_Read;
    if ((flags & Lumo::AFS_Open_DispositionMask) == 0)
        flags |= Lumo::AFS_Open_OpenExisting;
    return flags;
}

} // namespace

DriveFileSystem::DriveFileSystem(ComPtr<Lumo::IAfsInstance> afs) : m_afs(std::move(afs)) {}

DriveFileSystem::~DriveFileSystem() {
    DropStore();
}

HRESULT DriveFileSystem::get_DisplayName(BSTR* name) {
    return CopyToBstr(kFileSystemName, name);
}

HRESULT DriveFileSystem::get_Capabilities(DWORD* capabilities) {
    RETURN_HR_IF_NULL(E_POINTER, capabilities);
    *capabilities = kFileSystemCapabilities;
    return S_OK;
}

HRESULT DriveFileSystem::GetProperty(BSTR name, VARIANT* value) {
    RETURN_HR_IF_NULL(E_POINTER, value);
    VariantClear(value);
    RETURN_HR_IF(GD_E_INVALID_ARG, !IsProperty(name, L"CheckedOut"));
    V_VT(value) = VT_BOOL;
    V_BOOL(value) = VARIANT_FALSE;
    return S_OK;
}

HRESULT DriveFileSystem::SetProperty(BSTR name, VARIANT value) {
    bool isId = IsProperty(name, L"ClientID");
    RETURN_HR_IF(E_NOTIMPL, !isId && !IsProperty(name, L"ClientSecret"));
    Variant copy;
    RETURN_IF_FAILED(VariantCopy(copy.Put(), &value));
    RETURN_HR_IF(GD_E_INVALID_ARG, V_VT(&copy.Get()) != VT_BSTR);
    return RunGuarded([&] {
        std::wstring text = V_BSTR(&copy.Get()) != nullptr ? V_BSTR(&copy.Get()) : L"";
        SectionLock lock(m_section);
        (isId ? m_client_id : m_client_secret) = std::move(text);
        return S_OK;
    });
}

std::shared_ptr<AccountStore> DriveFileSystem::Store() {
    SectionLock lock(m_section);
    if (!m_store)
        m_store = std::make_shared<AccountStore>();
    return m_store;
}

void DriveFileSystem::DropStore() {
    std::shared_ptr<AccountStore> store;
    {
        SectionLock lock(m_section);
        store.swap(m_store);
    }
    if (store)
        store->Clear();
}

ComPtr<IDriveName> DriveFileSystem::Own(Lumo::IAfsName* name) {
    return OwnName(name, this);
}

HRESULT DriveFileSystem::ResolveText(const std::wstring& text, IDriveName* base,
                                     ComPtr<IDriveName>* name) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    return RunGuarded([&]() -> HRESULT {
        ParsedName parsed;
        RETURN_IF_FAILED(ParseNameText(text, &parsed));
        AccountEntryPtr entry;
        if (base != nullptr) {
            HRESULT hr = base->GetAccountEntry(&entry);
            RETURN_HR_IF(GD_E_UNEXPECTED, FAILED(hr) || !entry);
        }
        ComPtr<IDriveName> at;
        RETURN_IF_FAILED(MakeAccountRoot(this, parsed.root_text, entry, &at));
        if (!parsed.id.empty()) {
            auto file = std::make_shared<DriveFile>();
            file->id = parsed.id;
            RETURN_IF_FAILED(MakeFileName(std::move(file), at, &at));
        }
        for (const std::wstring& title : parsed.titles)
            RETURN_IF_FAILED(MakeNewFileName(at, title, false, &at));
        *name = std::move(at);
        return S_OK;
    });
}

HRESULT DriveFileSystem::AccountForRoot(AccountEntryPtr* entry) {
    RETURN_HR_IF_NULL(E_POINTER, entry);
    if (Store()->GetCurrentAccount(entry) == S_OK)
        return S_OK;
    return SignInNewAccount(entry);
}

HRESULT DriveFileSystem::SignInNewAccount(AccountEntryPtr* entry) {
    RETURN_HR_IF_NULL(E_POINTER, entry);
    return RunGuarded([&]() -> HRESULT {
        std::shared_ptr<AccountStore> store = Store();
        std::wstring id, secret;
        {
            SectionLock lock(m_section);
            id = m_client_id;
            secret = m_client_secret;
        }
        RETURN_HR_IF(GD_E_MISSING, id.empty() || secret.empty());
        auto account = std::make_shared<DriveAccount>(id, secret);
        RETURN_IF_FAILED(SignInAccount(*account));
        RETURN_HR_IF(GD_E_UNEXPECTED, !account->UserInfo());
        if (store->FindAccount(account->Name(), entry) == S_OK)
            return S_OK;
        ComPtr<Lumo::IAfsAccount> hostAccount;
        RETURN_HR_IF(GD_E_UNEXPECTED, !m_afs);
        RETURN_IF_FAILED(m_afs->CreateAccountObject(this, hostAccount.Put()));
        RETURN_HR_IF(GD_E_UNEXPECTED, !hostAccount);
        auto created = std::make_shared<AccountEntry>(ComPtr<Lumo::IAfsFileSystem>(this),
                                                      std::move(hostAccount), std::move(account));
        RETURN_IF_FAILED(store->AddAccount(created));
        *entry = std::move(created);
        return S_OK;
    });
}

HRESULT DriveFileSystem::ResolveName(BSTR text, DWORD, IUnknown*, IUnknown*,
                                     Lumo::IAfsProgress* progress, Lumo::IAfsName** name) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    *name = nullptr;
    RETURN_IF_FAILED(CheckCancel(progress));
    ComPtr<IDriveName> resolved;
    RETURN_IF_FAILED(ResolveText(text != nullptr ? text : L"", nullptr, &resolved));
    // The account must exist: an account root without one signs in here.
    AccountEntryPtr entry;
    RETURN_IF_FAILED(resolved->GetAccountEntry(&entry));
    *name = resolved.Detach();
    return S_OK;
}

HRESULT DriveFileSystem::EnumFolder(Lumo::IAfsName* folder, Lumo::IAfsProgress* progress, IUnknown*,
                                    Lumo::IAfsEnumFolder** enumerator) {
    RETURN_HR_IF_NULL(E_POINTER, enumerator);
    *enumerator = nullptr;
    ComPtr<IDriveName> own = Own(folder);
    RETURN_HR_IF(GD_E_INVALID_ARG, !own);
    if (progress != nullptr)
        progress->OnItem(folder);
    return MakeFolderEnumeration(std::move(own), enumerator);
}

HRESULT DriveFileSystem::ParseName(BSTR text, DWORD flags, Lumo::IAfsName* base,
                                   Lumo::IAfsName** name) {
    if ((flags & Lumo::AFS_Parse_TestOnly) != 0) {
        if (name != nullptr)
            *name = nullptr;
        RETURN_HR_IF(GD_E_INVALID_ARG, !IsDriveNameText(text));
        return S_OK;
    }
    RETURN_HR_IF_NULL(E_POINTER, name);
    *name = nullptr;
    ComPtr<IDriveName> own = Own(base);
    RETURN_HR_IF(GD_E_INVALID_ARG, !own);
    ComPtr<IDriveName> resolved;
    RETURN_IF_FAILED(ResolveText(text != nullptr ? text : L"", own.Get(), &resolved));
    *name = resolved.Detach();
    return S_OK;
}

HRESULT DriveFileSystem::NameToText(Lumo::IAfsName* name, DWORD, BSTR* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    *text = nullptr;
    ComPtr<IDriveName> own = Own(name);
    RETURN_HR_IF(GD_E_INVALID_ARG, !own);
    return RunGuarded([&]() -> HRESULT {
        std::wstring value;
        RETURN_IF_FAILED(own->GetText(&value));
        return CopyToBstr(value.c_str(), text);
    });
}

HRESULT DriveFileSystem::NameGetParent(Lumo::IAfsName* name, Lumo::IAfsName** parent) {
    RETURN_HR_IF_NULL(E_POINTER, parent);
    *parent = nullptr;
    ComPtr<IDriveName> own = Own(name);
    RETURN_HR_IF(GD_E_INVALID_ARG, !own);
    *parent = own->Parent().Detach();
    return S_OK;
}

HRESULT DriveFileSystem::CompareNames(Lumo::IAfsName* first, Lumo::IAfsName* second, long* result) {
    RETURN_HR_IF_NULL(E_POINTER, result);
    *result = Lumo::AFS_False;
    ComPtr<IDriveName> one = Own(first), other = Own(second);
    RETURN_HR_IF(GD_E_INVALID_ARG, !one || !other);
    return one->Compare(other.Get(), result);
}

HRESULT DriveFileSystem::Open(Lumo::IAfsName* name, DWORD flags, Lumo::IAfsFileHandle* holder,
                              Lumo::IAfsProgress* progress, Lumo::IAfsFileHandle** handle) {
    RETURN_HR_IF_NULL(E_POINTER, handle);
    *handle = nullptr;
    RETURN_IF_FAILED(CheckCancel(progress));
    ComPtr<IDriveName> own = Own(name);
    RETURN_HR_IF(GD_E_INVALID_ARG, !own);
    return OpenName(own.Get(), flags, holder, handle);
}

// A name still without id is created in its parent folder (My Drive's top
// folder for an account root).
HRESULT DriveFileSystem::CreateIfNew(IDriveName* name) {
    std::shared_ptr<DriveFile> file = name->File();
    if (!file->id.empty())
        return S_OK;
    ComPtr<IDriveName> parent = name->Parent();
    RETURN_IF_FAILED(LookUpByTitle(parent.Get()));
    std::shared_ptr<DriveAccount> account;
    RETURN_IF_FAILED(name->GetAccount(&account));
    std::shared_ptr<DriveFile> folder = FolderToList(parent.Get());
    std::shared_ptr<DriveFile> created;
    const DriveItem& item = *file->item;
    RETURN_IF_FAILED(RunWithRetry(*account, [&](const std::wstring& token) {
        return CreateFileMetadata(token, folder.get(), item.title, item.description, item.mime_type,
                                  created);
    }));
    RETURN_HR_IF(GD_E_UNEXPECTED, !created || created->id.empty());
    name->AdoptFile(std::move(created));
    return S_OK;
}

HRESULT DriveFileSystem::OpenName(IDriveName* name, DWORD flags, Lumo::IAfsFileHandle* holder,
                                  Lumo::IAfsFileHandle** handle) {
    RETURN_HR_IF(GD_E_INVALID_ARG, !name->IsFileName());
    flags = NormalisedFlags(flags);
    return RunGuarded([&]() -> HRESULT {
        RETURN_IF_FAILED(CheckDisposition(name, flags));
        if ((flags & Lumo::AFS_Open_Write) != 0 || name->File()->id.empty())
            RETURN_IF_FAILED(CreateIfNew(name));
        std::shared_ptr<DriveAccount> account;
        RETURN_IF_FAILED(name->GetAccount(&account));
        std::shared_ptr<DriveStream> stream;
        RETURN_IF_FAILED(DriveStream::Create(name->File(), account, &stream));
        ComPtr<IDriveFileHandle> target;
        if (holder != nullptr &&
            SUCCEEDED(holder->QueryInterface(__uuidof(IDriveFileHandle), target.PutVoid()))) {
            target->Attach(std::move(stream), flags);
        } else {
            RETURN_IF_FAILED(
                MakeFileHandle(std::move(stream), ComPtr<IDriveName>(name), flags, &target));
        }
        *handle = target.Detach();
        return S_OK;
    });
}

HRESULT DriveFileSystem::GetFileInfo(Lumo::IAfsName* name, Lumo::IAfsProgress*, IUnknown*,
                                     Lumo::IAfsFileInfo** info) {
    RETURN_HR_IF_NULL(E_POINTER, info);
    *info = nullptr;
    ComPtr<IDriveName> own = Own(name);
    RETURN_HR_IF(GD_E_INVALID_ARG, !own);
    return MakeFileInfo(std::move(own), info);
}

// The dialog is owned by the host's main window, whatever window asks.
HRESULT DriveFileSystem::Browse(HWND, DWORD, Lumo::IAfsNameList** chosen) {
    RETURN_HR_IF_NULL(E_POINTER, chosen);
    *chosen = nullptr;
    Bstr root;
    RETURN_IF_FAILED(root.Assign(DriveWebBase().c_str()));
    ComPtr<Lumo::IAfsName> start;
    RETURN_IF_FAILED(ResolveName(root.Get(), 0, nullptr, nullptr, nullptr, start.Put()));
    ComPtr<Lumo::IAfsName> result;
    RETURN_IF_FAILED(RunBrowseDialog(Own(start.Get()), &result));
    RETURN_HR_IF(GD_E_UNEXPECTED, !result);
    ComPtr<NameList> list;
    RETURN_IF_FAILED(MakeObject(&list));
    RETURN_IF_FAILED(list->Add(result.Get()));
    *chosen = list.Detach();
    return S_OK;
}

HRESULT DriveFileSystem::SetThreadObject(IUnknown* object) {
    DWORD thread = GetCurrentThreadId();
    return RunGuarded([&]() -> HRESULT {
        ComPtr<IUnknown> dropped;
        SectionLock lock(m_section);
        auto found =
            std::find_if(m_thread_objects.begin(), m_thread_objects.end(),
                         [thread](const ThreadObject& e) { return e.thread_id == thread; });
        if (object == nullptr) {
            if (found == m_thread_objects.end())
                return S_FALSE;
            dropped = std::move(found->object);
            m_thread_objects.erase(found);
            return S_OK;
        }
        if (found != m_thread_objects.end()) {
            dropped = std::exchange(found->object, ComPtr<IUnknown>(object));
            return S_OK;
        }
        m_thread_objects.push_back({thread, ComPtr<IUnknown>(object)});
        return S_OK;
    });
}

HRESULT DriveFileSystem::GetThreadObject(DWORD threadId, IUnknown** object) {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = nullptr;
    DWORD thread = threadId != 0 ? threadId : GetCurrentThreadId();
    SectionLock lock(m_section);
    for (const ThreadObject& entry : m_thread_objects) {
        if (entry.thread_id == thread)
            return entry.object.CopyTo(object);
    }
    return S_FALSE;
}

} // namespace gd
