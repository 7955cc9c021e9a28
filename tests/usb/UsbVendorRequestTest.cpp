// The vendor request wire format against the camera's request table, written out here by hand:
// setup fields, OUT bytes, status-byte conventions, reply decoding, short replies.
#include "usb/UsbVendorRequest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "QVDeviceDef.h"
#include "usb/UsbFrameHeader.h"
#include "usb/UsbIds.h"

namespace {

using namespace qv::usb;

// Stands in for the device's transfer operation: records every request and answers IN requests
// with the scripted reply, of which the device sends at most `sent` bytes (-1: all).
struct FakeWire {
    struct Call {
        uint8_t requestType;
        uint8_t request;
        uint16_t value;
        uint16_t index;
        uint16_t length;
        std::vector<uint8_t> out;
    };
    std::vector<Call> calls;
    std::vector<uint8_t> reply;
    int sent = -1;
    std::vector<int> results;  // per call: a code to return instead of transferring (0: transfer)

    int operator()(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen, uint8_t* inBuf,
                   uint16_t outLen, uint8_t* outBuf) {
        Call c{static_cast<uint8_t>(inLen ? 0xC0 : 0x40),
               request,
               value,
               index,
               inLen ? inLen : outLen,
               {}};
        if (!inLen && outBuf) c.out.assign(outBuf, outBuf + outLen);
        calls.push_back(c);
        const size_t n = calls.size() - 1;
        if (n < results.size() && results[n] != 0) return results[n];
        if (!inLen) return 0;
        size_t bytes = std::min<size_t>(inLen, reply.size());
        if (sent >= 0) bytes = std::min<size_t>(bytes, static_cast<size_t>(sent));
        std::copy_n(reply.begin(), bytes, inBuf);
        // What the transfer operation makes of the USB stack's byte count.
        return CheckTransferred(inLen, static_cast<int>(bytes));
    }
};

struct EncodingCase {
    const char* name;
    std::function<int(FakeWire&)> call;
    uint8_t requestType;
    uint8_t request;
    uint16_t value;
    uint16_t index;
    uint16_t length;
    std::vector<uint8_t> out;
};

uint8_t g_buf[1100];

// One request per row, as in the request table it is written from.
// clang-format off
std::vector<EncodingCase> EncodingTable() {
    static const uint8_t three[] = {1, 2, 3};
    static const uint8_t clock[] = {200, 7};
    return {
        {"reboot hold", [](FakeWire& w) { return Execute(w, CpuReset(true), nullptr); },
         0x40, 0xA0, 0xE600, 0, 1, {1}},
        {"reboot release", [](FakeWire& w) { return Execute(w, CpuReset(false), nullptr); },
         0x40, 0xA0, 0xE600, 0, 1, {0}},
        {"eeprom write", [](FakeWire& w) { return WriteEEProm(w, 0x3800, three, 3); },
         0x40, 0xA9, 0x3800, 0, 3, {1, 2, 3}},
        {"eeprom read", [](FakeWire& w) { return ReadEEProm(w, 0x3800, g_buf, 4); },
         0xC0, 0xA9, 0x3800, 0, 4, {}},
        {"request B0", [](FakeWire& w) { return SendRequestB0(w); }, 0xC0, 0xB0, 0, 0, 1, {}},
        {"firmware version", [](FakeWire& w) { uint16_t v; return GetFirmwareVersion(w, &v); },
         0xC0, 0xB6, 0, 0, 2, {}},
        {"stream start", [](FakeWire& w) { return Execute(w, StreamStart(), g_buf); },
         0xC0, 0xB7, 0, 0, 1, {}},
        {"stream stop", [](FakeWire& w) { return Execute(w, StreamStop(), g_buf); },
         0xC0, 0xB8, 0, 0, 1, {}},
        {"device type", [](FakeWire& w) { uint16_t t; return GetDeviceType(w, &t); },
         0xC0, 0xB9, 0, 0, 2, {}},
        {"reset fifo", [](FakeWire& w) { return Execute(w, ResetFifo(), g_buf); },
         0xC0, 0xBB, 0, 0, 1, {}},
        // Sector address 0x15000 as 4 little-endian bytes.
        {"flash erase", [](FakeWire& w) { return EraseFlashSector(w, 0x15000, 0); },
         0x40, 0xBC, 0, 0, 4, {0x00, 0x50, 0x01, 0x00}},
        {"flash command 4", [](FakeWire& w) { return Execute(w, FlashCommand(4), nullptr); },
         0x40, 0xBC, 0, 4, 0, {}},
        {"flash read", [](FakeWire& w) { return ReadFlash(w, 0x11000, 256, g_buf); },
         0xC0, 0xBD, 0x0001, 0x1000, 256, {}},
        {"flash write", [](FakeWire& w) { return WriteFlash(w, 0x2B9000, 3, three); },
         0x40, 0xBE, 0x002B, 0x9000, 3, {1, 2, 3}},
        {"sensor write", [](FakeWire& w) { return WriteSensorReg(w, 0x3000, 0x1234); },
         0xC0, 0xD0, 0x1234, 0x3000, 1, {}},
        {"sensor read", [](FakeWire& w) { uint16_t v; return ReadSensorReg(w, 0x3000, &v); },
         0xC0, 0xD1, 0, 0x3000, 3, {}},
        {"sensor write 8", [](FakeWire& w) { return WriteSensorReg8(w, 0x12, 0x34); },
         0xC0, 0xD3, 0x3412, 0, 1, {}},
        {"i2c write", [](FakeWire& w) { return I2CWrite(w, 0x41, clock, 2); },
         0x40, 0xD4, 0x41, 0, 2, {200, 7}},
        {"i2c read", [](FakeWire& w) { return I2CRead(w, 0x0C, g_buf, 2); },
         0xC0, 0xD4, 0x0C, 0, 3, {}},
        {"fpga write", [](FakeWire& w) { return WriteFpgaReg(w, 33, 0x1234); },
         0xC0, 0xD6, 0x1234, 33, 1, {}},
        {"fpga write wide", [](FakeWire& w) { return WriteFpgaReg(w, 34, 0x12345); },
         0xC0, 0xD6, 0x2345, 34, 1, {}},
        {"fpga read", [](FakeWire& w) { uint32_t v; return ReadFpgaReg(w, 129, &v); },
         0xC0, 0xD7, 0, 129, 3, {}},
        {"fpga version", [](FakeWire& w) { uint16_t v; return GetFpgaVersion(w, &v); },
         0xC0, 0xD7, 0, 129, 3, {}},
        {"request D8", [](FakeWire& w) { return SendRequestD8(w, 0xD8, 0x21); },
         0xC0, 0xD8, 0x21D8, 0, 1, {}},
        {"cooler write", [](FakeWire& w) { return Execute(w, CoolerWrite(1, 0x6000), g_buf); },
         0xC0, 0xDA, 0x6000, 1, 1, {}},
        {"cooler read", [](FakeWire& w) { return Execute(w, CoolerRead(0), g_buf); },
         0xC0, 0xDB, 0, 0, 3, {}},
        {"cooler setup", [](FakeWire& w) { return Execute(w, CoolerSetup(144, 33), g_buf); },
         0xC0, 0xDC, 0x2190, 0, 1, {}},
        {"gpio write", [](FakeWire& w) { return WriteGpio(w, 25, 1); },
         0xC0, 0xE0, 0x0119, 0, 1, {}},
        {"gpio read", [](FakeWire& w) { uint8_t l; return ReadGpio(w, 27, &l); },
         0xC0, 0xE1, 27, 0, 1, {}},
        {"gpio mode", [](FakeWire& w) { return SetGpioMode(w, 23, 1); },
         0xC0, 0xE2, 0x0117, 0, 1, {}},
        {"config begin", [](FakeWire& w) { return Execute(w, ConfigBegin(), g_buf); },
         0xC0, 0xE3, 0, 160, 1, {}},
        {"config end", [](FakeWire& w) { return Execute(w, ConfigEnd(), g_buf); },
         0xC0, 0xE3, 0, 161, 1, {}},
        {"config instruction",
         [](FakeWire& w) { return Execute(w, ConfigInstruction(0x11, 5), g_buf); },
         0xC0, 0xE3, 0x0511, 162, 1, {}},
        {"config read-back", [](FakeWire& w) { return Execute(w, ConfigReadBack(4), g_buf); },
         0xC0, 0xE3, 0x0400, 163, 4, {}},
        {"config write data",
         [](FakeWire& w) { return Execute(w, ConfigWriteData(200, 3), nullptr, three); },
         0x40, 0xE3, 0xC800, 163, 3, {1, 2, 3}},
        {"config check", [](FakeWire& w) { return Execute(w, ConfigCheck(), g_buf); },
         0xC0, 0xE3, 0, 164, 1, {}},
        {"config data chunk",
         [](FakeWire& w) { return Execute(w, ConfigData(0x501, 3), nullptr, three); },
         0x40, 0xE4, 0x501, 0, 3, {1, 2, 3}},
    };
}
// clang-format on

TEST(UsbVendorRequest, EveryRequestEncodesAsTheTableSays) {
    for (const EncodingCase& c : EncodingTable()) {
        SCOPED_TRACE(c.name);
        FakeWire wire;
        // A reply that satisfies both status conventions' positions is not possible, so give
        // each request a reply whose status bytes read as success for it.
        wire.reply.assign(c.length, 0);
        if (c.request == 0xD0 || c.request == 0xD6 || c.request == 0xDA) wire.reply[0] = 8;
        if (c.request == 0xD1 || c.request == 0xD7 || c.request == 0xDB) wire.reply[2] = 8;
        if (c.request == 0xD4 && c.requestType == 0xC0) wire.reply[0] = 8;
        EXPECT_EQ(c.call(wire), 0);
        ASSERT_EQ(wire.calls.size(), 1u);
        const auto& call = wire.calls[0];
        EXPECT_EQ(call.requestType, c.requestType);
        EXPECT_EQ(call.request, c.request);
        EXPECT_EQ(call.value, c.value);
        EXPECT_EQ(call.index, c.index);
        EXPECT_EQ(call.length, c.length);
        EXPECT_EQ(call.out, c.out);
    }
}

TEST(UsbVendorRequest, EncoderRecordsDirectionAndTimeout) {
    EXPECT_EQ(kControlTimeoutMs, 2000u);
    EXPECT_EQ(FpgaRead(1).RequestType(), 0xC0);
    EXPECT_EQ(FlashWrite(0, 4).RequestType(), 0x40);
}

// Status byte: 8 means success for the register and channel requests, 0 for the others; any
// other value is -13.
struct StatusCase {
    const char* name;
    std::function<int(FakeWire&)> call;
    size_t replyLength;
    size_t statusAt;
    uint8_t ok;
};

TEST(UsbVendorRequest, StatusByteConventions) {
    // clang-format off
    const std::vector<StatusCase> cases = {
        {"0xD0", [](FakeWire& w) { return WriteSensorReg(w, 1, 2); }, 1, 0, 8},
        {"0xD1", [](FakeWire& w) { uint16_t v; return ReadSensorReg(w, 1, &v); }, 3, 2, 8},
        {"0xD4 in", [](FakeWire& w) { return I2CRead(w, 0x41, g_buf, 2); }, 3, 0, 8},
        {"0xD6", [](FakeWire& w) { return WriteFpgaReg(w, 1, 2); }, 1, 0, 8},
        {"0xD7", [](FakeWire& w) { uint32_t v; return ReadFpgaReg(w, 1, &v); }, 3, 2, 8},
        {"0xDA", [](FakeWire& w) { return Execute(w, CoolerWrite(1, 2), g_buf); }, 1, 0, 8},
        {"0xDB", [](FakeWire& w) { return Execute(w, CoolerRead(0), g_buf); }, 3, 2, 8},
        {"0xB0", [](FakeWire& w) { return SendRequestB0(w); }, 1, 0, 0},
        {"0xB7", [](FakeWire& w) { return Execute(w, StreamStart(), g_buf); }, 1, 0, 0},
        {"0xB8", [](FakeWire& w) { return Execute(w, StreamStop(), g_buf); }, 1, 0, 0},
        {"0xBB", [](FakeWire& w) { return Execute(w, ResetFifo(), g_buf); }, 1, 0, 0},
        {"0xD3", [](FakeWire& w) { return WriteSensorReg8(w, 1, 2); }, 1, 0, 0},
        {"0xD8", [](FakeWire& w) { return SendRequestD8(w, 1, 2); }, 1, 0, 0},
        {"0xDC", [](FakeWire& w) { return Execute(w, CoolerSetup(1, 2), g_buf); }, 1, 0, 0},
        {"0xE0", [](FakeWire& w) { return WriteGpio(w, 1, 1); }, 1, 0, 0},
        {"0xE2", [](FakeWire& w) { return SetGpioMode(w, 1, 1); }, 1, 0, 0},
        {"0xE3 begin", [](FakeWire& w) { return Execute(w, ConfigBegin(), g_buf); }, 1, 0, 0},
        {"0xE3 instr",
         [](FakeWire& w) { return Execute(w, ConfigInstruction(1, 5), g_buf); }, 1, 0, 0},
    };
    // clang-format on
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        const uint8_t other = c.ok == 8 ? 0 : 8;  // the other convention's success value
        for (uint8_t status : {c.ok, other, uint8_t{0xFF}}) {
            FakeWire wire;
            wire.reply.assign(c.replyLength, 0);
            wire.reply[c.statusAt] = status;
            EXPECT_EQ(c.call(wire), status == c.ok ? 0 : -13) << "status " << int(status);
        }
    }
}

