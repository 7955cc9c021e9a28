// GVCP, the control protocol of the GigE cameras: the command and acknowledge headers, the
// command table (standard GigE Vision commands and the camera maker's vendor commands), the
// bootstrap registers used, and the layouts of the discovery answer and the FORCEIP payload.
// Everything here is pure; the camera device (CGigeCamera), discovery (CGigeCameraFactory) and
// the manager's broadcast soft trigger build their messages from it.
//
// Every multi-byte field on the wire is big-endian. The cameras listen on UDP port 13956, not on
// the standard's 3956.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::gige {

inline constexpr uint16_t kGvcpPort = 13956;
// The port every GVCP message goes to: kGvcpPort unless a test has pointed it elsewhere (to
// reach a peer on another port). Not exported; the product never changes it.
uint16_t GvcpPort();
void SetGvcpPortForTest(uint16_t port);

inline constexpr uint8_t kGvcpKey = 0x42;
inline constexpr uint8_t kFlagAckRequired = 0x01;
inline constexpr uint8_t kFlagBroadcastAck = 0x10;  // with kFlagAckRequired: DISCOVERY, FORCEIP
inline constexpr size_t kHeaderSize = 8;
// The GVCP payload limit: a 576-byte datagram less the IP, UDP and GVCP headers.
inline constexpr size_t kMaxPayload = 540;
// One message buffer holds the command and its answer.
inline constexpr size_t kMessageBufferSize = 1024;

// ---- Standard commands (acknowledge code = command code + 1) ----
inline constexpr uint16_t kDiscoveryCmd = 0x0002;
inline constexpr uint16_t kDiscoveryAck = 0x0003;
inline constexpr uint16_t kForceIpCmd = 0x0004;
inline constexpr uint16_t kForceIpAck = 0x0005;
inline constexpr uint16_t kPacketResendCmd = 0x0040;  // never acknowledged
inline constexpr uint16_t kReadRegCmd = 0x0080;
inline constexpr uint16_t kReadRegAck = 0x0081;
inline constexpr uint16_t kWriteRegCmd = 0x0082;
inline constexpr uint16_t kWriteRegAck = 0x0083;
inline constexpr uint16_t kReadMemCmd = 0x0084;
inline constexpr uint16_t kReadMemAck = 0x0085;
inline constexpr uint16_t kWriteMemCmd = 0x0086;
inline constexpr uint16_t kWriteMemAck = 0x0087;

// ---- Vendor commands (acknowledge code = command code) ----
inline constexpr uint16_t kVendorReboot = 0x8000;
inline constexpr uint16_t kVendorFlashErase = 0x8001;     // address, option (0: one 4 KiB sector)
inline constexpr uint16_t kVendorFlashWrite = 0x8002;     // address, n (<= 532), data
inline constexpr uint16_t kVendorFlashRead = 0x8003;      // address, n (<= 540); answer: n bytes
inline constexpr uint16_t kVendorSensorBus = 0x8006;      // 0, bus address, widths
inline constexpr uint16_t kVendorSensorWrite = 0x8007;    // 0, 0, (reg16, value16)...; or I2C write
inline constexpr uint16_t kVendorSensorRead = 0x8008;     // 0, 0, reg16; answer: value16
inline constexpr uint16_t kVendorI2cRead = 0x800C;        // address, n; answer: up to n bytes
inline constexpr uint16_t kVendorGpioMode = 0x800D;       // pin, mode
inline constexpr uint16_t kVendorGpioWrite = 0x800E;      // pin, level
inline constexpr uint16_t kVendorGpioRead = 0x800F;       // pin; answer: level byte
inline constexpr uint16_t kVendorFpgaWrite = 0x8010;      // (reg32, value32)...
inline constexpr uint16_t kVendorFpgaRead = 0x8011;       // reg32; answer: value32
inline constexpr uint16_t kVendorFpgaWriteBits = 0x8012;  // reg32, mask32, value32
inline constexpr uint16_t kVendorSoftTrigger = 0x8013;
inline constexpr uint16_t kVendorPll = 0x8014;  // eight bytes
inline constexpr uint16_t kVendorResetTimestamp = 0x8015;
inline constexpr uint16_t kVendorTransferImage = 0x8016;  // none, or one byte
inline constexpr uint16_t kVendorSetValue = 0x801B;       // value32
inline constexpr uint16_t kVendorAction = 0x801C;
inline constexpr uint16_t kVendorTransferTestStart = 0x8F01;
inline constexpr uint16_t kVendorTransferTestBlock = 0x8F02;  // 540 bytes of 0x5A
inline constexpr uint16_t kVendorTransferTestCount = 0x8F03;  // answer: blocks received (32 bit)

