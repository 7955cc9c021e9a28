#include "usb/LibUsbCamera.h"

#include <libusb.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"
#include "common/Log.h"
#include "storage/StorageData.h"
#include "usb/LibUsbFrameReceiver.h"
#include "usb/UsbFrameHeader.h"
#include "usb/UsbVendorRequest.h"

namespace usb = qv::usb;

namespace {

constexpr int kInterface = 0;

// A frame buffer holds one page more than the frame.
constexpr uint32_t kFrameBufferSlack = 4096;

}  // namespace

CLibUsbCamera::CLibUsbCamera(libusb_device* device, const char* symbolicName,
                             const char* driverName, const char* driverVersion)
    : CUsbCamera(symbolicName, driverName, driverVersion), m_device(device) {}

CLibUsbCamera::CLibUsbCamera(libusb_context* context, int systemFd, const char* symbolicName,
                             const char* driverName, const char* driverVersion)
    : CUsbCamera(symbolicName, driverName, driverVersion),
      m_context(context),
      m_systemFd(systemFd) {}

CLibUsbCamera::~CLibUsbCamera() {
    // First, while Ioctl still works: the liveness poll and the cooling loop make requests.
    Shutdown();
    {
        std::lock_guard lock(m_openMutex);
        CloseAll();
    }
    if (m_device != nullptr) libusb_unref_device(m_device);
    // libusb never closes a descriptor it wrapped.
    if (m_systemFd >= 0) close(m_systemFd);
}

// ---- Open and close -------------------------------------------------------------------------

int CLibUsbCamera::OpenHandle() {
    std::lock_guard lock(m_transferMutex);
    libusb_device_handle* handle = nullptr;
    int r = LIBUSB_ERROR_NO_DEVICE;
    if (m_device != nullptr) {
        r = libusb_open(m_device, &handle);
    } else if (m_systemFd >= 0) {
        r = libusb_wrap_sys_device(m_context, static_cast<intptr_t>(m_systemFd), &handle);
        if (r == LIBUSB_SUCCESS)
            m_wrappedSpeed.store(libusb_get_device_speed(libusb_get_device(handle)));
    }
    if (r != LIBUSB_SUCCESS) {
        qv::Log("libusb open failed\r\n");
        return CAMERA_STATUS_DEVICE_OPEN_FAILED;
    }
    m_handle = handle;
    qv::Log("Open usb device handle successfully, device handle %p\r\n",
            static_cast<void*>(handle));
    return CAMERA_STATUS_SUCCESS;
}

void CLibUsbCamera::CloseHandle() {
    std::lock_guard lock(m_transferMutex);
    if (m_handle != nullptr) libusb_close(m_handle);
    m_handle = nullptr;
}

int CLibUsbCamera::Open(void* opener) {
    std::lock_guard lock(m_openMutex);
    if (m_openRef.fetch_add(1) > 0) return CAMERA_STATUS_SUCCESS;
    if (OpenHandle() != CAMERA_STATUS_SUCCESS) {
        m_openRef.store(0);
        return CAMERA_STATUS_DEVICE_OPEN_FAILED;
    }

    int r = CAMERA_STATUS_SUCCESS;
    const char* failure = nullptr;
    m_pEEPromData = MakeEEPromInstance(nullptr);
    if (m_pEEPromData == nullptr) {
        failure = "Make EEPROM instance failed\n";
        r = CAMERA_STATUS_DEVICE_OPEN_FAILED;
    } else if ((r = m_pEEPromData->ReadSN(reinterpret_cast<uint8_t*>(m_sn), 0)) !=
               CAMERA_STATUS_SUCCESS) {
        failure = "Get device SN failed\n";
    } else if ((r = LoadDeviceProperty(&m_devProperty)) != CAMERA_STATUS_SUCCESS) {
        failure = "Read device property configure failed\n";
    } else {
        m_devProperty.userDataSize = m_pEEPromData->GetUserDataSize();
        m_hardwareType = GetFpgaType(&m_devProperty);
        if ((r = FillDevInfo(&m_devInfo)) != CAMERA_STATUS_SUCCESS)
            failure = "Get stable param from file failed\n";
    }
    if (failure != nullptr) {
        qv::Log("%s", failure);
        delete m_pEEPromData;
        m_pEEPromData = nullptr;
        m_openRef.store(0);  // sequentially consistent: a full fence
        CloseHandle();
        return r;
    }
    qv::Log("open device:%p!\n", static_cast<void*>(this));
    return CUsbCamera::Open(opener);
}

