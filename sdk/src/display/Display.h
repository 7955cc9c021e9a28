// Display: the sink that shows a camera's 32-bit frames in a host window. This system has no
// window system behind it: every operation accepts the call and does nothing, and no drawing
// surface is offered (GetSurface answers -1), so the display callback is never reached. The
// controller relies only on the calls, their order and their results; a back end that draws
// (or a test double) overrides them.
#pragma once

#include <cstdint>

class Display {
  public:
    Display() = default;
    virtual ~Display() = default;
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    virtual int Init();
    // A frame of width x height for the window (the host's handle, pointer-sized).
    virtual int BeginFrame(uintptr_t window, int width, int height);
    // The frame's pixels: B, G, R, fourth byte; stride bytes per row.
    virtual int DrawImage(const uint8_t* pixels, int width, int stride);
    // The surface the frame was drawn on, for the display callback: 0 with *surface set, or -1
    // when there is none.
    virtual int GetSurface(uint8_t** surface);
    virtual int ReleaseSurface();
    virtual int EndFrame();
    virtual int SetMode(int mode);
    virtual int SetScale(int scale);
    virtual int SetOffset(int x, int y);
    virtual int SetSize(int width, int height);
};
