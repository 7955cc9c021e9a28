// The host's side of a simulated camera: the parameter file the SDK's controller loads when it
// opens a camera (in $HOME/.QVConfig, named after the product), so a test or benchmark can have
// the camera open at another resolution than its factory default. Written with the SDK's own
// parameter-file code; kept apart from the camera models so a program that only uses the SDK's
// exports does not link it.
#pragma once

#include "QVDeviceDef.h"

namespace qvsim {

// A preset resolution by its index.
tSdkResolution PresetResolution(int index);
// A custom region of width x height at (x, y) of the sensor.
tSdkResolution CustomResolution(int x, int y, unsigned width, unsigned height);

// Makes the next CameraInit of a simulated camera of that product use `resolution` (and, when
// exposureUs is not 0, that manual exposure time) with the camera's factory settings otherwise.
// False when the file cannot be written.
bool UseResolution(const char* productName, const tSdkResolution& resolution,
                   double exposureUs = 0);
// The same for the default camera, the IMX290 product.
bool UseImx290Resolution(const tSdkResolution& resolution);

}  // namespace qvsim
