// Rows of the bad-input table: exposure, white balance, lookup tables, frame speed and
// resolution, ISP output, mirror, monochrome, black level and dead pixels.
//
// A setter that succeeds is undone within its row, so that every row meets the camera as it was
// opened; one that fails is not, so that what a failed call changed shows. Settings the pipeline
// takes at the next processed frame get one processed frame before they are undone.
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "BadInputArgs.h"

namespace badinput {

namespace {

constexpr int kInvalid = CAMERA_STATUS_PARAMETER_INVALID;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using IntSetter = int (*)(HANDLE, int);
using IntGetter = int (*)(HANDLE, int*);

void ProcessOneFrame(HANDLE h) {
    stImageInfo info{};
    CameraGetImageBufferEx(h, &info, 5000);
}

// A flag: any non-zero value is stored as 1, and the getter reports what was stored.
Row FlagRow(const char* name, IntSetter set, IntGetter get, bool displayed = false) {
    return {name, 0, [set, get, displayed](Args& a) {
                HANDLE h = a.Ctx().handle;
                // The window flags are kept only while the display runs.
                if (displayed) CameraDisplayInit(h, 1);
                int was = 0;
                get(h, &was);
                HANDLE handle = a.Handle();
                const int on = a.Int(was, {{7, 0}, {-1, 0}, {INT_MIN, 0}});
                int r = set(handle, on);
                if (r == 0) {
                    int now = -1;
                    if (get(h, &now) != 0 || now != (on != 0 ? 1 : 0)) r = kMismatch;
                    ProcessOneFrame(h);
                    set(h, was);
                }
                return r;
            }};
}

// A value brought into the camera's range (or taken as it is): every int is answered with 0.
Row ClampedRow(const char* name, IntSetter set, IntGetter get, Expect ifBad = 0) {
    return {name, 0, [set, get, ifBad](Args& a) {
                HANDLE h = a.Ctx().handle;
                int was = 0;
                get(h, &was);
                const int r = set(a.Handle(), a.Int(was, {{-1, ifBad},
                                                          {0, ifBad},
                                                          {1000000, ifBad},
                                                          {INT_MAX, ifBad},
                                                          {INT_MIN, ifBad}}));
                if (r == 0) {
                    ProcessOneFrame(h);
                    set(h, was);
                }
                return r;
            }};
}

// A getter of one int; a null pointer is answered with ifNull and nothing written.
Row GetterRow(const char* name, IntGetter get, Expect ifNull = 0) {
    return {name, 0, [get, ifNull](Args& a) { return get(a.Handle(), a.Out<int>(ifNull)); }};
}

// Auto exposure on for the call (the range setters refuse everything while it is off).
struct AeOn {
    explicit AeOn(HANDLE handle) : h(handle) { CameraSetAeState(h, 1); }
    ~AeOn() { CameraSetAeState(h, 0); }
    HANDLE h;
};

// The lookup-table mode for the call (each mode's setters refuse in the others). A new mode is
// in force from the next processed frame.
struct LutMode {
    LutMode(HANDLE handle, int mode) : h(handle) {
        CameraGetLutMode(h, &was);
        CameraSetLutMode(h, mode);
        ProcessOneFrame(h);
    }
    ~LutMode() {
        CameraSetLutMode(h, was);
        ProcessOneFrame(h);
    }
    HANDLE h;
    int was = 0;
};

// A window setter: negative sizes are refused; positions and sizes beyond the image are kept
// and clipped when reported.
Row WindowRow(const char* name, int (*set)(HANDLE, int, int, int, int),
              int (*get)(HANDLE, int*, int*, int*, int*)) {
    return {
        name, 0, [set, get](Args& a) {
            HANDLE h = a.Ctx().handle;
            int w[4] = {};
            get(h, &w[0], &w[1], &w[2], &w[3]);
            const std::initializer_list<IntCase> position = {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}};
            const std::initializer_list<IntCase> size = {
                {-1, kInvalid}, {INT_MIN, kInvalid}, {INT_MAX, 0}, {0, 0}};
            const int r = set(a.Handle(), a.Int(w[0], position), a.Int(w[1], position),
                              a.Int(w[2], size), a.Int(w[3], size));
            if (r == 0) {
                int now[4] = {};
                get(h, &now[0], &now[1], &now[2], &now[3]);
                ProcessOneFrame(h);
                set(h, w[0], w[1], w[2], w[3]);
                // Reported clipped to the image.
                if (now[0] < 0 || now[1] < 0 || now[2] < 0 || now[3] < 0 || now[0] + now[2] > 320 ||
                    now[1] + now[3] > 240)
                    return kMismatch;
            }
            return r;
        }};
}

Row WindowGetterRow(const char* name, int (*get)(HANDLE, int*, int*, int*, int*)) {
    return {name, 0, [get](Args& a) {
                return get(a.Handle(), a.Out<int>(0), a.Out<int>(0), a.Out<int>(0), a.Out<int>(0));
            }};
}

tSdkResolution CurrentResolution(HANDLE h) {
    tSdkResolution res{};
    CameraGetCurResolution(h, &res);
    return res;
}

}  // namespace

