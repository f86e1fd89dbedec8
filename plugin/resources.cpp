#include "plugin/resources.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "plugin/com_object.h"

#include <cstring>
#include <new>

namespace gd {
namespace {

// Forwards reading to a stream on global memory and refuses every change, so
// the host cannot alter what it was handed.
class ReadOnlyStream final : public ComObject<IStream> {
public:
    explicit ReadOnlyStream(IStream* inner) : m_inner(inner) { m_inner->AddRef(); }

    static HRESULT Wrap(IStream* inner, IStream** stream) {
        ComPtr<ReadOnlyStream> wrapper;
        RETURN_IF_FAILED(MakeObject(&wrapper, inner));
        *stream = wrapper.Detach();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override {
        return m_inner->Read(buffer, size, read);
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
        if (written != nullptr)
            *written = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER offset, DWORD origin,
                                   ULARGE_INTEGER* position) override {
        return m_inner->Seek(offset, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override {
        return m_inner->CopyTo(target, size, read, written);
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override {
        RETURN_IF_FAILED(m_inner->Stat(stat, flags));
        stat->grfMode = STGM_READ | STGM_SHARE_DENY_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** stream) override {
        RETURN_HR_IF_NULL(E_POINTER, stream);
        *stream = nullptr;
        IStream* inner = nullptr;
        RETURN_IF_FAILED(m_inner->Clone(&inner));
        HRESULT hr = Wrap(inner, stream);
        inner->Release();
        return hr;
    }

private:
    ~ReadOnlyStream() override { m_inner->Release(); }
    void* QueryMore(REFIID iid) override {
        return iid == __uuidof(ISequentialStream) ? static_cast<ISequentialStream*>(this) : nullptr;
    }

    IStream* m_inner;
};

// Movable global memory holding a copy of the bytes; null when it cannot be had.
// An empty copy still takes one byte: a zero-sized movable block cannot be locked.
HGLOBAL CopyToGlobal(const void* data, size_t size) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size != 0 ? size : 1);
    if (memory == nullptr)
        return nullptr;
    void* target = GlobalLock(memory);
    if (target == nullptr) {
        GlobalFree(memory);
        return nullptr;
    }
    if (size != 0)
        std::memcpy(target, data, size);
    GlobalUnlock(memory);
    return memory;
}

// A stream that owns the memory; GlobalSize may exceed the copy, so the size is set.
HRESULT CreateGlobalStream(HGLOBAL memory, size_t size, IStream** stream) {
    HRESULT hr = CreateStreamOnHGlobal(memory, TRUE, stream);
    if (FAILED(hr)) {
        GlobalFree(memory);
        *stream = nullptr;
        return hr;
    }
    ULARGE_INTEGER exact;
    exact.QuadPart = size;
    hr = (*stream)->SetSize(exact);
    if (FAILED(hr)) {
        (*stream)->Release();
        *stream = nullptr;
    }
    return hr;
}

} // namespace

HRESULT GetModuleOf(const void* address, HMODULE* module) {
    RETURN_HR_IF_NULL(E_POINTER, module);
    *module = nullptr;
    // A null address would name the process's program, which holds no address.
    RETURN_HR_IF_NULL(E_INVALIDARG, address);
    constexpr DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    RETURN_HR_IF(LastWin32Error(),
                 !GetModuleHandleExW(flags, static_cast<LPCWSTR>(address), module));
    return S_OK;
}

HRESULT GetOwnModule(HMODULE* module) {
    return GetModuleOf(reinterpret_cast<const void*>(&GetOwnModule), module);
}

HRESULT GetResourceBytes(HMODULE module, const wchar_t* type, WORD id, const BYTE** data,
                         DWORD* size) {
    RETURN_HR_IF(E_POINTER, data == nullptr || size == nullptr);
    *data = nullptr;
    *size = 0;
    RETURN_HR_IF_NULL(E_INVALIDARG, type);
    if (module == nullptr)
        RETURN_IF_FAILED(GetOwnModule(&module));
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    RETURN_HR_IF(LastWin32Error(), found == nullptr);
    HGLOBAL loaded = LoadResource(module, found);
    RETURN_HR_IF(LastWin32Error(), loaded == nullptr);
    const void* bytes = LockResource(loaded);
    RETURN_HR_IF(GD_E_UNEXPECTED, bytes == nullptr);
    *data = static_cast<const BYTE*>(bytes);
    *size = SizeofResource(module, found);
    return S_OK;
}

HRESULT GetPngResource(HMODULE module, WORD id, const BYTE** data, DWORD* size) {
    return GetResourceBytes(module, kPngResourceType, id, data, size);
}

HRESULT CreateStreamOnCopy(const void* data, size_t size, IStream** stream) {
    RETURN_HR_IF_NULL(E_POINTER, stream);
    *stream = nullptr;
    RETURN_HR_IF(E_INVALIDARG, data == nullptr && size != 0);
    HGLOBAL memory = CopyToGlobal(data, size);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, memory);
    IStream* inner = nullptr;
    RETURN_IF_FAILED(CreateGlobalStream(memory, size, &inner));
    HRESULT hr = ReadOnlyStream::Wrap(inner, stream);
    inner->Release();
    return hr;
}

HRESULT CreateResourceStream(HMODULE module, const wchar_t* type, WORD id, IStream** stream) {
    RETURN_HR_IF_NULL(E_POINTER, stream);
    *stream = nullptr;
    const BYTE* data = nullptr;
    DWORD size = 0;
    RETURN_IF_FAILED(GetResourceBytes(module, type, id, &data, &size));
    return CreateStreamOnCopy(data, size, stream);
}

} // namespace gd
