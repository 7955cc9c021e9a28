// Rows of the bad-input table: trigger, strobe and I/O lines, and the GigE stream settings (a
// USB camera keeps them and its device refuses the ones that need a GigE camera).
#include <climits>
#include <vector>

#include "BadInputArgs.h"

namespace badinput {

namespace {

constexpr int kInvalid = CAMERA_STATUS_PARAMETER_INVALID;
constexpr int kNotSupported = CAMERA_STATUS_NOT_SUPPORTED;
constexpr int kOutOfRange = CAMERA_STATUS_PARAMETER_OUT_OF_RANGE;

// Line indices the camera lacks, answered with `code`: below 0, its count, the handled maximum
// and beyond, and the ends of int.
std::vector<IntCase> BadLines(int count, int handled, Expect code) {
    return {{-1, code}, {count, code}, {handled, code}, {INT_MAX, code}, {INT_MIN, code}};
}

// The caller's int of a getter that must leave it alone when it fails.
constexpr int kUntouched = 0x5A5A5A5A;

// A setter of an output (or input) line's value, kept with the line's settings: the line index
// takes the bad lines, the value the given bad values. A call that succeeds is undone.
template <class V>
Row LineSetterRow(const char* name, int (*set)(HANDLE, int, V), int (*get)(HANDLE, int, V*),
                  bool input, Expect badLine, std::initializer_list<IntCase> badValues) {
    std::vector<IntCase> values(badValues);
    return {name, 0, [set, get, input, badLine, values](Args& a) {
                HANDLE h = a.Ctx().handle;
                const int count = input ? a.Ctx().inputLines : a.Ctx().outputLines;
                const std::vector<IntCase> lines = BadLines(count, input ? 2 : 4, badLine);
                V was{};
                get(h, 0, &was);
                HANDLE handle = a.Handle();
                const int line = a.Int(0, lines);
                const V value = static_cast<V>(a.Int(static_cast<int>(was), values));
                const int r = set(handle, line, value);
                if (r == 0) set(h, line, was);
                return r;
            }};
}

template <class V>
Row LineGetterRow(const char* name, int (*get)(HANDLE, int, V*), bool input, Expect badLine,
                  bool untouchedOnFailure = false) {
    return {name, 0, [get, input, badLine, untouchedOnFailure](Args& a) {
                const int count = input ? a.Ctx().inputLines : a.Ctx().outputLines;
                const std::vector<IntCase> lines = BadLines(count, input ? 2 : 4, badLine);
                V* out = a.Out<V>();
                if (out != nullptr) *out = static_cast<V>(kUntouched);
                const int r = get(a.Handle(), a.Int(0, lines), out);
                if (untouchedOnFailure && r != 0 && out != nullptr &&
                    *out != static_cast<V>(kUntouched))
                    return kMismatch;
                return r;
            }};
}

}  // namespace

std::vector<Row> LineRows() {
    std::vector<Row> rows;

    // ---- Trigger.
    rows.push_back(
        {"CameraSetTriggerMode", 0, [](Args& a) {
             return CameraSetTriggerMode(
                 a.Handle(),
                 a.Int(TRIGGER_MODE_CONTINUOUS,
                       {{-1, kInvalid}, {3, kInvalid}, {INT_MAX, kInvalid}, {INT_MIN, kInvalid}}));
         }});
    rows.push_back({"CameraGetTriggerMode", 0,
                    [](Args& a) { return CameraGetTriggerMode(a.Handle(), a.Out<int>()); }});
    // Continuous mode takes no software trigger.
    rows.push_back({"CameraSoftTrigger", CAMERA_STATUS_FAILED,
                    [](Args& a) { return CameraSoftTrigger(a.Handle()); }});
    // The camera takes any count as unsigned; 0 gives one frame.
    rows.push_back({"CameraSetTriggerFrameCount", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        int was = 0;
                        CameraGetTriggerFrameCount(h, &was);
                        const int r = CameraSetTriggerFrameCount(
                            a.Handle(), a.Int(was, {{0, 0}, {-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                        if (r == 0) CameraSetTriggerFrameCount(h, was);
                        return r;
                    }});
    rows.push_back({"CameraGetTriggerFrameCount", 0,
                    [](Args& a) { return CameraGetTriggerFrameCount(a.Handle(), a.Out<int>()); }});
    // Times are 24-bit on some boards, which refuse longer ones.
    rows.push_back({"CameraSetTriggerDelayTime", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        UINT was = 0;
                        CameraGetTriggerDelayTime(h, &was);
                        const int r = CameraSetTriggerDelayTime(
                            a.Handle(), a.UInt(was, {{0x1000000, {0, kOutOfRange}},
                                                     {UINT_MAX, {0, kOutOfRange}},
                                                     {0xFFFFFF, 0}}));
                        if (r == 0) CameraSetTriggerDelayTime(h, was);
                        return r;
                    }});
    rows.push_back({"CameraGetTriggerDelayTime", 0,
                    [](Args& a) { return CameraGetTriggerDelayTime(a.Handle(), a.Out<UINT>()); }});
    rows.push_back(LineSetterRow<UINT>("CameraSetTriggerJitterTime", CameraSetTriggerJitterTime,
                                       CameraGetTriggerJitterTime, true, kInvalid,
                                       {{0, 0}, {0xFFFF, 0}, {UINT_MAX, {0, kOutOfRange}}}));
    rows.push_back(LineGetterRow<UINT>("CameraGetTriggerJitterTime", CameraGetTriggerJitterTime,
                                       true, kInvalid));
    // Outside hardware-trigger mode the signal type is only kept.
    rows.push_back(LineSetterRow<int>("CameraSetTriggerSignalType", CameraSetTriggerSignalType,
                                      CameraGetTriggerSignalType, true, kInvalid,
                                      {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
    rows.push_back(LineGetterRow<int>("CameraGetTriggerSignalType", CameraGetTriggerSignalType,
                                      true, kInvalid, true));

    // ---- Strobe: output 0 is a strobe output, so its values reach the camera, which refuses
    // what it cannot hold.
    rows.push_back(LineSetterRow<int>("CameraSetStrobeMode", CameraSetStrobeMode,
                                      CameraGetStrobeMode, false, kInvalid,
                                      {{-1, kInvalid}, {2, kInvalid}, {INT_MIN, kInvalid}}));
    rows.push_back(
        LineGetterRow<int>("CameraGetStrobeMode", CameraGetStrobeMode, false, kInvalid, true));
    rows.push_back(LineSetterRow<UINT>(
        "CameraSetStrobeDelayTime", CameraSetStrobeDelayTime, CameraGetStrobeDelayTime, false,
        kInvalid, {{0x1000000, {0, kOutOfRange}}, {UINT_MAX, {0, kOutOfRange}}, {0xFFFFFF, 0}}));
    rows.push_back(
        LineGetterRow<UINT>("CameraGetStrobeDelayTime", CameraGetStrobeDelayTime, false, kInvalid));
    rows.push_back(LineSetterRow<UINT>(
        "CameraSetStrobePulseWidth", CameraSetStrobePulseWidth, CameraGetStrobePulseWidth, false,
        kInvalid, {{0x1000000, {0, kOutOfRange}}, {UINT_MAX, {0, kOutOfRange}}, {0xFFFFFF, 0}}));
    rows.push_back(LineGetterRow<UINT>("CameraGetStrobePulseWidth", CameraGetStrobePulseWidth,
                                       false, kInvalid));
    rows.push_back(LineSetterRow<int>("CameraSetStrobePolarity", CameraSetStrobePolarity,
                                      CameraGetStrobePolarity, false, kInvalid,
                                      {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
    rows.push_back(
        LineGetterRow<int>("CameraGetStrobePolarity", CameraGetStrobePolarity, false, kInvalid));

    // ---- I/O lines: a line the camera lacks is not supported.
    rows.push_back(LineSetterRow<int>("CameraSetOutputIOMode", CameraSetOutputIOMode,
                                      CameraGetOutputIOMode, false, kNotSupported,
                                      {{-1, kInvalid}, {3, kInvalid}, {INT_MIN, kInvalid}}));
    rows.push_back(
        LineGetterRow<int>("CameraGetOutputIOMode", CameraGetOutputIOMode, false, kNotSupported));
    // The mode is kept in a byte: what does not fit is refused.
    rows.push_back(LineSetterRow<int>(
        "CameraSetInputIOMode", CameraSetInputIOMode, CameraGetInputIOMode, true, kNotSupported,
        {{-1, kInvalid}, {256, kInvalid}, {INT_MAX, kInvalid}, {INT_MIN, kInvalid}, {255, 0}}));
    rows.push_back(
        LineGetterRow<int>("CameraGetInputIOMode", CameraGetInputIOMode, true, kNotSupported));
    rows.push_back(LineSetterRow<int>("CameraSetOutputIOState", CameraSetOutputIOState,
                                      CameraGetOutputIOState, false, kNotSupported,
                                      {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
    rows.push_back(
        LineGetterRow<int>("CameraGetOutputIOState", CameraGetOutputIOState, false, kNotSupported));
    // A duty above the period is refused.
    rows.push_back(
        {"CameraSetOutputIOPWM", 0, [](Args& a) {
             HANDLE h = a.Ctx().handle;
             const std::vector<IntCase> lines = BadLines(a.Ctx().outputLines, 4, kNotSupported);
             UINT period = 0, duty = 0;
             CameraGetOutputIOPWM(h, 0, &period, &duty);
             HANDLE handle = a.Handle();
             const int line = a.Int(0, lines);
             const UINT p = a.UInt(period, {{0, duty == 0 ? 0 : kInvalid}, {UINT_MAX, 0}});
             const UINT d = a.UInt(duty, {{UINT_MAX, period == UINT_MAX ? 0 : kInvalid}, {0, 0}});
             const int r = CameraSetOutputIOPWM(handle, line, p, d);
             if (r == 0) CameraSetOutputIOPWM(h, line, period, duty);
             return r;
         }});
    rows.push_back({"CameraGetOutputIOPWM", 0, [](Args& a) {
                        const std::vector<IntCase> lines =
                            BadLines(a.Ctx().outputLines, 4, kNotSupported);
                        HANDLE handle = a.Handle();
                        const int line = a.Int(0, lines);
                        return CameraGetOutputIOPWM(handle, line, a.Out<UINT>(), a.Out<UINT>());
                    }});
    rows.push_back(
        LineGetterRow<UINT>("CameraGetInputIOState", CameraGetInputIOState, true, kNotSupported));

    // ---- GigE stream settings: kept on every camera, refused by a USB camera's device.
    // Sizes are brought into 1500 to 9000 (the stream restarts with a new one).
    rows.push_back({"CameraGigeSetTransPacketSize", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        int was = 0;
                        CameraGigeGetTransPacketSize(h, &was);
                        const int r = CameraGigeSetTransPacketSize(
                            a.Handle(), a.Int(was, {{0, 0}, {-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                        int now = 0;
                        CameraGigeGetTransPacketSize(h, &now);
                        if (r == 0) CameraGigeSetTransPacketSize(h, was);
                        if (now < 1500 || now > 9000 || now % 4 != 0) return kMismatch;
                        return r;
                    }});
    rows.push_back({"CameraGigeGetTransPacketSize", 0, [](Args& a) {
                        return CameraGigeGetTransPacketSize(a.Handle(), a.Out<int>());
                    }});
    // The same delay again is no change; another one goes to the device, which refuses it.
    rows.push_back({"CameraGigeSetPacketDelayTime", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        int was = 0;
                        CameraGigeGetPacketDelayTime(h, &was);
                        return CameraGigeSetPacketDelayTime(a.Handle(),
                                                            a.Int(was, {{-1, kNotSupported},
                                                                        {1000, kNotSupported},
                                                                        {INT_MAX, kNotSupported},
                                                                        {INT_MIN, kNotSupported}}));
                    }});
    rows.push_back({"CameraGigeGetPacketDelayTime", 0, [](Args& a) {
                        return CameraGigeGetPacketDelayTime(a.Handle(), a.Out<int>());
                    }});
    rows.push_back({"CameraGigeSetResend", kNotSupported, [](Args& a) {
                        const std::initializer_list<IntCase> bad = {{-1, kNotSupported},
                                                                    {INT_MAX, kNotSupported},
                                                                    {INT_MIN, kNotSupported}};
                        HANDLE handle = a.Handle();
                        const int enable = a.Int(1, bad);
                        const int x = a.Int(10, bad), y = a.Int(30, bad), z = a.Int(3, bad);
                        return CameraGigeSetResend(handle, enable, x, y, z);
                    }});
    rows.push_back({"CameraGigeGetOptimalPacketSize", kNotSupported, [](Args& a) {
                        return CameraGigeGetOptimalPacketSize(a.Handle(), a.Out<int>());
                    }});
    return rows;
}

}  // namespace badinput
