#include "host/emulated_host.h"
#include "tests/drivefs/fs_fixture.h"

#include <gtest/gtest.h>

namespace gd {
namespace {

using test::FsTest;
using test::Pattern;

// The host's view opens and saves documents through the file system the way
// the editor does.
class HostViewTest : public FsTest {
protected:
    void SetUp() override {
        FsTest::SetUp();
        ASSERT_EQ(MakeObject(&m_host), S_OK);
        m_host->SetCallTimeout(30000);
        ASSERT_EQ(m_host->Afs().RegisterFileSystem(m_fs.Get()), S_OK);
        ComPtr<Lumo::ILumoFrame> frame;
        ASSERT_EQ(m_host->GetMainFrame(nullptr, -1, frame.Put()), S_OK);
        ASSERT_EQ(frame->get_MainView(m_view.Put()), S_OK);
    }
    void TearDown() override {
        m_view.Reset();
        m_host->Afs().UnregisterFileSystem(m_fs.Get());
        m_host.Reset();
        FsTest::TearDown();
    }

    ComPtr<EmulatedHost> m_host;
    ComPtr<Lumo::ILumoView> m_view;
};

TEST_F(HostViewTest, OpensANameByReadingItLikeAViewer) {
    const size_t size = 700000;
    std::wstring id = test::CreatePatternFile(size);
    ComPtr<Lumo::IAfsName> name = Resolve(Link(id));
    m_host->SetOpenFileFlags(0x0001);
    ComPtr<Lumo::ILumoOpenParams> params;
    ASSERT_EQ(m_host->CreateOpenParams(params.Put()), S_OK);
    ASSERT_EQ(m_view->OpenDocument(name.Get(), params.Get(), 0, 0), S_OK);
    EXPECT_TRUE(m_host->OpenedDocument() == Pattern(0, size));
    ASSERT_EQ(m_host->Opens().size(), 1u);
    EXPECT_EQ(m_host->Opens()[0].open_file_flags, 0x0001);
    // The viewer's way: the end first, then blocks spread over the file.
    auto ranges = test::RequestLog();
    std::vector<std::string> asked;
    for (const auto& request : ranges) {
        if (request.path.find("alt=media") != std::string::npos)
            asked.push_back(request.headers.at("range"));
    }
    ASSERT_GT(asked.size(), 30u);
    EXPECT_EQ(asked[0].rfind("bytes=" + std::to_string(size - 1024) + "-", 0), 0u);
}

TEST_F(HostViewTest, AWriteBackInAnotherTypeIsRefusedAndSeen) {
    ComPtr<Lumo::ILumoOpenParams> params;
    ASSERT_EQ(m_host->CreateOpenParams(params.Put()), S_OK);
    ComPtr<Lumo::ILumoProperties> properties;
    ASSERT_EQ(params->get_Properties(properties.Put()), S_OK);
    ComPtr<Lumo::ILumoProperty> flags;
    ASSERT_EQ(properties->FindItem(L"OpenFileFlags", flags.Put()), S_OK);
    VARIANT wrong;
    VariantInit(&wrong);
    V_VT(&wrong) = VT_BOOL;
    V_BOOL(&wrong) = VARIANT_TRUE;
    EXPECT_EQ(flags->put_Value(wrong), DISP_E_TYPEMISMATCH);
    ComPtr<Lumo::IAfsName> name = Resolve(Link(test::CreatePatternFile(10)));
    ASSERT_EQ(m_view->OpenDocument(name.Get(), params.Get(), 0, 0), S_OK);
    EXPECT_TRUE(m_host->Opens().back().wrong_type_write);
}

TEST_F(HostViewTest, SavesTheActiveDocumentOrReportsWhyNot) {
    m_host->SetActiveDocument(Pattern(0, 2500000));
    ComPtr<Lumo::IAfsName> target = Resolve(L"gd://drive.google.com/googledriveidroot/Copy.pdf");
    ASSERT_EQ(
        m_view->SaveDocument(target.Get(), Lumo::LUMO_SaveMode_SaveAs, nullptr, 0, 0, 0, 0, 0),
        S_OK);
    std::wstring text = Text(target.Get());
    std::wstring id = text.substr(text.find(L"id=") + 3);
    EXPECT_EQ(test::ContentSha256(id), test::ContentSha256(test::CreatePatternFile(2500000)));
    // A failed upload is the save's failure, and the file stays as it was.
    test::AddFault(R"({"path": "/upload/drive/v2/files/", "method": "PUT", "status": 403,
                       "reason": "insufficientPermissions", "message": "no", "count": -1})");
    m_host->SetActiveDocument(Pattern(7, 100));
    EXPECT_TRUE(FAILED(
        m_view->SaveDocument(target.Get(), Lumo::LUMO_SaveMode_SaveAs, nullptr, 0, 0, 0, 0, 0)));
    EXPECT_TRUE(FAILED(m_host->Saves().back().result));
    EXPECT_EQ(test::ContentSha256(id), test::ContentSha256(test::CreatePatternFile(2500000)));
}

} // namespace
} // namespace gd
