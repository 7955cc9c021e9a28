// GVCP command answers from arbitrary bytes, through the device's own channel in-process: the
// channel's transport is a backend that hands each command to the simulated camera's firmware
// (no socket, no thread) and keeps the answers in an inbox with arrival times on a clock that
// only moves when a wait would have taken time, so no input ever waits for a timeout.
//
// Input: byte 0 chooses the camera (flash map "v1.0", "v3.0" or "v4.0"; model word of hardware
// type 200, 201, 204 or 205), byte 1 the operation run between Open and Close, bytes 2 to 5 its
// arguments. The rest is a script with one action per command sent (Open's and Close's
// included): the answer comes as the camera gives it, or is dropped, duplicated, delayed past
// the wait, cut short, lengthened, given a length beyond its bytes, an error status, another id
// or code, another payload, replaced by raw bytes, preceded by foreign datagrams or by an
// earlier answer; or the socket fails. Once the script is used up every answer comes as given.
//
// What must hold: every result is a status code; nothing is read or written outside a buffer;
// and when no answer was altered (dropped, duplicated, delayed and stale answers are all real
// ones), whatever a read returns with success is what the camera holds.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "SimGigeFirmware.h"
#include "SimGigeImx290Camera.h"
#include "SimGvcpDatagram.h"
#include "common/ByteOrder.h"
#include "gige/GigeCameraBySocket.h"
#include "gige/GvcpProtocol.h"
#include "gige/GvcpTransport.h"
#include "gige/SocketException.h"
#include "services/TimerMng.h"
#include "storage/BadPixelTable.h"
#include "storage/StorageData.h"

namespace gige = qv::gige;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr const char* kHardwareVersions[] = {"v1.0", "v3.0", "v4.0"};
// Hardware types 200 (heartbeat by privilege write), 201, 204 and 205 (input line word).
constexpr uint32_t kModelCodes[] = {0xAA310001, 0xAA310003, 0xAA310006, 0xAA320001};
constexpr uint32_t kSectorSize = 0x1000;
constexpr uint32_t kFlashSize = 4u << 20;
constexpr uint32_t kBadPixelTableBytes = 0x40000;
// Flash the operations may change freely: far from every map's stored identity.
constexpr uint32_t kScratchFlash = 0x3E0000;
constexpr size_t kInboxLimit = 96;
constexpr uint8_t kGuard = 0xA5;

// The input, read front to back; past its end every read is zero and every span empty.
class Reader {
  public:
    void Reset(const uint8_t* data, size_t size) {
        m_data = data;
        m_size = size;
    }
    uint8_t Byte() {
        if (m_size == 0) return 0;
        --m_size;
        return *m_data++;
    }
    uint16_t Word() {
        const uint8_t high = Byte();
        return static_cast<uint16_t>(high << 8 | Byte());
    }
    std::span<const uint8_t> Bytes(size_t n) {
        n = std::min(n, m_size);
        const std::span<const uint8_t> out(m_data, n);
        m_data += n;
        m_size -= n;
        return out;
    }

  private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

enum Action : uint8_t {
    kPass,
    kDropCommand,
    kDropAnswer,
    kDuplicate,
    kShort,
    kLong,
    kLengthBeyond,
    kErrorStatus,
    kWrongId,
    kWrongCode,
    kPayload,
    kRaw,
    kForeignFirst,
    kStaleFirst,
    kSendFails,
    kReceiveFails,
};

// A simulated camera's firmware with its stored identity. The sectors a flash command may
// change are kept as stored before the first change and put back after each input, so that every
// input finds the same camera.
struct Camera {
    Camera(const char* hardwareVersion, uint32_t modelCode) {
        SimGigeImx290Options options;
        options.hardwareVersion = hardwareVersion;
        options.modelCode = modelCode;
        firmware = std::make_unique<qvsim::CSimGigeFirmware>(
            CSimGigeImx290Camera::MakeConfig(options).firmware);
        CSimGigeImx290Camera::StoreIdentity(*firmware, options);
        const std::vector<uint8_t> answer = firmware->DiscoveryAnswer();
        std::memcpy(&ack, answer.data(), std::min(answer.size(), sizeof ack));
        // The maps "v3.0" and "v4.0" keep a dead-pixel table: three positions.
        const std::string version = hardwareVersion;
        table = version == "v3.0" ? 0x144000 : version == "v4.0" ? 0x2FB000 : 0;
        if (table != 0) {
            std::vector<uint8_t> bytes(kBadPixelHeaderSize + 3 * 4, 0);
            qv::StoreLe32(bytes.data(), kBadPixelTableMagic);
            qv::StoreLe32(bytes.data() + 4, 3);
            const uint32_t positions[] = {5u << 16 | 7, 100u << 16 | 200, 1079u << 16 | 1919};
            for (size_t i = 0; i < 3; ++i)
                qv::StoreLe32(bytes.data() + kBadPixelHeaderSize + 4 * i, positions[i]);
            firmware->WriteFlashBytes(table, bytes);
        }
    }

