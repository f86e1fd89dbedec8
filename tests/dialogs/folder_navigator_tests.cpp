#include "dialogs/folder_navigator.h"

#include "errors/codes.h"
#include "tests/dialogs/drive_dialog_fixture.h"
#include "tests/support/trace_collector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace gd {
namespace {

using test::kDialogDeadline;

// A listing's first page; the pages after it are asked for without the "/".
constexpr char kListingPath[] = "/drive/v2/files/?";
constexpr char kPagePath[] = "/drive/v2/files";

// Waits on the test's thread until done() holds.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout = kDialogDeadline) {
    const ULONGLONG deadline = GetTickCount64() + timeout;
    while (!done()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(5);
    }
    return true;
}

// Listing pages asked for, first pages and pages after them.
size_t ListingRequests() {
    std::vector<test::LoggedRequest> log = test::RequestLog();
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [](const auto& request) {
        return request.path.rfind(kListingPath, 0) == 0 ||
               request.path.rfind("/drive/v2/files?", 0) == 0;
    }));
}

// A navigator on the host's UI thread over Alice's Drive; completions are
// recorded with the thread they ran on.
class FolderNavigatorTest : public test::DriveDialogTest {
protected:
    void SetUp() override {
        DriveDialogTest::SetUp();
        m_root = MyDrive();
        ASSERT_TRUE(m_root);
        ASSERT_EQ(OnUi([this] { return MakeNavigator(), S_OK; }), S_OK);
    }
    void TearDown() override {
        OnUi([this] { return m_navigator.reset(), S_OK; });
        DriveDialogTest::TearDown();
    }

    void MakeNavigator() {
        m_navigator = std::make_unique<FolderNavigator>(
            ComPtr<Lumo::ILumoInstance>(&Host()), ComPtr<Lumo::IAfsFileSystem>(m_file_system.Get()),
            [this](HRESULT result) {
                m_results.push_back(result);
                m_on_ui_thread.push_back(Host().Ui().IsCurrent());
                ++m_completions;
                return S_OK;
            });
    }

    HRESULT OnUi(std::function<HRESULT()> work) { return Host().OnUi(std::move(work)); }

    HRESULT Navigate(Lumo::IAfsName* name) {
        return OnUi([&] { return m_navigator->Navigate(name); });
    }
    // Navigates and waits for the completion; its result.
    HRESULT NavigateAndWait(Lumo::IAfsName* name) {
        const int before = m_completions;
        HRESULT hr = Navigate(name);
        if (FAILED(hr))
            return hr;
        if (!WaitUntil([&] { return m_completions > before; }))
            return E_ABORT;
        return m_results.back();
    }

    std::wstring TitleOf(Lumo::IAfsFileInfo* info) {
        Bstr title;
        EXPECT_EQ(info->get_Title(title.Put()), S_OK);
        return title.Text();
    }
    // The entries' titles, in alphabetical order.
    std::vector<std::wstring> Titles() {
        std::vector<std::wstring> titles;
        OnUi([&] {
            for (const auto& entry : m_navigator->GetEntries())
                titles.push_back(TitleOf(entry.second.Get()));
            return S_OK;
        });
        std::sort(titles.begin(), titles.end());
        return titles;
    }
    ComPtr<Lumo::IAfsName> Entry(const std::wstring& title) {
        ComPtr<Lumo::IAfsName> found;
        OnUi([&] {
            for (const auto& entry : m_navigator->GetEntries())
                if (TitleOf(entry.second.Get()) == title)
                    found = entry.first;
            return S_OK;
        });
        EXPECT_TRUE(found) << "no entry " << testing::PrintToString(title);
        return found;
    }
    bool IsCurrentFolder(Lumo::IAfsName* name) {
        long same = Lumo::AFS_False;
        OnUi([&] {
            return m_file_system->CompareNames(m_navigator->GetFolder().Get(), name, &same);
        });
        return same == Lumo::AFS_True;
    }
    bool Traced(const char* expression) {
        std::wstring wanted(expression, expression + strlen(expression));
        wanted = L"\"" + wanted + L"\"";
        std::vector<std::wstring> traces = m_traces.Traces();
        return std::any_of(traces.begin(), traces.end(), [&](const std::wstring& text) {
            return text.find(wanted) != std::wstring::npos;
        });
    }

    ComPtr<Lumo::IAfsName> m_root;
    std::unique_ptr<FolderNavigator> m_navigator;
    std::atomic<int> m_completions{0};
    std::vector<HRESULT> m_results;
    std::vector<bool> m_on_ui_thread;
    test::TraceCollector m_traces;
};

