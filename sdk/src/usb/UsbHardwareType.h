// The hardware type of a USB camera board and the groups of boards that share an FPGA register
// map. The type is derived once, at open, from the model code the camera keeps in its property
// record; everything that depends on the board (register numbers, supported settings, the frame
// header, the FPGA image) is chosen by it.
#pragma once

#include <cstdint>

namespace qv::usb {

// The board's hardware type for a model code (0xAAxxyyyy); 0 for a code no board carries. A
// board of type 0 still opens and streams, but gets no FPGA image and sends no frame header.
int HardwareTypeFromModelCode(uint32_t modelCode);

// Boards whose FPGA keeps the trigger control word in register 10 and the strobe timing in
// registers 7 to 9.
constexpr bool InSetX(int type) {
    return type == 8 || type == 9 || type == 300 || type == 301 || type == 302 || type == 305;
}
// Boards whose trigger control word is register 6.
constexpr bool InSetY(int type) {
    return type == 304 || type == 306;
}
// The boards of the main register map: trigger control in register 16, timing from 10 up.
constexpr bool InSetZ(int type) {
    return (type >= 1 && type <= 7) || (type >= 100 && type <= 108) || type == 110 || type == 111;
}

// Boards whose FPGA frames the image itself (frame size in registers 1 and 2, window in 3 to 5
// or 12 to 14); they take no image timing and no frame-buffer layout from the host.
constexpr bool HasCompactImagePath(int type) {
    return type == 8 || type == 9 || type == 300 || type == 301 || type == 302 || type == 304 ||
           type == 305 || type == 306;
}

// The FPGA register that holds the trigger control word.
constexpr uint16_t TriggerControlRegister(int type) {
    return InSetY(type) ? 6 : InSetX(type) ? 10 : 16;
}

}  // namespace qv::usb
