// An account signed in through the plug-in's own dialog, the host's browser
// approving the consent, then used for every kind of Drive request.
#include "auth/browser_sign_in.h"
#include "auth/client_credentials.h"
#include "auth/sign_in_dialog.h"
#include "driveapi/account_requests.h"
#include "driveapi/files.h"
#include "driveapi/upload.h"
#include "driveapi/user_info.h"
#include "tests/auth/auth_support.h"
#include "tests/driveapi/drive_fixture.h"
#include "tests/support/host_sign_in.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace gd {
namespace {

using test::SeedId;

std::string ReadStart(const std::shared_ptr<DriveAccount>& account, std::shared_ptr<DriveFile> file,
                      DWORD count) {
    std::unique_ptr<DriveReader> reader;
    EXPECT_EQ(OpenAccountReader(account, file, reader), S_OK);
    if (!reader)
        return {};
    std::string bytes(count, '\0');
    DWORD read = 0;
    EXPECT_EQ(reader->Read(bytes.data(), count, &read), S_OK);
    bytes.resize(read);
    return bytes;
}

// Both sign-in flows, whichever the build picked: the embedded one's dialog,
// or the browser one's wait dialog while the test browser answers.
struct Flow {
    const char* name;
    HRESULT (*signIn)(const std::wstring&, const std::vector<std::wstring>&, AuthorizationCode&);
    const wchar_t* dialog;
};

const Flow kFlows[] = {{"embedded", &SignInThroughHost, L"DlgAuth"},
                       {"browser", &SignInThroughBrowser, L"DlgSignInWait"}};

class SignInFlow : public ::testing::TestWithParam<Flow> {
protected:
    void SetUp() override { m_built_in = SetInteractiveSignIn(GetParam().signIn); }
    void TearDown() override { SetInteractiveSignIn(m_built_in); }

    InteractiveSignIn m_built_in;
};

size_t AuthDialogsMade(EmulatedHost& host, const wchar_t* layout) {
    auto dialogs = host.Uix().Dialogs();
    return std::count_if(dialogs.begin(), dialogs.end(),
                         [layout](const auto& dialog) { return dialog->LayoutId() == layout; });
}

TEST_P(SignInFlow, TheAccountMakesEveryKindOfRequest) {
    test::ResetEmulator();
    test::UseEmulator();
    test::HostSignIn signIn;
    signIn.Host().SetBrowserScript({BrowserAction::Approve, L"alice.emulator@example.com"});
    auto account = std::make_shared<DriveAccount>(BuiltInClientId(), BuiltInClientSecret());
    RequestRunner runner = AccountRunner(account);

    // The first request finds no tokens and signs in through the dialog.
    std::shared_ptr<DriveUserInfo> info;
    ASSERT_EQ(signIn.Run([&] {
        return runner([&](const std::wstring& token) { return GetUserInfo(token, info); });
    }),
              S_OK);
    EXPECT_EQ(account->Name(), test::kAliceId);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->id, test::kAliceId);

    std::vector<std::wstring> titles;
    FolderEnumerator root(account, nullptr);
    for (std::shared_ptr<DriveFile> entry; root.Next(entry) == S_OK;)
        titles.push_back(entry->item->title);
    EXPECT_NE(std::find(titles.begin(), titles.end(), L"Welcome.pdf"), titles.end());

    // Ranged download, and a Google Docs document through its export link.
    std::shared_ptr<DriveFile> welcome, doc;
    ASSERT_EQ(runner([&](const std::wstring& token) {
                  return GetFile(token, SeedId("1aliceWelcome"), welcome);
              }),
              S_OK);
    EXPECT_EQ(ReadStart(account, welcome, 5), "%PDF-");
    ASSERT_EQ(runner([&](const std::wstring& token) {
                  return GetFile(token, SeedId("1aliceMeetingDoc"), doc);
              }),
              S_OK);
    ASSERT_TRUE(doc->item->download_url.empty());
    EXPECT_EQ(ReadStart(account, doc, 5), "%PDF-");

    // A new file's metadata, then its content through a resumable upload.
    std::shared_ptr<DriveFile> created;
    ASSERT_EQ(runner([&](const std::wstring& token) {
                  return CreateFileMetadata(token, nullptr, L"Signed in.pdf", L"",
                                            L"application/pdf", created);
              }),
              S_OK);
    std::vector<BYTE> content(300);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = test::PatternByte(i);
    std::unique_ptr<DriveUploadWriter> writer;
    ASSERT_EQ(OpenAccountUpload(account, created.get(), 300, writer), S_OK);
    DWORD written = 0;
    ASSERT_EQ(writer->Write(content.data(), 300, &written), S_OK);
    ASSERT_EQ(writer->Finish(), S_OK);
    EXPECT_EQ(test::ContentSha256(created->id), test::ContentSha256(test::CreatePatternFile(300)));

    // An expired token is refreshed; the dialog is not shown again.
    test::EmulatorControl(L"POST", L"/_emu/tokens", R"({"expire_all": true})");
    std::shared_ptr<DriveFile> again;
    EXPECT_EQ(signIn.Run([&] {
        return runner([&](const std::wstring& token) {
            return GetFile(token, SeedId("1aliceWelcome"), again);
        });
    }),
              S_OK);
    EXPECT_EQ(AuthDialogsMade(signIn.Host(), GetParam().dialog), 1u);
    EXPECT_EQ(signIn.Host().Browser().Alive(), 0);
}