TEST(UsbVendorRequest, RepliesDecodeLittleEndianAndOnlyOnSuccess) {
    FakeWire wire;
    wire.reply = {0x34, 0x12, 8};
    uint16_t sensor = 0;
    EXPECT_EQ(ReadSensorReg(wire, 0x300A, &sensor), 0);
    EXPECT_EQ(sensor, 0x1234);

    wire.reply = {0xFF, 0xFF, 8};
    uint32_t fpga = 0xDEAD0000;
    EXPECT_EQ(ReadFpgaReg(wire, 129, &fpga), 0);
    EXPECT_EQ(fpga, 0x0000FFFFu);  // zero-extended

    wire.reply = {0x01, 0x13};
    uint16_t type = 0;
    EXPECT_EQ(GetDeviceType(wire, &type), 0);
    EXPECT_EQ(type, 0x1301);

    wire.reply = {8, 0xAA, 0xBB};
    uint8_t i2c[2] = {};
    EXPECT_EQ(I2CRead(wire, 0x0C, i2c, 2), 0);
    EXPECT_EQ(i2c[0], 0xAA);
    EXPECT_EQ(i2c[1], 0xBB);

    // A wrong status leaves the output as it was.
    wire.reply = {0x34, 0x12, 7};
    sensor = 0x5555;
    EXPECT_EQ(ReadSensorReg(wire, 0x300A, &sensor), -13);
    EXPECT_EQ(sensor, 0x5555);

    EXPECT_EQ(FirmwareVersionText(0x1234), "v1.2.3.4");
    EXPECT_EQ(FirmwareVersionText(0xF0A1), "v15.0.10.1");
}

