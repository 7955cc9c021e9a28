// Upper cameras for a host of the shared library libTarnlex.so, which opens them through
// OpenCV's video capture and offers no seam of its own: a host executable that links this file
// (and exports its symbols, see tests/station/tests.cmake) defines the capture's open, property,
// read and release functions itself, and the dynamic linker binds the library's calls to these.
// Every path opens; each read waits 200 ms and gives a 320x180 frame of one colour.
#pragma once

#include <cstdint>

namespace qvsim {

// Frames read so far, all captures together.
uint64_t InterposedCaptureReads();

}  // namespace qvsim
