// Upper cameras for a host of the shared library libTarnlex.so, which opens them through
// OpenCV's video capture and offers no seam of its own: a host executable that links this file
// (and exports its symbols, see tests/station/tests.cmake) defines the capture's open, property,
// read and release functions and its destructor itself, and the dynamic linker binds the
// library's calls to these. Every path opens; each read waits 200 ms and gives a 320x180 frame of
// one colour. As with a V4L2 device, destroying a capture that is still open stops its device's
// stream, also for a parent or child process sharing the device's descriptor: reads fail then.
#pragma once

#include <cstdint>

namespace qvsim {

// Frames read so far, all captures together.
uint64_t InterposedCaptureReads();

}  // namespace qvsim