// A reply shorter than asked is a failed transfer: neither the status nor the value is taken
// from bytes the device did not send.
TEST(UsbVendorRequest, ShortRepliesFailWithoutTouchingOutputs) {
    FakeWire wire;
    wire.reply = {0x34, 0x12, 8};
    wire.sent = 2;  // the status byte never arrives
    uint16_t sensor = 0x5555;
    EXPECT_EQ(ReadSensorReg(wire, 1, &sensor), -13);
    EXPECT_EQ(sensor, 0x5555);

    uint32_t fpga = 0x5555;
    EXPECT_EQ(ReadFpgaReg(wire, 1, &fpga), -13);
    EXPECT_EQ(fpga, 0x5555u);

    wire.reply = {0x01, 0x13};
    wire.sent = 1;
    uint16_t type = 0x5555;
    EXPECT_EQ(GetDeviceType(wire, &type), -13);
    EXPECT_EQ(type, 0x5555);

    wire.sent = 0;
    uint8_t level = 0x55;
    EXPECT_EQ(ReadGpio(wire, 3, &level), -13);
    EXPECT_EQ(level, 0x55);
    uint8_t st;
    EXPECT_EQ(Execute(wire, StreamStop(), &st), -13);

    wire.reply.assign(64, 0xAB);
    wire.sent = 63;
    EXPECT_EQ(ReadEEProm(wire, 0x3800, g_buf, 64), -13);
    EXPECT_EQ(ReadFlash(wire, 0x10000, 64, g_buf), -13);
}

