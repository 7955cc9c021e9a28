#include "LutTables.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qv::isp {

namespace {

void FillIdentity(uint16_t* values, size_t count) {
    for (size_t i = 0; i < count; ++i) values[i] = static_cast<uint16_t>(i);
}

// 4095 above the range, 0 below it (and for a value that is not a number), else truncated.
uint16_t CurveEntry(double y) {
    if (y > 4095.0) return 4095;
    if (y >= 0.0) return static_cast<uint16_t>(y);
    return 0;
}

void CopyClamped(uint16_t* dst, const uint16_t* src) {
    for (int i = 0; i < CLutTables::kCurveLength; ++i)
        dst[i] = std::min(src[i], CLutTables::kCurveMax);
}

bool InRange(uint32_t value, uint32_t first, uint32_t last) {
    return value >= first && value <= last;
}

}  // namespace

CLutTables::CLutTables() {
    auto make = [](Curve& c) {
        c.resize(kCurveLength);
        FillIdentity(c.data(), c.size());
    };
    for (Curve& c : m_custom) make(c);
    make(m_generated);
    for (Curve& c : m_preset) make(c);
    make(m_current);
}

uint32_t CLutTables::TableSizeForMediaType(uint32_t mt) {
    if (mt == 0x01080000u || mt == 0x01080002u || InRange(mt, 0x01080008u, 0x0108000Bu)) return 256;
    if (mt == 0x010C0004u || InRange(mt, 0x010C0026u, 0x010C0029u) || mt == 0x01100003u ||
        InRange(mt, 0x0110000Cu, 0x0110000Fu))
        return 1024;
    if (InRange(mt, 0x0110002Eu, 0x01100031u)) return 65536;
    return 4096;
}

void CLutTables::BuildGammaContrastLut(uint16_t* curve, int gamma, int contrastLut) {
    const double g = gamma / 100.0;
    const double c = contrastLut / 100.0;
    // The S-bend turns around mid-grey, 4095 / 2 in integers.
    const double h = 2047.0;
    const double p = c < 1.0 ? 2.0 - c : (2.0 - c) * 0.5 + 0.5;
    for (int i = 0; i < kCurveLength; ++i) {
        double y = 4095.0 * std::pow(i / 4095.0, g);
        if (y > 4095.0) y = 4095.0;
        if (c != 1.0) {
            if (y > h)
                y = h + h * std::pow((y - h) / h, p);
            else
                y = h - h * std::pow((h - y) / h, p);
        }
        curve[i] = CurveEntry(y);
    }
}

void CLutTables::BuildCurve(uint16_t* curve, int x1, int x2, double p1, double p2, double p3,
                            int y1, int y2) {
    const int x2p = std::max(x1, x2);
    const int top = std::max(y1, y2);
    for (int i = 0; i < kCurveLength; ++i) {
        double y;
        if (i <= x1) {
            y = y1 * std::pow(static_cast<double>(i) / x1, p1);
        } else if (i <= x2p) {
            y = curve[x1] + (top - y1) * std::pow(static_cast<double>(i - x1) / (x2p - x1), p2);
        } else {
            const double bend =
                p3 == 0.0 ? 0.0 : std::pow(static_cast<double>(i - x2p) / (4097 - x2p), p3);
            y = curve[x2p] + (4097 - x2p) * (static_cast<double>(4096 - top) / (4096 - x2p)) * bend;
        }
        curve[i] = CurveEntry(y);
    }
}

void CLutTables::BuildChannelTable(const uint16_t* master, uint16_t* table, uint32_t size) {
    if (size == 0) return;
    if (size <= static_cast<uint32_t>(kCurveLength)) {
        const uint32_t step = kCurveLength / size;
        for (uint32_t k = 0; k < size; ++k)
            table[k] = static_cast<uint16_t>(master[k * step] / step);
    } else {
        // Deeper than the master: each master entry spans `ratio` samples, scaled up alike.
        const uint32_t ratio = size / kCurveLength;
        for (uint32_t k = 0; k < size; ++k)
            table[k] = static_cast<uint16_t>(master[k / ratio] * ratio);
    }
}

