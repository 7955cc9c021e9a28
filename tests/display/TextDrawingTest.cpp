// Text painted into images through the glyph renderer: the library's own renderer paints
// nothing; a renderer that delivers a mask is clipped to the image on every side, whatever the
// position, and gets both texts bounded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "QVCameraApi.h"
#include "display/DisplayFactory.h"

namespace {

// A renderer that delivers a mask of its own: ones where (row + column) is even, so that
// clipping and placement show in the painted pattern.
class CMaskFont : public CMakeFont {
  public:
    explicit CMaskFont(std::vector<std::string>* texts, int result)
        : m_texts(texts), m_result(result) {}
    int SetFont(const char* font, int, int, int weight) override {
        m_texts->push_back(font);
        m_weight = weight;
        return m_result;
    }
    int RenderText(const char* text, const unsigned char** mask, int width, int height) override {
        m_texts->push_back(text);
        m_mask.assign(static_cast<size_t>(width) * height, 0);
        for (int i = 0; i < height; ++i)
            for (int j = 0; j < width; ++j) m_mask[i * width + j] = (i + j) % 2 == 0;
        *mask = m_mask.data();
        return CAMERA_STATUS_SUCCESS;
    }
    int m_weight = 0;

  private:
    std::vector<std::string>* m_texts;
    int m_result;
    std::vector<unsigned char> m_mask;
};

class CMaskFactory : public CDisplayFactory {
  public:
    std::unique_ptr<CMakeFont> CreateFont() override {
        auto font = std::make_unique<CMaskFont>(&texts, result);
        return font;
    }
    std::vector<std::string> texts;
    int result = CAMERA_STATUS_SUCCESS;
};

struct Image {
    Image(uint32_t w, uint32_t h, uint32_t type, unsigned bpp) : bytes(w * h * bpp, 0x11) {
        head.iWidth = w;
        head.iHeight = h;
        head.uiMediaType = type;
        head.TotalBytes = w * h * bpp;
    }
    std::vector<uint8_t> bytes;
    stImageInfo head{};
};

// The image as the test expects it: pixel (x + j, y + i) painted for every set mask byte that
// falls inside, with the colour bytes given.
std::vector<uint8_t> Expected(const Image& img, unsigned bpp, int x, int y, int w, int h,
                              std::vector<uint8_t> colour) {
    std::vector<uint8_t> out = img.bytes;
    for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) {
            const int px = x + j, py = y + i;
            if ((i + j) % 2 != 0 || px < 0 || py < 0 || px >= static_cast<int>(img.head.iWidth) ||
                py >= static_cast<int>(img.head.iHeight))
                continue;
            std::memcpy(out.data() + (static_cast<size_t>(py) * img.head.iWidth + px) * bpp,
                        colour.data(), colour.size());
        }
    return out;
}

class TextDrawing : public ::testing::Test {
  protected:
    void SetUp() override { CDisplayFactory::Install(&m_factory); }
    void TearDown() override { CDisplayFactory::Install(nullptr); }
    CMaskFactory m_factory;
};

TEST_F(TextDrawing, MaskClippedOnEverySide) {
    struct Row {
        const char* name;
        uint32_t type;
        unsigned bpp;
        int x, y, w, h;
        std::vector<uint8_t> colour;  // bytes a painted pixel gets
    };
    const uint32_t colour = 0x00332211;  // red 0x11, green 0x22, blue 0x33
    const std::vector<Row> rows = {
        {"inside, RGB order", CAMERA_MEDIA_TYPE_RGB8, 3, 2, 1, 4, 3, {0x11, 0x22, 0x33}},
        {"BGR order", CAMERA_MEDIA_TYPE_BGR8, 3, 2, 1, 4, 3, {0x33, 0x22, 0x11}},
        {"32-bit keeps its fourth byte",
         CAMERA_MEDIA_TYPE_BGRA8,
         4,
         0,
         0,
         3,
         3,
         {0x33, 0x22, 0x11, 0x11}},
        {"negative x and y", CAMERA_MEDIA_TYPE_RGB8, 3, -3, -2, 6, 5, {0x11, 0x22, 0x33}},
        {"past the right and bottom", CAMERA_MEDIA_TYPE_RGB8, 3, 7, 5, 10, 10, {0x11, 0x22, 0x33}},
        {"far outside", CAMERA_MEDIA_TYPE_RGB8, 3, -100, 50, 4, 4, {0x11, 0x22, 0x33}},
        {"mono: black", CAMERA_MEDIA_TYPE_MONO8, 1, 1, 1, 30, 30, {0x00}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Image img(9, 7, row.type, row.bpp);
        const std::vector<uint8_t> want =
            Expected(img, row.bpp, row.x, row.y, row.w, row.h, row.colour);
        ASSERT_EQ(CameraDrawText(img.bytes.data(), &img.head, "Sans", 12, 0, "Hi", row.x, row.y,
                                 row.w, row.h, colour),
                  0);
        EXPECT_EQ(img.bytes, want);
    }
}

// Both texts reach the renderer bounded to 255 characters; the weight is 400.
TEST_F(TextDrawing, TextsAreBounded) {
    Image img(4, 4, CAMERA_MEDIA_TYPE_RGB8, 3);
    const std::string longText(1000, 'x');
    ASSERT_EQ(CameraDrawText(img.bytes.data(), &img.head, longText.c_str(), 1, 2, longText.c_str(),
                             0, 0, 1, 1, 0),
              0);
    ASSERT_EQ(m_factory.texts.size(), 2u);
    EXPECT_EQ(m_factory.texts[0], std::string(255, 'x'));
    EXPECT_EQ(m_factory.texts[1], std::string(255, 'x'));
}

TEST_F(TextDrawing, RefusedFontAndBadInput) {
    Image img(4, 4, CAMERA_MEDIA_TYPE_RGB8, 3);
    m_factory.result = CAMERA_STATUS_FAILED;
    const std::vector<uint8_t> before = img.bytes;
    EXPECT_EQ(CameraDrawText(img.bytes.data(), &img.head, "Sans", 1, 1, "x", 0, 0, 4, 4, 0xFF),
              CAMERA_STATUS_FAILED);
    EXPECT_EQ(img.bytes, before);
    EXPECT_EQ(CameraDrawText(nullptr, &img.head, "Sans", 1, 1, "x", 0, 0, 4, 4, 0xFF),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraDrawText(img.bytes.data(), nullptr, "Sans", 1, 1, "x", 0, 0, 4, 4, 0xFF),
              CAMERA_STATUS_PARAMETER_INVALID);
}

// The library's own renderer gives no glyphs: the call succeeds and paints nothing.
TEST(TextDrawingOwn, PaintsNothing) {
    Image img(8, 8, CAMERA_MEDIA_TYPE_BGR8, 3);
    const std::vector<uint8_t> before = img.bytes;
    EXPECT_EQ(
        CameraDrawText(img.bytes.data(), &img.head, "Sans", 16, 0, "text", 1, 1, 6, 6, 0x00FFFFFF),
        0);
    EXPECT_EQ(img.bytes, before);
}

}  // namespace