TEST(UsbVendorRequest, CheckTransferredTable) {
    struct Row {
        uint16_t requested;
        int transferred;
        int expected;
    };
    const Row rows[] = {{3, 3, 0},       {3, 2, -13},  {3, 0, -13},  {0, 0, 0},
                        {1024, 1024, 0}, {1, -9, -13}, {0, -4, -13}, {2, 5, 0}};
    for (const Row& r : rows)
        EXPECT_EQ(CheckTransferred(r.requested, r.transferred), r.expected)
            << r.requested << " " << r.transferred;
}

TEST(UsbVendorRequest, TransferErrorsPassThrough) {
    FakeWire wire;
    wire.results = {-56};
    uint16_t v = 0;
    EXPECT_EQ(ReadSensorReg(wire, 1, &v), -56);
    FakeWire out;
    out.results = {-13};
    EXPECT_EQ(WriteFlash(out, 0, 1, g_buf), -13);
}

TEST(UsbVendorRequest, ArgumentChecks) {
    FakeWire wire;
    EXPECT_EQ(GetDeviceType(wire, nullptr), -6);
    EXPECT_EQ(GetFirmwareVersion(wire, nullptr), -6);
    EXPECT_EQ(ReadSensorReg(wire, 1, nullptr), -6);
    EXPECT_EQ(ReadFpgaReg(wire, 1, nullptr), -6);
    EXPECT_EQ(GetFpgaVersion(wire, nullptr), -6);
    EXPECT_EQ(ReadGpio(wire, 1, nullptr), -6);
    // n at most 255: 256 would make the read's reply 257 bytes, 65535 would wrap to 0.
    EXPECT_EQ(I2CWrite(wire, 0x40, g_buf, 256), -6);
    EXPECT_EQ(I2CRead(wire, 0x40, g_buf, 256), -6);
    EXPECT_EQ(I2CRead(wire, 0x40, g_buf, 65535), -6);
    EXPECT_EQ(Execute(wire, ConfigData(0, 1025), nullptr, g_buf), -6);
    EXPECT_TRUE(wire.calls.empty());

    // Reading nothing sends nothing (it would otherwise go out as a write).
    EXPECT_EQ(ReadEEProm(wire, 0, g_buf, 0), 0);
    EXPECT_EQ(ReadFlash(wire, 0, 0, g_buf), 0);
    EXPECT_TRUE(wire.calls.empty());

    // A read with no buffer still runs and checks the status.
    wire.reply = {8, 1, 2};
    EXPECT_EQ(I2CRead(wire, 0x40, nullptr, 2), 0);
    wire.reply = {3, 1, 2};
    EXPECT_EQ(I2CRead(wire, 0x40, nullptr, 2), -13);
    EXPECT_EQ(wire.calls.size(), 2u);
}