std::vector<Row> SettingsRows() {
    std::vector<Row> rows;

    // ---- Exposure.
    rows.push_back(FlagRow("CameraSetAeState", CameraSetAeState, CameraGetAeState));
    rows.push_back(GetterRow("CameraGetAeState", CameraGetAeState, kInvalid));
    rows.push_back({"CameraSetAeTarget", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        USHORT was = 0;
                        CameraGetAeTarget(h, &was);
                        const int r = CameraSetAeTarget(
                            a.Handle(), a.UShort(was, {{0, 0}, {1, 0}, {65535, 0}}));
                        if (r == 0) CameraSetAeTarget(h, was);
                        return r;
                    }});
    rows.push_back({"CameraGetAeTarget", 0,
                    [](Args& a) { return CameraGetAeTarget(a.Handle(), a.Out<USHORT>(0)); }});
    rows.push_back(ClampedRow("CameraSetAnalogGain", CameraSetAnalogGain, CameraGetAnalogGain));
    rows.push_back(GetterRow("CameraGetAnalogGain", CameraGetAnalogGain, kInvalid));
    // Any time is programmed as whole lines the sensor can take.
    rows.push_back(
        {"CameraSetExposureTime", 0, [](Args& a) {
             HANDLE h = a.Ctx().handle;
             double was = 0;
             CameraGetExposureTime(h, &was);
             const int r = CameraSetExposureTime(
                 a.Handle(),
                 a.Real(
                     was,
                     {{0, 0}, {-1, 0}, {kNaN, 0}, {kInf, 0}, {-kInf, 0}, {1e300, 0}, {1e-300, 0}}));
             if (r == 0) {
                 double now = 0;
                 CameraGetExposureTime(h, &now);
                 CameraSetExposureTime(h, was);
                 if (!(now >= 0) || std::isinf(now)) return kMismatch;
             }
             return r;
         }});
    rows.push_back({"CameraGetExposureTime", 0,
                    [](Args& a) { return CameraGetExposureTime(a.Handle(), a.Out<double>()); }});
    rows.push_back({"CameraGetExposureLineTime", 0, [](Args& a) {
                        return CameraGetExposureLineTime(a.Handle(),
                                                         a.Out<double>(CAMERA_STATUS_FAILED));
                    }});
    rows.push_back({"CameraGetFrameTime", 0,
                    [](Args& a) { return CameraGetFrameTime(a.Handle(), a.Out<double>(0)); }});
    rows.push_back(WindowRow("CameraSetAeWindow", CameraSetAeWindow, CameraGetAeWindow));
    rows.push_back(WindowGetterRow("CameraGetAeWindow", CameraGetAeWindow));
    rows.push_back(
        FlagRow("CameraSetAeWinVisible", CameraSetAeWinVisible, CameraGetAeWinVisible, true));
    rows.push_back(GetterRow("CameraGetAeWinVisible", CameraGetAeWinVisible, kInvalid));
    rows.push_back(FlagRow("CameraSetAntiFlick", CameraSetAntiFlick, CameraGetAntiFlick));
    rows.push_back(GetterRow("CameraGetAntiFlick", CameraGetAntiFlick, kInvalid));
    rows.push_back(
        ClampedRow("CameraSetLightFrequency", CameraSetLightFrequency, CameraGetLightFrequency));
    rows.push_back(GetterRow("CameraGetLightFrequency", CameraGetLightFrequency));
    rows.push_back({"CameraSetAeExposureMode", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        AeOn ae(h);
                        int was = 0;
                        CameraGetAeExposureMode(h, &was);
                        const int r = CameraSetAeExposureMode(
                            a.Handle(), a.Int(was, {{-1, 0}, {2, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                        if (r == 0) {
                            ProcessOneFrame(h);
                            CameraSetAeExposureMode(h, was);
                        }
                        return r;
                    }});
    rows.push_back(GetterRow("CameraGetAeExposureMode", CameraGetAeExposureMode));
    rows.push_back(
        {"CameraSetAeExposureRange", 0, [](Args& a) {
             HANDLE h = a.Ctx().handle;
             AeOn ae(h);
             double lo = 0, hi = 0;
             CameraGetAeExposureRange(h, &lo, &hi);
             HANDLE handle = a.Handle();
             const double minUs = a.Real(
                 lo, {{kNaN, kInvalid}, {1e300, kInvalid}, {kInf, kInvalid}, {-1, 0}, {-kInf, 0}});
             const double maxUs = a.Real(
                 hi, {{kNaN, kInvalid}, {-1, kInvalid}, {-kInf, kInvalid}, {1e300, 0}, {kInf, 0}});
             const int r = CameraSetAeExposureRange(handle, minUs, maxUs);
             if (r == 0) {
                 double nowLo = 0, nowHi = 0;
                 CameraGetAeExposureRange(h, &nowLo, &nowHi);
                 ProcessOneFrame(h);
                 CameraSetAeExposureRange(h, lo, hi);
                 if (!(nowLo <= nowHi) || std::isinf(nowHi)) return kMismatch;
             }
             return r;
         }});
    rows.push_back({"CameraGetAeExposureRange", 0, [](Args& a) {
                        return CameraGetAeExposureRange(a.Handle(), a.Out<double>(0),
                                                        a.Out<double>(0));
                    }});
    // Both ends cut to the sensor's range, as ints, and then compared: the valid range reaches
    // past both ends of the sensor's; a minimum above its maximum or a maximum below its
    // minimum leaves nothing.
    rows.push_back({"CameraSetAeAnalogGainRange", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        AeOn ae(h);
                        int lo = 0, hi = 0;
                        CameraGetAeAnalogGainRange(h, &lo, &hi);
                        tSdkCapability cap{};
                        CameraGetCapability(h, &cap);
                        HANDLE handle = a.Handle();
                        // The sensor's range (the camera's stored one need not be a range).
                        const int sensorMin = static_cast<int>(cap.auSensorParam[2]);
                        const int sensorMax = static_cast<int>(cap.auSensorParam[3]);
                        const int minGain = a.Int(sensorMin - 1, {{-1, 0},
                                                                  {INT_MAX, kInvalid},
                                                                  {INT_MIN, 0},
                                                                  {sensorMax, 0},
                                                                  {sensorMax + 1, kInvalid}});
                        const int maxGain = a.Int(sensorMax + 1, {{-1, kInvalid},
                                                                  {INT_MIN, kInvalid},
                                                                  {0, kInvalid},
                                                                  {sensorMin, 0},
                                                                  {sensorMin - 1, kInvalid}});
                        const int r = CameraSetAeAnalogGainRange(handle, minGain, maxGain);
                        if (r == 0) {
                            ProcessOneFrame(h);
                            CameraSetAeAnalogGainRange(h, lo, hi);
                        }
                        return r;
                    }});
    rows.push_back({"CameraGetAeAnalogGainRange", 0, [](Args& a) {
                        return CameraGetAeAnalogGainRange(a.Handle(), a.Out<int>(0), a.Out<int>(0));
                    }});

    // ---- White balance.
    rows.push_back(FlagRow("CameraSetWbMode", CameraSetWbMode, CameraGetWbMode));
    rows.push_back(GetterRow("CameraGetWbMode", CameraGetWbMode, kInvalid));
    rows.push_back({"CameraSetGain", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        USHORT g[3] = {};
                        CameraGetGain(h, &g[0], &g[1], &g[2]);
                        const std::initializer_list<IntCase> bad = {{0, 0}, {65535, 0}};
                        const int r = CameraSetGain(a.Handle(), a.UShort(g[0], bad),
                                                    a.UShort(g[1], bad), a.UShort(g[2], bad));
                        if (r == 0) {
                            ProcessOneFrame(h);
                            CameraSetGain(h, g[0], g[1], g[2]);
                        }
                        return r;
                    }});
    rows.push_back({"CameraGetGain", 0, [](Args& a) {
                        return CameraGetGain(a.Handle(), a.Out<USHORT>(0), a.Out<USHORT>(0),
                                             a.Out<USHORT>(0));
                    }});
    // A mono camera offers no one-push white balance.
    rows.push_back({"CameraSetOnceWB", CAMERA_STATUS_NOT_SUPPORTED,
                    [](Args& a) { return CameraSetOnceWB(a.Handle()); }});
    rows.push_back(WindowRow("CameraSetWbWindow", CameraSetWbWindow, CameraGetWbWindow));
    rows.push_back(WindowGetterRow("CameraGetWbWindow", CameraGetWbWindow));
    rows.push_back(
        FlagRow("CameraSetWbWinVisible", CameraSetWbWinVisible, CameraGetWbWinVisible, true));
    rows.push_back(GetterRow("CameraGetWbWinVisible", CameraGetWbWinVisible, kInvalid));

    // ---- Lookup tables, gamma, contrast, sharpness and saturation.
    // Any mode is kept; modes other than 0 to 2 leave the curve as it is.
    rows.push_back({"CameraSetLutMode", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        int was = 0;
                        CameraGetLutMode(h, &was);
                        const int r = CameraSetLutMode(
                            a.Handle(), a.Int(was, {{-1, 0}, {3, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                        if (r == 0) {
                            ProcessOneFrame(h);
                            CameraSetLutMode(h, was);
                            ProcessOneFrame(h);
                        }
                        return r;
                    }});
    rows.push_back(GetterRow("CameraGetLutMode", CameraGetLutMode));
    rows.push_back(ClampedRow("CameraSetGamma", CameraSetGamma, CameraGetGamma));
    rows.push_back(GetterRow("CameraGetGamma", CameraGetGamma));
    rows.push_back(ClampedRow("CameraSetContrastLut", CameraSetContrastLut, CameraGetContrastLut));
    rows.push_back(GetterRow("CameraGetContrastLut", CameraGetContrastLut));
    rows.push_back({"CameraSelectLutPreset", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        LutMode mode(h, 1);
                        int was = 0;
                        CameraGetLutPresetSel(h, &was);
                        const int r =
                            CameraSelectLutPreset(a.Handle(), a.Int(was, {{-1, kInvalid},
                                                                          {1000, kInvalid},
                                                                          {INT_MAX, kInvalid},
                                                                          {INT_MIN, kInvalid}}));
                        if (r == 0) {
                            ProcessOneFrame(h);
                            CameraSelectLutPreset(h, was);
                        }
                        return r;
                    }});
    rows.push_back(GetterRow("CameraGetLutPresetSel", CameraGetLutPresetSel));
    // Channels 0 (all) to 3; the tables have 4096 entries.
    const std::vector<IntCase> badChannels = {
        {-1, kInvalid}, {4, kInvalid}, {INT_MAX, kInvalid}, {INT_MIN, kInvalid}};
    rows.push_back({"CameraSetCustomLut", 0, [badChannels](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        LutMode mode(h, 2);
                        static std::vector<USHORT> table = [] {
                            std::vector<USHORT> t(4096);
                            for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<USHORT>(i);
                            return t;
                        }();
                        const int r = CameraSetCustomLut(a.Handle(), a.Int(0, badChannels),
                                                         a.In(table.data(), CAMERA_STATUS_FAILED));
                        if (r == 0) ProcessOneFrame(h);
                        return r;
                    }});
    rows.push_back({"CameraGetCustomLut", 0, [badChannels](Args& a) {
                        return CameraGetCustomLut(a.Handle(), a.Int(0, badChannels),
                                                  a.Out<USHORT>(CAMERA_STATUS_FAILED));
                    }});
    rows.push_back({"CameraGetCurrentLut", 0, [badChannels](Args& a) {
                        return CameraGetCurrentLut(a.Handle(), a.Int(0, badChannels),
                                                   a.Out<USHORT>(CAMERA_STATUS_FAILED));
                    }});
    rows.push_back(ClampedRow("CameraSetSharpness", CameraSetSharpness, CameraGetSharpness));
    rows.push_back(GetterRow("CameraGetSharpness", CameraGetSharpness));
    rows.push_back(ClampedRow("CameraSetSaturation", CameraSetSaturation, CameraGetSaturation));
    rows.push_back(GetterRow("CameraGetSaturation", CameraGetSaturation));
    rows.push_back(ClampedRow("CameraSetContrast", CameraSetContrast, CameraGetContrast));
    rows.push_back(GetterRow("CameraGetContrast", CameraGetContrast));

    // ---- Frame speed and resolution.
    // The simulated camera lists no frame speed, so even the one it runs with is refused.
    rows.push_back({"CameraSetFrameSpeed", {0, kInvalid}, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        int was = 0;
                        CameraGetFrameSpeed(h, &was);
                        return CameraSetFrameSpeed(a.Handle(), a.Int(was, {{-1, kInvalid},
                                                                           {3, kInvalid},
                                                                           {32, kInvalid},
                                                                           {64, kInvalid},
                                                                           {INT_MAX, kInvalid},
                                                                           {INT_MIN, kInvalid}}));
                    }});
    rows.push_back(GetterRow("CameraGetFrameSpeed", CameraGetFrameSpeed));
    // Preset indices the camera does not have, and the custom region before one was set.
    rows.push_back({"CameraSetResolution", 0, [](Args& a) {
                        return CameraSetResolution(
                            a.Handle(), a.Int(a.Ctx().resolutionIndex, {{-1, kInvalid},
                                                                        {63, kInvalid},
                                                                        {64, kInvalid},
                                                                        {254, kInvalid},
                                                                        {255, kInvalid},
                                                                        {256, kInvalid},
                                                                        {INT_MAX, kInvalid},
                                                                        {INT_MIN, kInvalid}}));
                    }});
    rows.push_back(GetterRow("CameraGetResolution", CameraGetResolution));
    rows.push_back({"CameraSetResolutionEx", 0, [](Args& a) {
                        tSdkResolution res = CurrentResolution(a.Ctx().handle);
                        tSdkResolution mode = res;
                        mode.uModeB = 9;
                        tSdkResolution skip = res;
                        skip.uModeC = 0xFFFFFFFF;
                        tSdkResolution window = res;
                        window.iSensorHeight = res.iSensorHeight * 3;
                        tSdkResolution huge = res;
                        huge.uWidth = huge.uHeight = 0x7FFFFFFC;
                        huge.iSensorWidth = huge.iSensorHeight = 0x7FFFFFFC;
                        tSdkResolution negative = res;
                        negative.iOffsetX = -2;
                        tSdkResolution offset = res;
                        offset.iOffsetX = INT_MAX;
                        offset.iOffsetY = INT_MAX;
                        tSdkResolution zero{};
                        return CameraSetResolutionEx(
                            a.Handle(), a.In(&res, kInvalid,
                                             {{"unknown binning mode", &mode, kInvalid},
                                              {"unknown skip mode", &skip, kInvalid},
                                              {"window not the image", &window, kInvalid},
                                              {"huge", &huge, kInvalid},
                                              {"negative offset", &negative, kInvalid},
                                              {"offsets beyond the sensor", &offset, kInvalid},
                                              {"all zero", &zero, kInvalid}}));
                    }});
    rows.push_back({"CameraGetResolutionEx", 0, [](Args& a) {
                        return CameraGetResolutionEx(
                            a.Handle(),
                            a.Int(a.Ctx().resolutionIndex, {{-1, kInvalid},
                                                            {64, kInvalid},
                                                            {255, kInvalid},
                                                            {INT_MAX, kInvalid},
                                                            {INT_MIN, kInvalid}}),
                            a.Out<tSdkResolution>(0));
                    }});
    rows.push_back({"CameraGetCurResolution", 0, [](Args& a) {
                        return CameraGetCurResolution(a.Handle(), a.Out<tSdkResolution>(0));
                    }});
    rows.push_back({"CameraGetOutImageSize", 0, [](Args& a) {
                        return CameraGetOutImageSize(a.Handle(), a.Out<int>(0), a.Out<int>(0));
                    }});
    rows.push_back({"CameraCustomizeResolution", CAMERA_STATUS_FAILED, [](Args& a) {
                        tSdkResolution res = CurrentResolution(a.Ctx().handle);
                        return CameraCustomizeResolution(a.Handle(), a.In(&res));
                    }});

    // ---- ISP output format, Bayer algorithm, mirror, monochrome, black level, dead pixels.
    // Any output format is kept; the pipeline refuses frames it cannot produce.
    rows.push_back({"CameraSetIspOutFormat", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        UINT was = 0;
                        CameraGetIspOutFormat(h, &was);
                        const int r =
                            CameraSetIspOutFormat(a.Handle(), a.UInt(was, {{0, 0},
                                                                           {0xFFFFFFFF, 0},
                                                                           {0x01000000, 0},
                                                                           {0x02180016, 0},
                                                                           {0x02FF0014, 0},
                                                                           {0x01100005, 0}}));
                        if (r == 0) {
                            ProcessOneFrame(h);
                            CameraSetIspOutFormat(h, was);
                        }
                        return r;
                    }});
    rows.push_back({"CameraGetIspOutFormat", 0,
                    [](Args& a) { return CameraGetIspOutFormat(a.Handle(), a.Out<UINT>(0)); }});
    rows.push_back({"CameraSetSensorOutPixelFormat", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        UINT was = 0;
                        CameraGetSensorOutPixelFormat(h, &was);
                        return CameraSetSensorOutPixelFormat(
                            a.Handle(), a.UInt(was, {{0, CAMERA_STATUS_NOT_SUPPORTED},
                                                     {0xFFFFFFFF, CAMERA_STATUS_NOT_SUPPORTED},
                                                     {0x02180014, CAMERA_STATUS_NOT_SUPPORTED}}));
                    }});
    rows.push_back({"CameraGetSensorOutPixelFormat", 0, [](Args& a) {
                        return CameraGetSensorOutPixelFormat(a.Handle(), a.Out<UINT>());
                    }});
    rows.push_back(
        ClampedRow("CameraSetBayerAlgMode", CameraSetBayerAlgMode, CameraGetBayerAlgMode));
    rows.push_back({"CameraSetBayerAlgThreshold", 0, [](Args& a) {
                        const int r = CameraSetBayerAlgThreshold(
                            a.Handle(), a.Int(0, {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                        CameraSetBayerAlgThreshold(a.Ctx().handle, 0);
                        return r;
                    }});
    rows.push_back(GetterRow("CameraGetBayerAlgMode", CameraGetBayerAlgMode));
    const std::vector<IntCase> badDirections = {
        {-1, kInvalid}, {2, kInvalid}, {INT_MAX, kInvalid}, {INT_MIN, kInvalid}};
    rows.push_back({"CameraSetMirror", 0, [badDirections](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        HANDLE handle = a.Handle();
                        const int direction = a.Int(0, badDirections);
                        const int on = a.Int(0, {{7, 0}, {-1, 0}});
                        const int r = CameraSetMirror(handle, direction, on);
                        if (r == 0) {
                            int now = -1;
                            CameraGetMirror(h, direction, &now);
                            ProcessOneFrame(h);
                            CameraSetMirror(h, direction, 0);
                            if (now != (on != 0 ? 1 : 0)) return kMismatch;
                        }
                        return r;
                    }});
    // A bad direction still writes the caller's int: 0.
    rows.push_back({"CameraGetMirror", 0, [badDirections](Args& a) {
                        int* on = a.Out<int>();
                        const int r = CameraGetMirror(a.Handle(), a.Int(0, badDirections), on);
                        if (r == kInvalid && on != nullptr && *on != 0) return kMismatch;
                        return r;
                    }});
    rows.push_back(FlagRow("CameraSetMonochrome", CameraSetMonochrome, CameraGetMonochrome));
    rows.push_back(GetterRow("CameraGetMonochrome", CameraGetMonochrome, kInvalid));
    rows.push_back(ClampedRow("CameraSetBlackLevel", CameraSetBlackLevel, CameraGetBlackLevel));
    rows.push_back(GetterRow("CameraGetBlackLevel", CameraGetBlackLevel));
    rows.push_back(
        FlagRow("CameraSetCorrectDeadPixel", CameraSetCorrectDeadPixel, CameraGetCorrectDeadPixel));
    rows.push_back(GetterRow("CameraGetCorrectDeadPixel", CameraGetCorrectDeadPixel, kInvalid));

    // Lens shading works on the caller's buffers: records that do not fit them are refused
    // before anything is written.
    rows.push_back({"CameraLscCalib", 0, [](Args& a) {
                        std::vector<uint8_t> image(64 * 48, 100);
                        std::vector<uint8_t> table(3 * 3 * 2 + 64, 0);
                        tSdkLscCalibParam good{};
                        good.uWidth = 64;
                        good.uHeight = 48;
                        good.uMediaType = CAMERA_MEDIA_TYPE_MONO8;
                        good.pImage = image.data();
                        good.uImageSize = 64 * 48;
                        good.pTable = table.data();
                        good.uTableCapacity = static_cast<UINT>(table.size());
                        good.uGridColumns = good.uGridRows = 2;
                        tSdkLscCalibParam zero{}, noImage = good, shortImage = good, noTable = good,
                                                  smallTable = good, grid1 = good, hugeGrid = good,
                                                  huge = good, colour = good;
                        noImage.pImage = nullptr;
                        shortImage.uImageSize = 64 * 47;
                        noTable.pTable = nullptr;
                        smallTable.uTableCapacity = 8;
                        grid1.uGridColumns = 1;
                        hugeGrid.uGridRows = UINT_MAX;
                        huge.uWidth = huge.uHeight = 0x80000000u;
                        colour.uMediaType = CAMERA_MEDIA_TYPE_BGR8;
                        HANDLE handle = a.Handle();
                        tSdkLscCalibParam* p =
                            a.In(&good, kInvalid,
                                 {{"zero record", &zero, {kInvalid, CAMERA_STATUS_NOT_SUPPORTED}},
                                  {"null image", &noImage, kInvalid},
                                  {"image shorter than its size", &shortImage, kInvalid},
                                  {"null table", &noTable, kInvalid},
                                  {"table too small", &smallTable, kInvalid},
                                  {"grid of one column", &grid1, kInvalid},
                                  {"huge grid", &hugeGrid, kInvalid},
                                  {"huge image", &huge, kInvalid},
                                  {"colour media type", &colour, CAMERA_STATUS_NOT_SUPPORTED}});
                        const int r = CameraLscCalib(handle, p);
                        // A refused request writes nothing into the table.
                        if (r != 0)
                            for (uint8_t b : table)
                                if (b != 0) return kMismatch;
                        return r;
                    }});
    rows.push_back({"CameraLscCorrect", 0, [](Args& a) {
                        std::vector<uint8_t> image(64 * 48, 100);
                        std::vector<uint8_t> out(64 * 48, 0);
                        // The table of a 2 x 2 grid over a flat field.
                        std::vector<uint8_t> table(3 * 3 * 2 + 64, 0);
                        tSdkLscCalibParam calib{};
                        calib.uWidth = 64;
                        calib.uHeight = 48;
                        calib.uMediaType = CAMERA_MEDIA_TYPE_MONO8;
                        calib.pImage = image.data();
                        calib.uImageSize = 64 * 48;
                        calib.pTable = table.data();
                        calib.uTableCapacity = static_cast<UINT>(table.size());
                        calib.uGridColumns = calib.uGridRows = 2;
                        if (CameraLscCalib(a.Ctx().handle, &calib) != 0) return kMismatch;
                        tSdkLscCorrectParam good{};
                        good.uWidth = 64;
                        good.uHeight = 48;
                        good.uMediaType = CAMERA_MEDIA_TYPE_MONO8;
                        good.pInput = image.data();
                        good.uInputSize = 64 * 48;
                        good.pOutput = out.data();
                        good.uOutputCapacity = 64 * 48;
                        good.pTable = table.data();
                        good.uTableSize = calib.uTableSize;
                        tSdkLscCorrectParam zero{},
                            noInput = good, noOutput = good, shortOutput = good, shortTable = good,
                            noTable = good, huge = good, colour = good, badMagic = good,
                            bigGrid = good;
                        noInput.pInput = nullptr;
                        noOutput.pOutput = nullptr;
                        shortOutput.uOutputCapacity = 64 * 47;
                        shortTable.uTableSize = 4;
                        noTable.pTable = nullptr;
                        huge.uWidth = huge.uHeight = 0x80000000u;
                        colour.uMediaType = CAMERA_MEDIA_TYPE_BGR8;
                        // Tables whose head does not match them.
                        std::vector<uint8_t> magic = table, grid = table;
                        magic[0] ^= 0xFF;
                        badMagic.pTable = magic.data();
                        grid[4] = grid[5] = 0xFF;  // 65535 columns in a table of 2
                        bigGrid.pTable = grid.data();
                        HANDLE handle = a.Handle();
                        tSdkLscCorrectParam* p =
                            a.In(&good, kInvalid,
                                 {{"zero record", &zero, {kInvalid, CAMERA_STATUS_NOT_SUPPORTED}},
                                  {"null input", &noInput, kInvalid},
                                  {"null output", &noOutput, kInvalid},
                                  {"output too small", &shortOutput, kInvalid},
                                  {"table too short", &shortTable, kInvalid},
                                  {"null table", &noTable, kInvalid},
                                  {"huge image", &huge, kInvalid},
                                  {"table of another magic", &badMagic, kInvalid},
                                  {"table's grid beyond its size", &bigGrid, kInvalid},
                                  {"colour media type", &colour, CAMERA_STATUS_NOT_SUPPORTED}});
                        const int r = CameraLscCorrect(handle, p);
                        if (r != 0 && p != nullptr)
                            for (uint8_t b : out)
                                if (b != 0) return kMismatch;
                        return r;
                    }});
    return rows;
}

}  // namespace badinput
