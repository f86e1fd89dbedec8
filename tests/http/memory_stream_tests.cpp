#include "errors/codes.h"
#include "http/memory_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace gd {
namespace {

std::string Contents(const MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.GetSize());
}

HRESULT WriteText(ByteSink& sink, const std::string& text, size_t* written = nullptr) {
    return sink.Write(text.data(), text.size(), written);
}

TEST(MemoryStream, CreateChoosesTheFirstCapacityAndNormalisesGrowth) {
    struct Case {
        size_t size;
        int growth;
        size_t capacity;
        int normalised;
    } cases[] = {
        {0, -2, 4096, -2},    {0, 0, 4096, -2},    {0, -9, 4096, -4},
        {0, 100, 100, 100},   {10, 100, 100, 100}, {150, 100, 200, 100},
        {5000, -2, 5000, -2}, {7, -3, 7, -3},      {300, 1, 300, 1},
    };
    for (const Case& c : cases) {
        MemoryStream stream;
        ASSERT_EQ(stream.Create(c.size, c.growth), S_OK) << c.size << "," << c.growth;
        EXPECT_EQ(stream.Capacity(), c.capacity) << c.size << "," << c.growth;
        EXPECT_EQ(stream.Growth(), c.normalised) << c.size << "," << c.growth;
        EXPECT_EQ(stream.GetSize(), 0u);
        EXPECT_NE(stream.Data(), nullptr);
    }
}

TEST(MemoryStream, GrowsByTheRulesOfItsGrowthValue) {
    struct Case {
        size_t created;
        int growth;
        size_t newSize;
        size_t capacity;
    } cases[] = {
        {4096, -2, 4097, 8192},    // below 4097 bytes: straight to 8192
        {4096, -2, 9000, 12288},   // 8192 is short: size rounded up to 4096
        {4097, -2, 4098, 6145},    // adds half
        {8192, -2, 8193, 12288},   //
        {8192, 0, 8193, 12288},    // 0 counts as -2
        {8192, -4, 8193, 10240},   // adds a quarter
        {8192, -9, 8193, 10240},   // below -4 counts as -4
        {10000, -3, 10001, 13333}, // adds a third
        {8192, -2, 20000, 20480},  // a step that is still short
        {100, 100, 250, 300},      // positive: multiple of the growth
        {100, 100, 100, 100},      // fits: no growth
        {5000, -2, 1, 5000},       // shrinking keeps the capacity
    };
    for (const Case& c : cases) {
        MemoryStream stream;
        ASSERT_EQ(stream.Create(c.created, c.growth), S_OK);
        ASSERT_EQ(stream.SetSize(c.newSize), S_OK);
        EXPECT_EQ(stream.Capacity(), c.capacity)
            << c.created << "," << c.growth << " -> " << c.newSize;
        EXPECT_EQ(stream.GetSize(), c.newSize);
    }
}

TEST(MemoryStream, WriteAppendsAtThePositionAndKeepsDataAcrossGrowth) {
    MemoryStream stream;
    ASSERT_EQ(stream.Create(0, 4), S_OK);
    size_t written = 0;
    ASSERT_EQ(WriteText(stream, "hello", &written), S_OK);
    EXPECT_EQ(written, 5u);
    ASSERT_EQ(WriteText(stream, " world"), S_OK);
    EXPECT_EQ(Contents(stream), "hello world");
    EXPECT_EQ(stream.Position(), 11u);
    EXPECT_EQ(stream.Capacity(), 12u);

    // Overwrite in the middle, then extend past the old end.
    ASSERT_EQ(stream.Seek(6, STREAM_SEEK_SET), S_OK);
    ASSERT_EQ(WriteText(stream, "there!"), S_OK);
    EXPECT_EQ(Contents(stream), "hello there!");

    std::string big(100000, 'x');
    ASSERT_EQ(WriteText(stream, big), S_OK);
    EXPECT_EQ(Contents(stream), "hello there!" + big);
}

