// CDisplayFactory: where the controller and CameraDrawText get their display sink and glyph
// renderer. The library's own factory makes the plain Display and CMakeFont; a test installs
// its own through Install (internal, not exported) to watch what reaches them.
#pragma once

#include <memory>

#include "display/Display.h"
#include "display/MakeFont.h"

class CDisplayFactory {
  public:
    virtual ~CDisplayFactory() = default;
    virtual std::unique_ptr<Display> CreateDisplay();
    virtual std::unique_ptr<CMakeFont> CreateFont();

    // The factory in use.
    static CDisplayFactory& Current();
    // Replaces the factory (not owned; null restores the library's own). For tests: call it
    // while no camera displays or draws text.
    static void Install(CDisplayFactory* factory);
};