// Register 0xFFFF in a sensor list (0xFFFFFFFF in an FPGA list) is a pause of value ms that the
// camera carries out; the host waits that much longer for the acknowledge.
inline constexpr uint16_t kSensorDelayEntry = 0xFFFF;
inline constexpr uint32_t kFpgaDelayEntry = 0xFFFFFFFF;
inline constexpr size_t kMaxSensorPairsPerMessage = 134;  // 2 + 4 x 134 = 538 bytes
inline constexpr size_t kMaxFlashWritePiece = 532;        // 8 + 532 = 540 bytes
inline constexpr size_t kMaxFlashReadPiece = 540;
inline constexpr size_t kTransferTestBlockSize = 540;
inline constexpr uint8_t kTransferTestFill = 0x5A;

// ---- Bootstrap registers and device memory ----
inline constexpr uint32_t kRegGvcpCapability = 0x0934;
inline constexpr uint32_t kCapabilityPacketResend = 0x4;
inline constexpr uint32_t kRegHeartbeatTimeout = 0x0938;
inline constexpr uint32_t kRegGvcpConfig = 0x0954;
inline constexpr uint32_t kRegCcp = 0x0A00;
inline constexpr uint32_t kCcpControl = 0x2;
inline constexpr uint32_t kRegStreamPort = 0x0D00;        // SCP0: host port
inline constexpr uint32_t kRegStreamPacketSize = 0x0D04;  // SCPS0
inline constexpr uint32_t kPacketSizeFireTest = 0x80000000;
inline constexpr uint32_t kPacketSizeDontFragment = 0x40000000;
inline constexpr uint32_t kRegStreamPacketDelay = 0x0D08;  // SCPD0
inline constexpr uint32_t kRegStreamDestination = 0x0D18;  // SCDA0
inline constexpr uint32_t kRegStreamSourcePort = 0x0D1C;   // SCSP0
inline constexpr uint32_t kRegStreamCapability = 0x0D20;   // vendor bits below
inline constexpr uint32_t kStreamCapAcquisitionControl = 0x200000;
inline constexpr uint32_t kStreamCapPacketNegotiation = 0x100000;
inline constexpr uint32_t kRegStreamConfig = 0x0D24;
inline constexpr uint32_t kStreamConfigNegotiation = 0x200000;
inline constexpr uint32_t kRegAcquisitionStart = 0x20000000;
inline constexpr uint32_t kRegAcquisitionStop = 0x20000004;
inline constexpr uint32_t kMemHardwareVersion = 0x30024;
inline constexpr size_t kHardwareVersionSize = 32;
// The IP, UDP and GVSP headers in front of every stream packet's data.
inline constexpr uint32_t kStreamHeaderBytes = 36;
// A stream packet size counts the IP and UDP headers: a test packet of size s carries s - 28.
inline constexpr uint32_t kIpUdpHeaderBytes = 28;

// ---- Headers ----
struct CmdHeader {
    uint8_t flags;
    uint16_t command;
    uint16_t length;
    uint16_t reqId;
};
struct AckHeader {
    uint16_t status;
    uint16_t ackCode;
    uint16_t length;
    uint16_t ackId;
};

