// CGigeCamera: a GigE camera as a CJNDevice, controlled over GVCP. Discovery makes one from the
// camera's discovery answer; the controller opens it, opens, starts, stops and closes its stream
// through the CJNDevice interface. CGigeCameraBySocket is the concrete class (it makes the
// stream receiver).
//
// The GVCP channel: one UDP socket bound to an ephemeral port, one 1024-byte buffer for a
// command and its answer, one request id (1 after every Open, never 0) and one command mutex
// over all three. A transaction advances the id once and sends up to `tries` times with that
// id, so the late answer of an earlier try satisfies a later wait; datagrams with another id or
// code, or too short for the length they announce, are skipped until a 1 s deadline.
//
// While open, a heartbeat timer (3000 ms, or the stream's heartbeat time less 2000 ms) checks
// the control privilege; three failed checks in a row with an open stream post
// CAMERA_STATUS_DEVICE_LOST into the frame pool and call the disconnect callback once.
//
// Locking, outermost first:
//   m_openMutex    Open and Close (and the destructor's shutdown).
//   m_receiverMutex the receiver's lifetime and every call into it from API threads; held
//                  while its thread is joined, so nothing the receive thread takes may wait
//                  for it (the thread takes only m_cmdMutex, m_streamMutex and m_devMutex).
//   m_cmdMutex     the GVCP channel: socket, message buffer, request id.
//   m_devMutex     (CJNDevice) the disconnect callback.
//   m_infoMutex    the discovery answer and the network name.
//   m_streamMutex  the producer of the open stream and the heartbeat's miss count; a leaf.
//   m_peerMutex    the camera's control address; a leaf.
// The heartbeat timer's callback takes m_cmdMutex, m_streamMutex and m_devMutex; the timer is
// removed (which waits for a running callback) with none of them held.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "device/JNDevice.h"
#include "gige/Address.h"
#include "gige/GVSPReceiver.h"
#include "gige/GvcpProtocol.h"
#include "gige/GvcpTransport.h"
#include "gige/UDP.h"

struct TimerEntry;

class CGigeCamera : public CJNDevice {
  public:
    using DISCOVERY_ACK_DATA = qv::gige::DISCOVERY_ACK_DATA;

    // serial, model and version become the symbolic name, driver name and driver version;
    // netcard is the interface the camera answered on. The control address is the answer's
    // current IP, port 13956.
    CGigeCamera(const char* serial, const char* model, const char* version, const char* netcard,
                const DISCOVERY_ACK_DATA& ack);
    // Shuts the device down whatever the open count (a leaf's destructor does it first).
    ~CGigeCamera() override;

    // The hardware type of a model word (200 to 205); 0 for one no GigE board carries.
    static int GetFpgaType(const CameraProperty* prop);

