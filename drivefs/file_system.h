// The file system the plug-in registers with the host: every way the host
// and the plug-in's dialogs reach Drive goes through it.
#pragma once

#include "auth/account_store.h"
#include "drivefs/drive_name.h"
#include "errors/critical_section.h"
#include "plugin/automation_object.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace gd {

inline constexpr wchar_t kFileSystemName[] = L"Google Drive File System";
inline constexpr DWORD kFileSystemCapabilities = 0x300027FF;

class DriveFileSystem : public AutomationObject<Lumo::IAfsFileSystem> {
public:
    // afs: the host's "AFS" extension, which makes the per-account objects.
    explicit DriveFileSystem(ComPtr<Lumo::IAfsInstance> afs);
    ~DriveFileSystem() override;

    HRESULT STDMETHODCALLTYPE get_DisplayName(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_Capabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperty(BSTR name, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetProperty(BSTR name, VARIANT value) override;
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ResolveName(BSTR text, DWORD flags, IUnknown* context,
                                          IUnknown* reserved, Lumo::IAfsProgress* progress,
                                          Lumo::IAfsName** name) override;
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFolder(Lumo::IAfsName* folder, Lumo::IAfsProgress* progress,
                                         IUnknown* reserved,
                                         Lumo::IAfsEnumFolder** enumerator) override;
    HRESULT STDMETHODCALLTYPE ParseName(BSTR text, DWORD flags, Lumo::IAfsName* base,
                                        Lumo::IAfsName** name) override;
    HRESULT STDMETHODCALLTYPE NameToText(Lumo::IAfsName* name, DWORD format, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE NameGetParent(Lumo::IAfsName* name, Lumo::IAfsName** parent) override;
    HRESULT STDMETHODCALLTYPE Reserved7() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareNames(Lumo::IAfsName* first, Lumo::IAfsName* second,
                                           long* result) override;
    HRESULT STDMETHODCALLTYPE Open(Lumo::IAfsName* name, DWORD flags, Lumo::IAfsFileHandle* holder,
                                   Lumo::IAfsProgress* progress,
                                   Lumo::IAfsFileHandle** handle) override;
    HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFileInfo(Lumo::IAfsName* name, Lumo::IAfsProgress* progress,
                                          IUnknown* reserved, Lumo::IAfsFileInfo** info) override;
    HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Browse(HWND owner, DWORD options,
                                     Lumo::IAfsNameList** chosen) override;
    HRESULT STDMETHODCALLTYPE SetThreadObject(IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE GetThreadObject(DWORD thread_id, IUnknown** object) override;

    // The accounts, created on first use.
    std::shared_ptr<AccountStore> Store();
    // Forgets every account (the plug-in's Uninit).
    void DropStore();

    // A text resolved into a name (against base's account when given).
    HRESULT ResolveText(const std::wstring& text, IDriveName* base, ComPtr<IDriveName>* name);
    // The account a root without one takes: the current account, or else a
    // new sign-in (an existing entry when its user is known already).
    HRESULT AccountForRoot(AccountEntryPtr* entry);
    // Signs a new account in; the store's entry when its user has one.
    HRESULT SignInNewAccount(AccountEntryPtr* entry);
    // Opens a name into a handle (a given holder receives the new stream).
    HRESULT OpenName(IDriveName* name, DWORD flags, Lumo::IAfsFileHandle* holder,
                     Lumo::IAfsFileHandle** handle);

private:
    struct ThreadObject {
        DWORD thread_id;
        ComPtr<IUnknown> object;
    };

    ComPtr<IDriveName> Own(Lumo::IAfsName* name);
    HRESULT CreateIfNew(IDriveName* name);

    ComPtr<Lumo::IAfsInstance> m_afs;
    std::vector<ThreadObject> m_thread_objects;
    CriticalSection m_section{4000};
    std::shared_ptr<AccountStore> m_store;
    std::wstring m_client_id;
    std::wstring m_client_secret;
};

} // namespace gd