    // A read of the dead-pixel table. Its answers keep their bytes: the table's contents are
    // the storage target's to vary, and a count of up to 65528 positions made up here would make
    // each such input read and allocate 256 KiB, a hundred times the cost of any other.
    bool ReadsTable(const qvsim::CSimGigeFirmware::Request& r) const {
        if (table == 0 || r.command != gige::kVendorFlashRead || r.payload.size() < 8) return false;
        const uint32_t address = qv::LoadBe32(r.payload.data());
        return address >= table && address < table + kBadPixelTableBytes;
    }

    // Before an erase (address, sector count) or a write (address, length) runs.
    void KeepSectors(uint16_t command, const std::vector<uint8_t>& payload) {
        if (payload.size() < 8) return;
        const uint32_t address = qv::LoadBe32(payload.data());
        const uint32_t count = qv::LoadBe32(payload.data() + 4);
        const uint64_t end = command == gige::kVendorFlashErase
                                 ? uint64_t{address} + kSectorSize * std::max(1u, count & 0xFF)
                                 : uint64_t{address} + std::min(count, 540u);
        for (uint64_t s = address & ~(kSectorSize - 1); s < end && s < kFlashSize;
             s += kSectorSize) {
            const auto sector = static_cast<uint32_t>(s);
            touched.push_back(sector);
            if (!stored.contains(sector))
                stored[sector] = firmware->FlashBytes(sector, kSectorSize);
        }
    }

    void Restore() {
        for (uint32_t s : touched) firmware->WriteFlashBytes(s, stored[s]);
        std::vector<uint32_t>().swap(touched);
        firmware->PowerCycle();
    }

    std::unique_ptr<qvsim::CSimGigeFirmware> firmware;
    gige::DISCOVERY_ACK_DATA ack{};
    uint32_t table = 0;  // address of the dead-pixel table; 0: the map keeps none
    std::map<uint32_t, std::vector<uint8_t>> stored;  // sector address -> bytes as stored
    std::vector<uint32_t> touched;                    // this input's, repeats included
};

// The channel's network and clock: commands go to the firmware, answers into the inbox. Its
// buffers keep their capacity from input to input, so that an input allocates little (under
// AddressSanitizer an allocation costs more than a whole transaction here).
class Link : public CGvcpTransport::Backend {
  public:
    Link() {
        m_inbox.reserve(kInboxLimit);
        m_spare.reserve(kInboxLimit);
    }

    void Start(Camera* camera, const uint8_t* script, size_t size) {
        m_camera = camera;
        m_script.Reset(script, size);
        m_now = Clock::time_point{} + std::chrono::hours(1);
        m_receiveFails = false;
        m_tampered = false;
        m_lastAnswer.clear();
    }
    // Whatever the input left in the inbox goes back to the spare buffers.
    void Finish() {
        for (Pending& p : m_inbox) m_spare.push_back(std::move(p.bytes));
        m_inbox.clear();
        m_camera = nullptr;
    }
    bool Tampered() const { return m_tampered; }

