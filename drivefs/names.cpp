#include "drivefs/drive_name.h"

#include "driveapi/account_requests.h"
#include "driveapi/drive_errors.h"
#include "driveapi/files.h"
#include "driveapi/retry.h"
#include "drivefs/file_system.h"
#include "drivefs/fs_errors.h"
#include "drivefs/name_text.h"
#include "errors/check.h"
#include "errors/codes.h"

#include <mutex>
#include <vector>

namespace gd {
namespace {

constexpr wchar_t kNewFileMimeType[] = L"application/pdf";

bool SameTitle(const std::wstring& first, const std::wstring& second) {
    return CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

class NameBase : public ComObject<IDriveName> {
protected:
    void* QueryMore(REFIID iid) override {
        return iid == __uuidof(Lumo::IAfsName) ? static_cast<Lumo::IAfsName*>(this) : nullptr;
    }

public:
    HRESULT GetAccount(std::shared_ptr<DriveAccount>* account) override {
        RETURN_HR_IF_NULL(E_POINTER, account);
        AccountEntryPtr entry;
        RETURN_IF_FAILED(GetAccountEntry(&entry));
        *account = entry->Account();
        RETURN_HR_IF(GD_E_MISSING, !*account);
        return S_OK;
    }
};

class AccountRootName : public NameBase {
public:
    AccountRootName(DriveFileSystem* fileSystem, std::wstring rootText, AccountEntryPtr entry)
        : m_file_system(fileSystem), m_root_text(std::move(rootText)), m_entry(std::move(entry)) {}

    HRESULT STDMETHODCALLTYPE get_FileSystem(Lumo::IAfsFileSystem** fileSystem) override {
        RETURN_HR_IF_NULL(E_POINTER, fileSystem);
        *fileSystem = m_file_system.Get();
        if (*fileSystem != nullptr)
            (*fileSystem)->AddRef();
        return S_OK;
    }
    // The sign-in runs without the lock: it may need the UI thread, which
    // may ask this name too. The first entry that arrives stays.
    HRESULT GetAccountEntry(AccountEntryPtr* entry) override {
        RETURN_HR_IF_NULL(E_POINTER, entry);
        if ((*entry = Entry()))
            return S_OK;
        RETURN_HR_IF(GD_E_MISSING, !m_file_system);
        AccountEntryPtr found;
        RETURN_IF_FAILED(m_file_system->AccountForRoot(&found));
        RETURN_HR_IF(GD_E_UNEXPECTED, !found);
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_entry)
            m_entry = std::move(found);
        *entry = m_entry;
        return S_OK;
    }
    HRESULT Compare(IDriveName*, long* result) override {
        RETURN_HR_IF_NULL(E_POINTER, result);
        *result = Lumo::AFS_False;
        return S_OK;
    }
    HRESULT GetText(std::wstring* text) override {
        RETURN_HR_IF_NULL(E_POINTER, text);
        *text = m_root_text;
        return S_OK;
    }
    std::wstring RootText() override { return m_root_text; }
    std::wstring Title() override { return {}; }
    std::shared_ptr<DriveFile> File() override { return nullptr; }
    void AdoptFile(std::shared_ptr<DriveFile>) override {}
    bool IsFileName() override { return false; }
    bool IsFolderByItself() override { return true; }
    ComPtr<IDriveName> Parent() override { return nullptr; }
    HRESULT GetItem(std::shared_ptr<DriveItem>* item) override {
        RETURN_HR_IF_NULL(E_POINTER, item);
        item->reset();
        return S_FALSE;
    }

private:
    AccountEntryPtr Entry() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_entry;
    }

    const ComPtr<DriveFileSystem> m_file_system;
    const std::wstring m_root_text;
    std::mutex m_lock;
    AccountEntryPtr m_entry;
};

class DriveFileName : public NameBase {
public:
    DriveFileName(std::shared_ptr<DriveFile> file, ComPtr<IDriveName> parent)
        : m_parent(std::move(parent)), m_file(std::move(file)) {}

