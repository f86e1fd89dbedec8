// lumo-host: loads a plug-in module the way the editor does, runs its
// lifecycle, prints what the plug-in tells about itself and works with the
// file system it registers.
//
//   lumo-host PLUGIN [--user EMAIL] [--consent approve|deny|close] COMMAND ARGS...
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "auth/endpoints.h"
#include "errors/registry.h"
#include "host/editor_commands.h"
#include "host/fs_commands.h"
#include "host/loaded_plugin.h"
#include "plugin/module.h"

namespace gd {
namespace {

std::wstring Text(HRESULT (STDMETHODCALLTYPE Lumo::ILumoPlugin::*getter)(BSTR*),
                  Lumo::ILumoPlugin* plugin) {
    Bstr text;
    return SUCCEEDED((plugin->*getter)(text.Put())) ? text.Text() : L"?";
}

void PrintIdentity(Lumo::ILumoPlugin* plugin) {
    GUID id{};
    wchar_t id_text[64] = L"?";
    if (SUCCEEDED(plugin->get_ID(&id)))
        StringFromGUID2(id, id_text, ARRAYSIZE(id_text));
    DWORD version = 0;
    plugin->get_Version(&version);
    wprintf(L"id:      %ls\n", id_text);
    wprintf(L"title:   %ls\n", Text(&Lumo::ILumoPlugin::get_Title, plugin).c_str());
    wprintf(L"version: %lu.%lu\n", version >> 16, version & 0xFFFF);
    wprintf(L"company: %ls\n", Text(&Lumo::ILumoPlugin::get_Company, plugin).c_str());
}

void PrintMenu(const wchar_t* label, HostMenu* menu, EmulatedHost& host) {
    if (menu == nullptr)
        return;
    wprintf(L"%ls:", label);
    for (const std::wstring& name : menu->CommandNames()) {
        ComPtr<HostCommand> command = host.Uix().FindCommand(name);
        std::wstring shown = command ? host.Strings().Resolve(command->m_title) : name;
        wprintf(L" [%ls]", shown.c_str());
    }
    wprintf(L"\n");
}

constexpr int kUsageExit = 2;

struct CommandLine {
    std::wstring plugin;
    BrowserScript consent{BrowserAction::Approve, L""};
    std::wstring command = L"info";
    std::vector<std::wstring> operands;
    GetOptions get;
    bool overwrite = false;
    std::wstring path; // open --pick, save --as
};

void PrintUsage() {
    fwprintf(stderr,
             L"usage: lumo-host PLUGIN [--user EMAIL] [--consent approve|deny|close] COMMAND "
             L"ARGS...\n"
             L"  info\n"
             L"  ls NAME\n"
             L"  stat NAME\n"
             L"  get NAME LOCAL [--chunk N] [--pattern seq|pdf]\n"
             L"  put LOCAL NAME [--overwrite]\n"
             L"  open LOCAL --pick PATH\n"
             L"  save LOCAL --as PATH\n"
             L"  show open|save\n"
             L"  demo\n");
}

bool ParseConsent(const std::wstring& text, BrowserAction* action) {
    const struct {
        const wchar_t* text;
        BrowserAction action;
    } kConsents[] = {{L"approve", BrowserAction::Approve},
                     {L"deny", BrowserAction::Deny},
                     {L"close", BrowserAction::Close}};
    for (const auto& entry : kConsents) {
        if (text == entry.text) {
            *action = entry.action;
            return true;
        }
    }
    return false;
}

bool ParseChunk(const std::wstring& text, DWORD* chunk) {
    wchar_t* end = nullptr;
    unsigned long long value = std::wcstoull(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0' || text[0] == L'-' || value == 0 || value > (1u << 30))
        return false;
    *chunk = static_cast<DWORD>(value);
    return true;
}

// The options of one command, after its name; false for a usage error.
bool ParseCommandArgs(const std::vector<std::wstring>& args, std::size_t at, CommandLine* line) {
    for (; at < args.size(); ++at) {
        const std::wstring& arg = args[at];
        bool hasValue = at + 1 < args.size();
        if (line->command == L"get" && arg == L"--chunk") {
            if (!hasValue || !ParseChunk(args[++at], &line->get.chunk))
                return false;
        } else if (line->command == L"get" && arg == L"--pattern") {
            if (!hasValue)
                return false;
            const std::wstring& pattern = args[++at];
            if (pattern != L"seq" && pattern != L"pdf")
                return false;
            line->get.pattern = pattern == L"pdf" ? ReadPattern::Pdf : ReadPattern::Sequential;
        } else if (line->command == L"put" && arg == L"--overwrite") {
            line->overwrite = true;
        } else if ((line->command == L"open" && arg == L"--pick") ||
                   (line->command == L"save" && arg == L"--as")) {
            if (!hasValue || !line->path.empty())
                return false;
            line->path = args[++at];
        } else if (arg.rfind(L"--", 0) == 0) {
            return false;
        } else {
            line->operands.push_back(arg);
        }
    }
    const struct {
        const wchar_t* command;
        std::size_t operands;
    } kCommands[] = {{L"info", 0}, {L"ls", 1},   {L"stat", 1}, {L"get", 2}, {L"put", 2},
                     {L"open", 1}, {L"save", 1}, {L"show", 1}, {L"demo", 0}};
    bool needsPath = line->command == L"open" || line->command == L"save";
    if (needsPath && line->path.empty())
        return false;
    if (line->command == L"show" && line->operands.size() == 1 && line->operands[0] != L"open" &&
        line->operands[0] != L"save")
        return false;
    for (const auto& entry : kCommands) {
        if (line->command == entry.command)
            return line->operands.size() == entry.operands;
    }
    return false;
}

bool ParseCommandLine(int argc, wchar_t** argv, CommandLine* line) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.empty())
        return false;
    line->plugin = args[0];
    std::size_t at = 1;
    for (; at < args.size() && args[at].rfind(L"--", 0) == 0; at += 2) {
        if (at + 1 >= args.size())
            return false;
        if (args[at] == L"--user")
            line->consent.user = args[at + 1];
        else if (args[at] != L"--consent" || !ParseConsent(args[at + 1], &line->consent.action))
            return false;
    }
    // Without a command, the plug-in's identity as ever.
    if (at < args.size())
        line->command = args[at++];
    return ParseCommandArgs(args, at, line);
}

HRESULT RunFileCommand(const CommandLine& line, Lumo::IAfsFileSystem* fileSystem) {
    const std::vector<std::wstring>& operands = line.operands;
    if (line.command == L"ls")
        return ListCommand(fileSystem, operands[0]);
    if (line.command == L"stat")
        return StatCommand(fileSystem, operands[0]);
    if (line.command == L"get")
        return GetCommand(fileSystem, operands[0], operands[1], line.get);
    return PutCommand(fileSystem, operands[0], operands[1], line.overwrite);
}

// "--consent close" for the browser sign-in: the user closes its wait dialog
// (the browser itself never answers) until stop is set.
void CloseWaitDialogs(EmulatedHost& host, const std::atomic<bool>& stop) {
    while (!stop) {
        ComPtr<HostDialog> dialog = host.Uix().WaitForDialog(L"DlgSignInWait", 200);
        if (dialog)
            host.OnUi([&] { return dialog->Control(L"btn.cancel")->Click(); });
    }
}

// The command's work runs here, on the main thread, while the host's UI
// thread stays free for the sign-in dialog.
HRESULT RunCommand(const CommandLine& line, LoadedPlugin& plugin, EmulatedHost& host) {
    if (line.command == L"info") {
        PrintIdentity(plugin.Plugin());
        HostMenu* file = plugin.CmdBars()->MenuBar()->SubMenu(L"cmd.file");
        PrintMenu(L"cmd.openFrom", file->SubMenu(L"cmd.openFrom"), host);
        PrintMenu(L"cmd.saveTo", file->SubMenu(L"cmd.saveTo"), host);
        wprintf(L"file systems: %zu\n", host.Afs().FileSystems().size());
        return S_OK;
    }
    std::vector<ComPtr<Lumo::IAfsFileSystem>> fileSystems = host.Afs().FileSystems();
    if (fileSystems.empty())
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (EmulatorEndpoint())
        host.SetBrowserScript(line.consent);
    std::atomic<bool> stop{false};
    std::thread closer;
    if (EmulatorEndpoint() && line.consent.action == BrowserAction::Close)
        closer = std::thread(CloseWaitDialogs, std::ref(host), std::cref(stop));
    HRESULT hr;
    if (line.command == L"open")
        hr = OpenThroughCommand(host, line.operands[0], line.path);
    else if (line.command == L"save")
        hr = SaveThroughCommand(host, line.operands[0], line.path);
    else if (line.command == L"show")
        hr = ShowThroughCommand(host, line.operands[0] == L"save");
    else if (line.command == L"demo")
        hr = DemoThroughCommands(plugin, host);
    else
        hr = RunFileCommand(line, fileSystems.front().Get());
    stop = true;
    if (closer.joinable())
        closer.join();
    fflush(stdout);
    return hr;
}

// The failure's line goes out at once: the teardown that follows may take
// the process down with it.
HRESULT Report(HRESULT hr) {
    if (FAILED(hr)) {
        fflush(stdout);
        fwprintf(stderr, L"error 0x%08lX: %ls\n", static_cast<unsigned long>(hr),
                 DescribeError(hr).c_str());
        fflush(stderr);
    }
    return hr;
}

int Run(const CommandLine& line) {
    ComPtr<EmulatedHost> host;
    HRESULT hr = Report(MakeObject(&host));
    if (SUCCEEDED(hr)) {
        LoadedPlugin plugin(host.Get());
        hr = plugin.Load(line.plugin);
        if (SUCCEEDED(hr))
            hr = plugin.Start();
        if (SUCCEEDED(Report(hr))) {
            hr = Report(RunCommand(line, plugin, *host.Get()));
            HRESULT stopped = plugin.Stop();
            if (SUCCEEDED(hr))
                hr = Report(stopped);
        }
    }
    return FAILED(hr) ? 1 : 0;
}

} // namespace
} // namespace gd

int wmain(int argc, wchar_t** argv) {
    gd::CommandLine line;
    if (!gd::ParseCommandLine(argc, argv, &line)) {
        gd::PrintUsage();
        return gd::kUsageExit;
    }
    gd::InitModule();
    int result = gd::Run(line);
    gd::UninitModule();
    return result;
}
