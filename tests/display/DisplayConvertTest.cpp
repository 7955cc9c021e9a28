// The 32-bit display conversion: the pixel rules of each format, and the vector path against
// the scalar path on random images of every output format and many widths, with the source
// ending right before an unmapped page so that any read past the image faults.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <vector>

#include "display/DisplayConvert.h"

namespace {

using qv::display::ConvertToDisplay;
using qv::display::ConvertToDisplayScalar;
using qv::display::ConvertToDisplayVector;

// Bytes placed so that the last one sits right before a page that cannot be read or written.
class GuardedBuffer {
  public:
    explicit GuardedBuffer(size_t bytes) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        m_mapped = (bytes + page - 1) / page * page + page;
        void* p =
            mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(p, MAP_FAILED);
        m_base = static_cast<uint8_t*>(p);
        EXPECT_EQ(mprotect(m_base + m_mapped - page, page, PROT_NONE), 0);
        m_data = m_base + m_mapped - page - bytes;
    }
    ~GuardedBuffer() { munmap(m_base, m_mapped); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    uint8_t* Data() { return m_data; }

  private:
    uint8_t* m_base = nullptr;
    size_t m_mapped = 0;
    uint8_t* m_data = nullptr;
};

// One pixel through both paths (a 1 x 1 image; the vector path finishes it on its scalar tail)
// and a row of five through both (four by a vector step where the format allows).
std::vector<uint8_t> Convert(uint32_t mediaType, std::vector<uint8_t> pixel, bool vector) {
    const size_t bytes = pixel.size();
    std::vector<uint8_t> image;
    for (int i = 0; i < 8; ++i) image.insert(image.end(), pixel.begin(), pixel.end());
    std::vector<uint8_t> out(8 * 4, 0xEE);
    (vector ? ConvertToDisplayVector : ConvertToDisplayScalar)(out.data(), image.data(), 8, 1,
                                                               mediaType);
    EXPECT_EQ(image.size(), 8 * bytes);
    for (int i = 1; i < 8; ++i)
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4, out.begin() + 4 * i)) << i;
    return std::vector<uint8_t>(out.begin(), out.begin() + 4);
}

TEST(DisplayConvert, PixelRules) {
    struct Row {
        const char* name;
        uint32_t mediaType;
        std::vector<uint8_t> in;
        std::vector<uint8_t> out;
    };
    const std::vector<Row> rows = {
        {"BGR 24", CAMERA_MEDIA_TYPE_BGR8, {10, 20, 30}, {10, 20, 30, 0}},
        {"RGB 24", CAMERA_MEDIA_TYPE_RGB8, {10, 20, 30}, {30, 20, 10, 0}},
        {"other 24-bit counts as RGB", 0x02180099, {10, 20, 30}, {30, 20, 10, 0}},
        {"mono", CAMERA_MEDIA_TYPE_MONO8, {7}, {7, 7, 7, 0}},
        {"a raw mono code", 0x01080009, {9}, {9, 9, 9, 0}},
        {"BGRA copied", CAMERA_MEDIA_TYPE_BGRA8, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {"RGBA: bytes 0 and 2 swapped", CAMERA_MEDIA_TYPE_RGBA8, {1, 2, 3, 4}, {3, 2, 1, 4}},
        {"other 32-bit: nothing", 0x02200099, {1, 2, 3, 4}, {0xEE, 0xEE, 0xEE, 0xEE}},
        {"16-bit colour: nothing", 0x02100014, {1, 2}, {0xEE, 0xEE, 0xEE, 0xEE}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Convert(row.mediaType, row.in, false), row.out);
        EXPECT_EQ(Convert(row.mediaType, row.in, true), row.out);
    }
}

// The processing level picks the path; both give the same bytes, so the level is seen only in
// that neither fails.
TEST(DisplayConvert, EitherLevel) {
    const uint8_t image[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    stImageInfo head{};
    head.iWidth = 4;
    head.iHeight = 1;
    head.uiMediaType = CAMERA_MEDIA_TYPE_RGB8;
    const std::vector<uint8_t> want = {3, 2, 1, 0, 6, 5, 4, 0, 9, 8, 7, 0, 12, 11, 10, 0};
    for (int level : {3, 6}) {
        std::vector<uint8_t> out(16, 0xEE);
        ConvertToDisplay(out.data(), image, head, level);
        EXPECT_EQ(out, want) << level;
    }
}

TEST(DisplayConvert, VectorEqualsScalarWithoutReadingPastTheImage) {
    const std::vector<std::pair<uint32_t, unsigned>> types = {{CAMERA_MEDIA_TYPE_MONO8, 1},
                                                              {CAMERA_MEDIA_TYPE_RGB8, 3},
                                                              {CAMERA_MEDIA_TYPE_BGR8, 3},
                                                              {CAMERA_MEDIA_TYPE_RGBA8, 4},
                                                              {CAMERA_MEDIA_TYPE_BGRA8, 4}};
    std::mt19937 rng(1234);
    for (const auto& [type, bpp] : types) {
        for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 13u, 64u, 642u}) {
            for (uint32_t height : {1u, 3u}) {
                SCOPED_TRACE(testing::Message()
                             << std::hex << type << std::dec << " " << width << "x" << height);
                const size_t pixels = static_cast<size_t>(width) * height;
                GuardedBuffer source(pixels * bpp);
                for (size_t i = 0; i < pixels * bpp; ++i)
                    source.Data()[i] = static_cast<uint8_t>(rng());
                // Each output also ends at a guard page: nothing is written past it.
                GuardedBuffer vector(pixels * 4), scalar(pixels * 4);
                std::memset(vector.Data(), 0x5A, pixels * 4);
                std::memset(scalar.Data(), 0xA5, pixels * 4);
                ConvertToDisplayVector(vector.Data(), source.Data(), width, height, type);
                ConvertToDisplayScalar(scalar.Data(), source.Data(), width, height, type);
                ASSERT_EQ(std::memcmp(vector.Data(), scalar.Data(), pixels * 4), 0);
            }
        }
    }
}

}  // namespace