TEST_F(FolderNavigatorTest, ListsFoldersAndTheFolderOfAFileOnTheUiThread) {
    ASSERT_EQ(NavigateAndWait(m_root.Get()), S_OK);
    std::vector<std::wstring> root = Titles();
    for (const wchar_t* title : {L"Projects", L"Welcome.pdf", L"Empty folder", L"Paging"})
        EXPECT_NE(std::find(root.begin(), root.end(), title), root.end()) << title;

    ASSERT_EQ(NavigateAndWait(Entry(L"Projects").Get()), S_OK);
    EXPECT_EQ(Titles(), (std::vector<std::wstring>{L"2024", L"Design notes.pdf"}));
    ComPtr<Lumo::IAfsName> year = Entry(L"2024");
    ASSERT_EQ(NavigateAndWait(year.Get()), S_OK);
    ComPtr<Lumo::IAfsName> budget = Entry(L"Budget 2024.pdf");

    // A file shows the folder it is in.
    ASSERT_EQ(NavigateAndWait(budget.Get()), S_OK);
    EXPECT_TRUE(IsCurrentFolder(year.Get()));
    EXPECT_EQ(Titles(), std::vector<std::wstring>{L"Budget 2024.pdf"});

    ASSERT_EQ(NavigateAndWait(m_root.Get()), S_OK);
    ASSERT_EQ(NavigateAndWait(Entry(L"Empty folder").Get()), S_OK);
    EXPECT_TRUE(Titles().empty());

    EXPECT_EQ(m_completions, 6);
    EXPECT_EQ(std::count(m_on_ui_thread.begin(), m_on_ui_thread.end(), false), 0);
}

TEST_F(FolderNavigatorTest, WithoutAFolderTheCompletionRunsAtOnceWithFalse) {
    HRESULT refreshed = E_PENDING;
    int completions_on_return = -1;
    ASSERT_EQ(OnUi([&] {
                  refreshed = m_navigator->Refresh();
                  completions_on_return = m_completions;
                  return S_OK;
              }),
              S_OK);
    EXPECT_EQ(refreshed, S_FALSE);
    EXPECT_EQ(completions_on_return, 1);
    EXPECT_EQ(m_results, std::vector<HRESULT>{S_FALSE});
    EXPECT_FALSE(m_navigator->IsRunning());
    EXPECT_TRUE(Titles().empty());
}

TEST_F(FolderNavigatorTest, ANavigationWhileOneRunsIsRefusedAndChangesNothing) {
    ASSERT_EQ(NavigateAndWait(m_root.Get()), S_OK);
    ComPtr<Lumo::IAfsName> projects = Entry(L"Projects");
    ComPtr<Lumo::IAfsName> empty = Entry(L"Empty folder");
    test::AddFault(std::string(R"({"path": ")") + kListingPath + R"(", "delay_ms": 1500})");
    m_traces.Clear();

    ASSERT_EQ(Navigate(projects.Get()), S_OK);
    EXPECT_EQ(Navigate(empty.Get()), E_FAIL);
    EXPECT_EQ(OnUi([&] { return m_navigator->Refresh(); }), E_FAIL);
    EXPECT_TRUE(Traced("!m_is_running.exchange(true)"));
    EXPECT_TRUE(IsCurrentFolder(projects.Get()));

    ASSERT_TRUE(WaitUntil([&] { return m_completions == 2; }));
    EXPECT_EQ(m_results.back(), S_OK);
    EXPECT_EQ(Titles(), (std::vector<std::wstring>{L"2024", L"Design notes.pdf"}));
    Sleep(200);
    EXPECT_EQ(m_completions, 2);
}

TEST_F(FolderNavigatorTest, AFailedListingReachesTheCompletionNotTheCaller) {
    ASSERT_EQ(NavigateAndWait(m_root.Get()), S_OK);
    ComPtr<Lumo::IAfsName> projects = Entry(L"Projects");
    test::AddFault(std::string(R"({"path": ")") + kListingPath +
                   R"(", "status": 404, "reason": "notFound", "message": "File not found"})");
    m_traces.Clear();

    ASSERT_EQ(Navigate(projects.Get()), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return m_completions == 2; }));
    EXPECT_TRUE(FAILED(m_results.back()));
    EXPECT_NE(m_results.back(), GD_E_CANCELLED);
    EXPECT_TRUE(Traced("enum_folder->Next(&enum_item)"));
    EXPECT_FALSE(m_navigator->IsRunning());

    // The navigator stays usable.
    ASSERT_EQ(NavigateAndWait(projects.Get()), S_OK);
    EXPECT_EQ(Titles(), (std::vector<std::wstring>{L"2024", L"Design notes.pdf"}));
}

TEST_F(FolderNavigatorTest, AStopDuringALongListingEndsWithinAPageAndPostsNothing) {
    // Twelve pages of five, each answered slowly.
    test::EmulatorControl(L"POST", L"/_emu/drive", R"({"page_cap": 5})");
    AddFolder("Sixty", 60);
    ASSERT_EQ(NavigateAndWait(m_root.Get()), S_OK);
    ComPtr<Lumo::IAfsName> bulk = Entry(L"Sixty");
    test::AddFault(std::string(R"({"path": ")") + kPagePath +
                   R"(", "delay_ms": 300, "count": -1})");
    const size_t before = ListingRequests();

    ASSERT_EQ(Navigate(bulk.Get()), S_OK);
    // The first page is in and the second asked for.
    ASSERT_TRUE(WaitUntil([&] { return ListingRequests() >= before + 2; }));
    const size_t at_stop = ListingRequests();
    ASSERT_EQ(OnUi([&] { return m_navigator.reset(), S_OK; }), S_OK);
    EXPECT_LE(ListingRequests(), at_stop + 1);
    EXPECT_EQ(m_completions, 1);
}

