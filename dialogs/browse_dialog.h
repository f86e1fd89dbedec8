// The file system's own small browse dialog: one folder at a time, listed
// on the UI thread; down into folders, up to the parent, one file chosen.
#pragma once

#include "drivefs/drive_name.h"
#include "plugin/sdk/lumo.h"

#include <windows.h>

namespace gd {

// Runs the dialog modally from start on the host's UI thread; chosen stays
// empty when the user cancelled.
HRESULT RunBrowseDialog(HWND owner, ComPtr<IDriveName> start, ComPtr<Lumo::IAfsName>* chosen);

} // namespace gd
