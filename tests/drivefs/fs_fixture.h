// The file system as the host sees it: registered with an emulated "AFS"
// extension, with Alice signed in as its current account, against the
// emulator.
#pragma once

#include "drivefs/file_system.h"
#include "host/afs_host.h"
#include "tests/driveapi/account_fixture.h"
#include "tests/driveapi/drive_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gd::test {

// Answers the host's cancel question: cancels from the given call on.
class CancelAfter : public ComObject<Lumo::IAfsProgress> {
public:
    explicit CancelAfter(int calls) : m_left(calls) {}
    HRESULT STDMETHODCALLTYPE QueryCancel(VARIANT_BOOL* cancel, const void*, ULONG) override {
        *cancel = m_left-- <= 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnItem(Lumo::IAfsName*) override { return S_OK; }

private:
    int m_left;
};

class FsTest : public AccountTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A text resolved through the file system; fails the test on failure.
    ComPtr<Lumo::IAfsName> Resolve(const std::wstring& text);
    HRESULT TryResolve(const std::wstring& text, ComPtr<Lumo::IAfsName>* name);
    std::wstring Text(Lumo::IAfsName* name);
    static std::wstring Link(const std::wstring& id) {
        return L"https://drive.google.com/open?id=" + id;
    }
    ComPtr<Lumo::IAfsFileHandle> Open(const std::wstring& text, DWORD flags);
    // Every byte from the handle's position to the end, in reads of chunk.
    std::vector<BYTE> ReadToEnd(Lumo::IAfsFileHandle* handle, ULONG chunk);
    // Announces, begins, writes the pattern in pieces, commits.
    HRESULT WritePattern(Lumo::IAfsFileHandle* handle, size_t size, size_t piece = 1 << 20);

    ComPtr<AfsHost> m_afs;
    ComPtr<DriveFileSystem> m_fs;
    std::shared_ptr<DriveAccount> m_alice;
};

std::vector<BYTE> Pattern(size_t first, size_t count);

} // namespace gd::test