    size_t Send(const LQComponent::Address&, const void* data, size_t len) override {
        qvsim::CSimGigeFirmware::Request& request = m_request;
        if (!qvsim::ParseGvcpCommand({static_cast<const uint8_t*>(data), len},
                                     htonl(INADDR_LOOPBACK), 50000, &request))
            std::abort();  // the channel sent something that is no command

        uint8_t action = m_script.Byte();
        const auto latency = milliseconds((action >> 4) * 20);
        const uint8_t kind = action & 0x0F;
        if (m_camera->ReadsTable(request) &&
            (kind == kLong || kind == kPayload || kind == kRaw || kind == kForeignFirst))
            action = kPass;
        switch (action & 0x0F) {
            case kSendFails:
                m_tampered = true;
                if (m_script.Byte() & 1) return len - 1;
                throw LQComponent::SocketException("[send] Cannot send");
            case kDropCommand:
                return len;
            case kReceiveFails:
                m_tampered = true;
                m_receiveFails = true;
                break;
            default:
                break;
        }
        if (request.command == gige::kVendorFlashErase ||
            request.command == gige::kVendorFlashWrite)
            m_camera->KeepSectors(request.command, request.payload);
        const auto answer = m_camera->firmware->Execute(request, m_now);
        if (!answer.reply) return len;
        std::vector<uint8_t>& datagram = m_datagram;
        qvsim::BuildGvcpAnswer(answer, request.reqId, &datagram);
        auto arrival = m_now + latency + milliseconds(answer.delayMs);
        m_stale.swap(m_lastAnswer);  // the previous transaction's answer
        m_lastAnswer.assign(datagram.begin(), datagram.end());

        switch (action & 0x0F) {
            case kDropAnswer:
                return len;
            case kDuplicate:
                Deliver(arrival, datagram);
                break;
            case kShort:
                datagram.resize(m_script.Byte() % (datagram.size() + 1));
                m_tampered = true;
                break;
            case kLong: {
                const auto extra = m_script.Bytes(m_script.Byte());
                datagram.insert(datagram.end(), extra.begin(), extra.end());
                qv::StoreBe16(datagram.data() + 4,
                              static_cast<uint16_t>(datagram.size() - gige::kHeaderSize));
                m_tampered = true;
                break;
            }
            case kLengthBeyond:
                qv::StoreBe16(
                    datagram.data() + 4,
                    static_cast<uint16_t>(qv::LoadBe16(datagram.data() + 4) + 1 + m_script.Byte()));
                m_tampered = true;
                break;
            case kErrorStatus:
                qv::StoreBe16(datagram.data(), static_cast<uint16_t>(m_script.Word() | 0x8000));
                m_tampered = true;
                break;
            case kWrongId:
                qv::StoreBe16(datagram.data() + 6,
                              static_cast<uint16_t>(request.reqId + 1 + m_script.Byte()));
                m_tampered = true;
                break;
            case kWrongCode:
                qv::StoreBe16(datagram.data() + 2,
                              static_cast<uint16_t>(qv::LoadBe16(datagram.data() + 2) ^
                                                    (1u << (m_script.Byte() % 16))));
                m_tampered = true;
                break;
            case kPayload: {
                const auto payload = m_script.Bytes(m_script.Byte());
                datagram.resize(gige::kHeaderSize);
                datagram.insert(datagram.end(), payload.begin(), payload.end());
                qv::StoreBe16(datagram.data() + 4, static_cast<uint16_t>(payload.size()));
                m_tampered = true;
                break;
            }
            case kRaw: {
                const auto raw = m_script.Bytes(m_script.Word() % 1100);
                datagram.assign(raw.begin(), raw.end());
                m_tampered = true;
                break;
            }
            case kForeignFirst: {
                // 1 to 16 copies, one every latency from now on, and the answer behind them:
                // enough to outlast the wait's deadline for datagrams that are no answer.
                const int copies = 1 + m_script.Byte() % 16;
                const auto foreign = m_script.Bytes(m_script.Byte());
                for (int i = 0; i < copies; ++i) Deliver(m_now + i * latency, foreign);
                arrival = std::max(arrival, m_now + (copies - 1) * latency);
                m_tampered = true;
                break;
            }
            case kStaleFirst:
                if (!m_stale.empty()) Deliver(m_now, m_stale);
                break;
            default:
                break;
        }
        Deliver(arrival, datagram);
        return len;
    }

    uint32_t Receive(int timeoutMs, LQComponent::Address& from, void* buffer,
                     uint32_t* len) override {
        if (m_receiveFails) {
            m_receiveFails = false;
            throw LQComponent::SocketException("[receive_timeout] Cannot receive");
        }
        const auto until = m_now + milliseconds(std::max(timeoutMs, 0));
        if (m_inbox.empty() || m_inbox.front().arrival > until) {
            m_now = until;
            return 0;
        }
        Pending& next = m_inbox.front();
        m_now = std::max(m_now, next.arrival);
        from = LQComponent::Address();
        // As a datagram socket: what does not fit the buffer is lost.
        *len = static_cast<uint32_t>(std::min<size_t>(*len, next.bytes.size()));
        if (*len > 0) std::memcpy(buffer, next.bytes.data(), *len);
        m_spare.push_back(std::move(next.bytes));
        m_inbox.erase(m_inbox.begin());
        return *len;
    }

    Clock::time_point Now() override { return m_now; }

