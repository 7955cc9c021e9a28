#include "usb/UsbHardwareType.h"

#include <algorithm>
#include <iterator>

namespace qv::usb {

namespace {

struct ModelEntry {
    uint32_t modelCode;
    int hardwareType;
};

// Sorted by model code.
constexpr ModelEntry kModels[] = {
    {0xAA000001, 1},   {0xAA010001, 2},   {0xAA010002, 3},   {0xAA020001, 4},   {0xAA030001, 6},
    {0xAA030002, 5},   {0xAA040001, 300}, {0xAA040002, 305}, {0xAA050001, 301}, {0xAA060001, 302},
    {0xAA070001, 303}, {0xAA080001, 304}, {0xAA090001, 7},   {0xAA0A0001, 306}, {0xAA0B0001, 8},
    {0xAA0C0001, 9},   {0xAA210001, 100}, {0xAA220001, 103}, {0xAA220002, 102}, {0xAA220003, 101},
    {0xAA220004, 104}, {0xAA220005, 105}, {0xAA220006, 106}, {0xAA220007, 107}, {0xAA220008, 108},
    {0xAA220009, 109}, {0xAA22000A, 110}, {0xAA22000B, 111},
};

static_assert(std::is_sorted(std::begin(kModels), std::end(kModels),
                             [](const ModelEntry& a, const ModelEntry& b) {
                                 return a.modelCode < b.modelCode;
                             }));

}  // namespace

int HardwareTypeFromModelCode(uint32_t modelCode) {
    const auto it =
        std::lower_bound(std::begin(kModels), std::end(kModels), modelCode,
                         [](const ModelEntry& e, uint32_t code) { return e.modelCode < code; });
    return it != std::end(kModels) && it->modelCode == modelCode ? it->hardwareType : 0;
}

}  // namespace qv::usb