std::vector<unsigned> g_pauses;
void RecordPause(unsigned ms) {
    g_pauses.push_back(ms);
}

TEST(UsbVendorRequest, SensorRegisterListsPauseAndStopAtFirstFailure) {
    g_pauses.clear();
    FakeWire wire;
    wire.reply = {8};
    const uint16_t list[] = {0x3000, 1, 0xFFFF, 0, 0xFFFF, 30, 0x3002, 2};
    EXPECT_EQ(WriteSensorRegs(wire, list, RecordPause), 0);
    ASSERT_EQ(wire.calls.size(), 2u);
    EXPECT_EQ(wire.calls[0].index, 0x3000);
    EXPECT_EQ(wire.calls[0].value, 1);
    EXPECT_EQ(wire.calls[1].index, 0x3002);
    EXPECT_EQ(g_pauses, std::vector<unsigned>{30});  // (0xFFFF, 0) makes no pause

    // A list of pauses alone writes nothing and succeeds.
    g_pauses.clear();
    FakeWire quiet;
    const uint16_t pausesOnly[] = {0xFFFF, 5, 0xFFFF, 0};
    EXPECT_EQ(WriteSensorRegs(quiet, pausesOnly, RecordPause), 0);
    EXPECT_TRUE(quiet.calls.empty());
    EXPECT_EQ(g_pauses, std::vector<unsigned>{5});

    FakeWire failing;
    failing.reply = {8};
    failing.results = {0, -13};
    const uint16_t three[] = {1, 1, 2, 2, 3, 3};
    EXPECT_EQ(WriteSensorRegs(failing, three, RecordPause), -13);
    EXPECT_EQ(failing.calls.size(), 2u);
}

TEST(UsbVendorRequest, FpgaRegisterLists) {
    const uint32_t pairs[] = {33, 0x12345, 34, 7, 35, 9};

    FakeWire wire;
    wire.reply = {8};
    EXPECT_EQ(WriteFpgaRegs(wire, pairs), 0);
    ASSERT_EQ(wire.calls.size(), 3u);
    EXPECT_EQ(wire.calls[0].value, 0x2345);  // low 16 bits only

    FakeWire stops;
    stops.reply = {8};
    stops.results = {0, -13};
    EXPECT_EQ(WriteFpgaRegs(stops, pairs), -13);
    EXPECT_EQ(stops.calls.size(), 2u);

    // The all-registers form writes on after a failure and reports the or of the results.
    FakeWire all;
    all.reply = {8};
    all.results = {0, -13, 0};
    EXPECT_EQ(WriteFpgaRegsAll(all, pairs), -13);
    EXPECT_EQ(all.calls.size(), 3u);
    FakeWire allOk;
    allOk.reply = {8};
    EXPECT_EQ(WriteFpgaRegsAll(allOk, pairs), 0);
    FakeWire badStatus;
    badStatus.reply = {0};  // every write answers status 0 where 8 means success
    EXPECT_NE(WriteFpgaRegsAll(badStatus, pairs), 0);
    EXPECT_EQ(badStatus.calls.size(), 3u);
}

