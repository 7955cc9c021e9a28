#include "FakeDevice.h"

#include <algorithm>
#include <cstring>

#include "common/Log.h"
#include "common/TextCopy.h"
#include "storage/StorageData.h"

namespace qvsim {

std::string FakeCall::ToString() const {
    std::string text = name + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) text += ",";
        text += std::to_string(args[i]);
    }
    if (value != 0) text += (args.empty() ? "" : ",") + std::to_string(value);
    return text + ")";
}

namespace {
using qv::CopyText;
}  // namespace

CFakeDevice::CFakeDevice(const char* serial, const char* friendlyName, const char* symbolicName)
    : CJNDevice(symbolicName != nullptr ? symbolicName : serial, "fake camera", "V1.0"),
      m_eeprom(kEepromSize, 0xFF) {
    SetSerial(serial);
    SetFriendlyName(friendlyName);
    CopyText(m_devInfo.acProductName, sizeof m_devInfo.acProductName, "FAKE-CAM");
    CopyText(m_devInfo.acDriverName, sizeof m_devInfo.acDriverName, m_driverName);
    CopyText(m_devInfo.acSymbolicName, sizeof m_devInfo.acSymbolicName, m_symbolicName);
}

CFakeDevice::~CFakeDevice() {
    delete m_pEEPromData;
}

// ---- Call log ------------------------------------------------------------------------------

int CFakeDevice::ResultOf(const char* name) const {
    auto it = m_results.find(name);
    return it == m_results.end() ? 0 : it->second;
}

int CFakeDevice::Record(const FakeCall& call) {
    std::function<void(const FakeCall&)> hook;
    int result;
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
        hook = m_callHook;
        result = ResultOf(call.name.c_str());
    }
    if (hook) hook(call);
    return result;
}

int CFakeDevice::RecList(const char* name, std::vector<int64_t> args) {
    return Record(FakeCall{name, std::move(args), 0});
}

int CFakeDevice::Rec(const char* name, std::initializer_list<int64_t> args, double value) {
    return Record(FakeCall{name, std::vector<int64_t>(args), value});
}

void CFakeDevice::Violation(const char* what) {
    m_violations.fetch_add(1);
    qv::Log("fake device %p: contract violation: %s\n", static_cast<void*>(this), what);
}

std::vector<FakeCall> CFakeDevice::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<FakeCall> CFakeDevice::CallsNamed(std::initializer_list<std::string> names) const {
    std::lock_guard lock(m_mutex);
    std::vector<FakeCall> out;
    for (const auto& c : m_calls)
        if (std::find(names.begin(), names.end(), c.name) != names.end()) out.push_back(c);
    return out;
}

std::vector<std::string> CFakeDevice::CallNames() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const auto& c : m_calls) out.push_back(c.name);
    return out;
}

size_t CFakeDevice::CallCount(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_calls.begin(), m_calls.end(),
                                             [&](const FakeCall& c) { return c.name == name; }));
}

void CFakeDevice::ClearCalls() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

std::vector<RegWrite> CFakeDevice::SensorRegWrites() const {
    std::vector<RegWrite> out;
    for (const auto& c : CallsNamed({"WriteSensorReg", "WriteSensorRegs"}))
        for (size_t i = 0; i + 1 < c.args.size(); i += 2)
            out.push_back({static_cast<uint32_t>(c.args[i]), static_cast<uint32_t>(c.args[i + 1])});
    return out;
}

std::vector<RegWrite> CFakeDevice::FpgaRegWrites() const {
    std::vector<RegWrite> out;
    for (const auto& c : CallsNamed({"WriteFpgaReg", "WriteFpgaRegs"}))
        for (size_t i = 0; i + 1 < c.args.size(); i += 2)
            out.push_back({static_cast<uint32_t>(c.args[i]), static_cast<uint32_t>(c.args[i + 1])});
    return out;
}