// Writes the 8-byte command header (key 0x42) at p.
void EncodeCmdHeader(uint8_t* p, const CmdHeader& header);
// Reads a command header; false when fewer than 8 bytes or the key is not 0x42.
bool DecodeCmdHeader(const uint8_t* p, size_t n, CmdHeader* header);
// Writes the 8-byte acknowledge header at p.
void EncodeAckHeader(uint8_t* p, const AckHeader& header);
// Reads an acknowledge header. False for a datagram shorter than the header or than the header
// plus the payload length it announces: such a datagram is no acknowledge.
bool DecodeAckHeader(const uint8_t* p, size_t n, AckHeader* header);

// ---- DISCOVERY_ACK payload (248 bytes) ----
// Bytes 0-167 and 216-247 have the standard's layout; the vendor's fields lie in the 48-byte
// manufacturer-specific area. Texts are zero-padded and need not be terminated.
struct DISCOVERY_ACK_DATA {
    uint8_t specVersionMajor[2];  // 0
    uint8_t specVersionMinor[2];  // 2
    uint8_t deviceMode[4];        // 4
    uint8_t reserved8[2];         // 8
    uint8_t macHigh[2];           // 10
    uint8_t macLow[4];            // 12
    uint8_t ipConfigOptions[4];   // 16
    uint8_t ipConfigCurrent[4];   // 20: value 1 = persistent IP
    uint8_t reserved24[12];
    uint8_t currentIp[4];  // 36
    uint8_t reserved40[12];
    uint8_t subnetMask[4];  // 52
    uint8_t reserved56[12];
    uint8_t defaultGateway[4];  // 68
    char manufacturerName[32];  // 72
    char modelName[32];         // 104
    char deviceVersion[32];     // 136: "v%u.%u.%u.%u"
    uint8_t vendorReserved;     // 168
    uint8_t linkState;          // 169: 0 to 6
    uint8_t accessBits;         // 170: bits 0 and 1, a host holds the control channel
    uint8_t runState;           // 171: 0 while the boot program runs
    char productSeries[16];     // 172
    uint8_t sensorType[4];      // 188
    uint8_t deviceId[2];        // 192
    uint8_t firmwareWord1[2];   // 194: device type word of tDevInfo
    uint8_t firmwareWord2[2];   // 196: firmware version word of tDevInfo
    uint8_t vendorTail[18];     // 198
    char serialNumber[16];      // 216
    char userDefinedName[16];   // 232
};
static_assert(sizeof(DISCOVERY_ACK_DATA) == 248);
static_assert(offsetof(DISCOVERY_ACK_DATA, currentIp) == 36);
static_assert(offsetof(DISCOVERY_ACK_DATA, subnetMask) == 52);
static_assert(offsetof(DISCOVERY_ACK_DATA, defaultGateway) == 68);
static_assert(offsetof(DISCOVERY_ACK_DATA, manufacturerName) == 72);
static_assert(offsetof(DISCOVERY_ACK_DATA, deviceVersion) == 136);
static_assert(offsetof(DISCOVERY_ACK_DATA, linkState) == 169);
static_assert(offsetof(DISCOVERY_ACK_DATA, productSeries) == 172);
static_assert(offsetof(DISCOVERY_ACK_DATA, sensorType) == 188);
static_assert(offsetof(DISCOVERY_ACK_DATA, firmwareWord2) == 196);
static_assert(offsetof(DISCOVERY_ACK_DATA, serialNumber) == 216);
static_assert(offsetof(DISCOVERY_ACK_DATA, userDefinedName) == 232);
inline constexpr size_t kDiscoveryAckSize = sizeof(DISCOVERY_ACK_DATA);

// ---- FORCEIP ----
inline constexpr size_t kForceIpPayloadSize = 56;
inline constexpr size_t kForceIpCommandSize = kHeaderSize + kForceIpPayloadSize;  // 64
// The whole 64-byte command: header (flags 0x11, request id 1), then the MAC of ack and the
// static address, mask and gateway (network byte order, as the wire wants them).
void BuildForceIpCommand(uint8_t (&out)[kForceIpCommandSize], const DISCOVERY_ACK_DATA& ack,
                         uint32_t ip, uint32_t mask, uint32_t gateway);

}  // namespace qv::gige
