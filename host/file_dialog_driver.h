// The host's driver for the plug-in's file dialog: what a user does with
// it (wait for its listing, double-click a row, type a name, cancel), run on
// the host's UI thread. lumo-host and the tests answer the dialog with it.
#pragma once

#include "host/emulated_host.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace gd {

// Drives the plug-in's file dialog ("DlgOpenFile") on the host's UI thread.
class FileDialogDriver {
public:
    FileDialogDriver(EmulatedHost& host, DWORD deadline) : m_host(host), m_deadline(deadline) {}

    // The dialog once it shows, with its first listing done.
    HRESULT Wait(ComPtr<HostDialog>* dialog);
    // Until the list is filled again (or the dialog ended).
    HRESULT WaitListed(HostDialog* dialog);
    // Every row's text: its title and extension ("Projects", "Welcome.pdf").
    HRESULT Rows(HostDialog* dialog, std::vector<std::wstring>* rows);
    // Double-clicks the row titled text (title and extension); S_FALSE
    // when no row is.
    HRESULT Activate(HostDialog* dialog, const std::wstring& text);
    // Clicks the row titled text once; S_FALSE when no row is.
    HRESULT Select(HostDialog* dialog, const std::wstring& text);
    // Types text as the file name.
    HRESULT Type(HostDialog* dialog, const std::wstring& text);
    HRESULT TypeAndOk(HostDialog* dialog, const std::wstring& text);
    HRESULT Cancel(HostDialog* dialog);

private:
    // Runs act on the list's row titled text (on the UI thread); S_FALSE
    // when no row is.
    HRESULT OnRow(HostDialog* dialog, const std::wstring& text,
                  const std::function<HRESULT(HostControl*, long)>& act);
    HRESULT OnUi(const std::function<HRESULT()>& work) { return m_host.OnUi(work); }

    EmulatedHost& m_host;
    DWORD m_deadline;
};

} // namespace gd
