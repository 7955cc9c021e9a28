// Rows of the bad-input table: enumeration, initialisation and release, capability and device
// information, image acquisition and frames.
#include <climits>
#include <string>

#include "BadInputArgs.h"

namespace badinput {

namespace {

constexpr int kInvalid = CAMERA_STATUS_PARAMETER_INVALID;

// Indices no camera has: there is one.
const std::initializer_list<IntCase> kBadIndices = {
    {-1, kInvalid}, {1, kInvalid}, {INT_MAX, kInvalid}, {INT_MIN, kInvalid}};

// Time-outs a streaming camera answers with a frame or a time-out.
const std::initializer_list<IntCase> kShortTimeouts = {{0, {0, CAMERA_STATUS_TIMEOUT}},
                                                       {-1, {0, CAMERA_STATUS_TIMEOUT}},
                                                       {INT_MIN, {0, CAMERA_STATUS_TIMEOUT}},
                                                       {INT_MAX, 0}};
const std::initializer_list<IntCase> kShortTimeoutsOfPointers = {{0, {kPointer, kNull}},
                                                                 {-1, {kPointer, kNull}},
                                                                 {INT_MIN, {kPointer, kNull}},
                                                                 {INT_MAX, kPointer}};
const std::initializer_list<IntCase> kShortTimeoutsCollapsed = {
    {0, {0, CAMERA_STATUS_FAILED}},
    {-1, {0, CAMERA_STATUS_FAILED}},
    {INT_MIN, {0, CAMERA_STATUS_FAILED}},
    {INT_MAX, 0}};

tSdkResolution CurrentResolution(HANDLE h) {
    tSdkResolution res{};
    CameraGetCurResolution(h, &res);
    return res;
}

}  // namespace

std::vector<Row> AcquisitionRows() {
    std::vector<Row> rows;

    // ---- Enumeration. The host-opened rescan empties the list and the USB rescan fills it
    // again, so the rows after them find the camera at index 0.
    rows.push_back(
        {"CameraEnumerateDeviceFromOpenedDevList", CAMERA_STATUS_NO_DEVICE_FOUND, [](Args& a) {
             // One entry that names no usable device.
             int fd = -1;
             unsigned vidPid = 0;
             char path[] = "/dev/null";
             char* paths[] = {path};
             return CameraEnumerateDeviceFromOpenedDevList(
                 a.Out<int>(),
                 a.Int(1,
                       {{0, CAMERA_STATUS_NO_DEVICE_FOUND}, {-1, kInvalid}, {INT_MIN, kInvalid}}),
                 a.In(&fd), a.In(&vidPid), a.In(&paths[0]));
         }});
    rows.push_back({"CameraEnumerateDeviceEx", 0, [](Args& a) {
                        return CameraEnumerateDeviceEx(
                            a.Out<int>(), a.Int(2, {{0, CAMERA_STATUS_NO_DEVICE_FOUND},
                                                    {1, CAMERA_STATUS_NO_DEVICE_FOUND},
                                                    {INT_MIN, CAMERA_STATUS_NO_DEVICE_FOUND},
                                                    {-1, 0}}));
                    }});
    rows.push_back(
        {"CameraEnumerateDevice", 0, [](Args& a) { return CameraEnumerateDevice(a.Out<int>()); }});
    rows.push_back({"CameraGetEnumIndexInfo", 0, [](Args& a) {
                        return CameraGetEnumIndexInfo(a.Int(0, kBadIndices), a.Out<tDevInfo>());
                    }});
    rows.push_back({"CameraGigeGetIp", CAMERA_STATUS_NOT_SUPPORTED, [](Args& a) {
                        return CameraGigeGetIp(
                            a.Text(a.Ctx().serial.c_str(), kInvalid,
                                   {{"", kInvalid}, {"NO-SUCH-CAMERA", kInvalid}}),
                            a.Out<tGigeIpConfig>());
                    }});
    rows.push_back({"CameraGigeSetIp", CAMERA_STATUS_NOT_SUPPORTED, [](Args& a) {
                        tGigeIpConfig config{};
                        return CameraGigeSetIp(
                            a.Text(a.Ctx().serial.c_str(), kInvalid,
                                   {{"", kInvalid}, {"NO-SUCH-CAMERA", kInvalid}}),
                            a.In(&config));
                    }});

    // ---- Initialisation and release: only the bad arguments (a valid call would open the
    // camera a second time).
    rows.push_back({"CameraInit", kSkip,
                    [](Args& a) { return CameraInit(a.Out<HANDLE>(), a.Int(0, kBadIndices)); }});
    rows.push_back({"CameraInitEx", kSkip, [](Args& a) {
                        return CameraInitEx(a.Out<HANDLE>(), a.Int(0, kBadIndices), a.Int(0),
                                            a.Int(0));
                    }});
    rows.push_back({"CameraInitEx2", kSkip, [](Args& a) {
                        return CameraInitEx2(
                            a.Out<HANDLE>(),
                            a.Text(a.Ctx().friendlyName.c_str(), kInvalid,
                                   {{"", kInvalid}, {"no such camera", kInvalid}}));
                    }});
    rows.push_back({"CameraInitEx3", kSkip, [](Args& a) {
                        static const std::string longText(4096, 'S');
                        return CameraInitEx3(a.Out<HANDLE>(),
                                             a.Text(a.Ctx().serial.c_str(), kInvalid,
                                                    {{"", kInvalid},
                                                     {"NO-SUCH-CAMERA", kInvalid},
                                                     {longText.c_str(), kInvalid}}));
                    }});
    rows.push_back({"CameraUnInit", kSkip, [](Args& a) { return CameraUnInit(a.Handle()); }});

    // ---- Capability and device information.
    rows.push_back({"CameraGetCapability", 0, [](Args& a) {
                        return CameraGetCapability(a.Handle(), a.Out<tSdkCapability>());
                    }});
    rows.push_back({"CameraGetCurDevInfo", 0, [](Args& a) {
                        return CameraGetCurDevInfo(a.Handle(), a.Out<CameraCurDevInfo>(0));
                    }});
    rows.push_back({"CameraGetDeviceType", 0,
                    [](Args& a) { return CameraGetDeviceType(a.Handle(), a.Out<int>()); }});
    rows.push_back({"CameraGetFirmwareVision", 0,
                    [](Args& a) { return CameraGetFirmwareVision(a.Handle(), a.Out<char>()); }});
    rows.push_back({"CameraGetInerfaceVersion", 0,
                    [](Args& a) { return CameraGetInerfaceVersion(a.Handle(), a.Out<char>()); }});
    // Ids other than 0 to 3 and 15 go to the camera, which answers for itself.
    rows.push_back({"CameraGetIntValue", 0, [](Args& a) {
                        return CameraGetIntValue(
                            a.Handle(),
                            a.Int(0, {{-1, kAny}, {16, kAny}, {INT_MAX, kAny}, {INT_MIN, kAny}}),
                            a.Out<int>());
                    }});
    // Id 0 is the sensor's channel mask; the stream restarts with the value it has.
    rows.push_back({"CameraSetIntValue", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        int mask = 0;
                        CameraGetIntValue(h, 0, &mask);
                        const int r = CameraSetIntValue(
                            a.Handle(),
                            a.Int(0, {{-1, kAny}, {16, kAny}, {INT_MAX, kAny}, {INT_MIN, kAny}}),
                            a.Int(mask, {{0, kInvalid}}));
                        return r;
                    }});

