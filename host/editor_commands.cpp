#include "host/editor_commands.h"

#include "errors/check.h"
#include "errors/codes.h"
#include "host/document_io.h"
#include "host/fs_commands.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <vector>

namespace gd {
namespace {

constexpr DWORD kDeadline = 60000;
constexpr int kMaxDepth = 64;

std::vector<std::wstring> PathParts(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find_first_of(L"/\\", at);
        if (end == std::wstring::npos)
            end = path.size();
        if (end > at)
            parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

// Runs a command through the host's menu handler on a thread of its own,
// so the caller can answer its dialog.
std::future<HRESULT> StartCommand(EmulatedHost& host, const wchar_t* name) {
    std::wstring command = name;
    return std::async(std::launch::async,
                      [&host, command] { return host.ExecuteCommand(command); });
}

HRESULT Finish(std::future<HRESULT>& run, EmulatedHost& host) {
    if (run.wait_for(std::chrono::milliseconds(kDeadline)) != std::future_status::ready) {
        host.OnUi([&host] { return host.Uix().CancelModalDialogs(), S_OK; });
        run.wait();
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_TIMEOUT), true);
    }
    return run.get();
}

// From My Drive's top folder (the dialog starts in the last folder used, so
// first up by the parent rows) down the folders named by parts, as a user
// double-clicks them.
HRESULT Follow(FileDialogDriver& driver, HostDialog* dialog,
               const std::vector<std::wstring>& parts) {
    for (int up = 0; up < kMaxDepth; ++up) {
        HRESULT hr = driver.Activate(dialog, L"..");
        RETURN_IF_FAILED(hr);
        if (hr == S_FALSE)
            break;
    }
    for (const std::wstring& part : parts) {
        HRESULT hr = driver.Activate(dialog, part);
        RETURN_IF_FAILED(hr);
        if (hr == S_FALSE)
            return S_FALSE;
    }
    return S_OK;
}

HRESULT ReadLocal(const std::wstring& path, std::vector<BYTE>* bytes) {
    LocalFile file;
    RETURN_IF_FAILED(file.Open(path, false));
    LONGLONG size = 0;
    RETURN_IF_FAILED(file.Size(&size));
    bytes->resize(static_cast<std::size_t>(size));
    DWORD got = 0;
    if (!bytes->empty())
        RETURN_IF_FAILED(file.Read(bytes->data(), static_cast<DWORD>(bytes->size()), &got));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_READ_FAULT), got != bytes->size());
    return S_OK;
}

HRESULT WriteLocal(const std::wstring& path, const std::vector<BYTE>& bytes) {
    LocalFile file;
    RETURN_IF_FAILED(file.Open(path, true));
    return bytes.empty() ? S_OK : file.Write(bytes.data(), static_cast<DWORD>(bytes.size()));
}

// What the editor did with the command: the failure of its open or save
// call, or the cancellation when the dialog chose nothing.
template <class Record>
HRESULT Outcome(const std::vector<Record>& before, const std::vector<Record>& after) {
    RETURN_HR_IF(GD_E_CANCELLED, after.size() == before.size());
    return after.back().result;
}

HRESULT Open(EmulatedHost& host, const std::vector<std::wstring>& parts) {
    auto before = host.Opens();
    std::future<HRESULT> run = StartCommand(host, L"gd.cmd.open");
    FileDialogDriver driver(host, kDeadline);
    ComPtr<HostDialog> dialog;
    HRESULT hr = driver.Wait(&dialog);
    if (SUCCEEDED(hr) && Follow(driver, dialog.Get(), parts) != S_OK)
        LOG_IF_FAILED(driver.Cancel(dialog.Get()));
    HRESULT finished = Finish(run, host);
    RETURN_IF_FAILED(hr);
    RETURN_IF_FAILED(finished);
    return Outcome(before, host.Opens());
}

HRESULT Save(EmulatedHost& host, const std::vector<std::wstring>& parts) {
    RETURN_HR_IF(E_INVALIDARG, parts.empty());
    auto before = host.Saves();
    host.ScriptAnswers({Lumo::LUMO_MsgBox_Yes});
    std::future<HRESULT> run = StartCommand(host, L"gd.cmd.save");
    FileDialogDriver driver(host, kDeadline);
    ComPtr<HostDialog> dialog;
    HRESULT hr = driver.Wait(&dialog);
    if (SUCCEEDED(hr)) {
        std::vector<std::wstring> folders(parts.begin(), parts.end() - 1);
        if (Follow(driver, dialog.Get(), folders) == S_OK)
            hr = driver.TypeAndOk(dialog.Get(), parts.back());
        else
            LOG_IF_FAILED(driver.Cancel(dialog.Get()));
    }
    HRESULT finished = Finish(run, host);
    RETURN_IF_FAILED(hr);
    RETURN_IF_FAILED(finished);
    return Outcome(before, host.Saves());
}

void PrintStep(std::chrono::steady_clock::time_point started, const std::wstring& text) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - started)
                  .count();
    wprintf(L"[%6lld ms] %ls\n", static_cast<long long>(ms), text.c_str());
    fflush(stdout);
}

