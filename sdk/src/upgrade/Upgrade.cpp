#include "upgrade/Upgrade.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/Log.h"
#include "device/JNDevice.h"
#include "storage/CameraProperty.h"
#include "storage/FlashData.h"
#include "storage/StorageData.h"
#include "upgrade/ElementRunRecorder.h"

namespace {

constexpr uint32_t kSectorSize = 0x1000;

// The caller's progress: 0 at the start, 100 at the end, and between them 1..99 from the bytes
// written against the header's total, reported only when the value changes. Kept in 64 bits
// and held below 100 even when the header's total understates the elements.
class ProgressReport {
  public:
    ProgressReport(CUpgrade::ProgressCallback callback, void* context, uint32_t total)
        : m_callback(callback), m_context(context), m_total(total) {}

    void Start() { Call(0); }
    void Finish() { Call(100); }

    void BeginElement(uint32_t length) {
        m_elementStart = m_written;
        m_elementLength = length;
    }
    // A byte-counting writer wrote n more bytes.
    void Bytes(unsigned n) {
        m_written += n;
        qv::Log("write total byte size %llu\r\n", static_cast<unsigned long long>(m_written));
        Report(m_written);
    }
    // A percent-reporting writer has done q percent of its element.
    void Percent(unsigned q) {
        q = std::min(q, 100u);
        Report(m_elementStart + uint64_t{q} * m_elementLength / 100);
        if (q == 100) m_written = m_elementStart + m_elementLength;
    }
    // An element is done (or skipped): all of it counts as written, whatever its writer
    // reported.
    void EndElement() { m_written = m_elementStart + m_elementLength; }
    void Skip(uint64_t length) { m_written += length; }

  private:
    void Report(uint64_t written) {
        if (m_total == 0 || m_callback == nullptr) return;
        const int p = static_cast<int>(std::min<uint64_t>(written * 99 / m_total, 99));
        if (p == m_last) return;
        m_last = p;
        m_callback(p, m_context);
    }
    void Call(int percent) {
        if (m_callback != nullptr) m_callback(percent, m_context);
    }

    CUpgrade::ProgressCallback m_callback;
    void* m_context;
    uint64_t m_total;
    uint64_t m_written = 0;
    uint64_t m_elementStart = 0;
    uint64_t m_elementLength = 0;
    int m_last = 0;
};

// [from, to) ranges of flash that hold what the camera keeps of its own.
std::vector<std::pair<uint64_t, uint64_t>> StorageAreas(const FlashMap& map) {
    std::vector<std::pair<uint64_t, uint64_t>> areas{
        {map.blockA, uint64_t{map.blockA} + kSectorSize},
        {map.blockB, uint64_t{map.blockB} + kSectorSize},
        {map.userData, uint64_t{map.userData} + map.userDataSize},
    };
    if (map.badPixelTable != CFlashData::kNoTable)
        areas.emplace_back(map.badPixelTable,
                           uint64_t{map.badPixelTable} + CFlashData::kBadPixelTableSize);
    return areas;
}

}  // namespace

CUpgrade::CUpgrade(CJNDevice* device) : m_pDevice(device) {}

CUpgrade::~CUpgrade() {
    CloseUpgradeFile();
}

int CUpgrade::OpenUpgradeFile(const char* path, UpgradeFileHeader* header) {
    QV_ASSERT(path != NULL && header != NULL);
    CloseUpgradeFile();
    m_pFile = std::fopen(path, "rb");
    if (m_pFile == nullptr) return -1;
    struct stat st {};
    if (fstat(fileno(m_pFile), &st) != 0 || !S_ISREG(st.st_mode)) {
        CloseUpgradeFile();
        return -1;
    }
    m_fileSize = static_cast<uint64_t>(st.st_size);
    return ReadHeader(header);
}

int CUpgrade::OpenUpgradeBuffer(const uint8_t* bytes, size_t size, UpgradeFileHeader* header) {
    QV_ASSERT(header != NULL);
    CloseUpgradeFile();
    // A memory stream cannot be empty; an empty file has no header either.
    if (bytes == nullptr || size < sizeof(UpgradeFileHeader)) return -2;
    m_pFile = fmemopen(const_cast<uint8_t*>(bytes), size, "rb");
    if (m_pFile == nullptr) return -1;
    m_fileSize = size;
    return ReadHeader(header);
}

int CUpgrade::ReadHeader(UpgradeFileHeader* header) {
    uint8_t raw[sizeof(UpgradeFileHeader)];
    if (std::fread(raw, 1, sizeof raw, m_pFile) != sizeof raw) {
        CloseUpgradeFile();
        return -2;
    }
    upgrade::Decode(raw, header);
    if (header->magic != kUpgradeFileMagic) {
        CloseUpgradeFile();
        return -3;
    }
    return 0;
}

