// Identity and device information of a GigE camera, from crafted discovery answers (no
// network): firmware version texts, link texts, the boot mark, the serial number's last two
// characters, the in-use bits, matching, and texts that fill their fields without a terminator.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gige/GigeCameraBySocket.h"

namespace {

using qv::gige::DISCOVERY_ACK_DATA;

DISCOVERY_ACK_DATA Ack() {
    DISCOVERY_ACK_DATA a;
    std::memset(&a, 0, sizeof a);
    a.specVersionMajor[1] = 1;
    a.specVersionMinor[1] = 2;
    const uint8_t ip[4] = {198, 18, 1, 2}, mask[4] = {255, 255, 255, 0}, gw[4] = {198, 18, 1, 1};
    std::memcpy(a.currentIp, ip, 4);
    std::memcpy(a.subnetMask, mask, 4);
    std::memcpy(a.defaultGateway, gw, 4);
    std::strcpy(a.manufacturerName, "QV Vision");
    std::strcpy(a.modelName, "QV-G2M-290");
    std::strcpy(a.deviceVersion, "v2.1.0.3");
    std::strcpy(a.productSeries, "QV-G2");
    std::strcpy(a.serialNumber, "QVG0001");
    std::strcpy(a.userDefinedName, "LINE");
    a.linkState = 5;
    a.runState = 1;
    a.sensorType[3] = 37;
    a.deviceId[0] = 0x12;
    a.deviceId[1] = 0x34;
    a.firmwareWord1[0] = 2;
    a.firmwareWord1[1] = 7;
    a.firmwareWord2[0] = 1;
    a.firmwareWord2[1] = 9;
    a.reserved8[0] = 0x11;
    a.reserved8[1] = 0x22;
    return a;
}

tDevInfo InfoOf(CGigeCamera& camera, DeviceMiscInfo* misc = nullptr) {
    tDevInfo info;
    std::memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(camera.GetDeviceInfo(&info, misc), 0);
    return info;
}

TEST(GigeIdentity, DeviceInformation) {
    CGigeCameraBySocket camera("QVG0001", "QV-G2M-290", "v1.2", "eth1", Ack());
    DeviceMiscInfo misc{};
    const tDevInfo info = InfoOf(camera, &misc);
    EXPECT_STREQ(info.acProductSeries, "QV-G2");
    EXPECT_STREQ(info.acProductName, "QV-G2M-290");
    EXPECT_STREQ(info.acFriendlyName, "LINE");
    EXPECT_STREQ(info.acDriverName, "GigE Vision");
    EXPECT_STREQ(info.acDriverVersion, "v1.2");
    EXPECT_STREQ(info.acSensorName, "CMOS_2M");
    EXPECT_STREQ(info.acPortType, "GigE 1000M Full");
    EXPECT_STREQ(info.acSn, "QVG0001");
    EXPECT_EQ(info.uSignature, 0);
    EXPECT_EQ(info.uDeviceType, 0x0207);
    EXPECT_EQ(info.uFirmwareVersion, 0x0109);
    EXPECT_EQ(info.uDeviceId, 0x1234u);
    EXPECT_STREQ(info.acSymbolicName, "198.18.1.2:255.255.255.0:198.18.1.1");
    EXPECT_EQ(info.uSensorType, 0u);
    EXPECT_EQ(info.uInUse, 0xCCCCCCCCu);  // the manager's field is left alone
    EXPECT_STREQ(misc.firmwareVersion, "v2.7.1.9");
    EXPECT_EQ(misc.defaultFrameSpeed, 2);
    EXPECT_EQ(info.iAccess, 0x01);  // the serial number ends in "01"

    // The base class keeps the reserved word as it lies in memory.
    CGigeCamera& base = camera;
    tDevInfo plain;
    std::memset(&plain, 0, sizeof plain);
    base.CGigeCamera::GetDeviceInfo(&plain, nullptr);
    uint16_t word;
    std::memcpy(&word, Ack().reserved8, 2);
    EXPECT_EQ(plain.iAccess, word);

    uint16_t type = 0;
    ASSERT_EQ(camera.GetDeviceType(&type), 0);
    EXPECT_EQ(type, 0x2001);
    EXPECT_STREQ(camera.GetSymbolicName(), "QVG0001");
    char sn[33] = {};
    ASSERT_EQ(camera.GetSN(sn), 0);
    EXPECT_STREQ(sn, "QVG0001");
    EXPECT_EQ(camera.GetNetcardName(), "eth1");
    EXPECT_EQ(camera.GetPeerAddress().ip(), "198.18.1.2");
    EXPECT_EQ(camera.GetPeerAddress().port(), 13956);
}

TEST(GigeIdentity, FirmwareVersionTexts) {
    struct Case {
        const char* text;
        uint16_t version;
    };
    const Case cases[] = {{"v2.1.0.3", 0x2103}, {"v17.2", 0x1200},      {"2.1.0.3", 0x1000},
                          {"", 0x1000},         {"v1.2.3.4.5", 0x1234}, {"vX", 0x1000}};
    for (const Case& c : cases) {
        DISCOVERY_ACK_DATA a = Ack();
        std::memset(a.deviceVersion, 0, sizeof a.deviceVersion);
        std::strcpy(a.deviceVersion, c.text);
        CGigeCameraBySocket camera("S", "M", "v1.2", "eth0", a);
        uint16_t version = 0;
        ASSERT_EQ(camera.GetFirmwareVersion(&version), 0);
        EXPECT_EQ(version, c.version) << c.text;
    }
    // 32 characters without a terminator.
    DISCOVERY_ACK_DATA a = Ack();
    std::memset(a.deviceVersion, '9', sizeof a.deviceVersion);
    a.deviceVersion[0] = 'v';
    CGigeCameraBySocket camera("S", "M", "v1.2", "eth0", a);
    uint16_t version = 0;
    EXPECT_EQ(camera.GetFirmwareVersion(&version), 0);
}

TEST(GigeIdentity, LinkTextsBootMarkAndSerialWord) {
    const std::pair<uint8_t, const char*> links[] = {
        {0, "unlink"},         {1, "GigE 10M Full"},   {2, "GigE 10M Half"}, {3, "GigE 100M Full"},
        {4, "GigE 100M Half"}, {6, "GigE 1000M Half"}, {7, "unlink"},        {255, "unlink"}};
    for (const auto& [state, text] : links) {
        DISCOVERY_ACK_DATA a = Ack();
        a.linkState = state;
        CGigeCameraBySocket camera("S", "M", "v1.2", "eth0", a);
        EXPECT_STREQ(InfoOf(camera).acPortType, text) << int{state};
    }
    DISCOVERY_ACK_DATA boot = Ack();
    boot.runState = 0;
    CGigeCameraBySocket booting("S", "M", "v1.2", "eth0", boot);
    EXPECT_STREQ(InfoOf(booting).acFriendlyName, "LINE(boot)");

    const std::pair<const char*, int> serials[] = {
        {"QVG003F", 0x3F}, {"QVG00zz", 0}, {"7", 0}, {"", 0}, {"ABab", 0xAB}};
    for (const auto& [serial, word] : serials) {
        DISCOVERY_ACK_DATA a = Ack();
        std::memset(a.serialNumber, 0, sizeof a.serialNumber);
        std::strncpy(a.serialNumber, serial, sizeof a.serialNumber);
        CGigeCameraBySocket camera(serial, "M", "v1.2", "eth0", a);
        EXPECT_EQ(InfoOf(camera).iAccess, word) << serial;
    }
}

TEST(GigeIdentity, InUseAndMatching) {
    for (uint8_t bits : {0, 1, 2, 3, 4, 0xFC}) {
        DISCOVERY_ACK_DATA a = Ack();
        a.accessBits = bits;
        CGigeCameraBySocket camera("S", "M", "v1.2", "eth0", a);
        EXPECT_EQ(camera.IsInUse(), (bits & 3) != 0) << int{bits};
        DevAccessStatus status{};
        ASSERT_EQ(camera.GetAccessStatus(&status), 0);
        EXPECT_EQ(status.inUse, (bits & 3) != 0 ? 1 : 0);
        EXPECT_EQ(status.openCount, 0);
        EXPECT_STREQ(status.description, "QV GiGEVison camera");
    }
    CGigeCameraBySocket camera("QVG0001", "M", "v1.2", "eth0", Ack());
    DISCOVERY_ACK_DATA same = Ack();
    same.linkState = 1;
    EXPECT_TRUE(camera.MatchDiscoveryAck(same));
    DISCOVERY_ACK_DATA otherMaker = Ack();
    std::strcpy(otherMaker.manufacturerName, "Other");
    EXPECT_FALSE(camera.MatchDiscoveryAck(otherMaker));
    DISCOVERY_ACK_DATA otherSerial = Ack();
    otherSerial.serialNumber[6] = '2';
    EXPECT_FALSE(camera.MatchDiscoveryAck(otherSerial));

    // A newer answer of the same camera: new address, in use, link state.
    DISCOVERY_ACK_DATA newer = Ack();
    newer.currentIp[3] = 77;
    newer.accessBits = 2;
    camera.UpdateDiscoveryAck(newer);
    EXPECT_EQ(camera.GetPeerAddress().ip(), "198.18.1.77");
    EXPECT_TRUE(camera.IsInUse());
    EXPECT_STREQ(InfoOf(camera).acSymbolicName, "198.18.1.77:255.255.255.0:198.18.1.1");
}

// Texts that fill their whole field: nothing reads into the next one, also not the matching.
TEST(GigeIdentity, UnterminatedTextsStayInTheirFields) {
    DISCOVERY_ACK_DATA a = Ack();
    std::memset(a.serialNumber, 'S', sizeof a.serialNumber);
    std::memset(a.userDefinedName, 'U', sizeof a.userDefinedName);
    std::memset(a.productSeries, 'P', sizeof a.productSeries);
    std::memset(a.manufacturerName, 'M', sizeof a.manufacturerName);
    std::memset(a.modelName, 'N', sizeof a.modelName);
    a.sensorType[3] = 'S';  // 'S' follows the series text
    CGigeCameraBySocket camera(std::string(16, 'S').c_str(), "N", "v1.2", "eth0", a);
    const tDevInfo info = InfoOf(camera);
    EXPECT_EQ(std::string(info.acSn), std::string(16, 'S'));
    EXPECT_EQ(std::string(info.acFriendlyName), std::string(16, 'U'));
    EXPECT_EQ(std::string(info.acProductSeries), std::string(16, 'P'));
    EXPECT_EQ(std::string(info.acProductName), std::string(31, 'N'));
    char sn[33] = {};
    camera.GetSN(sn);
    EXPECT_EQ(std::string(sn), std::string(16, 'S'));
    // The same serial with another user name is the same camera.
    DISCOVERY_ACK_DATA renamed = a;
    std::memset(renamed.userDefinedName, 'V', sizeof renamed.userDefinedName);
    EXPECT_TRUE(camera.MatchDiscoveryAck(renamed));
}

}  // namespace