TEST(UsbVendorRequest, ConfigurationDataGoesInChunksOf1024) {
    std::vector<uint8_t> image(2500);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    FakeWire wire;
    EXPECT_EQ(FpgaConfigWrite(wire, image.data(), image.size()), 0);
    ASSERT_EQ(wire.calls.size(), 3u);
    const uint16_t lengths[] = {1024, 1024, 452};
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(wire.calls[i].requestType, 0x40);
        EXPECT_EQ(wire.calls[i].request, 0xE4);
        EXPECT_EQ(wire.calls[i].value, 0);
        EXPECT_EQ(wire.calls[i].length, lengths[i]);
        joined.insert(joined.end(), wire.calls[i].out.begin(), wire.calls[i].out.end());
    }
    EXPECT_EQ(joined, image);

    FakeWire empty;
    EXPECT_EQ(FpgaConfigWrite(empty, image.data(), 0), -1);
    EXPECT_TRUE(empty.calls.empty());

    FakeWire failing;
    failing.results = {0, -56};
    EXPECT_EQ(FpgaConfigWrite(failing, image.data(), image.size()), -13);
    EXPECT_EQ(failing.calls.size(), 2u);

    FakeWire exact;
    EXPECT_EQ(FpgaConfigWrite(exact, image.data(), 1024), 0);
    EXPECT_EQ(exact.calls.size(), 1u);
}

TEST(UsbVendorRequestDeathTest, RegisterListsMustHoldPairs) {
    FakeWire wire;
    const uint16_t odd[] = {1, 2, 3};
    EXPECT_DEATH(WriteSensorRegs(wire, odd, RecordPause),
                 "regAndVal.size\\(\\) > 0 && \\(regAndVal.size\\(\\) % 2\\) == 0");
    EXPECT_DEATH(WriteFpgaRegs(wire, std::span<const uint32_t>{}),
                 "regAndVal.size\\(\\) > 0 && \\(regAndVal.size\\(\\) % 2\\) == 0");
}

TEST(UsbFrameHeader, ParseAndBuild) {
    const uint8_t bytes[16] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
                               0x2A, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    FrameHeader h;
    ASSERT_TRUE(ParseFrameHeader(bytes, sizeof bytes, &h));
    EXPECT_EQ(h.timestamp, 0x0102030405060708ull);
    EXPECT_EQ(h.frameNumber, 0x000000010000002Aull);
    EXPECT_EQ(h.FrameNo32(), 42u);  // the low 32 bits

    uint8_t built[16];
    BuildFrameHeader(h, built);
    EXPECT_TRUE(std::equal(built, built + 16, bytes));

    FrameHeader untouched{1, 2};
    EXPECT_FALSE(ParseFrameHeader(bytes, 15, &untouched));
    EXPECT_EQ(untouched.timestamp, 1u);
    EXPECT_EQ(untouched.frameNumber, 2u);
}

TEST(UsbFrameHeader, HeaderSizeByHardwareType) {
    struct Row {
        int type;
        uint32_t size;
    };
    const Row rows[] = {{0, 0},   {1, 16},   {5, 16},   {9, 16},   {100, 16}, {108, 16},
                        {109, 0}, {110, 16}, {111, 16}, {300, 16}, {303, 16}, {306, 16},
                        {10, 0},  {99, 0},   {112, 0},  {200, 0},  {307, 0},  {-1, 0}};
    for (const Row& r : rows)
        EXPECT_EQ(FrameHeaderSizeForHardwareType(r.type), r.size) << "type " << r.type;
}

TEST(UsbIds, CameraIdentity) {
    EXPECT_TRUE(IsCameraUsbId(kCameraVendorId, kCameraProductIdUsb2));
    EXPECT_TRUE(IsCameraUsbId(kCameraVendorId, kCameraProductIdUsb3));
    EXPECT_FALSE(IsCameraUsbId(kCameraVendorId, 0x0001));
    EXPECT_FALSE(IsCameraUsbId(0x1D6B, kCameraProductIdUsb3));
    EXPECT_NE(kCameraProductIdUsb2, kCameraProductIdUsb3);
}

}  // namespace
