#include "plugin/resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

// GD_PLUGIN_MODULE, GD_RESOURCES_DIR and GD_VERSION_* come from the build.

namespace gd {
namespace {

std::string ReadFile(const std::string& name) {
    std::ifstream file(std::string(GD_RESOURCES_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(file.is_open()) << name;
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string AsText(const BYTE* data, DWORD size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Reads in odd-sized pieces until the stream reports nothing more.
std::string ReadAll(IStream* stream) {
    std::string text;
    char buffer[1000];
    for (;;) {
        ULONG read = 0;
        HRESULT hr = stream->Read(buffer, sizeof buffer, &read);
        EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
        text.append(buffer, read);
        if (FAILED(hr) || read == 0)
            return text;
    }
}

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};
using StreamPtr = std::unique_ptr<IStream, ComRelease>;

class PluginResources : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_module = LoadLibraryExA(GD_PLUGIN_MODULE, nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() {
        if (s_module != nullptr)
            FreeLibrary(s_module);
        s_module = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_module, nullptr) << GD_PLUGIN_MODULE; }

    static HMODULE s_module;
};
HMODULE PluginResources::s_module = nullptr;

struct XmlCase {
    WORD id;
    const char* file;
};
constexpr XmlCase kXmlCases[] = {{kLayoutsResourceId, "dialogs.xml"},
                                 {kStringsResourceId, "strings.xml"},
                                 {kSignInLayoutsResourceId, "sign_in_dialogs.xml"},
                                 {kSignInStringsResourceId, "sign_in_strings.xml"}};

TEST_F(PluginResources, XmlDocumentsAreByteExactWithBomAndCrLf) {
    for (const XmlCase& c : kXmlCases) {
        SCOPED_TRACE(c.file);
        std::string expected = ReadFile(c.file);
        // Guards the files themselves against line-end conversion.
        EXPECT_EQ(expected.rfind("\xEF\xBB\xBF<?xml", 0), 0u);
        EXPECT_EQ(expected.substr(expected.size() - 2), "\r\n");
        for (size_t at = expected.find('\n'); at != std::string::npos;
             at = expected.find('\n', at + 1))
            ASSERT_EQ(expected[at - 1], '\r') << "bare line feed at " << at;

        const BYTE* data = nullptr;
        DWORD size = 0;
        ASSERT_EQ(GetResourceBytes(s_module, kXmlResourceType, c.id, &data, &size), S_OK);
        EXPECT_EQ(AsText(data, size), expected);
    }
}

TEST_F(PluginResources, StreamHoldsExactlyTheResource) {
    for (const XmlCase& c : kXmlCases) {
        SCOPED_TRACE(c.file);
        std::string expected = ReadFile(c.file);
        IStream* raw = nullptr;
        ASSERT_EQ(CreateResourceStream(s_module, kXmlResourceType, c.id, &raw), S_OK);
        StreamPtr stream(raw);

        STATSTG stat{};
        ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(stat.cbSize.QuadPart, expected.size());
        EXPECT_EQ(ReadAll(stream.get()), expected);

        LARGE_INTEGER start{};
        ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
        EXPECT_EQ(ReadAll(stream.get()), expected);
    }
}

TEST_F(PluginResources, StreamRefusesChanges) {
    IStream* raw = nullptr;
    ASSERT_EQ(CreateResourceStream(s_module, kXmlResourceType, kStringsResourceId, &raw), S_OK);
    StreamPtr stream(raw);
    std::string expected = ReadFile("strings.xml");

    LARGE_INTEGER start{};
    ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    ULONG written = 123;
    EXPECT_TRUE(FAILED(stream->Write("xx", 2, &written)));
    EXPECT_EQ(written, 0u);
    ULARGE_INTEGER size{};
    EXPECT_TRUE(FAILED(stream->SetSize(size)));
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.grfMode & (STGM_WRITE | STGM_READWRITE), 0u);

    // A clone is just as read-only and reads the same bytes.
    IStream* rawClone = nullptr;
    ASSERT_EQ(stream->Clone(&rawClone), S_OK);
    StreamPtr clone(rawClone);
    EXPECT_TRUE(FAILED(clone->Write("xx", 2, nullptr)));
    ASSERT_EQ(clone->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(ReadAll(clone.get()), expected);
    EXPECT_EQ(ReadAll(stream.get()), expected);
}

TEST_F(PluginResources, CommandIconsArePngOfTheirSize) {
    constexpr unsigned kSizes[] = {16, 24, 32, 48};
    for (size_t i = 0; i < std::size(kCommandIconIds); ++i) {
        unsigned side = kSizes[i];
        SCOPED_TRACE(side);
        const BYTE* data = nullptr;
        DWORD size = 0;
        ASSERT_EQ(GetPngResource(s_module, kCommandIconIds[i], &data, &size), S_OK);
        ASSERT_GE(size, 33u);
        EXPECT_EQ(std::memcmp(data, "\x89PNG\r\n\x1A\n", 8), 0);
        EXPECT_EQ(std::memcmp(data + 12, "IHDR", 4), 0);
        auto be32 = [&](size_t at) {
            return (unsigned(data[at]) << 24) | (unsigned(data[at + 1]) << 16) |
                   (unsigned(data[at + 2]) << 8) | unsigned(data[at + 3]);
        };
        EXPECT_EQ(be32(16), side);
        EXPECT_EQ(be32(20), side);
        EXPECT_EQ(data[24], 8) << "bit depth";
        EXPECT_EQ(data[25], 6) << "colour type RGBA";
        EXPECT_EQ(AsText(data, size), ReadFile("command" + std::to_string(side) + ".png"));
    }
}

TEST_F(PluginResources, ManifestRequestsAsInvokerAndCommonControls) {
    const BYTE* data = nullptr;
    DWORD size = 0;
    ASSERT_EQ(GetResourceBytes(s_module, MAKEINTRESOURCEW(24), 2, &data, &size), S_OK);
    std::string manifest = AsText(data, size);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("processorArchitecture=\"amd64\""), std::string::npos);
}

TEST_F(PluginResources, VersionCarriesTheProjectVersion) {
    const BYTE* data = nullptr;
    DWORD size = 0;
    ASSERT_EQ(GetResourceBytes(s_module, MAKEINTRESOURCEW(16), 1, &data, &size), S_OK);
    // VS_VERSIONINFO: length, value length, type, L"VS_VERSION_INFO\0", padding to 4.
    constexpr size_t kFixedAt = 6 + sizeof(L"VS_VERSION_INFO") + 2;
    ASSERT_GE(size, kFixedAt + sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, data + kFixedAt, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, DWORD(MAKELONG(GD_VERSION_MINOR, GD_VERSION_MAJOR)));
    EXPECT_EQ(fixed.dwFileVersionLS, DWORD(MAKELONG(0, GD_VERSION_PATCH)));
    EXPECT_EQ(fixed.dwFileType, DWORD(VFT_DLL));
}

TEST_F(PluginResources, MissingResourceGivesFailureAndNothing) {
    IStream* stream = reinterpret_cast<IStream*>(1);
    EXPECT_TRUE(FAILED(CreateResourceStream(s_module, kXmlResourceType, 5, &stream)));
    EXPECT_EQ(stream, nullptr);
    // Right id, wrong type.
    stream = reinterpret_cast<IStream*>(1);
    EXPECT_TRUE(
        FAILED(CreateResourceStream(s_module, kPngResourceType, kLayoutsResourceId, &stream)));
    EXPECT_EQ(stream, nullptr);

    const BYTE* data = reinterpret_cast<const BYTE*>(1);
    DWORD size = 7;
    EXPECT_TRUE(FAILED(GetPngResource(s_module, 110, &data, &size)));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);

    EXPECT_EQ(CreateResourceStream(s_module, kXmlResourceType, kStringsResourceId, nullptr),
              E_POINTER);
}

TEST(ResourceModules, OwnModuleAndModuleOfAnAddress) {
    HMODULE own = nullptr;
    ASSERT_EQ(GetOwnModule(&own), S_OK);
    EXPECT_EQ(own, GetModuleHandleW(nullptr));

    // Loaded as an image: the module holding its export is the loaded one,
    // and its resources are found through that handle.
    HMODULE plugin = LoadLibraryA(GD_PLUGIN_MODULE);
    ASSERT_NE(plugin, nullptr) << GetLastError();
    auto entry = GetProcAddress(plugin, "LUME_GetPlugin");
    ASSERT_NE(entry, nullptr);
    HMODULE found = nullptr;
    EXPECT_EQ(GetModuleOf(reinterpret_cast<const void*>(entry), &found), S_OK);
    EXPECT_EQ(found, plugin);

    IStream* raw = nullptr;
    ASSERT_EQ(CreateResourceStream(found, kXmlResourceType, kStringsResourceId, &raw), S_OK);
    StreamPtr stream(raw);
    EXPECT_EQ(ReadAll(stream.get()), ReadFile("strings.xml"));
    stream.reset();
    FreeLibrary(plugin);

    EXPECT_TRUE(FAILED(GetModuleOf(nullptr, &found)));
    EXPECT_EQ(found, nullptr);
}

TEST(ResourceStreams, CopyIsIndependentOfTheSource) {
    char source[] = "abc\r\ndef";
    IStream* raw = nullptr;
    ASSERT_EQ(CreateStreamOnCopy(source, sizeof source - 1, &raw), S_OK);
    StreamPtr stream(raw);
    source[0] = 'X';
    EXPECT_EQ(ReadAll(stream.get()), "abc\r\ndef");

    ASSERT_EQ(CreateStreamOnCopy(nullptr, 0, &raw), S_OK);
    StreamPtr empty(raw);
    EXPECT_EQ(ReadAll(empty.get()), "");
}

} // namespace
} // namespace gd
