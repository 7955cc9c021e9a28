// CLibUsbCamera: a USB camera on libusb. It owns the libusb device (or the duplicate of a usbfs
// descriptor the host opened), the open handle, the bulk transfer and the frame receiver of the
// stream, opens the camera (storage, serial number, property record, hardware type, device
// information), prepares and ends streams, and implements the vendor transfer on
// libusb_control_transfer. Discovery makes one per recognised camera and opens it once;
// controllers open it again while they hold it.
//
// Another handle streaming from the same camera (another object of this process, or another
// process) holds its interface 0; stream open claims the interface before anything else, so it
// refuses such a camera with CAMERA_STATUS_DEVICE_IS_OPENED without resetting or stopping it.
//
// Frames: the receiver describes each frame with the sensor's image information as it stood at
// the frame's end. The driver is not safe to read from the libusb event thread while the
// caller's thread changes it, so this class keeps a copy, refreshed on the caller's thread after
// every forwarded setting that can change it, and the receiver reads the copy.
//
// Locking: m_openMutex serialises Open and Close; it is taken before the transfer mutex (see
// CUsbCamera for the rest of the order) and never held by a thread that the stream close joins.
// The capture operations take the transfer mutex, then the receiver's mutex; stream close takes
// the receiver out under the transfer mutex and waits for its transfer without it.
// m_frameInfoMutex is a leaf, taken inside the receiver's mutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "usb/UsbCamera.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;
class CLibUsbFrameReceiver;

class CLibUsbCamera : public CUsbCamera {
  public:
    // The caller has taken one libusb reference on device for this object; the destructor
    // drops it. Discovery passes "bus:%hhu:address:%hhu", "libusb camera" and libusb's version.
    CLibUsbCamera(libusb_device* device, const char* symbolicName, const char* driverName,
                  const char* driverVersion);
    // A camera behind a usbfs descriptor that the host opened: systemFd is this object's own
    // duplicate, wrapped into a libusb handle on context at each open and closed by the
    // destructor.
    CLibUsbCamera(libusb_context* context, int systemFd, const char* symbolicName,
                  const char* driverName, const char* driverVersion);
    // Ends the stream, deletes the storage and closes the handle whatever the open count.
    ~CLibUsbCamera() override;

    // Reference-counted: the first call opens the handle, makes the storage object and reads
    // the serial number, property record, hardware type and device information; later calls
    // only count. CAMERA_STATUS_DEVICE_OPEN_FAILED when libusb cannot open the camera or its
    // storage is not recognised, else the failing read's code; a failed open leaves the camera
    // closed.
    int Open(void* opener) override;
    // The last close ends the stream and the cooling loop, deletes the storage object and closes
    // the handle. A close without an open is a broken invariant.
    int Close() override;
    // Resets the camera, stops its stream, claims interface 0, creates the sensor driver (with
    // its FPGA configuration) and sets the stream up. CAMERA_STATUS_DEVICE_IS_OPENED while a
    // stream of this object or another handle is open; -13 when the reset or the claim fails;
    // -1 when no frame receiver can be made; -53 for every other failure. A failed stream open
    // leaves the camera open with nothing allocated and the interface released.
    int OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) override;
    // Safe in every state; 0.
    int CloseStream() override;
    int StartStream() override;  // request 0xB7
    int StopStream() override;   // request 0xB8
    // The frame receiver's; CAMERA_STATUS_FAILED without one.
    int StartCapture() override;
    int StopCapture() override;
    int SetStreamBufferCount(int count) override;
    int GetStreamBufferCount(int* count) override;
    // A USB camera is never reported in use: open count, access word and in-use flag are 0.
    int GetAccessStatus(DevAccessStatus* status) override;
    // As CUsbCamera, with the port text from the link speed ("USB3.2", "USB3.0", "USB2.0").
    int GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) override;

    int Ioctl(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen, uint8_t* inBuf,
              uint16_t outLen, uint8_t* outBuf) override;

    // Bytes of frame header in front of each frame's image: 16, or 0 for boards 109 and 0.
    uint32_t GetFrameHeaderSize();
    // The frame description for the receiver (any thread): the sensor's image information as
    // of its last change through this camera.
    void GetFrameInfo(stImageInfo* info);

    // ---- Sensor settings that change the frame description: forwarded, then the copy is
    //      refreshed ----
    int InitSensor(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int SetFrameTime(double us) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int SetWdrMode(int mode) override;
    int SetTriggerMode(int mode) override;
    int SetResolution(tSdkResolution* res) override;
    int SetRoiOffset(int x, int y) override;

  protected:
    // The stream's receiver while one exists (tests look at it); null otherwise.
    CLibUsbFrameReceiver* Receiver() {
        std::lock_guard lock(m_transferMutex);
        return m_pReceiver;
    }

  private:
    int OpenHandle();
    void CloseHandle();
    int ResetDevice();
    int CreateFrameReceiver(uint32_t bufferCapacity, uint32_t frameSize, uint32_t headerSize,
                            int frameCount, CFrameBucketProducer* producer);
    void DestroyFrameReceiver();
    void CloseAll();
    // Stream open's clean-up after a failure: frees the transfer and releases interface 0.
    void ReleaseStreamResources();
    // Keeps the result when the driver answers, forwarding the setting's result r.
    int RefreshFrameInfo(int r);

    libusb_device* m_device = nullptr;            // one libusb reference held; null when wrapped
    libusb_context* m_context = nullptr;          // of a wrapped descriptor
    int m_systemFd = -1;                          // the wrapped descriptor (ours), or -1
    std::atomic<int> m_wrappedSpeed{0};           // libusb_speed of the wrapped handle's link
    libusb_device_handle* m_handle = nullptr;     // guarded by m_transferMutex
    libusb_transfer* m_transfer = nullptr;        // guarded by m_transferMutex
    CLibUsbFrameReceiver* m_pReceiver = nullptr;  // owned; guarded by m_transferMutex
    std::mutex m_frameInfoMutex;                  // guards m_frameInfo
    stImageInfo m_frameInfo{};
    std::atomic<int32_t> m_openRef{0};
    bool m_interfaceClaimed = false;  // guarded by m_transferMutex; set by a stream open
    std::mutex m_openMutex;           // serialises Open and Close
};
