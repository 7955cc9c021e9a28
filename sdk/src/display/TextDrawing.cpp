#include "display/TextDrawing.h"

#include "common/TextCopy.h"
#include "display/DisplayFactory.h"
#include "display/ImageDrawing.h"

namespace qv::display {

namespace {

constexpr size_t kTextBytes = 256;
constexpr int kFontWeight = 400;

}  // namespace

int DrawTextOnImage(uint8_t* image, const stImageInfo* head, const char* font, int a, int b,
                    const char* text, int x, int y, int width, int height, uint32_t colour) {
    if (image == nullptr || head == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // No font or no text is one the renderer refuses, whatever the image.
    if (font == nullptr || text == nullptr) return CAMERA_STATUS_FAILED;
    DrawTarget target;
    if (!TextTarget(image, *head, &target)) return CAMERA_STATUS_SUCCESS;
    char fontText[kTextBytes];
    char textCopy[kTextBytes];
    qv::CopyText(fontText, font);
    qv::CopyText(textCopy, text);
    std::unique_ptr<CMakeFont> renderer = CDisplayFactory::Current().CreateFont();
    if (!renderer) return CAMERA_STATUS_FAILED;
    const unsigned char* mask = nullptr;
    if (renderer->SetFont(fontText, a, b, kFontWeight) != CAMERA_STATUS_SUCCESS ||
        renderer->RenderText(textCopy, &mask, width, height) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_FAILED;
    PaintMask(target, mask, width, height, x, y, colour);
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace qv::display
