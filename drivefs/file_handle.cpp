#include "drivefs/file_handle.h"

#include "drivefs/file_system.h"
#include "drivefs/fs_errors.h"
#include "errors/check.h"
#include "errors/registry.h"
#include "http/encoding.h"
#include "plugin/com_ptr.h"

#include <mutex>

namespace gd {
namespace {

void Tell(Lumo::IAfsStatus* status, HRESULT result) {
    if (status == nullptr)
        return;
    if (SUCCEEDED(result)) {
        status->Completed(result, nullptr);
        return;
    }
    std::wstring text = DescribeError(result);
    status->Completed(result, text.c_str());
}

class DriveFileHandle : public ComObject<IDriveFileHandle> {
public:
    DriveFileHandle(std::shared_ptr<DriveStream> stream, ComPtr<IDriveName> name, DWORD flags)
        : m_stream(std::move(stream)), m_name(std::move(name)), m_flags(flags) {}

    void Attach(std::shared_ptr<DriveStream> stream, DWORD flags) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stream = std::move(stream);
        m_flags = flags;
        m_position = 0;
    }

    HRESULT STDMETHODCALLTYPE get_Name(Lumo::IAfsName** name) override {
        RETURN_HR_IF_NULL(E_POINTER, name);
        *name = m_name.Get();
        if (*name != nullptr)
            (*name)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_AccessFlags(DWORD* flags) override {
        RETURN_HR_IF_NULL(E_POINTER, flags);
        *flags = Flags();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_UserFlags(DWORD* flags) override {
        RETURN_HR_IF_NULL(E_POINTER, flags);
        *flags = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Duplicate(Lumo::IAfsFileHandle** handle) override;
    HRESULT STDMETHODCALLTYPE IsSameFile(Lumo::IAfsFileHandle* other, long* same) override;
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read, Lumo::IAfsStatus* status,
                                   Lumo::IAfsProgress* progress) override;
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG count, ULONG* written,
                                    IUnknown* reserved, Lumo::IAfsProgress* progress) override;
    HRESULT STDMETHODCALLTYPE Seek(LONGLONG offset, DWORD origin, LONGLONG* position) override;
    HRESULT STDMETHODCALLTYPE get_Position(LONGLONG* position) override {
        RETURN_HR_IF_NULL(E_POINTER, position);
        *position = m_position;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(LONGLONG size, IUnknown* reserved,
                                      Lumo::IAfsProgress* progress) override;
    HRESULT STDMETHODCALLTYPE GetSize(LONGLONG* size, Lumo::IAfsStatus* status,
                                      Lumo::IAfsProgress* progress) override;
    HRESULT STDMETHODCALLTYPE BeginWrite(IUnknown* reserved, Lumo::IAfsProgress* progress) override;
    HRESULT STDMETHODCALLTYPE Reopen(DWORD flags, IUnknown* reserved,
                                     Lumo::IAfsProgress* progress) override;
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE GetProperty(LPCWSTR name, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit(IUnknown* reserved, Lumo::IAfsProgress* progress) override;

protected:
    void* QueryMore(REFIID iid) override {
        return iid == __uuidof(Lumo::IAfsFileHandle) ? static_cast<Lumo::IAfsFileHandle*>(this)
                                                     : nullptr;
    }

private:
    std::shared_ptr<DriveStream> Stream() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_stream;
    }
    DWORD Flags() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_flags;
    }
    bool CanRead() { return (Flags() & Lumo::AFS_Open_Read) != 0; }
    bool CanWrite() { return (Flags() & Lumo::AFS_Open_Write) != 0; }
    HRESULT SizeOf(const std::shared_ptr<DriveStream>& stream, LONGLONG* size);

    std::mutex m_lock; // the stream and the flags, which a reopen replaces
    std::shared_ptr<DriveStream> m_stream;
    const ComPtr<IDriveName> m_name;
    DWORD m_flags;
    std::atomic<LONGLONG> m_position{0};
};

HRESULT DriveFileHandle::Duplicate(Lumo::IAfsFileHandle** handle) {
    RETURN_HR_IF_NULL(E_POINTER, handle);
    *handle = nullptr;
    RETURN_HR_IF(DRIVEFS_E_ACCESS_MODE, !CanRead());
    ComPtr<IDriveFileHandle> copy;
    RETURN_IF_FAILED(MakeFileHandle(Stream(), m_name, Flags(), &copy));
    *handle = copy.Detach();
    return S_OK;
}

HRESULT DriveFileHandle::IsSameFile(Lumo::IAfsFileHandle* other, long* same) {
    RETURN_HR_IF_NULL(E_POINTER, same);
    *same = Lumo::AFS_False;
    RETURN_HR_IF_NULL(GD_E_INVALID_ARG, other);
    ComPtr<Lumo::IAfsName> name;
    if (SUCCEEDED(other->get_Name(name.Put())) && name &&
        name.Get() == static_cast<Lumo::IAfsName*>(m_name.Get()))
        *same = Lumo::AFS_True;
    return S_OK;
}

HRESULT DriveFileHandle::Read(void* buffer, ULONG count, ULONG* read, Lumo::IAfsStatus* status,
                              Lumo::IAfsProgress* progress) {
    ULONG ignored = 0;
    ULONG& got = read != nullptr ? *read : ignored;
    got = 0;
    RETURN_IF_FAILED(CheckCancel(progress, buffer, count));
    std::shared_ptr<DriveStream> stream = Stream();
    RETURN_HR_IF(GD_E_MISSING, !stream);
    RETURN_HR_IF(DRIVEFS_E_NOT_READABLE, !CanRead());
    DWORD bytes = 0;
    HRESULT hr = stream->ReadAt(m_position, buffer, count, &bytes, nullptr);
    m_position += bytes;
    got = bytes;
    if (bytes < count && (SUCCEEDED(hr) || CodeOf(hr) == CodeOf(INET_E_END_OF_DATA)))
        hr = S_FALSE;
    Tell(status, hr);
    return hr;
}

HRESULT DriveFileHandle::Write(const void* data, ULONG count, ULONG* written, IUnknown*,
                               Lumo::IAfsProgress* progress) {
    ULONG ignored = 0;
    ULONG& sent = written != nullptr ? *written : ignored;
    sent = 0;
    RETURN_IF_FAILED(CheckCancel(progress, data, count));
    RETURN_HR_IF(DRIVEFS_E_OUT_OF_ORDER, !CanWrite());
    std::shared_ptr<DriveStream> stream = Stream();
    RETURN_HR_IF(GD_E_MISSING, !stream);
    DWORD bytes = 0;
    HRESULT hr = stream->WriteAt(static_cast<std::uint64_t>(m_position.load()), data, count, &bytes,
                                 nullptr);
    RETURN_IF_FAILED(hr);
    m_position += bytes;
    sent = bytes;
    return hr;
}

HRESULT DriveFileHandle::SizeOf(const std::shared_ptr<DriveStream>& stream, LONGLONG* size) {
    std::int64_t value = 0;
    if (stream->WritingSize(&value)) {
        *size = value;
        return S_OK;
    }
    HRESULT hr = stream->GetSize(&value);
    *size = SUCCEEDED(hr) ? value : -1;
    return hr;
}

HRESULT DriveFileHandle::Seek(LONGLONG offset, DWORD origin, LONGLONG* position) {
    RETURN_HR_IF_NULL(E_POINTER, position);
    std::shared_ptr<DriveStream> stream = Stream();
    RETURN_HR_IF(GD_E_MISSING, !stream);
    LONGLONG size = -1;
    HRESULT hr = SizeOf(stream, &size);
    LONGLONG target = 0;
    switch (origin) {
    case Lumo::AFS_Seek_Begin:
        target = offset;
        break;
    case Lumo::AFS_Seek_Current:
        target = m_position + offset;
        break;
    case Lumo::AFS_Seek_End:
        target = size + offset;
        break;
    default:
        RETURN_HR_IF(GD_E_INVALID_ARG, true);
    }
    target = std::max<LONGLONG>(0, std::min<LONGLONG>(target, std::max<LONGLONG>(size, 0)));
    m_position = target;
    *position = target;
    return hr;
}

HRESULT DriveFileHandle::SetSize(LONGLONG size, IUnknown*, Lumo::IAfsProgress* progress) {
    RETURN_IF_FAILED(CheckCancel(progress));
    RETURN_HR_IF(DRIVEFS_E_OUT_OF_ORDER, !CanWrite());
    std::shared_ptr<DriveStream> stream = Stream();
    RETURN_HR_IF(GD_E_MISSING, !stream);
    return stream->AnnounceSize(size, nullptr);
}

HRESULT DriveFileHandle::GetSize(LONGLONG* size, Lumo::IAfsStatus* status,
                                 Lumo::IAfsProgress* progress) {
    RETURN_HR_IF_NULL(E_POINTER, size);
    RETURN_IF_FAILED(CheckCancel(progress));
    std::shared_ptr<DriveStream> stream = Stream();
    RETURN_HR_IF(GD_E_MISSING, !stream);
    RETURN_IF_FAILED(SizeOf(stream, size));
    Tell(status, S_OK);
    return S_OK;
}

HRESULT DriveFileHandle::BeginWrite(IUnknown*, Lumo::IAfsProgress* progress) {
    RETURN_IF_FAILED(CheckCancel(progress));
    RETURN_HR_IF(DRIVEFS_E_OUT_OF_ORDER, !CanWrite());
    std::shared_ptr<DriveStream> stream = Stream();
    RETURN_HR_IF(GD_E_MISSING, !stream);
    RETURN_IF_FAILED(stream->BeginWrite(nullptr));
    m_position = 0;
    return S_OK;
}

HRESULT DriveFileHandle::Commit(IUnknown*, Lumo::IAfsProgress* progress) {
    RETURN_IF_FAILED(CheckCancel(progress));
    std::shared_ptr<DriveStream> stream = Stream();
    RETURN_HR_IF(GD_E_MISSING, !stream);
    return stream->Commit(nullptr);
}

HRESULT DriveFileHandle::Reopen(DWORD flags, IUnknown*, Lumo::IAfsProgress* progress) {
    RETURN_IF_FAILED(CheckCancel(progress));
    RETURN_HR_IF(GD_E_MISSING, !m_name);
    if ((flags & Lumo::AFS_Open_AccessMask) == 0)
        flags |= Lumo::AFS_Open_Read;
    if ((flags & Lumo::AFS_Open_DispositionMask) == 0)
        flags |= Lumo::AFS_Open_OpenExisting;
    if ((flags & Lumo::AFS_Open_Write) != 0) {
        AccountEntryPtr entry;
        RETURN_IF_FAILED(m_name->GetAccountEntry(&entry));
        VARIANT_BOOL canWrite = VARIANT_TRUE;
        if (entry->HostAccount())
            RETURN_IF_FAILED(entry->HostAccount()->CanWrite(m_name.Get(), &canWrite));
        RETURN_HR_IF(E_ACCESSDENIED, canWrite == VARIANT_FALSE);
    }
    ComPtr<Lumo::IAfsFileSystem> owner;
    RETURN_IF_FAILED(m_name->get_FileSystem(owner.Put()));
    RETURN_HR_IF(GD_E_MISSING, !owner);
    Lumo::IAfsFileHandle* same = nullptr;
    RETURN_IF_FAILED(owner->Open(m_name.Get(), flags, this, nullptr, &same));
    if (same != nullptr)
        same->Release();
    return S_OK;
}

HRESULT DriveFileHandle::GetProperty(LPCWSTR name, VARIANT* value) {
    RETURN_HR_IF_NULL(E_POINTER, value);
    VariantInit(value);
    RETURN_HR_IF(GD_E_INVALID_ARG, name == nullptr || !EqualsIgnoringCase(name, L"Title"));
    std::shared_ptr<DriveItem> item;
    RETURN_IF_FAILED(m_name->GetItem(&item));
    BSTR title = SysAllocString(item ? item->title.c_str() : L"");
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, title);
    V_VT(value) = VT_BSTR;
    V_BSTR(value) = title;
    return S_OK;
}

} // namespace

HRESULT MakeFileHandle(std::shared_ptr<DriveStream> stream, ComPtr<IDriveName> name, DWORD flags,
                       ComPtr<IDriveFileHandle>* handle) {
    RETURN_HR_IF_NULL(E_POINTER, handle);
    ComPtr<DriveFileHandle> made;
    RETURN_IF_FAILED(MakeObject(&made, std::move(stream), std::move(name), flags));
    *handle = ComPtr<IDriveFileHandle>(made.Get());
    return S_OK;
}

} // namespace gd
