// MachXO2 JEDEC texts from arbitrary bytes: a parse either fails or yields rows and feature
// fields within the parser's buffers. Nothing may crash, leak or read outside its buffers.
#include <climits>
#include <cstddef>
#include <cstdint>

#include "upgrade/LatticeBin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT_MAX) return 0;
    const CLatticeBin bin(reinterpret_cast<const char*>(data), static_cast<int>(size));
    if (!bin.IsParsed()) {
        if (bin.ConfigBytes() != 0 || bin.UfmBytes() != 0) __builtin_trap();
        return 0;
    }
    if (bin.ConfigBytes() > CLatticeBin::kConfigCapacity ||
        bin.UfmBytes() > CLatticeBin::kUfmCapacity || bin.ConfigBytes() % 16 != 0 ||
        bin.UfmBytes() % 16 != 0 || bin.DeviceCode() >= std::size(CLatticeBin::kDevices))
        __builtin_trap();
    // The configuration section is made of rows the text holds, and a text that holds every
    // configuration row has them all in the configuration buffer.
    if (bin.ConfigSectionRows() > bin.RowCount() ||
        (bin.HasAllConfigRows() && bin.ConfigBytes() / 16 != bin.ConfigRowsNeeded()))
        __builtin_trap();
    // Every byte the programmer would send is readable.
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < bin.ConfigBytes(); ++i)
        sum = static_cast<uint8_t>(sum + bin.ConfigData()[i]);
    for (uint32_t i = 0; i < bin.UfmBytes(); ++i)
        sum = static_cast<uint8_t>(sum + bin.UfmData()[i]);
    for (size_t i = 0; i < CLatticeBin::kFeatureRowBytes + CLatticeBin::kFeatureBitsBytes; ++i)
        sum = static_cast<uint8_t>(sum + bin.Features()[i]);
    return 0;
}