    // ---- Image acquisition.
    rows.push_back({"CameraPlay", 0, [](Args& a) { return CameraPlay(a.Handle()); }});
    rows.push_back({"CameraPause", 0, [](Args& a) { return CameraPause(a.Handle()); }});
    // Set while paused (while playing the answer is always busy), and removed again.
    rows.push_back(
        {"CameraSetCallbackFunction", 0, [](Args& a) {
             HANDLE h = a.Ctx().handle;
             CameraPause(h);
             const CameraFrameCallback callback = [](HANDLE, BYTE*, stImageInfo*, void*) {};
             const int r = CameraSetCallbackFunction(a.Handle(), a.Callback(callback, 0), nullptr,
                                                     a.Out<CameraFrameCallback>(0));
             CameraSetCallbackFunction(h, nullptr, nullptr, nullptr);
             return r;
         }});
    rows.push_back({"CameraGetRawImageBuffer", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        CameraFrameHandle* frame = a.Out<CameraFrameHandle>();
                        const int r =
                            CameraGetRawImageBuffer(a.Handle(), frame, a.Int(5000, kShortTimeouts));
                        if (r == 0) CameraReleaseFrameHandle(h, *frame);
                        return r;
                    }});
    rows.push_back(
        {"CameraReleaseFrameHandle", 0,
         [](Args& a) { return CameraReleaseFrameHandle(a.Handle(), a.Frame(kInvalid, kInvalid)); },
         true});
    rows.push_back({"CameraGetImageInfo", kPointer, [](Args& a) {
                        return PointerResult(CameraGetImageInfo(
                            a.Handle(kNull), a.Frame(kNull, kNull), a.Out<stImageInfo>(kNull)));
                    }});
    rows.push_back({"CameraGetImageTimestamp", 0, [](Args& a) {
                        return CameraGetImageTimestamp(a.Handle(), a.Frame(kInvalid, kInvalid),
                                                       a.Out<uint64_t>());
                    }});
    rows.push_back({"CameraGetImageFrameNo", 0, [](Args& a) {
                        return CameraGetImageFrameNo(a.Handle(), a.Frame(kInvalid, kInvalid),
                                                     a.Out<uint64_t>());
                    }});
    rows.push_back(
        {"CameraResetTimestamp", 0, [](Args& a) { return CameraResetTimestamp(a.Handle()); }});
    // A mono frame of the camera's size, processed into the caller's buffer; heads that name
    // nothing the pipeline can process are refused.
    rows.push_back(
        {"CameraGetOutImageBuffer", 0, [](Args& a) {
             static std::vector<BYTE> raw(320 * 240, 0x55);
             stImageInfo head{320, 240, 320 * 240, 0x01080000, 1000.0, 10.0, 1000, {}};
             stImageInfo zero{};
             stImageInfo unknown = head;
             unknown.uiMediaType = 0xFFFFFFFF;
             stImageInfo colourOfNothing = head;
             colourOfNothing.uiMediaType = 0x02000000;
             return CameraGetOutImageBuffer(
                 a.Handle(),
                 a.In(&head, kInvalid,
                      {{"zero head", &zero, {kInvalid, CAMERA_STATUS_NOT_SUPPORTED}},
                       {"unknown media type", &unknown, CAMERA_STATUS_NOT_SUPPORTED},
                       {"colour of no size", &colourOfNothing, CAMERA_STATUS_NOT_SUPPORTED}}),
                 a.In(raw.data()), a.ImageOut());
         }});
    rows.push_back({"CameraGetImageBufferEx", kPointer, [](Args& a) {
                        return PointerResult(
                            CameraGetImageBufferEx(a.Handle(kNull), a.Out<stImageInfo>(kPointer),
                                                   a.Int(5000, kShortTimeoutsOfPointers)));
                    }});
    rows.push_back({"CameraGetImageBufferEx1", 0, [](Args& a) {
                        return CameraGetImageBufferEx1(a.Handle(), a.ImageOut(),
                                                       a.Out<stImageInfo>(0),
                                                       a.Int(5000, kShortTimeoutsCollapsed));
                    }});
    rows.push_back({"CameraGetImageBufferEx2", 0, [](Args& a) {
                        return CameraGetImageBufferEx2(a.Handle(), a.ImageOut(),
                                                       a.Out<stImageInfo>(0), a.Out<uint64_t>(0),
                                                       a.Int(5000, kShortTimeoutsCollapsed));
                    }});
    rows.push_back({"CameraGetImageBufferEx3", kPointer, [](Args& a) {
                        return PointerResult(CameraGetImageBufferEx3(
                            a.Handle(kNull), a.Out<stImageInfo>(kPointer),
                            a.Out<uint64_t>(kPointer), a.Int(5000, kShortTimeoutsOfPointers)));
                    }});
    rows.push_back({"CameraSnapToBuffer", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        CameraFrameHandle* frame = a.Out<CameraFrameHandle>();
                        const int r = CameraSnapToBuffer(
                            a.Handle(), frame, a.Out<stImageInfo>(0), a.Out<BYTE*>(0),
                            a.UInt(5000, {{0, {0, CAMERA_STATUS_TIMEOUT}}, {UINT_MAX, 0}}));
                        if (r == 0) CameraReleaseFrameHandle(h, *frame);
                        return r;
                    }});
    // The current resolution as the snapshot's, and records the sensor cannot take.
    rows.push_back({"CameraSetResolutionForSnap", 0, [](Args& a) {
                        tSdkResolution res = CurrentResolution(a.Ctx().handle);
                        tSdkResolution mode = res;
                        mode.uModeA = 7;
                        tSdkResolution skip = res;
                        skip.uModeC = 0xFFFFFFFF;
                        tSdkResolution window = res;
                        window.iSensorWidth = res.iSensorWidth * 2 + 8;
                        tSdkResolution huge = res;
                        huge.uWidth = huge.uHeight = 0x7FFFFFFC;
                        huge.iSensorWidth = huge.iSensorHeight = 0x7FFFFFFC;
                        tSdkResolution negative = res;
                        negative.uWidth = static_cast<UINT>(-320);
                        negative.iSensorWidth = -320;
                        tSdkResolution offset = res;
                        offset.iOffsetX = INT_MAX;
                        offset.iOffsetY = INT_MIN;
                        return CameraSetResolutionForSnap(
                            a.Handle(), a.In(&res, kInvalid,
                                             {{"unknown binning mode", &mode, kInvalid},
                                              {"unknown skip mode", &skip, kInvalid},
                                              {"window not the image", &window, kInvalid},
                                              {"huge", &huge, kInvalid},
                                              {"negative width", &negative, kInvalid},
                                              {"offsets at the ends", &offset, kInvalid}}));
                    }});
    rows.push_back({"CameraGetResolutionForSnap", 0, [](Args& a) {
                        return CameraGetResolutionForSnap(a.Handle(), a.Out<tSdkResolution>());
                    }});
    rows.push_back({"CameraGetFrameStatistic", 0, [](Args& a) {
                        return CameraGetFrameStatistic(a.Handle(), a.Out<tSdkFrameStatistic>());
                    }});
    // Any mode is kept (the stream restarts with it); the camera goes back to mode 0 after
    // each call, and must stream again.
    rows.push_back({"CameraSetImageTransferMode", 0, [](Args& a) {
                        const int r = CameraSetImageTransferMode(a.Handle(),
                                                                 a.Int(0, {{-1, 0}, {INT_MAX, 0}}));
                        CameraSetImageTransferMode(a.Ctx().handle, 0);
                        return r;
                    }});
    rows.push_back({"CameraGetImageTransferMode", 0,
                    [](Args& a) { return CameraGetImageTransferMode(a.Handle(), a.Out<int>()); }});
    // USB cameras take no transfer requests.
    rows.push_back({"CameraRequestTransferImage", CAMERA_STATUS_NOT_SUPPORTED,
                    [](Args& a) { return CameraRequestTransferImage(a.Handle()); }});
    return rows;
}

}  // namespace badinput
