#include "params/CameraParameterBuilder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/Log.h"

static_assert(std::endian::native == std::endian::little,
              "parameter files are little-endian and are copied byte for byte");

namespace {

constexpr size_t kRecordSize = sizeof(CameraParameter);
constexpr size_t kTableBytes = CameraParameterBuilder::kTableEntries * sizeof(uint16_t);

// Version 2 records were 1096 bytes: the first 808 bytes as today, then the trigger frame count
// at 808 and the trigger delay at 816.
constexpr size_t kV2RecordSize = 1096;
constexpr size_t kV2SharedBytes = 808;
constexpr size_t kV2TriggerFrameCount = 808;
constexpr size_t kV2TriggerDelay = 816;

// Files older than the magic: 1640 bytes, signed by a fixed text at 1600, followed by 256 bytes
// that no reader uses and then the tables.
constexpr size_t kLegacyRecordSize = 1640;
constexpr size_t kLegacySignatureOffset = 1600;
constexpr char kLegacySignature[] = "JNCamera Better And Better!";  // 27 characters and the NUL
constexpr size_t kLegacySkip = 256;
static_assert(sizeof kLegacySignature == 28);

// Where the legacy fields went: {legacy offset, record offset, bytes}. The two window-visible
// flags were int32 in the legacy record; their low byte (the first, little-endian) is the flag.
struct LegacyMove {
    size_t from;
    size_t to;
    size_t bytes;
};
constexpr LegacyMove kLegacyMoves[] = {
    {1632, offsetof(CameraParameter, deviceId), 4},
    {48, offsetof(CameraParameter, aeProcessArg), 4},
    {52, offsetof(CameraParameter, awbProcessArg), 4},
    {56, offsetof(CameraParameter, bayerAlgMode), 4},
    {60, offsetof(CameraParameter, bayerAlgThreshold), 4},
    {420, offsetof(CameraParameter, resolution), sizeof(tSdkResolution)},
    {948, offsetof(CameraParameter, snapResolution), sizeof(tSdkResolution)},
    {308, offsetof(CameraParameter, aeWindowVisible), 1},
    {656, offsetof(CameraParameter, aeWindowBlock), 100},
    {312, offsetof(CameraParameter, wbWindowVisible), 1},
    {756, offsetof(CameraParameter, wbWindowBlock), 100},
    {512, offsetof(CameraParameter, crossLines), 144},
    {64, 568, 80},   // AE block: aeState to aeWindow
    {144, 648, 96},  // WB and ISP block: wbMode to contrast
    {256, 760, 48},  // parameter mode, group, mirrors, monochrome, black level, flags
};

// The largest file prefix any version reads: legacy record, its skipped bytes and three tables.
constexpr size_t kMaxFileBytes = kLegacyRecordSize + kLegacySkip + 3 * kTableBytes;

constexpr int32_t kPacketSizeMin = 1500;  // Ethernet MTU
constexpr int32_t kPacketSizeMax = 9000;  // jumbo frames
constexpr uint32_t kPacketDelayMax = 1000;

uint32_t Le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Reads up to max bytes; false on a read error (a short file is not an error).
bool ReadUpTo(int fd, std::vector<uint8_t>& data, size_t max) {
    data.resize(max);
    size_t got = 0;
    while (got < max) {
        const ssize_t n = ::read(fd, data.data() + got, max - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    data.resize(got);
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    // Closes now and reports the result (a deferred write error can surface here).
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

  private:
    int m_fd;
};

// A name for the temporary file beside target that no other save uses at the same moment.
std::string TemporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp." + std::to_string(::getpid()) + "." +
           std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
}

// Makes a completed rename durable. Best effort: the new file is already in place.
void SyncParentDirectory(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0) ::fsync(fd.Get());
}

void ClampRecord(CameraParameter& r) {
    if (r.settings.lightFrequency != 1 && r.settings.lightFrequency != 2)
        r.settings.lightFrequency = 1;
    if (r.settings.correctDeadPixel > 1) r.settings.correctDeadPixel = 1;
    if (r.settings.intValueFlag > 1) r.settings.intValueFlag = 0;
    // Stream packets are sent in whole 32-bit words.
    if (r.packetSize < kPacketSizeMin || r.packetSize % 4 != 0)
        r.packetSize = kPacketSizeMin;
    else if (r.packetSize > kPacketSizeMax)
        r.packetSize = kPacketSizeMax;
    if (r.packetDelay > kPacketDelayMax) r.packetDelay = kPacketDelayMax;
    if (r.intValueA == 0) r.intValueA = -1;
    r.transferMode = 0;
}

// Parses the record part of a file image into rec, which holds the caller's record with
// SetDefault applied (the older layouts leave some fields to it). Returns the offset at which the
// tables start, or -1 for a short or unknown file.
long ParseRecord(const std::vector<uint8_t>& file, CameraParameter& rec) {
    if (file.size() < 8) return -1;
    const uint8_t* p = file.data();
    if (Le32(p) == CameraParameterBuilder::kMagic) {
        const int32_t version = static_cast<int32_t>(Le32(p + 4));
        switch (version) {
            case 4:
                if (file.size() < kRecordSize) return -1;
                std::memcpy(&rec, p, kRecordSize);
                return static_cast<long>(kRecordSize);
            case 3:
                if (file.size() < kRecordSize) return -1;
                std::memcpy(&rec, p, kRecordSize);
                // Version 3 kept the colour gains in 1/128; they are hundredths now.
                for (uint32_t& gain : rec.settings.rgbGain)
                    gain = static_cast<uint32_t>(uint64_t{gain} * 100 / 128);
                return static_cast<long>(kRecordSize);
            case 2:
                if (file.size() < kV2RecordSize) return -1;
                std::memcpy(&rec, p, kV2SharedBytes);
                rec.triggerFrameCount = static_cast<int32_t>(Le32(p + kV2TriggerFrameCount));
                rec.triggerDelayTime = Le32(p + kV2TriggerDelay);
                rec.packetSize = kPacketSizeMax;
                rec.transferMode = 0;
                rec.packetDelay = 0;
                rec.intValueA = -1;
                return static_cast<long>(kV2RecordSize);
            default:
                return -1;
        }
    }

    if (file.size() < kLegacyRecordSize) return -1;
    if (std::memcmp(p + kLegacySignatureOffset, kLegacySignature, sizeof kLegacySignature) != 0)
        return -1;
    auto* out = reinterpret_cast<uint8_t*>(&rec);
    for (const LegacyMove& m : kLegacyMoves) std::memcpy(out + m.to, p + m.from, m.bytes);
    rec.version = CameraParameterBuilder::kDefaultVersion;
    rec.settings.lutMode = 0;
    rec.settings.gamma = 100;
    rec.settings.contrastLut = 100;
    rec.settings.lutPreset = 0;
    rec.settings.correctDeadPixel = 1;
    rec.settings.intValueFlag = 0;
    rec.triggerFrameCount = 1;
    rec.triggerDelayTime = 0;
    rec.inputLines[0].mode = 0;
    rec.inputLines[0].signalType = 0;
    rec.inputLines[0].jitterTime = 50000;
    OutputLineSetting& line0 = rec.outputLines[0];
    line0.strobeMode = 0;
    line0.strobeDelay = 0;
    line0.strobePolarity = 1;
    line0.strobePulseWidth = 1000;
    rec.packetSize = kPacketSizeMax;
    rec.transferMode = 0;
    rec.packetDelay = 0;
    rec.intValueA = -1;
    return static_cast<long>(kLegacyRecordSize + kLegacySkip);
}

const char* GroupSuffix(int group) {
    switch (group) {
        case 1:
            return "_B";
        case 2:
            return "_C";
        case 3:
            return "_D";
        case CameraParameterBuilder::kSaveGroup:
            return "_SAVE";
        default:
            return "_A";
    }
}

}  // namespace