std::wstring MenuLine(EmulatedHost& host, LoadedPlugin& plugin, const wchar_t* subMenu) {
    std::wstring line = std::wstring(L"File > ") + subMenu + L":";
    HostMenu* file = plugin.CmdBars()->MenuBar()->SubMenu(L"cmd.file");
    HostMenu* menu = file != nullptr ? file->SubMenu(subMenu) : nullptr;
    for (const std::wstring& name :
         menu != nullptr ? menu->CommandNames() : std::vector<std::wstring>{}) {
        ComPtr<HostCommand> command = host.Uix().FindCommand(name);
        line += L" [" + (command ? host.Strings().Resolve(command->m_title) : name) + L"]";
    }
    return line;
}

} // namespace

HRESULT OpenThroughCommand(EmulatedHost& host, const std::wstring& local,
                           const std::wstring& path) {
    RETURN_IF_FAILED(Open(host, PathParts(path)));
    std::vector<BYTE> document = host.OpenedDocument();
    RETURN_IF_FAILED(WriteLocal(local, document));
    wprintf(L"opened %zu bytes\n", document.size());
    return S_OK;
}

HRESULT SaveThroughCommand(EmulatedHost& host, const std::wstring& local,
                           const std::wstring& path) {
    std::vector<BYTE> document;
    RETURN_IF_FAILED(ReadLocal(local, &document));
    host.SetActiveDocument(document);
    RETURN_IF_FAILED(Save(host, PathParts(path)));
    wprintf(L"saved %zu bytes\n", document.size());
    return S_OK;
}

HRESULT ShowThroughCommand(EmulatedHost& host, bool save) {
    // The Save command needs a document to save; nothing is saved.
    if (save)
        host.SetActiveDocument({'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'});
    std::future<HRESULT> run = StartCommand(host, save ? L"gd.cmd.save" : L"gd.cmd.open");
    FileDialogDriver driver(host, kDeadline);
    ComPtr<HostDialog> dialog;
    HRESULT hr = driver.Wait(&dialog);
    if (SUCCEEDED(hr) && Follow(driver, dialog.Get(), {}) != S_OK)
        hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    // What a user would have chosen: a file to open, a new name to save under.
    if (SUCCEEDED(hr))
        hr = save ? driver.Type(dialog.Get(), L"Notes.pdf")
                  : driver.Select(dialog.Get(), L"Welcome.pdf");
    RECT shown{};
    if (SUCCEEDED(hr)) {
        hr = host.OnUi([&]() -> HRESULT {
            HWND window = nullptr;
            RETURN_IF_FAILED(dialog->get_Window(&window));
            ShowWindow(window, SW_SHOWNORMAL);
            UpdateWindow(window);
            RETURN_HR_IF(HRESULT_FROM_WIN32(GetLastError()), !GetWindowRect(window, &shown));
            return S_OK;
        });
    }
    if (SUCCEEDED(hr)) {
        wprintf(L"shown %ld %ld %ld %ld\n", shown.left, shown.top, shown.right, shown.bottom);
        fflush(stdout);
        wchar_t line[16];
        fgetws(line, 16, stdin);
    }
    if (dialog)
        LOG_IF_FAILED(driver.Cancel(dialog.Get()));
    HRESULT finished = Finish(run, host);
    RETURN_IF_FAILED(hr);
    // A cancelled dialog is how this ends.
    RETURN_HR_IF(finished, FAILED(finished) && HRESULT_CODE(finished) != ERROR_CANCELLED);
    return S_OK;
}

HRESULT DemoThroughCommands(LoadedPlugin& plugin, EmulatedHost& host) {
    auto started = std::chrono::steady_clock::now();
    PrintStep(started, L"loaded " + std::wstring(L"the plug-in; the editor's menus read:"));
    PrintStep(started, MenuLine(host, plugin, L"cmd.openFrom"));
    PrintStep(started, MenuLine(host, plugin, L"cmd.saveTo"));
    const std::wstring source = L"Projects/2024/Budget 2024.pdf";
    PrintStep(started, L"File > Open from > Google Drive...: signing in, then " + source);
    RETURN_IF_FAILED(Open(host, PathParts(source)));
    std::vector<BYTE> document = host.OpenedDocument();
    PrintStep(started, L"opened " + std::to_wstring(document.size()) + L" bytes");
    const std::wstring copy = L"Budget 2024 (copy).pdf";
    host.SetActiveDocument(document);
    PrintStep(started, L"File > Save to > Google Drive...: " + copy + L" in My Drive");
    RETURN_IF_FAILED(Save(host, {copy}));
    PrintStep(started, L"saved; My Drive now holds:");
    std::vector<ComPtr<Lumo::IAfsFileSystem>> fileSystems = host.Afs().FileSystems();
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), fileSystems.empty());
    RETURN_IF_FAILED(ListCommand(fileSystems.front().Get(), L"https://drive.google.com"));
    PrintStep(started, L"done");
    return S_OK;
}

} // namespace gd