void CLutTables::BuildPresetLuts() {
    // Preset 0 is the identity computed through the same formula; 1 and 2 lift the shadows
    // and roll off the highlights; preset 3 is never built and stays the identity.
    BuildCurve(m_preset[0].data(), 4080, 4080, 1.0, 1.0, 1.0, 4080, 4080);
    BuildCurve(m_preset[1].data(), 576, 3360, 0.8, 1.0, 1.7, 896, 2720);
    BuildCurve(m_preset[2].data(), 768, 2880, 0.7, 1.0, 1.2, 1280, 2400);
}

void CLutTables::ResizeTables(uint32_t size) {
    if (size == m_tableSize) return;
    for (auto& t : m_table) {
        t.assign(size, 0);
        FillIdentity(t.data(), size);
    }
    m_tableSize = size;
}

void CLutTables::BuildTablesFrom(const uint16_t* master) {
    BuildChannelTable(master, m_table[0].data(), m_tableSize);
    std::memcpy(m_table[1].data(), m_table[0].data(), m_tableSize * sizeof(uint16_t));
    std::memcpy(m_table[2].data(), m_table[0].data(), m_tableSize * sizeof(uint16_t));
}

void CLutTables::BuildTablesFromActiveSource() {
    if (m_tableSize == 0) return;  // no tables before the first initialisation
    switch (m_active.mode) {
        case kModeGenerated:
            BuildTablesFrom(m_generated.data());
            break;
        case kModePreset:
            BuildTablesFrom(m_preset[m_active.presetIndex].data());
            break;
        case kModeCustom:
            for (int ch = 0; ch < 3; ++ch)
                BuildChannelTable(m_custom[ch].data(), m_table[ch].data(), m_tableSize);
            break;
        default:
            break;
    }
}

void CLutTables::Initialise(int lutMode, int gamma, int contrastLut, int presetIndex,
                            uint32_t inputMediaType) {
    m_enabled = true;
    m_active.mode = static_cast<uint8_t>(lutMode);
    m_active.gamma = gamma;
    m_active.contrastLut = contrastLut;
    // A parameter file may hold any index; only 0 to 3 name a preset.
    m_active.presetIndex = presetIndex >= 0 && presetIndex < kPresetCount ? presetIndex : 0;
    m_pending = m_active;

    ResizeTables(TableSizeForMediaType(inputMediaType));
    BuildPresetLuts();
    // Built in every mode, so that a later switch to mode 0 finds the curve of the gamma and
    // LUT contrast in force rather than whatever the curve held before.
    BuildGammaContrastLut(m_generated.data(), m_active.gamma, m_active.contrastLut);
    switch (m_active.mode) {
        case kModeGenerated:
            m_current = m_generated;
            break;
        case kModePreset:
            m_current = m_preset[m_active.presetIndex];
            break;
        case kModeCustom:
            m_current = m_custom[0];
            break;
        default:
            break;
    }
    BuildTablesFromActiveSource();
}

int CLutTables::SetLutMode(int mode) {
    m_pending.mode = static_cast<uint8_t>(mode);
    if (m_pending.mode == kModeGenerated)
        m_current = m_generated;
    else if (m_pending.mode == kModePreset)
        m_current = m_preset[m_active.presetIndex];
    return CAMERA_STATUS_SUCCESS;
}

int CLutTables::SetGamma(int gamma) {
    if (m_active.mode != kModeGenerated) return CAMERA_STATUS_PARAMETER_INVALID;
    m_pending.gamma = gamma;
    BuildGammaContrastLut(m_current.data(), m_pending.gamma, m_pending.contrastLut);
    return CAMERA_STATUS_SUCCESS;
}