int CUpgrade::CloseUpgradeFile() {
    if (m_pFile != nullptr) std::fclose(m_pFile);
    m_pFile = nullptr;
    m_fileSize = 0;
    return 0;
}

int CUpgrade::ReadSupportCameraList(UpgradeFileHeader* header,
                                    std::list<Tag_UpgradeCameraInfo>& list) {
    QV_ASSERT(header != NULL);
    list.clear();
    if (m_pFile == nullptr || fseeko(m_pFile, sizeof(UpgradeFileHeader), SEEK_SET) != 0) return -1;
    // The count comes from the file: no list longer than the file can hold.
    if (uint64_t{header->supportCount} * sizeof(Tag_UpgradeCameraInfo) >
        m_fileSize - sizeof(UpgradeFileHeader))
        return -1;
    for (uint32_t i = 0; i < header->supportCount; ++i) {
        uint8_t raw[sizeof(Tag_UpgradeCameraInfo)];
        if (std::fread(raw, 1, sizeof raw, m_pFile) != sizeof raw) return -1;
        Tag_UpgradeCameraInfo info{};
        upgrade::Decode(raw, &info);
        list.push_back(info);
    }
    return 0;
}

int CUpgrade::ReadUpgradeFile(UpgradeElmentHeader* header, BYTE** data) {
    QV_ASSERT(header != NULL && data != NULL);
    *data = nullptr;
    if (ReadElementHeader(header) < 0) return -1;
    return ReadElementData(*header, data);
}

int CUpgrade::ReadElementHeader(UpgradeElmentHeader* header) {
    if (m_pFile == nullptr) return -1;
    uint8_t raw[sizeof(UpgradeElmentHeader)];
    if (std::feof(m_pFile) || std::fread(raw, 1, sizeof raw, m_pFile) != sizeof raw) {
        qv::Log("read element header failed.");
        return -1;
    }
    upgrade::Decode(raw, header);
    if (header->magic != kUpgradeElementMagic) {
        qv::Log("element magic error.");
        return -1;
    }
    // The length is the file's word: it must lie within what is left of the file (and within
    // the int ReadUpgradeFile returns) before a buffer is made for it or it is passed over.
    const off_t at = ftello(m_pFile);
    const uint64_t left = at < 0 || static_cast<uint64_t>(at) > m_fileSize
                              ? 0
                              : m_fileSize - static_cast<uint64_t>(at);
    if (header->length > left || header->length > INT32_MAX) {
        qv::Log("read upgrade element file failed.");
        return -1;
    }
    return 0;
}

int CUpgrade::ReadElementData(const UpgradeElmentHeader& header, BYTE** data) {
    *data = nullptr;
    if (header.length == 0) return 0;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[header.length]);
    if (!buffer) {
        qv::Log("read upgrade element file failed.");
        return -1;
    }
    if (ReadElementDataInto(header, buffer.get()) < 0) return -1;
    *data = buffer.release();
    return static_cast<int>(header.length);
}

int CUpgrade::ReadElementDataInto(const UpgradeElmentHeader& header, BYTE* data) {
    if (std::fread(data, 1, header.length, m_pFile) != header.length) {
        qv::Log("read upgrade element file failed.");
        return -1;
    }
    upgrade::Unmask(data, header.length, header.mask);
    return 0;
}

int CUpgrade::SkipElementData(const UpgradeElmentHeader& header) {
    if (fseeko(m_pFile, static_cast<off_t>(header.length), SEEK_CUR) != 0) {
        qv::Log("read upgrade element file failed.");
        return -1;
    }
    return 0;
}

void CUpgrade::FreeReadDataBuffer(BYTE* data) {
    QV_ASSERT(data);
    delete[] data;
}

bool CUpgrade::IsSupported(UpgradeFileHeader* header) {
    tDevInfo info{};
    if (m_pDevice->GetDeviceInfo(&info, nullptr) != CAMERA_STATUS_SUCCESS) return false;
    if (header->deviceId != info.uDeviceId) return false;
    CStorageData* storage = m_pDevice->GetEEPromData();
    CameraProperty prop{};
    SensorTypeE sensor{};
    if (storage->ReadDeviceProperty(&prop) != CAMERA_STATUS_SUCCESS ||
        storage->GetSensorType(&sensor) != CAMERA_STATUS_SUCCESS)
        return false;
    std::list<Tag_UpgradeCameraInfo> list;
    if (ReadSupportCameraList(header, list) != 0) return false;
    return std::any_of(list.begin(), list.end(), [&](const Tag_UpgradeCameraInfo& e) {
        return e.sensorType == static_cast<uint32_t>(sensor) && e.boardCode == prop.modelCode;
    });
}