int CameraParameterBuilder::MakeConfigFolder(std::string& out) {
    const char* home = std::getenv("HOME");
    out = (home != nullptr && *home != '\0') ? home : ".";
    out += "/.QVConfig/";
    struct stat st {};
    if (::stat(out.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : CAMERA_STATUS_FAILED;
    if (::mkdir(out.c_str(), 0755) == 0) return CAMERA_STATUS_SUCCESS;
    // Another process may have made it in the meantime.
    if (errno == EEXIST && ::stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return CAMERA_STATUS_SUCCESS;
    return CAMERA_STATUS_FAILED;
}

void CameraParameterBuilder::MakeCfgFilePath(std::string& out, const char* dir, int mode, int group,
                                             const tDevInfo* devInfo) {
    out = dir != nullptr ? dir : "";
    if (out.empty() || out.back() != '/') out += '/';
    if (devInfo != nullptr) {
        // Device texts need not be terminated within their fields.
        const char* key = devInfo->acProductName;
        size_t room = sizeof devInfo->acProductName;
        if (mode == 1) {
            key = devInfo->acFriendlyName;
            room = sizeof devInfo->acFriendlyName;
        } else if (mode == 2) {
            key = devInfo->acSn;
            room = sizeof devInfo->acSn;
        }
        const size_t start = out.size();
        out.append(key, strnlen(key, room));
        for (size_t i = start; i < out.size(); ++i)
            if (out[i] == '/') out[i] = '_';
    }
    out += "_Cfg";
    out += GroupSuffix(group);
    out += ".bin";
}

int CameraParameterBuilder::CreateCfgFile(const char* path, CameraParameter* record,
                                          const uint16_t* table1, const uint16_t* table2,
                                          const uint16_t* table3) {
    if (path == nullptr || record == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    record->magic = kMagic;
    record->version = kFileVersion;

    std::vector<uint8_t> image(kRecordSize);
    std::memcpy(image.data(), record, kRecordSize);
    for (const uint16_t* table : {table1, table2, table3}) {
        if (table == nullptr) continue;
        const auto* bytes = reinterpret_cast<const uint8_t*>(table);
        image.insert(image.end(), bytes, bytes + kTableBytes);
    }

    const std::string target(path);
    const std::string temp = TemporaryName(target);
    FileDescriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.Get() < 0) {
        qv::Log("CreateCfgFile err:%s\n", path);
        return CAMERA_STATUS_FAILED;
    }
    const bool written =
        WriteAll(fd.Get(), image.data(), image.size()) && ::fsync(fd.Get()) == 0 && fd.Close();
    if (!written) {
        ::unlink(temp.c_str());
        qv::Log("CreateCfgFile err:%s\n", path);
        return CAMERA_STATUS_FILE_IO_FAILED;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        qv::Log("CreateCfgFile err:%s\n", path);
        return CAMERA_STATUS_FAILED;
    }
    SyncParentDirectory(target);
    return CAMERA_STATUS_SUCCESS;
}

int CameraParameterBuilder::SaveToFile(const char* path, CameraParameter* record,
                                       const uint16_t* table1, const uint16_t* table2,
                                       const uint16_t* table3) {
    if (path == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return CreateCfgFile(path, record, table1, table2, table3);
}

int CameraParameterBuilder::SaveGroup(const char* dir, CameraParameter* record, int mode, int group,
                                      const tDevInfo* devInfo, const uint16_t* table1,
                                      const uint16_t* table2, const uint16_t* table3) {
    if (dir == nullptr || devInfo == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::string path;
    MakeCfgFilePath(path, dir, mode, group, devInfo);
    return CreateCfgFile(path.c_str(), record, table1, table2, table3);
}

int CameraParameterBuilder::GetCfgFile(const char* path, CameraParameter* record, uint16_t* table1,
                                       uint16_t* table2, uint16_t* table3) {
    if (record == nullptr) return CAMERA_STATUS_FAILED;
    if (path == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;

    // Non-blocking so that a FIFO in the file's place cannot stall the caller.
    FileDescriptor fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        qv::Log("GetCfgFile err:%s\n", path);
        return CAMERA_STATUS_FILE_IO_FAILED;
    }
    std::vector<uint8_t> file;
    if (!ReadUpTo(fd.Get(), file, kMaxFileBytes)) return CAMERA_STATUS_FAILED;
    fd.Close();

    CameraParameter rec = *record;
    SetDefault(&rec);
    const long tablesAt = ParseRecord(file, rec);
    if (tablesAt < 0) return CAMERA_STATUS_FAILED;

    // Whole entries only; a file that ends inside a table fills that table as far as it goes.
    size_t offset = static_cast<size_t>(tablesAt);
    for (uint16_t* table : {table1, table2, table3}) {
        const size_t left = file.size() > offset ? file.size() - offset : 0;
        const size_t bytes = std::min(left, kTableBytes) & ~size_t{1};
        if (table != nullptr && bytes > 0) std::memcpy(table, file.data() + offset, bytes);
        offset += kTableBytes;
    }

    ClampRecord(rec);
    *record = rec;
    return CAMERA_STATUS_SUCCESS;
}

int CameraParameterBuilder::LoadFromFile(const char* path, CameraParameter* record,
                                         uint16_t* table1, uint16_t* table2, uint16_t* table3) {
    if (path == nullptr || record == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return GetCfgFile(path, record, table1, table2, table3);
}

int CameraParameterBuilder::LoadGroup(const char* dir, int mode, int group, const tDevInfo* devInfo,
                                      CameraParameter* record, uint16_t* table1, uint16_t* table2,
                                      uint16_t* table3) {
    if (dir == nullptr || devInfo == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::string path;
    MakeCfgFilePath(path, dir, mode, group, devInfo);
    return GetCfgFile(path.c_str(), record, table1, table2, table3);
}

void CameraParameterBuilder::SetDefault(CameraParameter* record) {
    if (record == nullptr) return;
    CameraParameter& r = *record;
    r.magic = kMagic;
    r.version = kDefaultVersion;
    r.triggerFrameCount = 1;
    r.triggerDelayTime = 0;
    for (int i = 0; i < 2; ++i) {
        r.inputLines[i].mode = static_cast<uint8_t>(i);
        r.inputLines[i].signalType = 1;
        r.inputLines[i].jitterTime = 50000;
    }
    for (int i = 0; i < 4; ++i) {
        OutputLineSetting& line = r.outputLines[i];
        line.mode = i == 0 ? IOMODE_STROBE_OUTPUT : IOMODE_GP_OUTPUT;
        line.state = 0;
        line.strobeMode = 0;
        line.strobeDelay = 0;
        line.strobePolarity = 1;
        line.strobePulseWidth = 1000;
        line.pwmDuty = 0;
        line.pwmPeriod = 0;
    }
    if (r.settings.lightFrequency != 1 && r.settings.lightFrequency != 2)
        r.settings.lightFrequency = 1;
    r.packetSize = kPacketSizeMax;
    r.transferMode = 0;
    r.settings.correctDeadPixel = 1;
    r.settings.intValueFlag = 0;
    r.packetDelay = 0;
    r.intValueA = -1;
    r.intValueB = 0;
    r.intValueC = 1;
}