  private:
    struct Pending {
        Clock::time_point arrival;
        std::vector<uint8_t> bytes;
    };

    // Into the inbox in order of arrival, behind those that arrive at the same time.
    void Deliver(Clock::time_point arrival, std::span<const uint8_t> bytes) {
        if (m_inbox.size() >= kInboxLimit) return;
        std::vector<uint8_t> buffer;
        if (!m_spare.empty()) {
            buffer = std::move(m_spare.back());
            m_spare.pop_back();
        }
        buffer.assign(bytes.begin(), bytes.end());
        const auto at =
            std::upper_bound(m_inbox.begin(), m_inbox.end(), arrival,
                             [](Clock::time_point t, const Pending& p) { return t < p.arrival; });
        m_inbox.insert(at, Pending{arrival, std::move(buffer)});
    }

    Camera* m_camera = nullptr;
    Reader m_script;
    std::vector<Pending> m_inbox;               // in order of arrival
    std::vector<std::vector<uint8_t>> m_spare;  // buffers of datagrams already received
    qvsim::CSimGigeFirmware::Request m_request;
    std::vector<uint8_t> m_datagram;
    std::vector<uint8_t> m_lastAnswer;
    std::vector<uint8_t> m_stale;
    Clock::time_point m_now;
    bool m_receiveFails = false;
    bool m_tampered = false;
};

bool IsStatus(int r) {
    return r <= 0 && r >= -100;
}

void Check(int r) {
    if (!IsStatus(r)) __builtin_trap();
}

// A buffer of n bytes with a guard behind it.
struct Guarded {
    explicit Guarded(size_t n) : bytes(n + 1, 0) { bytes[n] = kGuard; }
    uint8_t* data() { return bytes.data(); }
    void CheckGuard() const {
        if (bytes.back() != kGuard) __builtin_trap();
    }
    std::vector<uint8_t> bytes;
};

struct Args {
    uint8_t a[4];
    uint16_t W(int i) const { return static_cast<uint16_t>(a[i] << 8 | a[i + 1]); }
    uint32_t L() const { return qv::LoadBe32(a); }
};

// The operation between Open and Close. A read that succeeds while no answer was altered must
// give what the camera holds.
void Run(CGigeCameraBySocket& d, qvsim::CSimGigeFirmware& fw, uint8_t op, const Args& x,
         const Link& link) {
    const auto exact = [&] { return !link.Tampered(); };
    switch (op % 36) {
        case 0: {  // READREG of a bootstrap register, with the caller's timeout and tries
            constexpr uint32_t kRegs[] = {gige::kRegCcp,
                                          gige::kRegGvcpCapability,
                                          gige::kRegHeartbeatTimeout,
                                          gige::kRegStreamCapability,
                                          gige::kRegStreamSourcePort,
                                          0x1000};
            const uint32_t reg = kRegs[x.a[0] % std::size(kRegs)];
            uint32_t value = 0xDEADBEEF;
            const int r = d.ReadReg(reg, &value, x.a[1] & 1 ? 30 : 100, x.a[2] % 4);
            Check(r);
            if (r == 0 && x.a[2] % 4 != 0 && exact() && value != fw.Register(reg)) __builtin_trap();
            break;
        }
        case 1:
            Check(d.WriteReg(0x1000 + 4u * x.a[0], x.L()));
            break;
        case 2: {  // WRITEREG of a list
            std::vector<uint32_t> list;
            for (int i = 0; i < 1 + x.a[0] % 8; ++i) {
                list.push_back(0x1000 + 4u * static_cast<uint32_t>(i));
                list.push_back(x.L() + static_cast<uint32_t>(i));
            }
            Check(d.WriteRegs(std::span<const uint32_t>(list), 100, 1 + x.a[1] % 3));
            break;
        }
        case 3: {  // READMEM of up to 536 bytes
            const size_t len = 4u * (x.a[1] % 135);
            const uint32_t address = gige::kMemHardwareVersion + 4u * (x.a[0] % 4);
            Guarded mem(len);
            const int r = d.ReadMem(address, mem.data(), len);
            Check(r);
            mem.CheckGuard();
            break;
        }
        case 4: {  // flash reads in pieces of 540
            const uint32_t address = x.a[0] & 1 ? kScratchFlash : 0x58000 + 16u * x.a[1];
            const uint16_t len = static_cast<uint16_t>(x.W(2) % 1700);
            Guarded flash(len);
            const int r = d.ReadFlash(address, len, flash.data());
            Check(r);
            flash.CheckGuard();
            if (r == 0 && exact() &&
                fw.FlashBytes(address, len) !=
                    std::vector<uint8_t>(flash.data(), flash.data() + len))
                __builtin_trap();
            break;
        }
        case 5: {  // flash writes in pieces of 532
            std::vector<uint8_t> data(1 + x.a[1] * 5u, x.a[2]);
            Check(d.WriteFlash(kScratchFlash + x.a[0], static_cast<uint16_t>(data.size()),
                               data.data()));
            break;
        }
        case 6:
            Check(d.EraseFlashSector(kScratchFlash + kSectorSize * (x.a[0] % 16), x.a[1] % 3));
            break;
        case 7:
            Check(d.Reboot());
            break;
        case 8:
            Check(d.SetSensorBus(x.a[0], x.a[1]));
            break;
        case 9:
            Check(d.WriteSensorReg(x.W(0), x.W(2)));
            break;
        case 10: {  // a sensor list over several messages, pauses included
            std::vector<uint16_t> list;
            const int pairs = 1 + x.W(0) % 300;
            for (int i = 0; i < pairs; ++i) {
                const bool pause = (x.a[2] & 1) && i % 50 == 7;
                list.push_back(pause ? gige::kSensorDelayEntry : static_cast<uint16_t>(0x3000 + i));
                list.push_back(pause ? x.a[3] : static_cast<uint16_t>(i));
            }
            Check(d.WriteSensorRegs(list));
            break;
        }
        case 11: {
            uint16_t value = 0xBEEF;
            const int r = d.ReadSensorReg(x.W(0), &value);
            Check(r);
            if (r == 0 && exact() && value != fw.SensorRegister(fw.SensorBusAddress(), x.W(0)))
                __builtin_trap();
            break;
        }
        case 12: {
            std::vector<uint8_t> bytes(x.a[1] % 40, x.a[2]);
            Check(d.I2CWrite(x.a[0], bytes.data(), static_cast<uint8_t>(bytes.size())));
            break;
        }
        case 13: {
            Guarded bytes(x.a[1]);
            Check(d.I2CRead(x.a[0], bytes.data(), x.a[1]));
            bytes.CheckGuard();
            break;
        }
        case 14:
            Check(d.SetGpioMode(x.a[0], x.a[1]));
            Check(d.WriteGpio(x.a[0], x.a[2]));
            break;
        case 15: {
            uint8_t level = 0xEE;
            const int r = d.ReadGpio(x.a[0], &level);
            Check(r);
            if (r == 0 && exact() && level != fw.Gpio(x.a[0])) __builtin_trap();
            break;
        }
        case 16: {  // an FPGA list, pauses included
            std::vector<uint32_t> list;
            for (int i = 0; i < 1 + x.a[0] % 60; ++i) {
                const bool pause = (x.a[1] & 1) && i == 3;
                list.push_back(pause ? gige::kFpgaDelayEntry : static_cast<uint32_t>(40 + i));
                list.push_back(pause ? x.a[2] : x.L());
            }
            Check(d.WriteFpgaRegs(std::span<const uint32_t>(list)));
            break;
        }
        case 17: {
            uint32_t value = 0xDEADBEEF;
            const int r = d.ReadFpgaReg(x.W(0), &value);
            Check(r);
            if (r == 0 && exact() && value != fw.FpgaRegister(x.W(0))) __builtin_trap();
            uint16_t version = 0;
            Check(d.GetFpgaVersion(&version));
            break;
        }
        case 18:
            Check(d.WriteFpgaRegBits(x.a[0], x.W(1), x.a[3]));
            break;
        case 19:
            Check(d.SendSoftTrigger());
            break;
        case 20:
            Check(d.SetPll(x.a[0], x.a[1], x.a[2], x.a[3], 5, 6, 7, 8));
            break;
        case 21:
            Check(d.ResetTimestamp());
            break;
        case 22:
            Check(x.a[0] & 1 ? d.RequestTransferImageEx(x.a[1]) : d.RequestTransferImage());
            break;
        case 23:
            Check(d.SetIntValue(10, static_cast<int>(x.L())));
            break;
        case 24:
            Check(d.TriggerVendorAction());
            break;
        case 25:
            Check(d.SetIntValue(10000, x.a[0] % 4));
            break;
        case 26: {  // trigger control word: read, change, read again
            uint16_t mode = 0, source = 0, flag = 0, enable = 0;
            Check(d.GetTriggerControl(&mode, &source, &flag, &enable));
            Check(d.SetTriggerSignalType(0, x.a[0] % 6));
            Check(d.SetIntValue(12, x.a[1] & 1));
            int value = 0;
            Check(d.GetIntValue(12, &value));
            break;
        }
        case 27: {  // input line and output lines
            int state = 0;
            Check(d.GetInputIOState(0, &state));
            Check(d.GetIntValue(11, &state));
            Check(d.SetStrobeMode(x.a[0] % 3, x.a[1] % 2));
            Check(d.SetOutputIOMode(x.a[0] % 3, x.a[2] % 4 == 3 ? 255 : x.a[2] % 4));
            Check(d.SetOutputIOPWM(x.a[0] % 2, x.W(1), x.a[3]));
            break;
        }
        case 28:  // the heartbeat timer's check, and the receive thread's
            for (int i = 0; i < 1 + x.a[0] % 4; ++i) Check(d.HeartbeatCheck(x.a[1] & 1 ? 0 : 100));
            break;
        case 29:
            d.CheckAlive();
            break;
        case 30:
            Check(d.SendPacketResend(x.W(0), x.a[2], x.a[3]));
            break;
        case 31: {  // the stored identity, as read at open
            uint8_t sn[32];
            for (int level = 0; level < 3; ++level) d.DevReadSN(sn, level);
            char name[32];
            Check(d.DevGetFriendlyName(name));
            if (strnlen(name, sizeof name) == sizeof name) __builtin_trap();
            break;
        }
        case 32: {  // block B written back: erase, write, read back
            char name[32] = {};
            std::memset(name, 'A' + x.a[0] % 26, 1 + x.a[1] % 31);
            Check(d.DevSetFriendlyName(name));
            break;
        }
        case 33: {  // user data: sectors read, erased and written back
            std::vector<uint8_t> data(1 + x.a[1] * 3u, x.a[2]);
            Check(d.DevSaveUserData(17u * x.a[0], data.data(), static_cast<int>(data.size())));
            Guarded back(data.size());
            Check(d.DevLoadUserData(17u * x.a[0], back.data(), static_cast<int>(data.size())));
            back.CheckGuard();
            break;
        }
        case 34: {  // the dead-pixel table, on the maps that keep one
            std::vector<uint32_t> positions;
            const int r = ReadBadPixelList(d, positions);
            Check(r);
            if (positions.size() > kBadPixelMaxCount) __builtin_trap();
            break;
        }
        default: {  // any command through the transaction, with a capacity of the input's
            const uint16_t command = x.a[0] & 1 ? static_cast<uint16_t>(0x8000 | x.a[1])
                                                : static_cast<uint16_t>(x.a[1] & 0xFE);
            const uint16_t ack = command >= 0x8000 ? command : static_cast<uint16_t>(command + 1);
            const std::vector<uint8_t> payload(x.a[2] % 64, x.a[3]);
            size_t capacity = x.W(2) % 600;
            Guarded out(capacity);
            Check(d.Transact(command, payload.data(), payload.size(), ack, out.data(), &capacity,
                             100, 1 + x.a[3] % 3));
            out.CheckGuard();
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    static Link* link = [] {
        auto* l = new Link();
        CGvcpTransport::InstallBackendForTest(l);
        // The timer worker ends when its last timer goes and starts again with the next: one
        // timer that never comes due keeps it running, so an Open and Close start no thread.
        CTimerMng::GetInstance()->AddTimer([](TimerEntry*, void*) { return 0; }, 1 << 30, nullptr);
        return l;
    }();
    static std::unique_ptr<Camera> cameras[std::size(kHardwareVersions) * std::size(kModelCodes)];
    const size_t which = data[0] % std::size(cameras);
    if (!cameras[which])
        cameras[which] =
            std::make_unique<Camera>(kHardwareVersions[which % std::size(kHardwareVersions)],
                                     kModelCodes[which / std::size(kHardwareVersions)]);
    Camera& camera = *cameras[which];
    const Args args{{data[2], data[3], data[4], data[5]}};
    link->Start(&camera, data + 6, size - 6);

    {
        CGigeCameraBySocket device("QVG0001", "QV-G2M-290", "v1.2", "lo", camera.ack);
        const int r = device.Open(nullptr);
        Check(r);
        if (r == 0) {
            Run(device, *camera.firmware, data[1], args, *link);
            Check(device.Close());
        }
    }
    link->Finish();
    camera.Restore();
    return 0;
}
