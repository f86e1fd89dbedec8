#include "tests/drivefs/fs_fixture.h"

#include "auth/client_credentials.h"

namespace gd::test {

std::vector<BYTE> Pattern(size_t first, size_t count) {
    std::vector<BYTE> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = PatternByte(static_cast<long long>(first + i));
    return bytes;
}

void FsTest::SetUp() {
    AccountTest::SetUp();
    ASSERT_EQ(MakeObject(&m_afs), S_OK);
    ASSERT_EQ(MakeObject(&m_fs, ComPtr<Lumo::IAfsInstance>(m_afs.Get())), S_OK);
    Variant id, secret;
    id.SetText(BuiltInClientId());
    secret.SetText(BuiltInClientSecret());
    Bstr idName, secretName;
    idName.Assign(L"ClientID");
    secretName.Assign(L"ClientSecret");
    ASSERT_EQ(m_fs->SetProperty(idName.Get(), id.Get()), S_OK);
    ASSERT_EQ(m_fs->SetProperty(secretName.Get(), secret.Get()), S_OK);
    ASSERT_EQ(m_afs->RegisterFileSystem(m_fs.Get()), S_OK);
    m_alice = SignedIn(kAlice);
    ComPtr<Lumo::IAfsAccount> hostAccount;
    ASSERT_EQ(m_afs->CreateAccountObject(m_fs.Get(), hostAccount.Put()), S_OK);
    ASSERT_EQ(m_fs->Store()->AddAccount(std::make_shared<AccountEntry>(
                  ComPtr<Lumo::IAfsFileSystem>(m_fs.Get()), hostAccount, m_alice)),
              S_OK);
}

void FsTest::TearDown() {
    m_afs->UnregisterFileSystem(m_fs.Get());
    m_fs->DropStore();
    m_fs.Reset();
    AccountTest::TearDown();
}

HRESULT FsTest::TryResolve(const std::wstring& text, ComPtr<Lumo::IAfsName>* name) {
    Bstr value;
    value.Assign(text.c_str());
    return m_fs->ResolveName(value.Get(), 0, nullptr, nullptr, nullptr, name->Put());
}

ComPtr<Lumo::IAfsName> FsTest::Resolve(const std::wstring& text) {
    ComPtr<Lumo::IAfsName> name;
    HRESULT hr = TryResolve(text, &name);
    EXPECT_EQ(hr, S_OK) << "resolving " << ToUtf8(text);
    return name;
}

std::wstring FsTest::Text(Lumo::IAfsName* name) {
    Bstr text;
    EXPECT_EQ(m_fs->NameToText(name, 0, text.Put()), S_OK);
    return text.Text();
}

ComPtr<Lumo::IAfsFileHandle> FsTest::Open(const std::wstring& text, DWORD flags) {
    ComPtr<Lumo::IAfsName> name = Resolve(text);
    ComPtr<Lumo::IAfsFileHandle> handle;
    EXPECT_EQ(m_fs->Open(name.Get(), flags, nullptr, nullptr, handle.Put()), S_OK)
        << "opening " << ToUtf8(text);
    return handle;
}

std::vector<BYTE> FsTest::ReadToEnd(Lumo::IAfsFileHandle* handle, ULONG chunk) {
    std::vector<BYTE> bytes, buffer(chunk);
    for (;;) {
        ULONG read = 0;
        HRESULT hr = handle->Read(buffer.data(), chunk, &read, nullptr, nullptr);
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + read);
        if (hr != S_OK) {
            EXPECT_TRUE(hr == S_FALSE || hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF))
                << std::hex << hr;
            return bytes;
        }
    }
}

HRESULT FsTest::WritePattern(Lumo::IAfsFileHandle* handle, size_t size, size_t piece) {
    RETURN_IF_FAILED(handle->SetSize(static_cast<LONGLONG>(size), nullptr, nullptr));
    RETURN_IF_FAILED(handle->BeginWrite(nullptr, nullptr));
    for (size_t at = 0; at < size; at += piece) {
        std::vector<BYTE> bytes = Pattern(at, std::min(piece, size - at));
        ULONG written = 0;
        RETURN_IF_FAILED(handle->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written,
                                       nullptr, nullptr));
    }
    return handle->Commit(nullptr, nullptr);
}

} // namespace gd::test