TEST_F(FolderNavigatorTest, TheCompletionMayDestroyTheNavigator) {
    // After a listing on the worker, and at once without a folder.
    for (const bool listed : {true, false}) {
        SCOPED_TRACE(listed ? "listed" : "no folder");
        m_results.clear();
        m_completions = 0;
        std::vector<bool> state_lived;
        auto navigated = std::async(std::launch::async, [&] {
            return OnUi([&] {
                m_navigator = std::make_unique<FolderNavigator>(
                    ComPtr<Lumo::ILumoInstance>(&Host()),
                    ComPtr<Lumo::IAfsFileSystem>(m_file_system.Get()),
                    [&, state = std::make_shared<int>()](HRESULT result) {
                        std::weak_ptr<int> watch = state;
                        m_results.push_back(result);
                        m_navigator.reset();
                        // The running completion's own captures are still there.
                        state_lived.push_back(!watch.expired());
                        ++m_completions;
                        return S_OK;
                    });
                return listed ? m_navigator->Navigate(m_root.Get()) : m_navigator->Refresh();
            });
        });
        ASSERT_EQ(navigated.wait_for(std::chrono::milliseconds(kDialogDeadline)),
                  std::future_status::ready);
        ASSERT_EQ(navigated.get(), listed ? S_OK : S_FALSE);
        ASSERT_TRUE(WaitUntil([&] { return m_completions == 1; }));
        // The UI thread is free again and the destroyed navigator's worker ended.
        auto later = std::async(std::launch::async, [&] { return OnUi([] { return S_OK; }); });
        ASSERT_EQ(later.wait_for(std::chrono::milliseconds(kDialogDeadline)),
                  std::future_status::ready)
            << "the UI thread hangs in the destroyed navigator";
        EXPECT_EQ(later.get(), S_OK);
        EXPECT_EQ(m_results, std::vector<HRESULT>{listed ? S_OK : S_FALSE});
        EXPECT_EQ(state_lived, std::vector<bool>{true});
        EXPECT_FALSE(m_navigator);
    }
}

TEST_F(FolderNavigatorTest, NoNavigationStartsInsideTheCompletionEvenAfterAStop) {
    HRESULT inside = S_OK;
    ASSERT_EQ(OnUi([&] {
                  m_navigator = std::make_unique<FolderNavigator>(
                      ComPtr<Lumo::ILumoInstance>(&Host()),
                      ComPtr<Lumo::IAfsFileSystem>(m_file_system.Get()), [&](HRESULT) {
                          m_navigator->Stop();
                          inside = m_navigator->Navigate(m_root.Get());
                          ++m_completions;
                          return S_OK;
                      });
                  return m_navigator->Navigate(m_root.Get());
              }),
              S_OK);
    ASSERT_TRUE(WaitUntil([&] { return m_completions == 1; }));
    EXPECT_EQ(inside, E_FAIL);
    // Once the completion returned, navigating works again.
    EXPECT_EQ(Navigate(m_root.Get()), S_OK);
    EXPECT_TRUE(WaitUntil([&] { return m_completions == 2; }));
}

TEST_F(FolderNavigatorTest, AStopWhileTheWorkerWaitsForTheUiThreadEndsWithoutAHang) {
    ASSERT_EQ(NavigateAndWait(m_root.Get()), S_OK);
    ComPtr<Lumo::IAfsName> empty = Entry(L"Empty folder");
    const int completions = m_completions;
    for (int round = 0; round < 20; ++round) {
        auto stopped = std::async(std::launch::async, [&] {
            return OnUi([&]() -> HRESULT {
                RETURN_IF_FAILED(m_navigator->Navigate(empty.Get()));
                // The worker lists the folder and then waits for this thread
                // (besides the test's own call waiting for this work).
                if (!WaitUntil([&] { return Host().WaitingUiCalls() > 1; }))
                    return E_ABORT;
                m_navigator->Stop();
                return S_OK;
            });
        });
        ASSERT_EQ(stopped.wait_for(std::chrono::milliseconds(kDialogDeadline)),
                  std::future_status::ready)
            << "the stop hangs in round " << round;
        ASSERT_EQ(stopped.get(), S_OK) << "round " << round;
        EXPECT_FALSE(m_navigator->IsRunning());
    }
    // Every stopped completion was dropped, also the ones the UI thread ran later.
    ASSERT_EQ(OnUi([] { return S_OK; }), S_OK);
    EXPECT_EQ(m_completions, completions);
}

} // namespace
} // namespace gd