int CLutTables::SetContrastLut(int contrastLut) {
    if (m_active.mode != kModeGenerated) return CAMERA_STATUS_PARAMETER_INVALID;
    m_pending.contrastLut = contrastLut;
    BuildGammaContrastLut(m_current.data(), m_pending.gamma, m_pending.contrastLut);
    return CAMERA_STATUS_SUCCESS;
}

int CLutTables::SelectLutPreset(int index) {
    if (m_active.mode != kModePreset) return CAMERA_STATUS_PARAMETER_INVALID;
    if (index < 0 || index >= kPresetCount) return CAMERA_STATUS_PARAMETER_INVALID;
    m_pending.presetIndex = index;
    m_current = m_preset[index];
    return CAMERA_STATUS_SUCCESS;
}

int CLutTables::SetCustomLut(int index, const uint16_t* table) {
    if (m_active.mode != kModeCustom || table == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (index < 0 || index > 3) return CAMERA_STATUS_PARAMETER_INVALID;
    if (index == 0) {
        for (Curve& c : m_custom) CopyClamped(c.data(), table);
        m_current = m_custom[0];
    } else {
        CopyClamped(m_custom[index - 1].data(), table);
        m_current = m_custom[index - 1];
    }
    for (int ch = 0; ch < 3; ++ch)
        BuildChannelTable(m_custom[ch].data(), m_table[ch].data(), m_tableSize);
    return CAMERA_STATUS_SUCCESS;
}

int CLutTables::GetCustomLut(int index, uint16_t* table) const {
    if (index < 0 || index > 3) return CAMERA_STATUS_PARAMETER_INVALID;
    if (table == nullptr) return CAMERA_STATUS_SUCCESS;
    const Curve& c = m_custom[index == 0 ? 0 : index - 1];
    std::memcpy(table, c.data(), kCurveLength * sizeof(uint16_t));
    return CAMERA_STATUS_SUCCESS;
}

int CLutTables::GetCurrentLut(int index, uint16_t* table) const {
    if (index < 0 || index > 3 || table == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const Curve& c =
        m_pending.mode == kModeCustom ? m_custom[index == 0 ? 0 : index - 1] : m_current;
    std::memcpy(table, c.data(), kCurveLength * sizeof(uint16_t));
    return CAMERA_STATUS_SUCCESS;
}

void CLutTables::StoreCustomCurve(int channel, const uint16_t* curve) {
    if (channel < 0 || channel > 2 || curve == nullptr) return;
    CopyClamped(m_custom[channel].data(), curve);
}

bool CLutTables::HasPendingChange() const {
    return !(m_pending == m_active);
}

void CLutTables::ApplyPending() {
    if (m_pending == m_active) return;
    const bool curveChanged =
        m_pending.gamma != m_active.gamma || m_pending.contrastLut != m_active.contrastLut;
    m_active = m_pending;
    if (curveChanged)
        BuildGammaContrastLut(m_generated.data(), m_active.gamma, m_active.contrastLut);
    // The current curve follows the mode in force, whatever order the setters came in.
    if (m_active.mode == kModeGenerated)
        m_current = m_generated;
    else if (m_active.mode == kModePreset)
        m_current = m_preset[m_active.presetIndex];
    BuildTablesFromActiveSource();
}

bool CLutTables::MatchInputMediaType(uint32_t mediaType) {
    const uint32_t size = TableSizeForMediaType(mediaType);
    if (size == m_tableSize) return false;
    ResizeTables(size);
    BuildTablesFromActiveSource();
    return true;
}

bool CLutTables::IsInEffect() const {
    return m_enabled && (m_active.mode != kModeGenerated || m_active.gamma != 100 ||
                         m_active.contrastLut != 100);
}

LutView CLutTables::ChannelTable(int channel) const {
    LutView view;
    if (channel < 0 || channel > 2 || m_tableSize == 0) return view;
    view.table = m_table[channel].data();
    view.size = m_tableSize;
    view.inEffect = IsInEffect();
    return view;
}

}  // namespace qv::isp