bool CUpgrade::SeekElements(const UpgradeFileHeader& header) {
    const uint64_t at =
        sizeof(UpgradeFileHeader) + uint64_t{header.supportCount} * sizeof(Tag_UpgradeCameraInfo);
    if (m_pFile == nullptr || at > m_fileSize) return false;
    std::clearerr(m_pFile);
    return fseeko(m_pFile, static_cast<off_t>(at), SEEK_SET) == 0;
}

void CUpgrade::ClearElements() {
    m_records.clear();
    m_records.shrink_to_fit();
    m_bytes.reset();
}

int CUpgrade::SizeElements(const UpgradeFileHeader& header, uint64_t* bytes, size_t* records) {
    *bytes = 0;
    *records = 0;
    if (!SeekElements(header)) return CAMERA_STATUS_UPGRADE_READ_FAILED;
    const uint64_t capacity = MaxWrittenBytes();
    ElementRunRecorder runs(nullptr, SIZE_MAX);
    uint64_t skip = 0;
    for (uint32_t i = 0; i < header.elementCount; ++i) {
        UpgradeElmentHeader element{};
        if (ReadElementHeader(&element) < 0 || SkipElementData(element) < 0)
            return CAMERA_STATUS_UPGRADE_READ_FAILED;
        if (!Writes(element)) {
            skip += element.length;
            continue;
        }
        // A file cannot make the flow hold more than the camera can take, whatever the
        // lengths it gives.
        *bytes += element.length;
        if (*bytes > capacity) {
            qv::Log(
                "upgrade elements to write exceed the camera's %llu bytes at element %u (type "
                "%u, %u bytes)\n",
                static_cast<unsigned long long>(capacity), i, element.type, element.length);
            return CAMERA_STATUS_UPGRADE_WRITE_FAILED;
        }
        runs.Add(skip, element.type, element.length);
        skip = 0;
    }
    runs.Close();
    *records = runs.Bytes();
    return CAMERA_STATUS_SUCCESS;
}

int CUpgrade::CheckElements(const UpgradeFileHeader& header) {
    ClearElements();
    uint64_t bytes = 0;
    size_t recordBytes = 0;
    int r = SizeElements(header, &bytes, &recordBytes);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // The file's bytes to write in one buffer of their size: no per-element allocation, and no
    // buffer that grows (and for a moment is there twice).
    if (bytes > 0) {
        m_bytes.reset(new (std::nothrow) BYTE[bytes]);
        if (!m_bytes) {
            qv::Log("read upgrade element file failed.");
            return CAMERA_STATUS_UPGRADE_READ_FAILED;
        }
    }
    m_records.reserve(recordBytes);
    ElementRunRecorder runs(&m_records, recordBytes);
    r = CAMERA_STATUS_SUCCESS;
    if (!SeekElements(header)) r = CAMERA_STATUS_UPGRADE_READ_FAILED;
    uint64_t filled = 0;
    uint64_t skip = 0;
    for (uint32_t i = 0; i < header.elementCount && r == CAMERA_STATUS_SUCCESS; ++i) {
        UpgradeElmentHeader element{};
        if (ReadElementHeader(&element) < 0) {
            r = CAMERA_STATUS_UPGRADE_READ_FAILED;
            break;
        }
        const bool writes = Writes(element);
        BYTE* data = nullptr;
        // The second reading of a header must find what the first did: a file that changed
        // in between is one that cannot be read.
        if (writes && element.length > bytes - filled) {
            qv::Log("read upgrade element file failed.");
            r = CAMERA_STATUS_UPGRADE_READ_FAILED;
            break;
        }
        if (writes ? ReadElementDataInto(element, data = m_bytes.get() + filled) < 0
                   : SkipElementData(element) < 0) {
            r = CAMERA_STATUS_UPGRADE_READ_FAILED;
            break;
        }
        if (KindOf(element.type) == ElementKind::kUnknown) {
            qv::Log("flash type %u\n", element.type);
        } else if (CheckElement(element.type, element.length, data) < 0) {
            r = CAMERA_STATUS_UPGRADE_WRITE_FAILED;
            break;
        }
        if (!writes) {
            skip += element.length;
            continue;
        }
        filled += element.length;
        if (!runs.Add(skip, element.type, element.length)) {
            qv::Log("read upgrade element file failed.");
            r = CAMERA_STATUS_UPGRADE_READ_FAILED;
        }
        skip = 0;
    }
    if (r == CAMERA_STATUS_SUCCESS && (!runs.Close() || filled != bytes)) {
        qv::Log("read upgrade element file failed.");
        r = CAMERA_STATUS_UPGRADE_READ_FAILED;
    }
    if (r != CAMERA_STATUS_SUCCESS) ClearElements();
    return r;
}