    HRESULT STDMETHODCALLTYPE get_FileSystem(Lumo::IAfsFileSystem** fileSystem) override {
        return m_parent->get_FileSystem(fileSystem);
    }
    HRESULT GetAccountEntry(AccountEntryPtr* entry) override {
        return m_parent->GetAccountEntry(entry);
    }
    HRESULT Compare(IDriveName* other, long* result) override {
        RETURN_HR_IF_NULL(E_POINTER, result);
        *result = Lumo::AFS_False;
        if (other == nullptr || !other->IsFileName())
            return S_OK;
        std::shared_ptr<DriveFile> mine = File(), theirs = other->File();
        if (mine == theirs || (!mine->id.empty() && SameId(mine->id, theirs->id)))
            *result = Lumo::AFS_True;
        return S_OK;
    }
    HRESULT GetText(std::wstring* text) override;
    std::wstring RootText() override { return m_parent->RootText(); }
    std::wstring Title() override {
        std::shared_ptr<DriveFile> file = File();
        return file->item ? file->item->title : std::wstring();
    }
    std::shared_ptr<DriveFile> File() override {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_file;
    }
    void AdoptFile(std::shared_ptr<DriveFile> file) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_file = std::move(file);
    }
    bool IsFileName() override { return true; }
    bool IsFolderByItself() override { return false; }
    ComPtr<IDriveName> Parent() override { return m_parent; }
    HRESULT GetItem(std::shared_ptr<DriveItem>* item) override;

private:
    // Ids are compared in the thread's locale, letter case counting.
    static bool SameId(const std::wstring& first, const std::wstring& second) {
        return CompareStringW(GetThreadLocale(), 0, first.c_str(), static_cast<int>(first.size()),
                              second.c_str(), static_cast<int>(second.size())) == CSTR_EQUAL;
    }
    HRESULT LinkText(const std::wstring& id, std::wstring* text);
    HRESULT MarkerText(std::wstring* text);

    const ComPtr<IDriveName> m_parent;
    std::mutex m_lock;
    // Replaced whole, never changed in place: others may hold the old one.
    std::shared_ptr<DriveFile> m_file;
};

HRESULT DriveFileName::GetText(std::wstring* text) {
    RETURN_HR_IF_NULL(E_POINTER, text);
    std::shared_ptr<DriveFile> file = File();
    if (!file->id.empty())
        return LinkText(file->id, text);
    RETURN_HR_IF(GD_E_MISSING, !file->item);
    return MarkerText(text);
}

HRESULT DriveFileName::LinkText(const std::wstring& id, std::wstring* text) {
    std::wstring root = RootText();
    if (root.find(L"://") == root.npos)
        root = L"https://" + root;
    *text = root + L"/open?id=" + id;
    return S_OK;
}

// gd://host/googledriveid<nearest id>/<title>/...: the names below the
// nearest ancestor with an id, by title.
HRESULT DriveFileName::MarkerText(std::wstring* text) {
    std::vector<std::wstring> titles;
    ComPtr<IDriveName> at(this);
    for (; at->IsFileName() && at->File()->id.empty(); at = at->Parent()) {
        std::wstring title = at->Title();
        RETURN_HR_IF(GD_E_UNEXPECTED, title.empty());
        titles.push_back(std::move(title));
    }
    std::wstring host = SplitNameUrl(RootText(), true).host;
    *text = kGdScheme + host + L"/" + kIdMarker + FolderIdOf(at.Get());
    for (auto title = titles.rbegin(); title != titles.rend(); ++title)
        *text += L"/" + *title;
    return S_OK;
}

HRESULT DriveFileName::GetItem(std::shared_ptr<DriveItem>* item) {
    RETURN_HR_IF_NULL(E_POINTER, item);
    std::shared_ptr<DriveFile> file = File();
    if (!file->item) {
        RETURN_HR_IF(GD_E_MISSING, file->id.empty());
        std::shared_ptr<DriveAccount> account;
        RETURN_IF_FAILED(GetAccount(&account));
        std::shared_ptr<DriveFile> fetched;
        RETURN_IF_FAILED(RunWithRetry(*account, [&](const std::wstring& token) {
            return GetFile(token, file->id, fetched);
        }));
        RETURN_HR_IF(GD_E_UNEXPECTED, !fetched || !fetched->item);
        AdoptFile(fetched);
        file = fetched;
    }
    *item = file->item;
    return S_OK;
}

// The chain from name up to (not including) its nearest ancestor with an id.
std::vector<ComPtr<IDriveName>> NamesWithoutId(IDriveName* name) {
    std::vector<ComPtr<IDriveName>> chain;
    for (ComPtr<IDriveName> at(name); at && at->IsFileName() && at->File()->id.empty();
         at = at->Parent())
        chain.push_back(at);
    return chain;
}

// The first child of folder whose title is title, ignoring case.
HRESULT FindChild(const std::shared_ptr<DriveAccount>& account, IDriveName* folder,
                  const std::wstring& title, std::shared_ptr<DriveFile>* found) {
    FolderEnumerator children(account, FolderToList(folder));
    std::shared_ptr<DriveFile> child;
    HRESULT hr;
    while ((hr = children.Next(child)) == S_OK) {
        if (child->item && SameTitle(child->item->title, title)) {
            *found = child;
            return S_OK;
        }
    }
    RETURN_IF_FAILED(hr);
    return DRIVEFS_E_FILE_NOT_FOUND;
}

} // namespace

