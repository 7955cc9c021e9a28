// CMakeFont: turns a text into a glyph mask (one byte per pixel, row by row; non-zero bytes are
// painted) for CameraDrawText. This system has no font back end: both operations succeed and
// no mask is delivered, so nothing is painted.
#pragma once

class CMakeFont {
  public:
    CMakeFont() = default;
    virtual ~CMakeFont() = default;
    CMakeFont(const CMakeFont&) = delete;
    CMakeFont& operator=(const CMakeFont&) = delete;

    // The font by name and two size parameters as the host gives them, and a weight.
    virtual int SetFont(const char* font, int a, int b, int weight);
    // The mask of text, width x height bytes, valid while this object lives; *mask null when
    // there is none.
    virtual int RenderText(const char* text, const unsigned char** mask, int width, int height);
};