TEST(MemoryStream, SeekingPastTheEndThenWritingFillsTheGapWithZeros) {
    MemoryStream stream;
    ASSERT_EQ(WriteText(stream, "ab"), S_OK); // usable without Create
    size_t position = 0;
    ASSERT_EQ(stream.Seek(3, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 5u);
    ASSERT_EQ(WriteText(stream, "c"), S_OK);
    EXPECT_EQ(Contents(stream), std::string("ab\0\0\0c", 6));

    ASSERT_EQ(stream.Seek(-2, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(stream.Seek(-5, STREAM_SEEK_CUR), E_INVALIDARG);
    EXPECT_EQ(stream.Seek(0, 7), E_INVALIDARG);
    EXPECT_EQ(stream.Position(), 4u);
}

TEST(MemoryStream, SetSizeTruncatesPullingThePositionBackAndGrowsWithZeros) {
    MemoryStream stream;
    ASSERT_EQ(stream.Create(0, -2), S_OK);
    ASSERT_EQ(WriteText(stream, "abcdef"), S_OK);
    ASSERT_EQ(stream.SetSize(3), S_OK);
    EXPECT_EQ(stream.Position(), 3u);
    EXPECT_EQ(Contents(stream), "abc");

    ASSERT_EQ(stream.SetSize(6), S_OK); // the old "def" must not come back
    EXPECT_EQ(Contents(stream), std::string("abc\0\0\0", 6));
    EXPECT_EQ(stream.Position(), 3u);
}

TEST(MemoryStream, CreateDropsEarlierContent) {
    MemoryStream stream;
    ASSERT_EQ(WriteText(stream, "old"), S_OK);
    ASSERT_EQ(stream.Create(0, -2), S_OK);
    EXPECT_EQ(stream.GetSize(), 0u);
    EXPECT_EQ(stream.Position(), 0u);
}

TEST(MemoryStream, MovingHandsTheBufferOver) {
    MemoryStream source;
    ASSERT_EQ(WriteText(source, "data"), S_OK);
    const BYTE* buffer = source.Data();

    MemoryStream target(std::move(source));
    EXPECT_EQ(target.Data(), buffer);
    EXPECT_EQ(Contents(target), "data");
    EXPECT_EQ(source.Data(), nullptr);
    EXPECT_EQ(source.GetSize(), 0u);
    EXPECT_EQ(source.Capacity(), 0u);

    MemoryStream assigned;
    ASSERT_EQ(WriteText(assigned, "other"), S_OK);
    assigned = std::move(target);
    EXPECT_EQ(Contents(assigned), "data");
    EXPECT_EQ(assigned.Position(), 4u);
    ASSERT_EQ(WriteText(source, "reused"), S_OK); // a moved-from stream still works
    EXPECT_EQ(Contents(source), "reused");
}

TEST(MemoryStream, ImpossibleSizesFailWithOutOfMemoryAndChangeNothing) {
    constexpr size_t kHuge = std::numeric_limits<size_t>::max() / 2;
    MemoryStream stream;
    EXPECT_EQ(stream.Create(kHuge, -2), E_OUTOFMEMORY);
    EXPECT_EQ(stream.Create(std::numeric_limits<size_t>::max(), 4096), E_OUTOFMEMORY);

    ASSERT_EQ(WriteText(stream, "keep"), S_OK);
    EXPECT_EQ(stream.SetSize(kHuge), E_OUTOFMEMORY);
    EXPECT_EQ(Contents(stream), "keep");

    ASSERT_EQ(stream.Seek(std::numeric_limits<LONGLONG>::max(), STREAM_SEEK_SET), S_OK);
    size_t written = 99;
    EXPECT_EQ(WriteText(stream, "x", &written), E_OUTOFMEMORY);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(Contents(stream), "keep");
}

TEST(BufferView, WritesIntoTheCallersBufferAndNeverResizes) {
    char buffer[8] = {};
    BufferView view(buffer, sizeof buffer);
    EXPECT_EQ(view.Capacity(), 8u);
    EXPECT_EQ(view.Data(), reinterpret_cast<BYTE*>(buffer));
    EXPECT_EQ(view.SetSize(4), IO_E_UNSUPPORTED); // even within the buffer
    EXPECT_EQ(view.SetSize(9), IO_E_UNSUPPORTED);

    ASSERT_EQ(WriteText(view, "abcde"), S_OK);
    size_t written = 99;
    EXPECT_EQ(WriteText(view, "fghi", &written), IO_E_UNSUPPORTED); // one byte too many
    EXPECT_EQ(written, 0u);
    ASSERT_EQ(WriteText(view, "fgh", &written), S_OK);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(view.GetSize(), 8u);
    EXPECT_EQ(std::string(buffer, 8), "abcdefgh");
}

TEST(BufferView, ANullBufferHasNoRoom) {
    BufferView view(nullptr, 16);
    EXPECT_EQ(view.Capacity(), 0u);
    EXPECT_EQ(WriteText(view, "a"), IO_E_UNSUPPORTED);
}

} // namespace
} // namespace gd
