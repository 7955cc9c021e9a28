// Shared pieces of the GigE device tests: a simulated mono IMX290 camera on a loopback address of
// the test's own namespace, and the SDK's device object made from its discovery answer, as
// discovery would make it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SimGigeImx290Camera.h"
#include "gige/GigeCameraBySocket.h"
#include "gige/GvcpProtocol.h"

namespace gigetest {

inline qv::gige::DISCOVERY_ACK_DATA AckOf(const std::vector<uint8_t>& payload) {
    qv::gige::DISCOVERY_ACK_DATA ack;
    EXPECT_EQ(payload.size(), sizeof ack);
    std::memset(&ack, 0, sizeof ack);
    std::memcpy(&ack, payload.data(), std::min(payload.size(), sizeof ack));
    return ack;
}

inline std::shared_ptr<CGigeCameraBySocket> DeviceFor(qvsim::CSimGigeFirmware& firmware,
                                                      const char* netcard = "lo") {
    const qv::gige::DISCOVERY_ACK_DATA ack = AckOf(firmware.DiscoveryAnswer());
    const std::string serial(ack.serialNumber, strnlen(ack.serialNumber, 16));
    const std::string model(ack.modelName, strnlen(ack.modelName, 32));
    return std::make_shared<CGigeCameraBySocket>(serial.c_str(), model.c_str(), "v1.2", netcard,
                                                 ack);
}

// Sets an environment variable for its lifetime (nullptr: unset), then puts the old one back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

inline uint32_t Be32(const std::vector<uint8_t>& p, size_t at) {
    return static_cast<uint32_t>(p[at]) << 24 | static_cast<uint32_t>(p[at + 1]) << 16 |
           static_cast<uint32_t>(p[at + 2]) << 8 | p[at + 3];
}

// A recorded WRITEREG as (address, value) pairs.
inline std::vector<uint32_t> Pairs(const qvsim::CSimGigeCamera::Command& c) {
    std::vector<uint32_t> words;
    for (size_t i = 0; i + 4 <= c.payload.size(); i += 4) words.push_back(Be32(c.payload, i));
    return words;
}

// The commands of one code, in order.
inline std::vector<qvsim::CSimGigeCamera::Command> Only(qvsim::CSimGigeCamera& camera,
                                                        uint16_t code) {
    std::vector<qvsim::CSimGigeCamera::Command> out;
    for (auto& c : camera.Commands())
        if (c.command == code) out.push_back(c);
    return out;
}

// The transactions of one code, in order: the tries of one transaction carry one request id, so
// a try the host sent again because the camera's answer was late under load counts once.
inline std::vector<qvsim::CSimGigeCamera::Command> Transactions(qvsim::CSimGigeCamera& camera,
                                                                uint16_t code) {
    std::vector<qvsim::CSimGigeCamera::Command> out;
    for (auto& c : camera.Commands())
        if (c.command == code && (out.empty() || out.back().reqId != c.reqId)) out.push_back(c);
    return out;
}

// Every transaction, in order (see Transactions).
inline std::vector<qvsim::CSimGigeCamera::Command> AllTransactions(qvsim::CSimGigeCamera& camera) {
    std::vector<qvsim::CSimGigeCamera::Command> out;
    for (auto& c : camera.Commands())
        if (out.empty() || out.back().reqId != c.reqId || out.back().command != c.command)
            out.push_back(c);
    return out;
}

// A camera at 127.0.0.<host> and its device object, closed.
class CameraRig {
  public:
    explicit CameraRig(SimGigeImx290Options options = {}) : m_sim(Defaults(std::move(options))) {
        m_device = DeviceFor(m_sim.Firmware());
    }
    ~CameraRig() {
        while (m_opened-- > 0) m_device->Close();
    }
    CSimGigeImx290Camera& Sim() { return m_sim; }
    qvsim::CSimGigeCamera& Camera() { return m_sim.Camera(); }
    CGigeCameraBySocket& Device() { return *m_device; }
    std::shared_ptr<CGigeCameraBySocket> Shared() { return m_device; }
    int Open() {
        const int r = m_device->Open(nullptr);
        if (r == 0) ++m_opened;
        return r;
    }
    void Close() {
        if (m_opened > 0) {
            --m_opened;
            m_device->Close();
        }
    }

  private:
    static SimGigeImx290Options Defaults(SimGigeImx290Options o) {
        if (o.ip == "127.0.0.2") o.ip = "127.0.0.2";
        return o;
    }
    CSimGigeImx290Camera m_sim;
    std::shared_ptr<CGigeCameraBySocket> m_device;
    int m_opened = 0;
};

}  // namespace gigetest
