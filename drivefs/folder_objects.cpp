#include "drivefs/folder_objects.h"

#include "driveapi/account_requests.h"
#include "drivefs/fs_errors.h"
#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/automation_object.h"

#include <cstring>
#include <memory>
#include <mutex>

namespace gd {
namespace {

LONGLONG FileTimeValue(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<LONGLONG>(value.QuadPart);
}

class FileInfo : public AutomationObject<Lumo::IAfsFileInfo> {
public:
    explicit FileInfo(ComPtr<IDriveName> name) : m_name(std::move(name)) {}

    HRESULT STDMETHODCALLTYPE get_Title(BSTR* title) override {
        RETURN_HR_IF_NULL(E_POINTER, title);
        *title = nullptr;
        std::shared_ptr<DriveItem> item;
        RETURN_IF_FAILED(Item(&item));
        return CopyToBstr(item ? item->title.c_str() : L"", title);
    }
    HRESULT STDMETHODCALLTYPE get_Attributes(DWORD* attributes) override {
        RETURN_HR_IF_NULL(E_POINTER, attributes);
        *attributes = 0;
        bool folder = m_name->IsFolderByItself();
        if (!folder) {
            std::shared_ptr<DriveItem> item;
            RETURN_IF_FAILED(Item(&item));
            folder = item && item->is_folder;
        }
        if (folder)
            *attributes = Lumo::AFS_Attribute_Folder;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Size(LONGLONG* size) override {
        return Value(size, [](const DriveItem& item) { return item.file_size; });
    }
    HRESULT STDMETHODCALLTYPE get_CreationTime(LONGLONG* time) override {
        return Value(time, [](const DriveItem& item) { return FileTimeValue(item.created); });
    }
    HRESULT STDMETHODCALLTYPE get_LastWriteTime(LONGLONG* time) override {
        return Value(time, [](const DriveItem& item) { return FileTimeValue(item.modified); });
    }
    HRESULT STDMETHODCALLTYPE get_LastAccessTime(LONGLONG* time) override {
        return get_LastWriteTime(time);
    }
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Name(Lumo::IAfsName** name) override {
        RETURN_HR_IF_NULL(E_POINTER, name);
        *name = m_name.Get();
        (*name)->AddRef();
        return S_OK;
    }

private:
    // An account root has no item: its values are empty. A name still
    // without id tells of the file its titles lead to, when there is one;
    // otherwise of the file it would create.
    HRESULT Item(std::shared_ptr<DriveItem>* item) {
        if (m_name->IsFileName() && m_name->File()->id.empty()) {
            HRESULT hr = LookUpByTitle(m_name.Get());
            if (FAILED(hr) && hr != DRIVEFS_E_FILE_NOT_FOUND)
                return hr;
        }
        RETURN_IF_FAILED(m_name->GetItem(item));
        RETURN_HR_IF(GD_E_UNEXPECTED, !*item && m_name->IsFileName());
        return S_OK;
    }
    template <class Read> HRESULT Value(LONGLONG* out, Read read) {
        RETURN_HR_IF_NULL(E_POINTER, out);
        *out = 0;
        std::shared_ptr<DriveItem> item;
        RETURN_IF_FAILED(Item(&item));
        if (item)
            *out = read(*item);
        return S_OK;
    }

    const ComPtr<IDriveName> m_name;
};

class FolderEnumeration : public AutomationObject<Lumo::IAfsEnumFolder> {
public:
    explicit FolderEnumeration(ComPtr<IDriveName> folder) : m_folder(std::move(folder)) {}

    HRESULT STDMETHODCALLTYPE get_Folder(Lumo::IAfsName** folder) override {
        RETURN_HR_IF_NULL(E_POINTER, folder);
        *folder = m_folder.Get();
        (*folder)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Next(Lumo::IAfsFileInfo** item) override {
        RETURN_HR_IF_NULL(E_POINTER, item);
        *item = nullptr;
        return RunGuarded([&]() -> HRESULT {
            std::lock_guard<std::mutex> guard(m_lock);
            RETURN_IF_FAILED(EnsureEnumerator());
            std::shared_ptr<DriveFile> child;
            HRESULT hr = m_children->Next(child);
            if (hr != S_OK)
                return hr;
            ComPtr<IDriveName> name;
            RETURN_IF_FAILED(MakeFileName(std::move(child), m_folder, &name));
            return MakeFileInfo(std::move(name), item);
        });
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        return RunGuarded([&]() -> HRESULT {
            std::lock_guard<std::mutex> guard(m_lock);
            m_children.reset();
            RETURN_IF_FAILED(EnsureEnumerator());
            return m_children->Reset();
        });
    }

private:
    HRESULT EnsureEnumerator() {
        if (m_children)
            return S_OK;
        std::shared_ptr<DriveAccount> account;
        RETURN_IF_FAILED(m_folder->GetAccount(&account));
        m_children = std::make_unique<FolderEnumerator>(account, FolderToList(m_folder.Get()));
        return S_OK;
    }

    const ComPtr<IDriveName> m_folder;
    std::mutex m_lock;
    std::unique_ptr<FolderEnumerator> m_children;
};

// A new object about name, handed out with its one reference.
template <class Object, class Interface> HRESULT HandOut(ComPtr<IDriveName> name, Interface** out) {
    RETURN_HR_IF_NULL(E_POINTER, out);
    *out = nullptr;
    RETURN_HR_IF(GD_E_INVALID_ARG, !name);
    ComPtr<Object> made;
    RETURN_IF_FAILED(MakeObject(&made, std::move(name)));
    *out = made.Detach();
    return S_OK;
}

} // namespace

HRESULT MakeFileInfo(ComPtr<IDriveName> name, Lumo::IAfsFileInfo** info) {
    return HandOut<FileInfo>(std::move(name), info);
}

HRESULT MakeFolderEnumeration(ComPtr<IDriveName> folder, Lumo::IAfsEnumFolder** enumerator) {
    return HandOut<FolderEnumeration>(std::move(folder), enumerator);
}

} // namespace gd
