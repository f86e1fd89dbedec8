#include "errors/codes.h"
#include "errors/registry.h"
#include "http/status_texts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace gd {
namespace {

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

std::wstring StatusTag(unsigned status) {
    return L"HTTP status codes (" + std::to_wstring(status) + L").";
}

TEST(StatusTextInetUtils, NamesTheSubsystemAndDescribesA404) {
    HRESULT notFound = MakeHttpStatusError(kSubsystemInetUtils, 404);
    ASSERT_EQ(notFound, static_cast<HRESULT>(0x82211194));
    std::wstring text = DescribeError(notFound);
    EXPECT_TRUE(Contains(text, L"[InetUtils]")) << text;
    EXPECT_TRUE(Contains(text, L"HTTP status codes (404). The server has not found anything "
                               L"matching the requested URI (Uniform Resource Identifier)"))
        << text;
    EXPECT_TRUE(Contains(DescribeError(static_cast<HRESULT>(0x82211001)), L"No permissions"));
}

TEST(StatusTextInetUtils, EachRowCarriesItsOwnStatusAndOthersAreUnknown) {
    const std::set<unsigned> withRow = {300, 301, 302, 303, 304, 305, 307, 400, 401, 402,
                                        403, 404, 405, 406, 407, 408, 409, 410, 411, 412,
                                        413, 414, 415, 449, 500, 501, 502, 503, 504, 505};
    for (unsigned status = 300; status < 600; ++status) {
        HRESULT code = MakeHttpStatusError(kSubsystemInetUtils, status);
        std::wstring text = DescribeError(code, true);
        if (withRow.count(status)) {
            EXPECT_EQ(text.rfind(StatusTag(status), 0), 0u) << status << ": " << text;
        } else {
            EXPECT_FALSE(Contains(text, L"HTTP status codes")) << status << ": " << text;
        }
    }
}

TEST(StatusTextInetUtils, TooManyRequestsHasNoRow) {
    HRESULT code = MakeHttpStatusError(kSubsystemInetUtils, 429);
    ASSERT_EQ(code, static_cast<HRESULT>(0x822111AD));
    std::wstring text = DescribeError(code);
    EXPECT_TRUE(Contains(text, L"Unknown error: 0x822111AD.")) << text;
}

TEST(StatusTextInetUtils, UnregisteringRemovesTheTable) {
    HRESULT notFound = MakeHttpStatusError(kSubsystemInetUtils, 404);
    UnregisterInetUtilsErrors();
    std::wstring without = DescribeError(notFound);
    RegisterInetUtilsErrors();
    EXPECT_FALSE(Contains(without, StatusTag(404))) << without;
    EXPECT_TRUE(Contains(DescribeError(notFound), StatusTag(404)));
}

} // namespace
} // namespace gd
