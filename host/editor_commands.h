// lumo-host's editor commands: the plug-in's Open and Save commands run
// through the host's menu handler, with the file dialog answered by the
// host's driver the way a user would (a double-click per folder, a typed
// name), and the whole road as a demonstration.
#pragma once

#include "host/emulated_host.h"
#include "host/file_dialog_driver.h"
#include "host/loaded_plugin.h"

#include <windows.h>

#include <string>

namespace gd {

// Runs the Open command, follows path ("Reports/2024/summary-2024.pdf") below
// My Drive and writes the opened document's bytes to local. A path that
// leads nowhere cancels the dialog: the cancellation's code.
HRESULT OpenThroughCommand(EmulatedHost& host, const std::wstring& local, const std::wstring& path);
// Makes local the active document, runs the Save command, goes to path's
// folder and types its file name (a replacement is confirmed).
HRESULT SaveThroughCommand(EmulatedHost& host, const std::wstring& local, const std::wstring& path);
// Runs the Open command (or the Save command, save true) and puts its
// dialog on the screen once My Drive's top folder is listed; prints
// "shown LEFT TOP RIGHT BOTTOM" (the dialog's screen rectangle), waits for a
// line on standard input (a picture taken meanwhile), then cancels.
HRESULT ShowThroughCommand(EmulatedHost& host, bool save);
// The whole road: the menu entries, a sign-in, an open two folders down, a
// save under a new name in My Drive and the listing that shows it, each step
// with its time.
HRESULT DemoThroughCommands(LoadedPlugin& plugin, EmulatedHost& host);

} // namespace gd