int CUpgrade::RunUpgrade(const char* path, ProgressCallback progress, void* context) {
    if (path == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    UpgradeFileHeader header{};
    switch (OpenUpgradeFile(path, &header)) {
        case 0:
            break;
        case -2:
            return CAMERA_STATUS_FILE_IO_FAILED;
        case -3:
            return CAMERA_STATUS_NOT_SUPPORTED;
        default:
            return CAMERA_STATUS_FILE_OPEN_FAILED;
    }
    struct Closer {
        CUpgrade* self;
        ~Closer() {
            self->CloseUpgradeFile();
            self->ClearElements();
        }
    } closer{this};

    if (!IsSupported(&header)) return CAMERA_STATUS_NOT_SUPPORTED;
    // Everything is read and checked before the first erase, and what is written is what was
    // checked: the file is not read again.
    int r = CheckElements(header);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    CloseUpgradeFile();

    ProgressReport report(progress, context, header.total);
    report.Start();
    const ElementProgress bytes = [&](unsigned n) { report.Bytes(n); };
    const ElementProgress percent = [&](unsigned q) { report.Percent(q); };
    BYTE* data = m_bytes.get();
    size_t at = 0;
    for (ElementRun run{}; GetElementRun(m_records, &at, &run);) {
        report.Skip(run.skipBefore);
        const ElementProgress& pieces = KindOf(run.type) == ElementKind::kBytes ? bytes : percent;
        for (uint32_t k = 0; k < run.count; ++k, data += run.length) {
            report.BeginElement(run.length);
            r = WriteElement(run.type, run.length, data, pieces);
            if (r < 0) return CAMERA_STATUS_UPGRADE_WRITE_FAILED;
            report.EndElement();
        }
    }
    report.Finish();
    return CAMERA_STATUS_SUCCESS;
}

bool CUpgrade::FitsRegion(uint32_t type, uint32_t start, uint64_t regionSize, uint32_t length) {
    if (length > regionSize) {
        qv::Log("upgrade element type %u of %u bytes exceeds its region of %u bytes\n", type,
                length, static_cast<unsigned>(regionSize));
        return false;
    }
    if (length == 0 || m_pDevice == nullptr) return true;
    // Whatever the maps say, an element never erases a sector of the camera's own data.
    const auto* flash = dynamic_cast<const CFlashData*>(m_pDevice->GetEEPromData());
    if (flash == nullptr) return true;
    const uint64_t from = start;
    const uint64_t to = (uint64_t{start} + length + kSectorSize - 1) / kSectorSize * kSectorSize;
    for (const auto& [areaFrom, areaTo] : StorageAreas(flash->Map())) {
        if (from < areaTo && areaFrom < to) {
            qv::Log("upgrade element type %u at 0x%x would overwrite the camera's data at 0x%x\n",
                    type, start, static_cast<unsigned>(areaFrom));
            return false;
        }
    }
    return true;
}

int CUpgrade::WriteFlashRegion(uint32_t start, uint32_t length, const BYTE* data, uint32_t pageSize,
                               const ElementProgress& progress) {
    if (length == 0) return CAMERA_STATUS_SUCCESS;
    const uint64_t end = uint64_t{start} + length;
    for (uint64_t sector = start; sector < end; sector += kSectorSize) {
        const int r = m_pDevice->EraseFlashSector(static_cast<uint32_t>(sector), 0);
        if (r < 0) return r;
    }
    std::vector<uint8_t> page(pageSize);
    std::vector<uint8_t> back(pageSize);
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min(pageSize, length - done);
        std::fill(page.begin(), page.end(), 0xFF);
        std::memcpy(page.data(), data + done, n);
        const uint32_t address = start + done;
        const auto size = static_cast<uint16_t>(pageSize);
        if (m_pDevice->WriteFlash(address, size, page.data()) != CAMERA_STATUS_SUCCESS ||
            m_pDevice->ReadFlash(address, size, back.data()) != CAMERA_STATUS_SUCCESS ||
            back != page)
            return CAMERA_STATUS_FAILED;
        done += n;
        if (progress) progress(n);
    }
    return CAMERA_STATUS_SUCCESS;
}
