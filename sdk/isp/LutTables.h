// The tone curves of one camera and the per-channel tables the kernels index.
//
// All curves are 4096 entries of 12 bits (the master format). The kernels use per-channel
// tables derived from the master curve at the depth of the input samples, so an 8-bit sample
// indexes 256 entries and a 12-bit sample 4096. The object is not locked by itself: its owner
// calls every operation under the pipeline's mutex, the one the frames hold as well.
#pragma once

#include <cstdint>
#include <vector>

#include "IspRecords.h"

namespace qv::isp {

class CLutTables {
  public:
    static constexpr int kCurveLength = 4096;  // GAMMA_LEN_MAX
    static constexpr uint16_t kCurveMax = 4095;
    static constexpr int kPresetCount = 4;

    enum LutMode : uint8_t { kModeGenerated = 0, kModePreset = 1, kModeCustom = 2 };

    CLutTables();

    // The lookup-table part of loading a parameter group: takes the settings as active and
    // pending, sizes the per-channel tables for the input media type, rebuilds presets 0 to 2,
    // the generated curve and, by mode, the current curve and the per-channel tables.
    void Initialise(int lutMode, int gamma, int contrastLut, int presetIndex,
                    uint32_t inputMediaType);

    // Setters behind the exports. They record pending values (the next ApplyPending takes them
    // over) and update the current curve at once; CAMERA_STATUS_PARAMETER_INVALID where the
    // active mode or the index does not allow the call, with nothing changed.
    int SetLutMode(int mode);
    int SetGamma(int gamma);
    int SetContrastLut(int contrastLut);
    int SelectLutPreset(int index);
    // Index 0 writes all three custom curves, 1 to 3 the red, green or blue one. Entries above
    // 4095 are stored as 4095. The per-channel tables follow at once.
    int SetCustomLut(int index, const uint16_t* table);
    int GetCustomLut(int index, uint16_t* table) const;
    int GetCurrentLut(int index, uint16_t* table) const;

    // For the parameter-group load, which fills the custom curves from the file whatever the
    // mode (channel 0 red, 1 green, 2 blue); entries above 4095 are stored as 4095.
    void StoreCustomCurve(int channel, const uint16_t* curve);
    const uint16_t* CustomCurve(int channel) const { return m_custom[channel].data(); }

    // True when a setter left a value that differs from the active one.
    bool HasPendingChange() const;
    // The lookup-table step of a frame's pending settings: takes over mode, gamma, LUT contrast
    // and preset index, then re-derives the generated curve and the per-channel tables from
    // the source of the active mode. The generated curve and the presets are only ever built
    // from their own formulas, never copied from the current curve.
    void ApplyPending();

    // Re-sizes the per-channel tables when a frame's media type needs another size than the
    // one they were built for (an 8-bit stream switched to 12 bits, or back), and re-derives
    // them. True when they changed.
    bool MatchInputMediaType(uint32_t mediaType);

    // Whether the kernels apply the tables: enabled, and the curve is not the identity by its
    // settings (mode other than 0, or gamma or LUT contrast other than 100).
    bool IsInEffect() const;
    // The per-channel table of channel 0 (red), 1 (green) or 2 (blue).
    LutView ChannelTable(int channel) const;

    int ActiveMode() const { return m_active.mode; }
    int ActiveGamma() const { return m_active.gamma; }
    int ActiveContrastLut() const { return m_active.contrastLut; }
    int ActivePresetIndex() const { return m_active.presetIndex; }
    int PendingMode() const { return m_pending.mode; }
    uint32_t TableSize() const { return m_tableSize; }
    const uint16_t* CurrentCurve() const { return m_current.data(); }
    const uint16_t* GeneratedCurve() const { return m_generated.data(); }
    const uint16_t* PresetCurve(int index) const { return m_preset[index].data(); }

    // Per-channel table size for an input media type: 256 for 8-bit, 1024 for 10-bit, 65536
    // for 16-bit Bayer and 4096 for every other code.
    static uint32_t TableSizeForMediaType(uint32_t mediaType);

    // Curve builders, each filling all 4096 entries.
    static void BuildGammaContrastLut(uint16_t* curve, int gamma, int contrastLut);
    static void BuildCurve(uint16_t* curve, int x1, int x2, double p1, double p2, double p3, int y1,
                           int y2);
    // Per-channel table of `size` entries from a master curve: entry k = M[k x s] / s with the
    // step s = 4096 / size; a 65536-entry table holds M[k / 16] x 16.
    static void BuildChannelTable(const uint16_t* master, uint16_t* table, uint32_t size);

  private:
    struct Settings {
        uint8_t mode = 0;
        int gamma = 100;
        int contrastLut = 100;
        int presetIndex = 0;
        bool operator==(const Settings&) const = default;
    };

    void BuildPresetLuts();
    void ResizeTables(uint32_t size);
    // Per-channel tables from the active mode's source; other modes build nothing.
    void BuildTablesFromActiveSource();
    void BuildTablesFrom(const uint16_t* master);

    using Curve = std::vector<uint16_t>;
    Curve m_custom[3];
    Curve m_generated;
    Curve m_preset[kPresetCount];
    Curve m_current;
    std::vector<uint16_t> m_table[3];
    uint32_t m_tableSize = 0;
    bool m_enabled = false;
    Settings m_active;
    Settings m_pending;
};

}  // namespace qv::isp
