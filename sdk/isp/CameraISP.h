// CameraISP: the software image signal processor of one camera. The controller initialises it
// from the parameter group, forwards the pipeline setters to it and calls ProcessFrame once per
// processed frame.
//
// Every setting exists twice: the active copy that the kernels read and a pending copy that the
// setters write, with a dirty code naming the last kind of change. The next ProcessFrame takes
// the pending copies over before any pixel is touched, so a frame never sees half a change.
//
// Locking: m_mutex of CPendingSettings (recursive) guards every member. LoadParameter,
// ProcessFrame (for the whole frame, kernels included) and every setter and getter take it. It
// is a leaf: nothing is called out of this object while it is held.
#pragma once

#include <cstdint>

#include "IspRecords.h"
#include "LutTables.h"
#include "PendingSettings.h"
#include "QVDeviceDef.h"

struct CameraSettings;

// The pipeline settings outside the lookup tables of CameraISP (the lookup tables live in
// CLutTables).
struct CameraIspSettings {
    int sharpness = 0;     // 0: off
    int saturation = 128;  // 128: neutral
    int contrast = 50;     // 50: neutral
    uint32_t ispOutFormat = CAMERA_MEDIA_TYPE_MONO8;
    uint8_t mirrorH = 0;
    uint8_t mirrorV = 0;
    uint8_t monochrome = 0;
    int blackOffset = 0;  // subtracted from each input sample before the lookup table
    int bayerAlgMode = 0;
    int bayerAlgThreshold = 300;
    int demosaicKind = 4;  // set by the vector kernels: 3 on a mono camera, else 4
    uint8_t deadPixel = 0;
    bool operator==(const CameraIspSettings&) const = default;
};

class CameraISP : public qv::isp::CPendingSettings<CameraIspSettings> {
  public:
    // Dirty codes: the last kind of pending change (only zero or non-zero matters to a frame).
    enum DirtyCode : uint16_t {
        kDirtyNone = 0,
        kDirtyLutMode = 1,
        kDirtyLutCurve = 2,  // gamma, LUT contrast or preset index
        kDirtySharpness = 3,
        kDirtyContrast = 4,
        kDirtySaturation = 5,
        kDirtyOutFormat = 6,
        kDirtyMirror = 7,
        kDirtyMonochrome = 8,
        kDirtyBlackOffset = 9,
        kDirtyBayerAlg = 10,
        kDirtyDeadPixel = 11,
    };

    using Settings = CameraIspSettings;

    // Processing levels: the vector kernels run from kVectorLevel on, the scalar ones below.
    // The camera manager runs every camera at level 6.
    static constexpr int kVectorLevel = 5;

    // Input media types the pipeline accepts.
    static constexpr uint32_t kInputMono8 = 0x01080000u;
    static constexpr uint32_t kInputBayerGrbg8 = 0x01080008u;
    static constexpr uint32_t kInputBayerGrbg12 = 0x01100010u;  // 12-bit samples, 16-bit words
    static constexpr uint32_t kInputMono12 = 0x01100005u;       // 12-bit samples, 16-bit words
    static constexpr uint32_t kInputYuv422 = 0x0210001Fu;       // packed YUV 4:2:2
    // Output formats with a kernel of their own besides the mono and colour layouts.
    static constexpr uint32_t kOutRaw8 = 0x01080008u;    // "Bayer GRBG8"
    static constexpr uint32_t kOutRaw16 = 0x01100010u;   // "Bayer GRBG12" in 16-bit words
    static constexpr uint32_t kOutMono16 = 0x01100005u;  // 16-bit grey from 12-bit mono

    // The kernel a frame goes to.
    enum class Kernel {
        kNone,  // no kernel for the input: the frame is refused
        kMono8,
        kMono8Scalar,
        kMono12,
        kMono12Scalar,
        kRaw8ToRaw8,
        kRaw8ToRaw16,
        kRaw16ToRaw16,
        kRaw16ToRaw8,
        kBayer8,
        kBayer8Scalar,
        kBayer16,
        kBayer16Scalar,
        kYuv422,
    };
    // The dispatch by processing level, input media type and ISP output format.
    static Kernel SelectKernel(int processLevel, uint32_t inputMediaType, uint32_t ispOutFormat);
    // Whether this build has the kernel; frames for the others are refused with
    // CAMERA_STATUS_NOT_SUPPORTED.
    static bool HasKernel(Kernel kernel);

    CameraISP();
    virtual ~CameraISP();
    CameraISP(const CameraISP&) = delete;
    CameraISP& operator=(const CameraISP&) = delete;