// A request through an account: whether it reached Drive as the user.
HRESULT AskUser(const std::shared_ptr<DriveAccount>& account,
                const wchar_t* user = test::kAliceId) {
    std::shared_ptr<DriveUserInfo> info;
    HRESULT hr =
        AccountRunner(account)([&](const std::wstring& token) { return GetUserInfo(token, info); });
    if (SUCCEEDED(hr) && (!info || info->id != user))
        return E_UNEXPECTED;
    return hr;
}

TEST_P(SignInFlow, TwoThreadsNeedingTheSameSignInShareOneDialog) {
    test::ResetEmulator();
    test::UseEmulator();
    test::HostSignIn signIn;
    signIn.Host().SetBrowserScript({BrowserAction::Approve, L"alice.emulator@example.com"});
    // The consent's answer comes late, so that the second request needs its
    // token while the first one's sign-in still runs.
    test::AddFault(R"({"path": "/o/oauth2/approval", "method": "POST", "delay_ms": 1500})");
    auto account = std::make_shared<DriveAccount>(BuiltInClientId(), BuiltInClientSecret());

    std::future<HRESULT> first = std::async(std::launch::async, [&] { return AskUser(account); });
    ASSERT_TRUE(UiThread::PumpUntil([] { return !test::RequestsTo("/o/oauth2/approval").empty(); },
                                    test::kSignInDeadline));
    EXPECT_EQ(signIn.Run([&] { return AskUser(account); }), S_OK);
    ASSERT_EQ(first.wait_for(std::chrono::milliseconds(test::kSignInDeadline)),
              std::future_status::ready);
    EXPECT_EQ(first.get(), S_OK);

    EXPECT_EQ(AuthDialogsMade(signIn.Host(), GetParam().dialog), 1u);
    EXPECT_EQ(test::RequestsTo("/oauth2/v3/token").size(), 1u);
    EXPECT_EQ(account->Name(), test::kAliceId);
}

TEST_P(SignInFlow, TwoAccountsSignInOneAfterTheOther) {
    test::ResetEmulator();
    test::UseEmulator();
    test::HostSignIn signIn;
    auto alice = std::make_shared<DriveAccount>(BuiltInClientId(), BuiltInClientSecret());
    auto bob = std::make_shared<DriveAccount>(BuiltInClientId(), BuiltInClientSecret());

    signIn.Host().SetBrowserScript({BrowserAction::Approve, L"alice.emulator@example.com"});
    EXPECT_EQ(signIn.Run([&] { return AskUser(alice); }), S_OK);
    signIn.Host().SetBrowserScript({BrowserAction::Approve, L"bob.emulator@example.org"});
    EXPECT_EQ(signIn.Run([&] { return AskUser(bob, test::kBobId); }), S_OK);
    // Each keeps its own tokens: asking again signs in neither once more.
    EXPECT_EQ(signIn.Run([&] { return AskUser(alice); }), S_OK);
    EXPECT_EQ(signIn.Run([&] { return AskUser(bob, test::kBobId); }), S_OK);

    EXPECT_EQ(alice->Name(), test::kAliceId);
    EXPECT_EQ(bob->Name(), test::kBobId);
    EXPECT_EQ(AuthDialogsMade(signIn.Host(), GetParam().dialog), 2u);
    EXPECT_EQ(test::RequestsTo("/oauth2/v3/token").size(), 2u);
}

TEST_P(SignInFlow, TheUiThreadNeverWaitsForTheSignInItRuns) {
    test::ResetEmulator();
    test::UseEmulator();
    test::HostSignIn signIn;
    signIn.Host().SetBrowserScript({BrowserAction::Wait, L""});
    auto account = std::make_shared<DriveAccount>(BuiltInClientId(), BuiltInClientSecret());
    auto other = std::make_shared<DriveAccount>(BuiltInClientId(), BuiltInClientSecret());

    std::future<HRESULT> running =
        std::async(std::launch::async, [&] { return SignInAccount(*account); });
    ComPtr<HostDialog> dialog =
        signIn.Host().Uix().WaitForDialog(GetParam().dialog, test::kSignInDeadline);
    ASSERT_TRUE(dialog);
    // Work the UI thread runs inside that dialog's modal loop; a dialog of
    // its own would never end, the deadline then closes it.
    auto onUi = [&](std::function<HRESULT()> work) {
        return signIn.Run([&] { return signIn.Host().OnUi(work); });
    };
    std::wstring token;
    EXPECT_EQ(onUi([&] { return SignInAccount(*account); }), E_FAIL);
    EXPECT_EQ(onUi([&] { return other->GetAccessToken(token); }), E_FAIL);
    EXPECT_EQ(AuthDialogsMade(signIn.Host(), GetParam().dialog), 1u);

    // Closes whatever dialogs there are, also any the UI thread opened.
    EXPECT_EQ(signIn.Host().OnUi([&] { return signIn.Host().Uix().CancelModalDialogs(), S_OK; }),
              S_OK);
    ASSERT_EQ(running.wait_for(std::chrono::milliseconds(test::kSignInDeadline)),
              std::future_status::ready);
    EXPECT_EQ(running.get(), GD_E_CANCELLED);
}

INSTANTIATE_TEST_SUITE_P(BothFlows, SignInFlow, ::testing::ValuesIn(kFlows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace gd