int CLibUsbCamera::Close() {
    std::lock_guard lock(m_openMutex);
    QV_ASSERT(m_openRef > 0);
    if (m_openRef.fetch_sub(1) == 1) CloseAll();
    return CAMERA_STATUS_SUCCESS;
}

void CLibUsbCamera::CloseAll() {
    CUsbCamera::Close();
    CloseStream();
    // A closed camera cannot be cooled; the loop would only fail its requests.
    StopCoolingThread();
    delete m_pEEPromData;
    m_pEEPromData = nullptr;
    CloseHandle();
}

// ---- Stream ---------------------------------------------------------------------------------

int CLibUsbCamera::ResetDevice() {
    if (libusb_reset_device(m_handle) != LIBUSB_SUCCESS) {
        qv::Log("ResetSystemDevice Fail!!! \n");
        return CAMERA_STATUS_IO_ERROR;
    }
    return CAMERA_STATUS_SUCCESS;
}

void CLibUsbCamera::ReleaseStreamResources() {
    std::lock_guard lock(m_transferMutex);
    if (m_transfer != nullptr) libusb_free_transfer(m_transfer);
    m_transfer = nullptr;
    if (m_handle != nullptr) libusb_release_interface(m_handle, kInterface);
}

int CLibUsbCamera::OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) {
    {
        std::lock_guard lock(m_transferMutex);
        if (m_handle == nullptr) {
            qv::Log("No open device handle\n");
            return CAMERA_STATUS_STREAM_OPEN_FAILED;
        }
        if (m_interfaceClaimed) {
            qv::Log("usb stream already open\r\n");
            return CAMERA_STATUS_DEVICE_IS_OPENED;
        }
        // The claim comes first: while another handle holds the interface, its stream must
        // not be broken by our reset and stream stop.
        const int claimed = libusb_claim_interface(m_handle, kInterface);
        if (claimed == LIBUSB_ERROR_BUSY) {
            qv::Log("usb interface held by another handle\r\n");
            return CAMERA_STATUS_DEVICE_IS_OPENED;
        }
        if (claimed != LIBUSB_SUCCESS) {
            qv::Log("libusb_claim_interface failed\r\n");
            return CAMERA_STATUS_IO_ERROR;
        }
        // libusb gives the interface up around the port reset and claims it again.
        const int reset = ResetDevice();
        if (reset != CAMERA_STATUS_SUCCESS) {
            qv::Log("Reset system device failed\r\n");
            libusb_release_interface(m_handle, kInterface);
            return reset;
        }
        if (StopStream() != CAMERA_STATUS_SUCCESS) {
            qv::Log("Stop stream failed\r\n");
            libusb_release_interface(m_handle, kInterface);
            return CAMERA_STATUS_STREAM_OPEN_FAILED;
        }
        m_transfer = libusb_alloc_transfer(0);
        if (m_transfer == nullptr) {
            qv::Log("alloc transfer failed.\r\n");
            libusb_release_interface(m_handle, kInterface);
            return CAMERA_STATUS_STREAM_OPEN_FAILED;
        }
    }

    // Without the transfer mutex: a sensor driver may stop a timer of its own here, and that
    // timer's callback makes requests.
    if (InitSensor(param) != CAMERA_STATUS_SUCCESS) {
        qv::Log("Sensor initialize failed\r\n");
        ReleaseStreamResources();
        return CAMERA_STATUS_STREAM_OPEN_FAILED;
    }
    stImageInfo info{};
    if (GetImageInfo(&info) != CAMERA_STATUS_SUCCESS) {
        qv::Log("Get image information failed\r\n");
        ReleaseStreamResources();
        return CAMERA_STATUS_STREAM_OPEN_FAILED;
    }
    {
        std::lock_guard lock(m_frameInfoMutex);
        m_frameInfo = info;
    }
    const uint32_t header = GetFrameHeaderSize();
    const uint32_t frameSize = info.TotalBytes + header;
    if (CreateFrameReceiver(frameSize + kFrameBufferSlack, frameSize, header,
                            param != nullptr ? param->frameCount : 0,
                            producer) != CAMERA_STATUS_SUCCESS) {
        qv::Log("Create usb frame receiver failed\r\n");
        ReleaseStreamResources();
        return CAMERA_STATUS_FAILED;
    }
    {
        std::lock_guard lock(m_transferMutex);
        m_interfaceClaimed = true;
    }
    return CUsbCamera::OpenStream(producer, param);
}