ComPtr<IDriveName> OwnName(Lumo::IAfsName* name, Lumo::IAfsFileSystem* fileSystem) {
    ComPtr<IDriveName> own;
    if (name == nullptr || FAILED(name->QueryInterface(__uuidof(IDriveName), own.PutVoid())))
        return nullptr;
    ComPtr<Lumo::IAfsFileSystem> owner;
    if (FAILED(own->get_FileSystem(owner.Put())) || owner.Get() != fileSystem)
        return nullptr;
    return own;
}

HRESULT MakeAccountRoot(DriveFileSystem* fileSystem, const std::wstring& rootText,
                        AccountEntryPtr entry, ComPtr<IDriveName>* root) {
    RETURN_HR_IF_NULL(E_POINTER, root);
    return RunGuarded([&]() -> HRESULT {
        ComPtr<AccountRootName> made;
        RETURN_IF_FAILED(MakeObject(&made, fileSystem, rootText, std::move(entry)));
        *root = ComPtr<IDriveName>(made.Get());
        return S_OK;
    });
}

HRESULT MakeFileName(std::shared_ptr<DriveFile> file, ComPtr<IDriveName> parent,
                     ComPtr<IDriveName>* name) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    RETURN_HR_IF(GD_E_INVALID_ARG, !file || !parent);
    ComPtr<DriveFileName> made;
    RETURN_IF_FAILED(MakeObject(&made, std::move(file), std::move(parent)));
    *name = ComPtr<IDriveName>(made.Get());
    return S_OK;
}

HRESULT MakeNewFileName(ComPtr<IDriveName> parent, const std::wstring& title, bool isFolder,
                        ComPtr<IDriveName>* name) {
    return RunGuarded([&]() -> HRESULT {
        auto file = std::make_shared<DriveFile>();
        file->item = std::make_shared<DriveItem>();
        file->item->title = title;
        file->item->mime_type = isFolder ? std::wstring(L"application/vnd.google-apps.folder")
                                         : std::wstring(kNewFileMimeType);
        file->item->is_folder = isFolder;
        return MakeFileName(std::move(file), std::move(parent), name);
    });
}

std::wstring FolderIdOf(IDriveName* name) {
    return name->IsFileName() ? name->File()->id : std::wstring(kRootFolderId);
}

std::shared_ptr<DriveFile> FolderToList(IDriveName* name) {
    return name->IsFileName() ? name->File() : nullptr;
}

HRESULT LookUpByTitle(IDriveName* name) {
    RETURN_HR_IF_NULL(GD_E_INVALID_ARG, name);
    return RunGuarded([&]() -> HRESULT {
        std::vector<ComPtr<IDriveName>> chain = NamesWithoutId(name);
        if (chain.empty())
            return S_OK;
        std::shared_ptr<DriveAccount> account;
        RETURN_IF_FAILED(name->GetAccount(&account));
        for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
            std::shared_ptr<DriveFile> found;
            RETURN_IF_FAILED(FindChild(account, (*at)->Parent().Get(), (*at)->Title(), &found));
            (*at)->AdoptFile(std::move(found));
        }
        return S_OK;
    });
}

HRESULT Exists(IDriveName* name, bool* exists) {
    RETURN_HR_IF_NULL(E_POINTER, exists);
    RETURN_HR_IF_NULL(GD_E_INVALID_ARG, name);
    *exists = true;
    if (!name->IsFileName())
        return S_OK;
    HRESULT hr;
    std::shared_ptr<DriveFile> file = name->File();
    if (file->id.empty()) {
        hr = LookUpByTitle(name);
    } else {
        // Fetched again: the item the name holds may be stale.
        std::shared_ptr<DriveAccount> account;
        RETURN_IF_FAILED(name->GetAccount(&account));
        std::shared_ptr<DriveFile> fetched;
        hr = RunGuarded([&] {
            return RunWithRetry(*account, [&](const std::wstring& token) {
                return GetFile(token, file->id, fetched);
            });
        });
        if (SUCCEEDED(hr) && fetched)
            name->AdoptFile(std::move(fetched));
    }
    if (hr == DRIVEFS_E_FILE_NOT_FOUND || hr == DRIVE_E_NOT_FOUND) {
        *exists = false;
        return S_OK;
    }
    return hr;
}

} // namespace gd