    // (Re)initialises everything from the controller's settings block: the lookup tables for
    // the input media type the sensor delivers, every active and pending setting (anything
    // pending is discarded), the mono-camera flag and the processing level, which the caller
    // reads from the camera manager. Always 0.
    int LoadParameter(const CameraSettings& settings, int monoCamera, int bayerAlgMode,
                      uint32_t inputMediaType, int processLevel);

    // The auto-exposure statistics of the frame about to be processed, 0 to 255 each. 0.
    int SetFrameStatistics(uint8_t red, uint8_t green1, uint8_t green2, uint8_t blue);

    // Processes one raw frame into `out` (iWidth x iHeight x bytes per pixel of the output
    // format). Applies the pending settings first, then runs the kernel chosen by the input
    // media type, the active output format and the processing level, and returns its status:
    // 0, CAMERA_STATUS_NOT_SUPPORTED for an input or output format without a kernel,
    // CAMERA_STATUS_PARAMETER_INVALID for a null pointer, CAMERA_STATUS_DATA_INVALID for an
    // empty or short frame, CAMERA_STATUS_NOT_INITIALIZED before the first LoadParameter. On
    // any failure neither `*outInfo` nor `out` is written. The gains (percent, 100 = unity)
    // are read only by the colour and raw-output kernels. `raw` is written in place by the
    // dead-pixel correction.
    int ProcessFrame(const stImageInfo* inInfo, uint8_t* raw, stImageInfo* outInfo, uint8_t* out,
                     uint32_t redGain, uint32_t greenGain, uint32_t blueGain);

    // Bytes per pixel, output id and output descriptor for the active output format; 0 or
    // CAMERA_STATUS_NOT_SUPPORTED (nothing written then).
    int GetOutFormatInfo(int* bytesPerPixel, int* outputId, const stImageInfo* inInfo,
                         stImageInfo* outInfo) const;

    // Setters behind the exports: each stores a pending value and a dirty code and returns 0.
    int SetSharpness(int sharpness);
    int SetContrast(int contrast);
    int SetSaturation(int saturation);
    int SetIspOutFormat(uint32_t mediaType);
    // Direction 0 horizontal, 1 vertical (low 8 bits of `on`); CAMERA_STATUS_PARAMETER_INVALID
    // and nothing stored for another direction.
    int SetMirror(int direction, int on);
    int SetMonochrome(int on);
    int SetBayerAlgMode(int mode);
    int SetBayerAlgThreshold(int threshold);
    int SetCorrectDeadPixel(int on);
    int SetBlackOffset(int offset);

    // Lookup tables (rules in LutTables.h). The mode-dependent setters answer
    // CAMERA_STATUS_PARAMETER_INVALID outside their active LUT mode or for a bad index.
    int SetLutMode(int mode);
    int SetGamma(int gamma);
    int SetContrastLut(int contrastLut);
    int SelectLutPreset(int index);
    int SetCustomLut(int index, const uint16_t* table);  // 4096 entries
    int GetCustomLut(int index, uint16_t* table) const;
    int GetCurrentLut(int index, uint16_t* table) const;
    // For the parameter-group load: fills custom curve 0 (red), 1 (green) or 2 (blue) from a
    // file's table whatever the LUT mode; the next LoadParameter derives the tables from it.
    // CAMERA_STATUS_PARAMETER_INVALID for another channel or a null curve.
    int StoreCustomCurve(int channel, const uint16_t* curve);

    // Lens-shading calibration and correction on the caller's buffers (LensShading.h), under
    // the object's mutex: CAMERA_STATUS_PARAMETER_INVALID for a null record or a request the
    // checks refuse, CAMERA_STATUS_NOT_SUPPORTED for a media type other than 8- or 16-bit mono.
    int LscCalibrate(tSdkLscCalibParam* param);
    int LscCorrect(tSdkLscCorrectParam* param);

    // Getters of the active settings.
    int GetLutMode() const;
    int GetGamma() const;
    int GetContrastLut() const;
    int GetLutPreset() const;
    int GetSharpness() const;
    int GetSaturation() const;
    int GetContrast() const;
    uint32_t GetIspOutFormat() const;
    int GetProcessLevel() const;

  private:
    void ApplyPendingParams();
    // The kernel of a chosen kind on the active settings.
    int ProcessColour(Kernel kernel, qv::isp::IspFrame& frame, uint32_t redGain, uint32_t greenGain,
                      uint32_t blueGain);
    int ProcessMono(Kernel kernel, qv::isp::IspFrame& frame);

    bool m_loaded = false;  // LoadParameter has run
    qv::isp::CLutTables m_lut;
    int m_colorMatrix[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};  // row by row, 256 = unity
    int m_monoCamera = 0;
    int m_processLevel = 0;
    qv::isp::IspFrameStatistics m_stats;
    qv::isp::IspWorkBuffers m_work;
};