int CLibUsbCamera::CloseStream() {
    // First, and without our mutexes: it may join the cooling loop.
    CUsbCamera::CloseStream();
    DestroyFrameReceiver();
    std::lock_guard lock(m_transferMutex);
    if (m_interfaceClaimed) {
        if (m_transfer != nullptr) libusb_free_transfer(m_transfer);
        m_transfer = nullptr;
        if (m_handle != nullptr) libusb_release_interface(m_handle, kInterface);
        m_interfaceClaimed = false;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CLibUsbCamera::CreateFrameReceiver(uint32_t bufferCapacity, uint32_t frameSize,
                                       uint32_t headerSize, int frameCount,
                                       CFrameBucketProducer* producer) {
    std::lock_guard lock(m_transferMutex);
    QV_ASSERT(m_pReceiver == nullptr);
    // 0 (and a negative count) asks for the receiver's default.
    const uint32_t count = frameCount > 0 ? static_cast<uint32_t>(frameCount) : 0;
    auto receiver = std::make_unique<CLibUsbFrameReceiver>(this, m_handle, m_transfer, frameSize,
                                                           bufferCapacity, headerSize, count);
    if (receiver->CreateFramePool() != CAMERA_STATUS_SUCCESS) {
        receiver->Close();
        return CAMERA_STATUS_FAILED;
    }
    receiver->SetProducer(producer);
    m_pReceiver = receiver.release();
    return CAMERA_STATUS_SUCCESS;
}

void CLibUsbCamera::DestroyFrameReceiver() {
    CLibUsbFrameReceiver* receiver = nullptr;
    {
        std::lock_guard lock(m_transferMutex);
        std::swap(receiver, m_pReceiver);
    }
    if (receiver == nullptr) return;
    // Without the transfer mutex: the close waits for the event thread, and requests of other
    // threads need not wait with it.
    receiver->Stop();
    qv::Log("Close and destroy usb frame receiver\r\n");
    receiver->CloseStream();
    receiver->Close();
    delete receiver;
}

int CLibUsbCamera::StartCapture() {
    std::lock_guard lock(m_transferMutex);
    return m_pReceiver != nullptr ? m_pReceiver->Start() : CAMERA_STATUS_FAILED;
}

int CLibUsbCamera::StopCapture() {
    std::lock_guard lock(m_transferMutex);
    if (m_pReceiver == nullptr) return CAMERA_STATUS_FAILED;
    m_pReceiver->Stop();
    return CAMERA_STATUS_SUCCESS;
}

int CLibUsbCamera::SetStreamBufferCount(int count) {
    std::lock_guard lock(m_transferMutex);
    if (m_pReceiver == nullptr) return CAMERA_STATUS_FAILED;
    // A negative count is out of range, not a large one.
    return count < 0 ? CAMERA_STATUS_PARAMETER_INVALID
                     : m_pReceiver->SetFrameCount(static_cast<unsigned>(count));
}

int CLibUsbCamera::GetStreamBufferCount(int* count) {
    std::lock_guard lock(m_transferMutex);
    return m_pReceiver != nullptr ? m_pReceiver->GetFrameCount(count) : CAMERA_STATUS_FAILED;
}

int CLibUsbCamera::StartStream() {
    const int r = usb::ExecuteCommand(m_link, usb::StreamStart());
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return CUsbCamera::StartStream();
}

int CLibUsbCamera::StopStream() {
    CUsbCamera::StopStream();
    return usb::ExecuteCommand(m_link, usb::StreamStop());
}

uint32_t CLibUsbCamera::GetFrameHeaderSize() {
    return usb::FrameHeaderSizeForHardwareType(m_hardwareType);
}

// ---- Frame description ----------------------------------------------------------------------

void CLibUsbCamera::GetFrameInfo(stImageInfo* info) {
    std::lock_guard lock(m_frameInfoMutex);
    *info = m_frameInfo;
}

int CLibUsbCamera::RefreshFrameInfo(int r) {
    stImageInfo info{};
    if (CJNDevice::GetImageInfo(&info) == CAMERA_STATUS_SUCCESS) {
        std::lock_guard lock(m_frameInfoMutex);
        m_frameInfo = info;
    }
    return r;
}

int CLibUsbCamera::InitSensor(CameraInitParam* param) {
    return RefreshFrameInfo(CUsbCamera::InitSensor(param));
}
int CLibUsbCamera::SetExposureLines(uint32_t lines) {
    return RefreshFrameInfo(CUsbCamera::SetExposureLines(lines));
}
int CLibUsbCamera::SetExposure(double us) {
    return RefreshFrameInfo(CUsbCamera::SetExposure(us));
}
int CLibUsbCamera::SetFrameTime(double us) {
    return RefreshFrameInfo(CUsbCamera::SetFrameTime(us));
}
int CLibUsbCamera::SetFrameSpeed(int speed) {
    return RefreshFrameInfo(CUsbCamera::SetFrameSpeed(speed));
}
int CLibUsbCamera::SetAnalogGain(uint32_t gain) {
    return RefreshFrameInfo(CUsbCamera::SetAnalogGain(gain));
}
int CLibUsbCamera::SetWdrMode(int mode) {
    return RefreshFrameInfo(CUsbCamera::SetWdrMode(mode));
}
int CLibUsbCamera::SetTriggerMode(int mode) {
    return RefreshFrameInfo(CUsbCamera::SetTriggerMode(mode));
}
int CLibUsbCamera::SetResolution(tSdkResolution* res) {
    return RefreshFrameInfo(CUsbCamera::SetResolution(res));
}
int CLibUsbCamera::SetRoiOffset(int x, int y) {
    return RefreshFrameInfo(CUsbCamera::SetRoiOffset(x, y));
}

// ---- Status and information -----------------------------------------------------------------

int CLibUsbCamera::GetAccessStatus(DevAccessStatus* status) {
    std::lock_guard lock(m_transferMutex);
    if (status == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (m_handle == nullptr) return CAMERA_STATUS_HARDWARE_NOT_FOUND;
    status->openCount = 0;
    status->accessWord = 0;
    status->inUse = 0;
    return CAMERA_STATUS_SUCCESS;
}

int CLibUsbCamera::GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) {
    const int r = CUsbCamera::GetDeviceInfo(info, misc);
    if (misc != nullptr)
        misc->defaultFrameSpeed = m_hardwareType != 0 && m_hardwareType != 303 ? 2 : 1;
    const char* port = "USB2.0";
    const int speed =
        m_device != nullptr ? libusb_get_device_speed(m_device) : m_wrappedSpeed.load();
    switch (speed) {
        case LIBUSB_SPEED_SUPER_PLUS:
            port = "USB3.2";
            break;
        case LIBUSB_SPEED_SUPER:
            port = "USB3.0";
            break;
        default:
            break;
    }
    // The whole field, so nothing of the stored text shows behind the shorter one.
    std::memset(info->acPortType, 0, sizeof info->acPortType);
    std::memcpy(info->acPortType, port, std::strlen(port));
    return r;
}

// ---- Vendor transfer ------------------------------------------------------------------------

int CLibUsbCamera::Ioctl(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen,
                         uint8_t* inBuf, uint16_t outLen, uint8_t* outBuf) {
    std::lock_guard lock(m_transferMutex);
    if (m_handle == nullptr) return CAMERA_STATUS_HARDWARE_NOT_FOUND;
    const uint16_t length = inLen != 0 ? inLen : outLen;
    const int n = inLen != 0
                      ? libusb_control_transfer(m_handle, usb::kRequestTypeIn, request, value,
                                                index, inBuf, inLen, usb::kControlTimeoutMs)
                      : libusb_control_transfer(m_handle, usb::kRequestTypeOut, request, value,
                                                index, outBuf, outLen, usb::kControlTimeoutMs);
    if (n < 0) {
        qv::Log("ioctl:err=%d, cmd %hhu, value %hu, index %hu\n", n, request, value, index);
        return CAMERA_STATUS_IO_ERROR;
    }
    // Fewer bytes than asked for: the reply's status and values were never sent.
    if (usb::CheckTransferred(length, n) != CAMERA_STATUS_SUCCESS) {
        qv::Log("ioctl:short=%d of %hu, cmd %hhu, value %hu, index %hu\n", n, length, request,
                value, index);
        return CAMERA_STATUS_IO_ERROR;
    }
    return CAMERA_STATUS_SUCCESS;
}