void CFakeDevice::SetCallHook(std::function<void(const FakeCall&)> hook) {
    std::lock_guard lock(m_mutex);
    m_callHook = std::move(hook);
}

// ---- Scripting -----------------------------------------------------------------------------

void CFakeDevice::SetResult(const std::string& op, int result) {
    std::lock_guard lock(m_mutex);
    m_results[op] = result;
}

void CFakeDevice::ClearResults() {
    std::lock_guard lock(m_mutex);
    m_results.clear();
}

void CFakeDevice::SetSerial(const char* sn) {
    std::lock_guard lock(m_mutex);
    std::memset(m_sn, 0, sizeof m_sn);
    std::memcpy(m_sn, sn, strnlen(sn, 32));
    std::memcpy(m_devInfo.acSn, m_sn, sizeof m_devInfo.acSn);
}

void CFakeDevice::SetFriendlyName(const char* name) {
    std::lock_guard lock(m_mutex);
    CopyText(m_devInfo.acFriendlyName, sizeof m_devInfo.acFriendlyName, name);
}

void CFakeDevice::SetProductName(const char* name) {
    std::lock_guard lock(m_mutex);
    CopyText(m_devInfo.acProductName, sizeof m_devInfo.acProductName, name);
}

void CFakeDevice::SetDeviceType(uint16_t type) {
    std::lock_guard lock(m_mutex);
    m_deviceType = type;
    m_devInfo.uDeviceType = type;
}

void CFakeDevice::SetFirmwareVersion(uint16_t version) {
    std::lock_guard lock(m_mutex);
    m_firmwareVersion = version;
    m_devInfo.uFirmwareVersion = version;
}

void CFakeDevice::SetDeviceInfo(const tDevInfo& info) {
    std::lock_guard lock(m_mutex);
    m_devInfo = info;
}

tDevInfo CFakeDevice::DeviceInfo() const {
    std::lock_guard lock(m_mutex);
    return m_devInfo;
}

void CFakeDevice::SetMiscInfo(const DeviceMiscInfo& misc) {
    std::lock_guard lock(m_mutex);
    m_miscInfo = misc;
}

void CFakeDevice::SetProperty(const CameraProperty& prop) {
    std::lock_guard lock(m_mutex);
    m_devProperty = prop;
}

void CFakeDevice::ScriptDevParam(int result, const tSdkCapability* cap, const CameraProperty* prop,
                                 const DeviceMiscInfo* misc) {
    std::lock_guard lock(m_mutex);
    m_devParamScripted = true;
    m_devParamResult = result;
    m_scriptHasCap = cap != nullptr;
    m_scriptHasProp = prop != nullptr;
    m_scriptHasMisc = misc != nullptr;
    if (cap) m_scriptCap = *cap;
    if (prop) m_scriptProp = *prop;
    if (misc) m_scriptMisc = *misc;
}

void CFakeDevice::AdoptSensor(SensorInf* sensor) {
    delete m_pSensor;
    m_pSensor = sensor;
}

void CFakeDevice::AdoptStorage(CStorageData* storage) {
    delete m_pEEPromData;
    m_pEEPromData = storage;
}

uint16_t CFakeDevice::SensorReg(uint16_t reg) const {
    std::lock_guard lock(m_mutex);
    auto it = m_sensorRegs.find(reg);
    return it == m_sensorRegs.end() ? 0 : it->second;
}

uint32_t CFakeDevice::FpgaReg(uint16_t reg) const {
    std::lock_guard lock(m_mutex);
    auto it = m_fpgaRegs.find(reg);
    return it == m_fpgaRegs.end() ? 0 : it->second;
}

void CFakeDevice::SetSensorReg(uint16_t reg, uint16_t value) {
    std::lock_guard lock(m_mutex);
    m_sensorRegs[reg] = value;
}

void CFakeDevice::SetFpgaReg(uint16_t reg, uint32_t value) {
    std::lock_guard lock(m_mutex);
    m_fpgaRegs[reg] = value;
}

