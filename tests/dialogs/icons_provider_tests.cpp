#include "dialogs/icons_provider.h"

#include "host/emulated_host.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace gd {
namespace {

// The provider on the emulated host's UI service, on its UI thread.
class IconsProviderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MakeObject(&m_host), S_OK); }
    void TearDown() override {
        m_host->OnUi([this] { return m_icons.reset(), S_OK; });
    }
    HRESULT OnUi(std::function<HRESULT()> work) { return m_host->OnUi(std::move(work)); }
    UixHost& Uix() { return m_host->Uix(); }
    void MakeProvider() {
        m_icons = std::make_unique<IconsProvider>(ComPtr<Lumo::IUixInstance>(&Uix()));
    }
    // The icon of a key and what the host made it for.
    HRESULT Icon(const wchar_t* extension, ComPtr<Lumo::IUixImage>* icon) {
        return OnUi([&] { return m_icons->GetIcon(icon->Put(), extension); });
    }
    static std::wstring KeyOf(const ComPtr<Lumo::IUixImage>& icon) {
        return icon ? static_cast<HostImage*>(icon.Get())->m_key : L"<none>";
    }

    ComPtr<EmulatedHost> m_host;
    std::unique_ptr<IconsProvider> m_icons;
};

TEST_F(IconsProviderTest, AsksTheHostOncePerKeyIgnoringCase) {
    ASSERT_EQ(OnUi([this] { return MakeProvider(), S_OK; }), S_OK);
    struct Case {
        const wchar_t* extension;
        const wchar_t* made_for; // what the host's icon stands for
    } cases[] = {
        {L"../", L"ico.folder.opened"},
        {L"./", L"ico.folder"},
        {L".PDF", L".PDF"},
        {L".pdf", L".PDF"},
        {L".txt", L".txt"},
        {L"", L"."},
        {nullptr, L"."},
        {L".", L"."},
        {L"../", L"ico.folder.opened"},
    };
    ComPtr<Lumo::IUixImage> first_pdf;
    for (const Case& c : cases) {
        ComPtr<Lumo::IUixImage> icon;
        ASSERT_EQ(Icon(c.extension, &icon), S_OK) << (c.extension ? c.extension : L"null");
        EXPECT_EQ(KeyOf(icon), c.made_for) << (c.extension ? c.extension : L"null");
        if (std::wstring(c.made_for) == L".PDF") {
            if (!first_pdf)
                first_pdf = icon;
            EXPECT_EQ(icon.Get(), first_pdf.Get());
        }
    }
    for (const wchar_t* key : {L"ico.folder.opened", L"ico.folder", L".PDF", L".txt", L"."})
        EXPECT_EQ(Uix().IconCalls(key), 1) << key;
    EXPECT_EQ(Uix().IconCalls(L".pdf"), 0);
}

TEST_F(IconsProviderTest, AFailureCachesNothingAndTheNextRequestAsksAgain) {
    ASSERT_EQ(OnUi([this] { return MakeProvider(), S_OK; }), S_OK);
    EXPECT_EQ(OnUi([this] { return m_icons->GetIcon(nullptr, L".pdf"); }), E_POINTER);
    EXPECT_EQ(Uix().IconCalls(L".pdf"), 0);

    Uix().SetThemeFailure(E_ACCESSDENIED);
    ComPtr<Lumo::IUixImage> icon;
    EXPECT_EQ(Icon(L".pdf", &icon), E_ACCESSDENIED);
    EXPECT_FALSE(icon);
    EXPECT_EQ(Icon(L"./", &icon), E_ACCESSDENIED);
    Uix().SetThemeFailure(S_OK);

    ASSERT_EQ(Icon(L".pdf", &icon), S_OK);
    EXPECT_EQ(KeyOf(icon), L".pdf");
    ASSERT_EQ(Icon(L"./", &icon), S_OK);
    EXPECT_EQ(KeyOf(icon), L"ico.folder");
    EXPECT_EQ(Uix().IconCalls(L".pdf"), 1);
    EXPECT_EQ(Uix().IconCalls(L"ico.folder"), 1);
}

} // namespace
} // namespace gd
