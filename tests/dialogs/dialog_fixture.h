// Drivers the dialog tests share on top of the file system fixture: rows by
// text, steps on the UI thread and the host's file dialog driver.
#pragma once

#include "host/file_dialog_driver.h"
#include "tests/dialogs/drive_dialog_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace gd::test {

class DialogTest : public DriveDialogTest {
protected:
    static long RowOf(const std::vector<std::wstring>& rows, const wchar_t* text) {
        auto found = std::find(rows.begin(), rows.end(), text);
        EXPECT_NE(found, rows.end()) << "no row " << testing::PrintToString(std::wstring(text));
        return found == rows.end() ? -1 : static_cast<long>(found - rows.begin());
    }
    HRESULT Drive(HostDialog* dialog, std::function<HRESULT(HostDialog&)> step) {
        return Host().OnUi([&] { return step(*dialog); });
    }
    // What a user does with the file dialog.
    FileDialogDriver Driver() { return FileDialogDriver(Host(), kDialogDeadline); }
};

} // namespace gd::test