// ---- Stream --------------------------------------------------------------------------------

bool CFakeDevice::HasStream() const {
    std::lock_guard lock(m_mutex);
    return m_producer != nullptr;
}

CameraInitParam CFakeDevice::LastInitParam() const {
    std::lock_guard lock(m_mutex);
    return m_initParam;
}

CFrameBucketProducer* CFakeDevice::Producer() {
    std::lock_guard lock(m_mutex);
    return m_producer;
}

int CFakeDevice::PushFrame(const void* data, uint32_t size, const stImageInfo& info,
                           uint32_t frameNo, uint64_t timestamp) {
    std::lock_guard stream(m_streamMutex);
    CFrameBucketProducer* producer = Producer();
    if (producer == nullptr) return CAMERA_STATUS_FAILED;
    CFrameBufferShared frame = producer->GetEmptyFrame();
    if (!frame) return CAMERA_STATUS_FAILED;
    if (!frame->Reserve(static_cast<int>(size), size)) {
        producer->PutEmptyFrame(frame);
        producer->AddLostFrames(1);
        return CAMERA_STATUS_FAILED;
    }
    if (size > 0) std::memcpy(frame->GetBuffer(), data, size);
    frame->SetFilledSize(static_cast<int>(size));
    frame->SetDataOffset(0);
    frame->SetFrameNo(static_cast<int>(frameNo));
    frame->SetImageInfo(info, timestamp);
    producer->PutFullFrame(frame);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::PushBrokenFrame() {
    std::lock_guard stream(m_streamMutex);
    CFrameBucketProducer* producer = Producer();
    if (producer == nullptr) return CAMERA_STATUS_FAILED;
    CFrameBufferShared frame = producer->GetEmptyFrame();
    if (frame) producer->PutEmptyFrame(frame);
    producer->AddLostFrames(1);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::PostStatus(int status) {
    std::lock_guard stream(m_streamMutex);
    CFrameBucketProducer* producer = Producer();
    if (producer == nullptr) return CAMERA_STATUS_FAILED;
    producer->SetStatus(status);
    return CAMERA_STATUS_SUCCESS;
}

bool CFakeDevice::HasDisconnectCallback() {
    std::lock_guard lock(m_devMutex);
    return m_disconnectCallback != nullptr;
}

// ---- Life cycle ----------------------------------------------------------------------------

int CFakeDevice::TransportOpen() {
    m_pEEPromData = MakeEEPromInstance(nullptr);
    if (m_pEEPromData == nullptr) {
        qv::Log("Make EEPROM instance failed\n");
        return CAMERA_STATUS_DEVICE_OPEN_FAILED;
    }
    uint8_t sn[32] = {};
    int r = m_pEEPromData->ReadSN(sn, 0);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("Get device SN failed\n");
        return r;
    }
    {
        std::lock_guard lock(m_mutex);
        std::memcpy(m_sn, sn, sizeof sn);
        m_sn[32] = 0;
    }
    r = LoadDeviceProperty(&m_devProperty);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("Read device property configure failed\n");
        return r;
    }
    m_devProperty.userDataSize = m_pEEPromData->GetUserDataSize();
    tDevInfo info{};
    r = FillDevInfo(&info);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("Get stable param from file failed\n");
        return r;
    }
    std::lock_guard lock(m_mutex);
    m_devInfo = info;
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::Open(void* opener) {
    int r = Rec("Open", {P(opener)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (m_openRef.fetch_add(1) > 0) return CAMERA_STATUS_SUCCESS;
    if (m_transportOpen.load()) {
        r = TransportOpen();
        if (r != CAMERA_STATUS_SUCCESS) {
            delete m_pEEPromData;
            m_pEEPromData = nullptr;
            m_openRef.store(0);
            return r;
        }
    }
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::Close() {
    const int r = Rec("Close");
    int count = m_openRef.load();
    while (count > 0 && !m_openRef.compare_exchange_weak(count, count - 1)) {
    }
    if (count <= 0) {
        Violation("Close without Open");
        return CAMERA_STATUS_FAILED;
    }
    if (count == 1) {
        CloseStream();
        if (m_transportOpen.load()) {
            delete m_pEEPromData;
            m_pEEPromData = nullptr;
        }
    }
    return r;
}

int CFakeDevice::OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) {
    int r = Rec("OpenStream", {P(producer)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (m_streamInitsSensor.load()) {
        r = InitSensor(param);
        if (r != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_STREAM_OPEN_FAILED;
    }
    {
        std::lock_guard lock(m_mutex);
        m_producer = producer;
        if (param != nullptr) m_initParam = *param;
    }
    if (producer != nullptr) producer->SetStatus(CAMERA_STATUS_SUCCESS);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::CloseStream() {
    const int r = Rec("CloseStream");
    {
        std::lock_guard stream(m_streamMutex);
        std::lock_guard lock(m_mutex);
        m_producer = nullptr;
    }
    if (m_streamInitsSensor.load() && m_pSensor != nullptr) UnInitSensor();
    return r;
}

int CFakeDevice::SetDisconnectCallback(DisconnectCallback callback, void* context) {
    const int r =
        Rec("SetDisconnectCallback", {P(reinterpret_cast<const void*>(callback)), P(context)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return CJNDevice::SetDisconnectCallback(callback, context);
}

int CFakeDevice::GetAccessStatus(DevAccessStatus* status) {
    const int r = Rec("GetAccessStatus", {P(status)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (status == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memset(status, 0, sizeof *status);
    status->openCount = m_openRef.load();
    status->inUse = m_inUse.load() ? 1 : 0;
    CopyText(status->description, sizeof status->description, "fake camera");
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::Reboot() {
    return Rec("Reboot");
}

bool CFakeDevice::IsInUse() {
    Rec("IsInUse");
    return m_inUse.load();
}

int CFakeDevice::GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                                   DeviceMiscInfo* misc) {
    const int r = Rec("GetCameraDevParam", {P(cap), P(info), P(prop), P(misc)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    {
        std::lock_guard lock(m_mutex);
        if (m_devParamScripted) {
            if (info != nullptr) {
                const UINT inUse = info->uInUse;
                *info = m_devInfo;
                info->uInUse = inUse;
            }
            if (cap != nullptr && m_scriptHasCap) *cap = m_scriptCap;
            if (prop != nullptr && m_scriptHasProp) *prop = m_scriptProp;
            if (misc != nullptr && m_scriptHasMisc) *misc = m_scriptMisc;
            return m_devParamResult;
        }
    }
    return CJNDevice::GetCameraDevParam(cap, info, prop, misc);
}

int CFakeDevice::GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) {
    const int r = Rec("GetDeviceInfo", {P(info), P(misc)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    QV_ASSERT(info != NULL);
    std::lock_guard lock(m_mutex);
    const UINT inUse = info->uInUse;
    *info = m_devInfo;
    info->uInUse = inUse;
    if (misc != nullptr) *misc = m_miscInfo;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Identity ------------------------------------------------------------------------------

bool CFakeDevice::CheckAlive() {
    Rec("CheckAlive");
    return m_alive.load();
}

int CFakeDevice::GetDeviceType(uint16_t* type) {
    const int r = Rec("GetDeviceType", {P(type)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (type == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_mutex);
    *type = m_deviceType;
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::GetSN(char* sn) {
    const int r = Rec("GetSN", {P(sn)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    std::lock_guard lock(m_mutex);
    return CJNDevice::GetSN(sn);
}

int CFakeDevice::GetFirmwareVersion(uint16_t* version) {
    const int r = Rec("GetFirmwareVersion", {P(version)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (version == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_mutex);
    *version = m_firmwareVersion;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace qvsim
