#include "SimUsbInProcessCamera.h"

#include "storage/StorageData.h"

CSimUsbInProcessCamera::CSimUsbInProcessCamera(std::shared_ptr<CSimUsbCamera> model,
                                               int hardwareType)
    : CUsbCamera("in-process", "simulated usb camera", "1.0"),
      m_model(std::move(model)),
      m_link(*m_model) {
    m_hardwareType = hardwareType;
}

CSimUsbInProcessCamera::~CSimUsbInProcessCamera() {
    Shutdown();
    delete m_pEEPromData;
}

bool CSimUsbInProcessCamera::OpenStorage() {
    delete m_pEEPromData;
    m_pEEPromData = MakeEEPromInstance(nullptr);
    return m_pEEPromData != nullptr;
}

void CSimUsbInProcessCamera::AdoptSensor(SensorInf* sensor) {
    std::lock_guard lock(m_sensorMutex);
    delete m_pSensor;
    m_pSensor = sensor;
}

void CSimUsbInProcessCamera::SetOpen(bool open) {
    std::lock_guard lock(m_transferMutex);
    m_open = open;
}

int CSimUsbInProcessCamera::Ioctl(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen,
                                  uint8_t* inBuf, uint16_t outLen, uint8_t* outBuf) {
    std::lock_guard lock(m_transferMutex);
    if (!m_open) return CAMERA_STATUS_HARDWARE_NOT_FOUND;
    return m_link(request, value, index, inLen, inBuf, outLen, outBuf);
}

int CSimUsbInProcessCamera::StartCapture() {
    return CAMERA_STATUS_FAILED;
}

int CSimUsbInProcessCamera::StopCapture() {
    return CAMERA_STATUS_FAILED;
}

int CSimUsbInProcessCamera::SetStreamBufferCount(int count) {
    (void)count;
    return CAMERA_STATUS_FAILED;
}

int CSimUsbInProcessCamera::GetStreamBufferCount(int* count) {
    (void)count;
    return CAMERA_STATUS_FAILED;
}

int CSimUsbInProcessCamera::GetAccessStatus(DevAccessStatus* status) {
    if (status == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    status->openCount = 0;
    status->accessWord = 0;
    status->inUse = 0;
    return CAMERA_STATUS_SUCCESS;
}
