// Rows of the bad-input table: display, overlay and text, image files and AVI recording,
// parameter groups and files, serial numbers, user data and names, firmware upgrade, settings
// pages and the version string.
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BadInputArgs.h"

namespace badinput {

namespace {

constexpr int kInvalid = CAMERA_STATUS_PARAMETER_INVALID;
constexpr int kNotSupported = CAMERA_STATUS_NOT_SUPPORTED;

std::string Path(const Args& a, const char* name) {
    return a.Ctx().dir + "/" + name;
}

const std::string& LongPath() {
    static const std::string path = "/tmp/" + std::string(300, 'p');
    return path;
}

// Heads of images that name nothing an image function can use, besides the valid one.
struct Heads {
    explicit Heads(const stImageInfo& valid)
        : zero{}, unknown(valid), negative(valid), larger(valid), huge(valid) {
        unknown.uiMediaType = 0xFFFFFFFF;
        negative.iWidth = 0x80000000u;  // -2147483648 as an int
        // More pixels than the head's own byte count holds.
        larger.iWidth = 640;
        larger.iHeight = 480;
        huge.iWidth = huge.iHeight = 65536;
    }
    stImageInfo zero;
    stImageInfo unknown;
    stImageInfo negative;
    stImageInfo larger;
    stImageInfo huge;
};

// The display runs for the rows that need it, in mode 1 for those that need that.
void DisplayOn(HANDLE h, int mode = 0) {
    CameraDisplayInit(h, 1);
    CameraSetDisplayMode(h, mode);
}

}  // namespace

std::vector<Row> OtherRows() {
    std::vector<Row> rows;

    // ---- Display, overlay and text.
    rows.push_back(
        {"CameraDisplayInit", 0, [](Args& a) {
             return CameraDisplayInit(a.Handle(), a.Word(1, {{0, 0}, {-1, 0}, {INT64_MAX, 0}}));
         }});
    rows.push_back({"CameraSetDisplayMode", 0, [](Args& a) {
                        DisplayOn(a.Ctx().handle);
                        return CameraSetDisplayMode(
                            a.Handle(), a.Int(0, {{-1, 0}, {2, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                    }});
    rows.push_back({"CameraSetDisplayScaleRadio", 0, [](Args& a) {
                        DisplayOn(a.Ctx().handle, 1);
                        return CameraSetDisplayScaleRadio(
                            a.Handle(), a.Int(100, {{0, 0}, {-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                    }});
    rows.push_back(
        {"CameraSetDisplayOffset", 0, [](Args& a) {
             DisplayOn(a.Ctx().handle, 1);
             const std::initializer_list<IntCase> bad = {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}};
             HANDLE handle = a.Handle();
             const int x = a.Int(0, bad);
             return CameraSetDisplayOffset(handle, x, a.Int(0, bad));
         }});
    rows.push_back({"CameraSetDisplaySize", 0, [](Args& a) {
                        DisplayOn(a.Ctx().handle);
                        const std::initializer_list<IntCase> bad = {
                            {0, 0}, {-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}};
                        HANDLE handle = a.Handle();
                        const int w = a.Int(320, bad);
                        return CameraSetDisplaySize(handle, w, a.Int(240, bad));
                    }});
    // Lines 0 to 8; any position and colour is kept.
    const std::vector<IntCase> badLines = {
        {-1, kInvalid}, {9, kInvalid}, {INT_MAX, kInvalid}, {INT_MIN, kInvalid}};
    rows.push_back(
        {"CameraSetCrossLine", 0, [badLines](Args& a) {
             HANDLE h = a.Ctx().handle;
             int x = 0, y = 0, visible = 0;
             UINT colour = 0;
             CameraGetCrossLine(h, 0, &x, &y, &colour, &visible);
             const std::initializer_list<IntCase> position = {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}};
             HANDLE handle = a.Handle();
             const int line = a.Int(0, badLines);
             const int nx = a.Int(x, position), ny = a.Int(y, position);
             const UINT c = a.UInt(colour, {{UINT_MAX, 0}});
             const int v = a.Int(visible, {{7, 0}, {-1, 0}});
             const int r = CameraSetCrossLine(handle, line, nx, ny, c, v);
             if (r == 0) {
                 int now = -1;
                 CameraGetCrossLine(h, line, nullptr, nullptr, nullptr, &now);
                 CameraSetCrossLine(h, line, x, y, colour, visible);
                 if (now != (v != 0 ? 1 : 0)) return kMismatch;
             }
             return r;
         }});
    rows.push_back({"CameraGetCrossLine", 0, [badLines](Args& a) {
                        HANDLE handle = a.Handle();
                        const int line = a.Int(0, badLines);
                        return CameraGetCrossLine(handle, line, a.Out<int>(0), a.Out<int>(0),
                                                  a.Out<UINT>(0), a.Out<int>(0));
                    }});
    // Drawn with every cross line visible, lines on and beyond the image's edges among them.
    rows.push_back({"CameraImageOverlay", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        const int at[9][2] = {{1, 1},       {319, 239},   {0, 5},
                                              {5, 0},       {320, 240},   {-1, -1},
                                              {INT_MAX, 1}, {1, INT_MIN}, {160, 120}};
                        for (int i = 0; i < 9; ++i)
                            CameraSetCrossLine(h, i, at[i][0], at[i][1], 0x00FF00FF, 1);
                        std::vector<BYTE> image = a.Ctx().image;
                        stImageInfo head = a.Ctx().imageInfo;
                        Heads other(head);
                        const int r = CameraImageOverlay(
                            a.Handle(), a.In(image.data()),
                            a.In(&head, kInvalid,
                                 {{"zero head", &other.zero, 0},
                                  {"unknown media type", &other.unknown, 0},
                                  {"negative width", &other.negative, {0, kInvalid}},
                                  {"640x480 in 320x240's bytes", &other.larger, kInvalid},
                                  {"65536x65536", &other.huge, kInvalid}}));
                        for (int i = 0; i < 9; ++i) CameraSetCrossLine(h, i, 0, 0, 0, 0);
                        return r;
                    }});
    rows.push_back({"CameraDisplay", 0, [](Args& a) {
                        DisplayOn(a.Ctx().handle);
                        std::vector<BYTE> image = a.Ctx().image;
                        stImageInfo head = a.Ctx().imageInfo;
                        Heads other(head);
                        return CameraDisplay(a.Handle(), a.In(image.data()),
                                             a.In(&head, kInvalid,
                                                  {{"zero head", &other.zero, kInvalid},
                                                   {"unknown media type", &other.unknown, 0},
                                                   {"negative width", &other.negative, kInvalid},
                                                   {"640x480", &other.larger, kInvalid},
                                                   {"65536x65536", &other.huge, kInvalid}}));
                    }});
    rows.push_back(
        {"CameraSetDisplayCallbackFun", 0, [](Args& a) {
             DisplayOn(a.Ctx().handle);
             const CameraDisplayCallback callback = [](HANDLE, BYTE*, stImageInfo*, void*, int) {};
             return CameraSetDisplayCallbackFun(a.Handle(), a.Callback(callback, kInvalid), nullptr,
                                                a.Out<CameraDisplayCallback>(0));
         }});
    // No camera: the image and its head are all it draws into (this library paints no glyphs).
    rows.push_back(
        {"CameraDrawText", 0, [](Args& a) {
             std::vector<BYTE> image = a.Ctx().image;
             stImageInfo head = a.Ctx().imageInfo;
             Heads other(head);
             static const std::string longText(1000, 'T');
             BYTE* pImage = a.In(image.data());
             stImageInfo* pHead =
                 a.In(&head, kInvalid,
                      {{"zero head", &other.zero, 0}, {"unknown media type", &other.unknown, 0}});
             const char* font = a.Text("Sans", CAMERA_STATUS_FAILED, {{longText.c_str(), 0}});
             const std::initializer_list<IntCase> number = {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}};
             const int fa = a.Int(12, number), fb = a.Int(0, number);
             const char* text = a.Text("text", CAMERA_STATUS_FAILED, {{longText.c_str(), 0}});
             const int x = a.Int(10, number), y = a.Int(10, number);
             const int w = a.Int(100, number), hgt = a.Int(20, number);
             return CameraDrawText(pImage, pHead, font, fa, fb, text, x, y, w, hgt,
                                   a.UInt(0xFFFFFF));
         }});

    // ---- Image files and AVI recording.
    rows.push_back({"CameraSaveImage", 0, [](Args& a) {
                        std::vector<BYTE> image = a.Ctx().image;
                        stImageInfo head = a.Ctx().imageInfo;
                        Heads other(head);
                        const std::string path = Path(a, "saved");
                        const std::string nowhere = Path(a, "no/such/folder/saved");
                        HANDLE handle = a.Handle();
                        const char* p = a.Text(path.c_str(), kInvalid,
                                               {{"", kInvalid},
                                                {nowhere.c_str(), CAMERA_STATUS_IO_ERROR},
                                                {LongPath().c_str(), kInvalid}});
                        BYTE* pImage = a.In(image.data());
                        stImageInfo* pHead =
                            a.In(&head, kInvalid,
                                 {{"zero head", &other.zero, kInvalid},
                                  {"unknown media type", &other.unknown, kNotSupported},
                                  {"negative width", &other.negative, kInvalid},
                                  {"640x480 in 320x240's bytes", &other.larger, kInvalid},
                                  {"65536x65536", &other.huge, kInvalid}});
                        const int type = a.Int(2, {{0, kInvalid},
                                                   {3, kInvalid},
                                                   {16, kInvalid},
                                                   {-1, kInvalid},
                                                   {INT_MAX, kInvalid},
                                                   {INT_MIN, kInvalid}});
                        return CameraSaveImage(handle, p, pImage, pHead, type,
                                               a.Int(90, {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                    }});
    // Format and quality are kept but not used; any frame rate is written as it is.
    rows.push_back(
        {"CameraStartRecord", 0, [](Args& a) {
             HANDLE h = a.Ctx().handle;
             const std::string path = Path(a, "record.avi");
             const std::string nowhere = Path(a, "no/such/folder/record.avi");
             const std::initializer_list<IntCase> any = {
                 {0, 0}, {-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}};
             HANDLE handle = a.Handle();
             const char* p =
                 a.Text(path.c_str(), kInvalid,
                        {{"", CAMERA_STATUS_FILE_OPEN_FAILED},
                         {nowhere.c_str(), CAMERA_STATUS_FILE_OPEN_FAILED},
                         {LongPath().c_str(), {kInvalid, CAMERA_STATUS_FILE_OPEN_FAILED}}});
             const int format = a.Int(0, any), quality = a.Int(90, any);
             const int rate = a.Int(15, any);
             const int r = CameraStartRecord(handle, p, format, quality, rate);
             if (r == 0) {
                 // A frame with that rate in the header, then the file is finished.
                 std::vector<BYTE> image = a.Ctx().image;
                 stImageInfo head = a.Ctx().imageInfo;
                 if (CameraPushOneFrame(h, image.data(), &head) != 0 || CameraStopRecord(h) != 0)
                     return kMismatch;
             }
             return r;
         }});
    // Within a recording whose first frame fixed the size.
    rows.push_back({"CameraPushOneFrame", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        std::vector<BYTE> image = a.Ctx().image;
                        stImageInfo head = a.Ctx().imageInfo;
                        Heads other(head);
                        stImageInfo wider = head;
                        wider.iWidth = 324;
                        wider.TotalBytes = 324 * 240 * 3;
                        std::vector<BYTE> wideImage(wider.TotalBytes);
                        const std::string path = Path(a, "push.avi");
                        CameraStartRecord(h, path.c_str(), 0, 90, 15);
                        CameraPushOneFrame(h, image.data(), &head);
                        BYTE* pImage = a.In(image.data());
                        const int r = CameraPushOneFrame(
                            a.Handle(), pImage,
                            a.In(&head, kInvalid,
                                 {{"zero head", &other.zero, kInvalid},
                                  {"unknown media type", &other.unknown, kNotSupported},
                                  {"negative width", &other.negative, kInvalid},
                                  {"640x480 in 320x240's bytes", &other.larger, kInvalid},
                                  {"65536x65536", &other.huge, kInvalid}}));
                        CameraStopRecord(h);
                        return r;
                    }});
    rows.push_back({"CameraStopRecord", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        const std::string path = Path(a, "stop.avi");
                        CameraStartRecord(h, path.c_str(), 0, 90, 15);
                        const int r = CameraStopRecord(a.Handle());
                        // Stopped: the next stop finds no recording.
                        if (r == 0 && CameraStopRecord(h) != CAMERA_STATUS_FAILED) return kMismatch;
                        CameraStopRecord(h);
                        return r;
                    }});

    // ---- Parameter groups and files. Any mode and group names a file; the groups 0 to 3 and
    // 255 have their own, any other is group 0's.
    rows.push_back({"CameraSetParameterMode", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        int was = 0;
                        CameraGetParameterMode(h, &was);
                        const int r = CameraSetParameterMode(
                            a.Handle(), a.Int(was, {{-1, 0}, {3, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                        // Files are named by it.
                        if (r == 0 && CameraSaveParameter(h, 1) != 0) return kMismatch;
                        CameraSetParameterMode(h, was);
                        return r;
                    }});
    rows.push_back({"CameraGetParameterMode", 0,
                    [](Args& a) { return CameraGetParameterMode(a.Handle(), a.Out<int>()); }});
    rows.push_back({"CameraSaveParameter", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        int was = 0;
                        CameraGetCurrentParameterGroup(h, &was);
                        const int r = CameraSaveParameter(
                            a.Handle(),
                            a.Int(0, {{-1, 0}, {4, 0}, {255, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                        CameraSaveParameter(h, was == 255 ? 0 : was);
                        return r;
                    }});
    // Group 2 was never saved.
    rows.push_back({"CameraLoadParameter", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        CameraSaveParameter(h, 0);
                        return CameraLoadParameter(
                            a.Handle(),
                            a.Int(0, {{2, CAMERA_STATUS_FILE_IO_FAILED}, {INT_MIN, 0}, {255, 0}}));
                    }});
    rows.push_back({"CameraSaveParameterToFile", 0, [](Args& a) {
                        const std::string path = Path(a, "settings.bin");
                        const std::string nowhere = Path(a, "no/such/folder/settings.bin");
                        return CameraSaveParameterToFile(
                            a.Handle(), a.Text(path.c_str(), kInvalid,
                                               {{"", CAMERA_STATUS_FAILED},
                                                {nowhere.c_str(), CAMERA_STATUS_FAILED},
                                                {a.Ctx().dir.c_str(), CAMERA_STATUS_FAILED},
                                                {LongPath().c_str(), CAMERA_STATUS_FAILED}}));
                    }});
    // Files that are no settings of this camera.
    rows.push_back(
        {"CameraReadParameterFromFile", 0, [](Args& a) {
             HANDLE h = a.Ctx().handle;
             const std::string path = Path(a, "read.bin");
             CameraSaveParameterToFile(h, path.c_str());
             std::vector<char> bytes;
             {
                 std::ifstream in(path, std::ios::binary);
                 bytes.assign(std::istreambuf_iterator<char>(in), {});
             }
             auto write = [&](const char* name, const std::vector<char>& content) {
                 std::ofstream(Path(a, name), std::ios::binary)
                     .write(content.data(), static_cast<std::streamsize>(content.size()));
                 return Path(a, name);
             };
             std::vector<char> other = bytes;
             if (other.size() > 12) other[8] ^= 0x5A;  // another camera's stamp
             const std::string otherCamera = write("other.bin", other);
             const std::string shortFile =
                 write("short.bin", std::vector<char>(bytes.begin(), bytes.begin() + 100));
             const std::string garbage = write("garbage.bin", std::vector<char>(4096, 'g'));
             const std::string empty = write("empty.bin", {});
             const std::string missing = Path(a, "missing.bin");
             return CameraReadParameterFromFile(
                 a.Handle(), a.Text(path.c_str(), kInvalid,
                                    {{otherCamera.c_str(), CAMERA_STATUS_PARAMETER_MISMATCH},
                                     {shortFile.c_str(), CAMERA_STATUS_FAILED},
                                     {garbage.c_str(), CAMERA_STATUS_FAILED},
                                     {empty.c_str(), CAMERA_STATUS_FAILED},
                                     {missing.c_str(), CAMERA_STATUS_FILE_IO_FAILED},
                                     {a.Ctx().dir.c_str(),
                                      {CAMERA_STATUS_FAILED, CAMERA_STATUS_FILE_IO_FAILED}},
                                     {"", CAMERA_STATUS_FILE_IO_FAILED}}));
         }});
    rows.push_back({"CameraGetCurrentParameterGroup", 0, [](Args& a) {
                        return CameraGetCurrentParameterGroup(a.Handle(), a.Out<int>());
                    }});

    // ---- Serial numbers, user data and names. The serial number written is the one read.
    rows.push_back({"CameraWriteSN", 0, [](Args& a) {
                        BYTE sn[32] = {};
                        CameraReadSN(a.Ctx().handle, sn, 1);
                        HANDLE handle = a.Handle();
                        BYTE* p = a.In(sn);
                        return CameraWriteSN(handle, p,
                                             a.Int(1, {{0, kInvalid},
                                                       {3, kInvalid},
                                                       {-1, kInvalid},
                                                       {INT_MAX, kInvalid},
                                                       {INT_MIN, kInvalid}}));
                    }});
    rows.push_back({"CameraReadSN", 0, [](Args& a) {
                        HANDLE handle = a.Handle();
                        BYTE* p = a.Out<BYTE>();
                        return CameraReadSN(handle, p,
                                            a.Int(0, {{1, 0},
                                                      {2, 0},
                                                      {3, kInvalid},
                                                      {-1, kInvalid},
                                                      {INT_MAX, kInvalid},
                                                      {INT_MIN, kInvalid}}));
                    }});
    // Spans that do not lie inside the user-data area, their ends wrapping among them.
    for (const bool save : {true, false}) {
        rows.push_back({save ? "CameraSaveUserData" : "CameraLoadUserData", 0, [save](Args& a) {
                            HANDLE h = a.Ctx().handle;
                            tSdkCapability cap{};
                            CameraGetCapability(h, &cap);
                            const UINT size = cap.uUserDataSize;
                            static std::vector<BYTE> data(64 * 1024);
                            HANDLE handle = a.Handle();
                            const UINT offset = a.UInt(0, {{size, {kInvalid, 0}},
                                                           {size + 1, kInvalid},
                                                           {UINT_MAX, kInvalid},
                                                           {UINT_MAX - 7, kInvalid}});
                            BYTE* p = a.In(data.data());
                            const UINT length = a.UInt(16, {{0, 0},
                                                            {size + 1, kInvalid},
                                                            {UINT_MAX, kInvalid},
                                                            {UINT_MAX - 7, kInvalid}});
                            return save ? CameraSaveUserData(handle, offset, p, length)
                                        : CameraLoadUserData(handle, offset, p, length);
                        }});
    }
    rows.push_back({"CameraGetFriendlyName", 0,
                    [](Args& a) { return CameraGetFriendlyName(a.Handle(), a.Out<char>()); }});
    // Names of any length are cut to 31 characters; the name is put back.
    rows.push_back({"CameraSetFriendlyName", 0, [](Args& a) {
                        HANDLE h = a.Ctx().handle;
                        static const std::string longName(1000, 'N');
                        const std::string was = a.Ctx().friendlyName;
                        const int r = CameraSetFriendlyName(
                            a.Handle(),
                            a.Text(was.c_str(), kInvalid, {{"", 0}, {longName.c_str(), 0}}));
                        if (r == 0) {
                            char now[32] = {};
                            CameraGetFriendlyName(h, now);
                            CameraSetFriendlyName(h, was.c_str());
                            if (std::strlen(now) > 31) return kMismatch;
                        }
                        return r;
                    }});

    // ---- Firmware upgrade: files that are no upgrade of this camera change nothing.
    rows.push_back({"CameraUpgrade", CAMERA_STATUS_FILE_OPEN_FAILED, [](Args& a) {
                        const std::string missing = Path(a, "missing.upg");
                        const std::string garbage = Path(a, "garbage.upg");
                        std::ofstream(garbage, std::ios::binary) << std::string(3000, 'u');
                        const std::string empty = Path(a, "empty.upg");
                        std::ofstream(empty, std::ios::binary).flush();
                        const CameraUpgradeProgressCallback progress = [](int, void*) {};
                        HANDLE handle = a.Handle();
                        const char* p = a.Text(missing.c_str(), kInvalid,
                                               {{garbage.c_str(), kAny},
                                                {empty.c_str(), kAny},
                                                {a.Ctx().dir.c_str(), kAny},
                                                {"", CAMERA_STATUS_FILE_OPEN_FAILED}});
                        return CameraUpgrade(handle, p,
                                             a.Callback(progress, CAMERA_STATUS_FILE_OPEN_FAILED),
                                             nullptr);
                    }});
    rows.push_back({"CameraCheckFwUpdate", 0, [](Args& a) {
                        int* need = a.Out<int>();
                        if (need != nullptr) *need = 7;
                        const int r = CameraCheckFwUpdate(a.Handle(), need);
                        if (r == 0 && *need != 0) return kMismatch;
                        return r;
                    }});
    rows.push_back({"CameraReboot", kSkip, [](Args& a) { return CameraReboot(a.Handle()); }});

    // ---- Settings pages and fixed answers.
    rows.push_back(
        {"CameraShowSettingPage", 0, [](Args& a) {
             return CameraShowSettingPage(a.Handle(), a.Int(1, {{0, 0}, {-1, 0}, {INT_MIN, 0}}));
         }});
    rows.push_back({"CameraSetActivePage", 0, [](Args& a) {
                        HANDLE handle = a.Handle();
                        const uintptr_t pages = a.Word(1, {{0, 0}, {-1, 0}});
                        return CameraSetActivePage(handle, pages,
                                                   a.Int(0, {{-1, 0}, {INT_MAX, 0}, {INT_MIN, 0}}));
                    }});
    rows.push_back({"CameraCreateSettingPageEx", 0,
                    [](Args& a) { return CameraCreateSettingPageEx(a.Handle()); }});
    rows.push_back({"CameraCustomizeReferWin", CAMERA_STATUS_FAILED, [](Args& a) {
                        HANDLE handle = a.Handle();
                        const int type = a.Int(0, {{-1, CAMERA_STATUS_FAILED}});
                        const uintptr_t parent = a.Word(0);
                        return CameraCustomizeReferWin(
                            handle, type, parent, a.Out<int>(CAMERA_STATUS_FAILED),
                            a.Out<int>(CAMERA_STATUS_FAILED), a.Out<int>(CAMERA_STATUS_FAILED),
                            a.Out<int>(CAMERA_STATUS_FAILED));
                    }});

    // ---- Version string: 31 bytes, also answered for a null buffer.
    rows.push_back({"CameraSdkGetVersionString", 0, [](Args& a) {
                        char* buffer = a.Out<char>(0);
                        if (buffer != nullptr) buffer[31] = 'x';
                        const int r = CameraSdkGetVersionString(buffer);
                        if (buffer != nullptr &&
                            (std::strcmp(buffer, "V1.32.0.0") != 0 || buffer[31] != 'x'))
                            return kMismatch;
                        return r;
                    }});
    return rows;
}

}  // namespace badinput
