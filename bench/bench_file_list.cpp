// The Open/Save dialog's folder listing and sorting, in the emulated host
// against the emulator: the time from Navigate to the completion for a
// folder (the emulator's folder of that title in Alice's My Drive), the same
// listing as a bare enumeration on one thread (the reference), the time to
// sort the list by each column both ways, and the peak working set. Prints
// "RESULT <what> <rows> <seconds>" lines and "PEAK <bytes>".
//
//   bench_file_list <folder title>
// The emulator override must name host:port (DRIVE_EMULATOR_HOST).
#include "auth/client_credentials.h"
#include "dialogs/browse_dialog.h"
#include "dialogs/file_list_view.h"
#include "dialogs/folder_navigator.h"
#include "dialogs/icons_provider.h"
#include "drivefs/file_system.h"
#include "drivefs/name_text.h"
#include "host/emulated_host.h"
#include "plugin/host_instance.h"
#include "plugin/module.h"
#include "plugin/resources.h"

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace gd {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Dialog : public UixDialog {
public:
    using UixDialog::FillCreateParams;
    using UixDialog::UixDialog;
};

class Bench {
public:
    HRESULT Run(const std::wstring& title) {
        RETURN_IF_FAILED(MakeObject(&m_host));
        HostInstance::Fill(m_host.Get());
        ComPtr<IStream> strings;
        RETURN_IF_FAILED(
            CreateResourceStream(nullptr, kXmlResourceType, kStringsResourceId, strings.Put()));
        RETURN_IF_FAILED(m_host->LoadLocalization(strings.Get()));
        m_host->SetBrowserScript({BrowserAction::Approve, L"alice.emulator@example.com"});
        RETURN_IF_FAILED(MakeObject(&m_fs, ComPtr<Lumo::IAfsInstance>(&m_host->Afs())));
        RETURN_IF_FAILED(SetProperty(L"ClientID", BuiltInClientId()));
        RETURN_IF_FAILED(SetProperty(L"ClientSecret", BuiltInClientSecret()));
        Bstr base;
        RETURN_IF_FAILED(base.Assign(DriveWebBase().c_str()));
        ComPtr<Lumo::IAfsName> root;
        RETURN_IF_FAILED(m_fs->ResolveName(base.Get(), 0, nullptr, nullptr, nullptr, root.Put()));
        RETURN_IF_FAILED(m_host->OnUi([&] { return MakeList(); }));
        RETURN_IF_FAILED(NavigateAndWait(root.Get()));
        ComPtr<Lumo::IAfsName> folder;
        RETURN_IF_FAILED(m_host->OnUi([&]() -> HRESULT {
            for (const ShownEntry& entry : m_list->ShownEntries()) {
                Bstr text;
                RETURN_IF_FAILED(entry.info->get_Title(text.Put()));
                if (title == text.Text())
                    folder = entry.name;
            }
            return S_OK;
        }));
        RETURN_HR_IF(E_INVALIDARG, !folder);

        // A first listing warms the emulator's answers for both runs.
        long entries = 0;
        RETURN_IF_FAILED(BareListing(folder.Get(), &entries));
        Clock::time_point start = Clock::now();
        RETURN_IF_FAILED(NavigateAndWait(folder.Get()));
        const double navigated = Since(start);
        long rows = 0;
        m_host->OnUi([&] { return rows = m_control->RowCount(), S_OK; });
        std::printf("RESULT navigate-to-completion %ld %.3f\n", rows, navigated);
        entries = 0;
        start = Clock::now();
        RETURN_IF_FAILED(BareListing(folder.Get(), &entries));
        std::printf("RESULT bare-enumeration %ld %.3f\n", entries, Since(start));

        const char* names[] = {"name", "extension", "created", "modified", "size"};
        for (long column : {1L, 1L, 2L, 2L, 3L, 3L, 4L, 4L, 0L, 0L}) {
            DWORD style_before = 0;
            start = Clock::now();
            RETURN_IF_FAILED(m_host->OnUi([&]() -> HRESULT {
                RETURN_IF_FAILED(m_control->ClickColumn(column));
                style_before = m_control->Columns()[static_cast<size_t>(column)].style;
                return S_OK;
            }));
            std::printf("RESULT sort-%s-%s %ld %.3f\n", names[column],
                        style_before == Lumo::UIX_ListColumnStyle_IconUp ? "up" : "down", rows,
                        Since(start));
        }
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        std::printf("PEAK %llu\n", static_cast<unsigned long long>(counters.PeakWorkingSetSize));

        m_host->OnUi([&] {
            m_list.reset();
            m_navigator.reset();
            m_icons.reset();
            return m_dialog ? m_dialog->Destroy() : S_OK;
        });
        m_fs->DropStore();
        HostInstance::Clear();
        return S_OK;
    }

private:
    HRESULT SetProperty(const wchar_t* name, const wchar_t* value) {
        Bstr property;
        RETURN_IF_FAILED(property.Assign(name));
        Variant text;
        RETURN_IF_FAILED(text.SetText(value));
        return m_fs->SetProperty(property.Get(), text.Get());
    }

    HRESULT MakeList() {
        RETURN_IF_FAILED(MakeObject(&m_handler, m_host.Get()));
        Lumo::UIX_CreateParams params{};
        RETURN_IF_FAILED(
            m_handler->FillCreateParams(m_host.Get(), L"DlgOpenFile", kBrowseDialogStyle, &params));
        RETURN_IF_FAILED(m_host->Uix().CreateObj(&params, nullptr));
        m_dialog = m_host->Uix().Dialogs().back();
        m_control = m_dialog->Control(L"gd.lst.Test");
        RETURN_HR_IF_NULL(E_UNEXPECTED, m_control);
        m_icons = std::make_unique<IconsProvider>(ComPtr<Lumo::IUixInstance>(&m_host->Uix()));
        m_navigator = std::make_unique<FolderNavigator>(
            ComPtr<Lumo::ILumoInstance>(m_host.Get()), ComPtr<Lumo::IAfsFileSystem>(m_fs.Get()),
            [this](HRESULT result) {
                m_result = SUCCEEDED(result) ? m_list->Refill() : result;
                ++m_completions;
                return S_OK;
            });
        return RunGuarded([&] {
            m_list = std::make_unique<FileList>(ComPtr<Lumo::ILumoInstance>(m_host.Get()),
                                                ComPtr<Lumo::IUixInstance>(&m_host->Uix()),
                                                ComPtr<Lumo::IAfsFileSystem>(m_fs.Get()), *m_icons,
                                                ComPtr<Lumo::IUixObj>(m_control), *m_navigator,
                                                [](Lumo::IAfsName*) { return S_OK; });
            return S_OK;
        });
    }

    HRESULT NavigateAndWait(Lumo::IAfsName* name) {
        const int before = m_completions;
        RETURN_IF_FAILED(m_host->OnUi([&] { return m_navigator->Navigate(name); }));
        while (m_completions == before)
            Sleep(1);
        return m_result;
    }

    HRESULT BareListing(Lumo::IAfsName* folder, long* count) {
        ComPtr<Lumo::IAfsEnumFolder> children;
        RETURN_IF_FAILED(m_fs->EnumFolder(folder, nullptr, nullptr, children.Put()));
        for (;;) {
            ComPtr<Lumo::IAfsFileInfo> info;
            RETURN_IF_FAILED(children->Next(info.Put()));
            if (!info)
                return S_OK;
            ++*count;
        }
    }

    ComPtr<EmulatedHost> m_host;
    ComPtr<DriveFileSystem> m_fs;
    ComPtr<Dialog> m_handler;
    ComPtr<HostDialog> m_dialog;
    HostControl* m_control = nullptr;
    std::unique_ptr<IconsProvider> m_icons;
    std::unique_ptr<FolderNavigator> m_navigator;
    std::unique_ptr<FileList> m_list;
    std::atomic<int> m_completions{0};
    HRESULT m_result = E_PENDING;
};

} // namespace
} // namespace gd

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_file_list <folder title>\n");
        return 2;
    }
    gd::InitModule();
    std::string title = argv[1];
    HRESULT hr = gd::Bench().Run(std::wstring(title.begin(), title.end()));
    if (FAILED(hr))
        std::printf("error 0x%08lX\n", static_cast<unsigned long>(hr));
    return FAILED(hr) ? 1 : 0;
}
