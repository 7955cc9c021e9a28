// A whole simulated GigE camera as a host meets it: a mono IMX290 on a GigE board (hardware type
// 201 unless asked otherwise), with its stored identity and factory settings in flash (mono
// 8-bit output, auto exposure off) in the layout its hardware version text selects, behind the
// network address and namespace given.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "SimGigeCamera.h"

struct SimGigeImx290Options {
    std::string serial = "QVG0001";
    std::string userName = "";  // the discovery answer's name; empty: the serial number
    std::string ip = "127.0.0.2";
    std::string mask = "255.0.0.0";
    std::string gateway = "0.0.0.0";
    uint8_t macLast = 2;
    int netnsFd = -1;
    uint16_t gvcpPort = 13956;
    uint32_t modelCode = 0xAA310003;       // hardware type 201
    std::string hardwareVersion = "v1.0";  // the plain flash map
    uint32_t gvcpCapability = 0;           // 4: packet resend
    uint32_t streamCapability = 0x300000;  // acquisition control and packet-size negotiation
    uint32_t testPacketLimit = 0;
    qvsim::SimStreamConfig stream;
    // See CSimGigeCamera::Config::onAddressChange.
    std::function<void(const std::string&, const std::string&, const std::string&,
                       const std::string&)>
        onAddressChange;
};

class CSimGigeImx290Camera {
  public:
    static constexpr int32_t kSensorImx290Mono = 37;
    static constexpr const char* kProductName = "QV-G2M-290";

    // The factory settings block (240 bytes) stored with the identity: mono 8-bit output, auto
    // exposure off.
    static void FactorySettings(uint8_t (&block)[240]);

    explicit CSimGigeImx290Camera(const SimGigeImx290Options& options);
    CSimGigeImx290Camera(const CSimGigeImx290Camera&) = delete;
    CSimGigeImx290Camera& operator=(const CSimGigeImx290Camera&) = delete;

    qvsim::CSimGigeCamera& Camera() { return *m_camera; }
    qvsim::CSimGigeFirmware& Firmware() { return m_camera->Firmware(); }
    const SimGigeImx290Options& Options() const { return m_options; }

    // The camera's configuration for these options (tests that build their own camera).
    static qvsim::CSimGigeCamera::Config MakeConfig(const SimGigeImx290Options& options);
    // Writes the stored identity into the flash of a camera built from MakeConfig.
    static void StoreIdentity(qvsim::CSimGigeFirmware& firmware,
                              const SimGigeImx290Options& options);

  private:
    SimGigeImx290Options m_options;
    std::unique_ptr<qvsim::CSimGigeCamera> m_camera;
};