    // ---- Identity (no traffic) ----
    bool CheckAlive() override;
    int GetDeviceType(uint16_t* type) override;  // 0x2001
    int GetFirmwareVersion(uint16_t* version) override;
    int GetAccessStatus(DevAccessStatus* status) override;  // always 0
    bool IsInUse() override;
    int GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) override;
    // Same serial number and manufacturer texts (each bounded by its field).
    bool MatchDiscoveryAck(const DISCOVERY_ACK_DATA& ack);
    // Keeps the newer answer and follows its address. askedAt is when the discovery command it
    // answers went out: an answer to a command sent before the last successful FORCEIP may
    // still show the old address and is not taken.
    void UpdateDiscoveryAck(const DISCOVERY_ACK_DATA& ack,
                            std::chrono::steady_clock::time_point askedAt =
                                std::chrono::steady_clock::time_point::max());
    DISCOVERY_ACK_DATA GetDiscoveryAck();
    std::string GetNetcardName();

    // ---- Sensor bus, FPGA, I2C, GPIO, clock, image path ----
    using imginf::WriteFpgaRegs;
    using imginf::WriteSensorRegs;
    int SetSensorBus(uint8_t address, uint8_t widths) override;
    int WriteSensorReg(uint16_t reg, uint16_t value) override;
    int WriteSensorRegs(std::span<const uint16_t> regAndVal) override;
    int ReadSensorReg(uint16_t reg, uint16_t* value) override;
    int WriteFpgaReg(uint16_t reg, uint32_t value) override;
    int WriteFpgaRegs(std::span<const uint32_t> regAndVal) override;
    int ReadFpgaReg(uint16_t reg, uint32_t* value) override;
    int I2CWrite(uint8_t address, uint8_t* data, uint8_t len) override;
    // The answer must carry exactly len bytes (-14 otherwise).
    int I2CRead(uint8_t address, uint8_t* data, uint8_t len) override;
    int SetGpioMode(uint8_t pin, uint8_t mode) override;
    int WriteGpio(uint8_t pin, uint8_t level) override;
    int ReadGpio(uint8_t pin, uint8_t* level) override;
    int FpgaConfigBegin() override;
    int FpgaConfigEnd() override;
    int FpgaConfigWrite(uint8_t* data, uint32_t len) override;
    int LoadFpga(SensorTypeE type) override;
    int GetHardwareType() override;
    int GetFpgaVersion(uint16_t* version) override;
    int StartStream() override;
    int StopStream() override;
    int SetPll(uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4, uint8_t v5, uint8_t v6, uint8_t v7,
               uint8_t v8) override;
    int SetFpgaImageEnable(uint8_t flag, int value) override;
    int SetSensorInterface(uint16_t control) override;
    int SetImageWindow(uint16_t x, uint16_t y, uint16_t width, uint16_t height, uint16_t fovWidth,
                       uint16_t fovHeight, uint8_t bits) override;
    int SetImageTiming(uint16_t a, uint16_t b, uint8_t c) override;
    int SetFrameBuffer(uint32_t start, uint32_t end, uint32_t frameStep, uint8_t mode) override;
    int SetFpgaPixelFormat(uint32_t mediaType) override;

    // ---- Trigger, strobe and I/O lines ----
    int SetTriggerTiming(uint16_t a, uint16_t b) override;
    int SetTriggerFrameCount(uint32_t count) override;
    int SetTriggerJitterTime(int line, uint32_t time) override;
    int SetTriggerDelayTime(uint32_t time) override;
    int SetTriggerControl(uint16_t mode, uint16_t source, uint16_t flag, uint16_t enable) override;
    int GetTriggerControl(uint16_t* mode, uint16_t* source, uint16_t* flag,
                          uint16_t* enable) override;
    int SetStrobeMode(int line, int mode) override;
    int SetStrobeDelayTime(int line, uint32_t time) override;
    int SetStrobePolarity(int line, int polarity) override;
    int SetStrobePulseWidth(int line, uint32_t width) override;
    int SendSoftTrigger() override;
    int ResetTimestamp() override;
    int SetTriggerSignalType(int line, int type) override;
    int SetOutputIOMode(int line, int mode) override;
    int SetTriggerInhibit(int line, int inhibit) override;
    int SetOutputIOState(int line, int state) override;
    int SetOutputIOPWM(int line, uint32_t period, uint32_t duty) override;
    int GetInputIOState(int line, int* state) override;

    // ---- Life cycle and stream ----
    // Reference-counted; the first call takes the control privilege, reads the capabilities
    // and the hardware version, makes the storage object, loads the property record, derives
    // the hardware type and starts the heartbeat. -1 (privilege not granted, no timer), -2
    // (socket), -52 (storage not recognised, or a model word no GigE board carries) or the
    // failing read's code; a failed open leaves the camera closed.
    int Open(void* opener) override;
    int Close() override;  // the last close releases the privilege
    // Sensor set-up, heartbeat time, stream source port, packet-size negotiation and the
    // receiver. -53 (sensor), the register read's code, or the receiver's (-13); the privilege
    // is released on failure. Throws nothing.
    int OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) override;
    int CloseStream() override;   // 0
    int StartCapture() override;  // -1 without a receiver
    int StopCapture() override;
    int SetStreamBufferCount(int count) override;  // -1 without a receiver
    int GetStreamBufferCount(int* count) override;
    int Reboot() override;

    // ---- Storage ----
    int WriteEEProm(uint16_t address, uint8_t* data, uint16_t len) override;  // -4
    int ReadEEProm(uint16_t address, uint8_t* data, uint16_t len) override;   // -4
    int EraseFlashSector(uint32_t address, uint8_t option) override;
    // Pieces of at most 540 bytes; each answer must carry exactly the bytes asked for (-14).
    int ReadFlash(uint32_t address, uint16_t len, uint8_t* data) override;
    int WriteFlash(uint32_t address, uint16_t len, uint8_t* data) override;  // pieces of <= 532

    // ---- Network and stream settings, integer settings, upgrade ----
    int RequestTransferImage() override;
    int RequestTransferImageEx(int value) override;
    int GetIpConfig(tGigeIpConfig* config) override;
    // FORCEIP with the record's texts; on success commands go to the record's address.
    int SetIpConfig(tGigeIpConfig* config) override;
    int SetPacketDelay(uint32_t delay) override;
    int SetResend(uint8_t enable, int percent, int timeoutMs, int retries) override;
    int GetOptimalPacketSize(int* size) override;
    int Upgrade(const char* path, UpgradeProgress progress, void* context) override;
    int SetIntValue(int id, int value) override;
    int GetIntValue(int id, int* value) override;

    // ---- Operations of GigE cameras only ----
    virtual int WriteFpgaRegBits(uint32_t reg, uint32_t mask, uint32_t value);
    virtual int SetVendorValue(uint32_t value);
    virtual int TriggerVendorAction();
    // PACKETRESEND (request id 0, no acknowledge): 0 when all 20 bytes went out.
    virtual int SendPacketResend(int blockId, int firstPacket, int lastPacket);
    virtual bool IsResendSupported();
    virtual int RunTransferTest(int count);
    // FORCEIP by broadcast from the camera's interface (zeros when not persistent): on its
    // acknowledge the stored answer shows what was sent, and discovery answers to commands sent
    // before are no longer taken. The control address is left to the caller (SetIpConfig).
    virtual int ForceIp(bool persistent, uint32_t ip, uint32_t mask, uint32_t gateway);
    virtual CGVSPReceiver* CreateGVSPReceiver(const LQComponent::Address& streamAddress,
                                              int frameCount) = 0;

    // ---- Frame description and stream statistics ----
    // The sensor's image information as of its last change through this device (any thread;
    // the receive thread describes frames with it, since the driver itself may be changing).
    virtual void GetFrameInfo(stImageInfo* info);
    // The open stream's receiver statistics; false without a stream.
    bool GetStreamStats(CGVSPReceiver::Stats* stats);
    // Settings that change the frame description: forwarded, then the copy is refreshed.
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

    // ---- Heartbeat (timer thread with 100 ms, receive thread with 0) ----
    int HeartbeatCheck(int timeoutMs);

    // ---- GVCP channel ----
    // One transaction (see the class comment); on 0, *outLen holds the answer's payload length
    // and, when it fits out (capacity *outLen on entry), the payload has been copied. 0, -1
    // (short send or error status), -12 (no answer), -14 (socket failure).
    int Transact(uint16_t command, const void* payload, size_t len, uint16_t ackCode, void* out,
                 size_t* outLen, int timeoutMs, int tries);
    // A vendor command: acknowledge code = command code.
    int Vendor(uint16_t command, const void* payload, size_t len, void* out, size_t* outLen,
               int timeoutMs, int tries);
    // The answer must carry exactly 4 bytes (-14 otherwise).
    int ReadReg(uint32_t address, uint32_t* value, int timeoutMs, int tries);
    // Always 100 ms and 3 tries.
    int WriteReg(uint32_t address, uint32_t value, int timeoutMs = 100, int tries = 3);
    // (address, value) pairs in one message; a non-empty list of even length.
    int WriteRegs(std::initializer_list<uint32_t> regAndVal, int timeoutMs, int tries);
    int WriteRegs(std::span<const uint32_t> regAndVal, int timeoutMs, int tries);
    // READREG of the addresses that are the keys of regAndVal (at most 135) in one message; on
    // 0 each key's value is its register's. The answer must carry every value (-14 otherwise).
    int ReadRegs(std::map<unsigned int, unsigned int>& regAndVal, int timeoutMs, int tries);
    // len (a multiple of 4, at most 536) bytes of device memory; the answer must carry them all.
    int ReadMem(uint32_t address, void* dst, size_t len);
    // WRITEMEM of len bytes (a multiple of 4 for the cameras of the standard, at most 536) at
    // address; 100 ms, 3 tries.
    int WriteMem(uint32_t address, const void* data, size_t len);

    LQComponent::Address GetPeerAddress();
    // The heartbeat timeout Open writes: QVCAM_GIGE_DEBUG_HEARTBEAT, else 5000 (see Open).
    static int HeartbeatTimeoutFromEnvironment();
    // The period of the heartbeat timer in ms; 0 while the camera is closed.
    int HeartbeatPeriodMs();

  protected:
    // Closes the stream, deletes the storage object, stops the heartbeat and releases the
    // privilege; idempotent. Leaf destructors call it first.
    void Shutdown();

  private:
    static int OnHeartbeatTimer(TimerEntry* entry, void* user);
    int SendCmd(uint16_t command, const void* payload, size_t len);
    int WaitAck(uint16_t ackCode, void* out, size_t* outLen, int timeoutMs);
    int NegotiatePacketSize(const LQComponent::Address& streamAddress);
    // Stream open's failure path: the privilege goes back.
    void ReleasePrivilege();
    void CloseChannel();
    bool ChannelOpen();
    void SetPeerIp(const uint8_t (&ip)[4]);
    // ForceIp; on success the control address becomes follow when one is given, set under
    // m_infoMutex with the stored answer, so a discovery answer taken after it is not undone.
    int ForceIpAndFollow(bool persistent, uint32_t ip, uint32_t mask, uint32_t gateway,
                         std::optional<uint32_t> follow);
    int RefreshFrameInfo(int r);

    std::atomic<int> m_openRef{0};
    std::mutex m_openMutex;  // see the lock order above

    std::mutex m_infoMutex;  // guards m_discoveryAck, m_netcardName and m_forcedAt
    std::string m_netcardName;
    DISCOVERY_ACK_DATA m_discoveryAck;
    std::chrono::steady_clock::time_point m_forcedAt{};  // the last successful FORCEIP

    std::mutex m_peerMutex;  // guards m_peerAddr
    LQComponent::Address m_peerAddr;

    std::mutex m_cmdMutex;  // guards the channel below
    CGvcpTransport m_gvcpSocket;
    uint8_t m_msgBuf[qv::gige::kMessageBufferSize];
    uint16_t m_reqId = 1;

    std::mutex m_receiverMutex;  // guards m_gvspReceiver, m_packetSize and the stream flags
    CGVSPReceiver* m_gvspReceiver = nullptr;  // owned while the stream is open
    uint32_t m_packetSize = 9000;
    bool m_streamOpened = false;
    bool m_streamStarted = false;

    std::mutex m_streamMutex;  // guards m_producer and m_missCount
    CFrameBucketProducer* m_producer = nullptr;
    int m_missCount = 0;

    TimerEntry* m_heartbeatTimer = nullptr;  // guarded by m_openMutex
    std::mutex m_frameInfoMutex;             // guards m_frameInfo; a leaf
    stImageInfo m_frameInfo{};
    std::atomic<bool> m_acqCtrl{false};
    std::atomic<bool> m_pktNegotiation{false};
    std::atomic<uint32_t> m_gvcpCapability{0};
    std::atomic<uint16_t> m_triggerSignalCode{0};
};
