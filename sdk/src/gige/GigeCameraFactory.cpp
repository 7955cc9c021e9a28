#include "gige/GigeCameraFactory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/ByteOrder.h"
#include "common/Log.h"
#include "gige/GigeCameraBySocket.h"
#include "gige/GigeNetcard.h"
#include "gige/GvcpProtocol.h"
#include "gige/SocketException.h"
#include "gige/SocketGroup.h"

namespace gige = qv::gige;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCollectTime = std::chrono::seconds(1);
constexpr int kReceiveSliceMs = 100;
constexpr auto kNoNetcardPause = std::chrono::seconds(3);
constexpr auto kFailedCyclePause = std::chrono::seconds(1);
constexpr auto kFirstScanWait = std::chrono::milliseconds(1500);

// A text field of the answer, bounded by its width (it need not be terminated).
template <size_t N>
std::string Field(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::string SerialOf(const std::shared_ptr<CJNDevice>& device) {
    tDevInfo info;
    std::memset(&info, 0, sizeof info);
    device->GetDeviceInfo(&info, nullptr);
    return std::string(info.acSn, strnlen(info.acSn, sizeof info.acSn));
}

}  // namespace

CGigeCameraFactory::CGigeCameraFactory() {
    std::memset(m_ackBuffer, 0, sizeof m_ackBuffer);
    m_thread = std::make_unique<std::thread>([this] { DiscoveryThreadFunc(); });
}

CGigeCameraFactory::~CGigeCameraFactory() {
    {
        std::lock_guard lock(m_stopMutex);
        m_stop = true;
    }
    m_stopCond.notify_all();
    if (m_thread != nullptr && m_thread->joinable()) m_thread->join();
    std::lock_guard lock(m_listMutex);
    m_deviceList.clear();
}

void CGigeCameraFactory::SleepUnlessStopped(std::chrono::milliseconds time) {
    std::unique_lock lock(m_stopMutex);
    m_stopCond.wait_for(lock, time, [this] { return m_stop.load(); });
}

// ---- The cycle -------------------------------------------------------------------------------

int CGigeCameraFactory::OpenSocket() {
    QV_ASSERT(m_socketList.empty());
    const std::vector<gige::Netcard> netcards = gige::GetNetcardList();
    if (netcards.empty()) return -1;
    try {
        for (const gige::Netcard& card : netcards) {
            NetcardEntry& entry = m_socketList.emplace_back();
            entry.name = card.name;
            entry.sender.open();
            entry.sender.set_reuseaddr(1);
            entry.sender.bind(card.ip, 0);
            entry.sender.set_broadcast(1);
            entry.receiver.open();
            entry.receiver.set_reuseaddr(1);
            entry.receiver.bind(static_cast<uint32_t>(INADDR_ANY), entry.sender.get_port());
            entry.receiver.set_broadcast(1);
        }
    } catch (const LQComponent::SocketException&) {
        CloseSockets();
        return -1;
    }
    return m_socketList.empty() ? -1 : 0;
}

void CGigeCameraFactory::CloseSockets() {
    for (NetcardEntry& entry : m_socketList) {
        entry.sender.close();
        entry.receiver.close();
    }
    m_socketList.clear();
}

void CGigeCameraFactory::SendDiscovery() {
    if (++m_reqId == 0) m_reqId = 1;
    uint8_t message[gige::kHeaderSize];
    gige::EncodeCmdHeader(message,
                          {static_cast<uint8_t>(gige::kFlagAckRequired | gige::kFlagBroadcastAck),
                           gige::kDiscoveryCmd, 0, m_reqId});
    for (NetcardEntry& entry : m_socketList) {
        try {
            entry.sender.send("255.255.255.255", gige::GvcpPort(), message, sizeof message);
        } catch (const LQComponent::SocketException&) {
            qv::Log("Send GigE discovery message failed, socket id %d.\r\n",
                    entry.sender.GetSocket());
        }
    }
}

void CGigeCameraFactory::DiscoveryThreadFunc() {
    while (!m_stop) {
        try {
            RunCycle();
        } catch (const LQComponent::SocketException& e) {
            // The cycle's findings are dropped; the list keeps what the last cycle found.
            qv::Log("GigE discovery cycle failed: %s\r\n", e.what());
            SleepUnlessStopped(kFailedCyclePause);
            CloseSockets();
        }
    }
    qv::Log("gige discovery thread exit!!!\r\n");
}

void CGigeCameraFactory::RunCycle() {
    if (OpenSocket() < 0) SleepUnlessStopped(kNoNetcardPause);
    const auto askedAt = Clock::now();
    SendDiscovery();
    LQComponent::SocketGroup group;
    for (const NetcardEntry& entry : m_socketList) {
        group.add(entry.sender);
        group.add(entry.receiver);
    }

    std::list<std::shared_ptr<CJNDevice>> found;
    const auto deadline = Clock::now() + kCollectTime;
    while (Clock::now() < deadline && !m_stop) {
        LQComponent::Address from;
        uint32_t n = sizeof m_ackBuffer;
        int fd = -1;
        if (group.receive_timeout(kReceiveSliceMs, from, m_ackBuffer, &n, &fd) == 0) continue;
        gige::AckHeader ack{};
        // Only a whole answer to this cycle's command: shorter datagrams would be read from the
        // bytes of an earlier answer.
        if (n < gige::kHeaderSize + gige::kDiscoveryAckSize) continue;
        gige::DecodeAckHeader(m_ackBuffer, gige::kHeaderSize, &ack);
        if (ack.ackCode != gige::kDiscoveryAck || ack.ackId != m_reqId) continue;
        gige::DISCOVERY_ACK_DATA data;
        std::memcpy(&data, m_ackBuffer + gige::kHeaderSize, sizeof data);

        std::string netcard;
        for (const NetcardEntry& entry : m_socketList)
            if (entry.sender.GetSocket() == fd || entry.receiver.GetSocket() == fd)
                netcard = entry.name;
        QV_ASSERT(!netcard.empty());

        // The same camera again (on the other socket, or another interface).
        const bool again = std::any_of(found.begin(), found.end(), [&](const auto& device) {
            return static_cast<CGigeCamera*>(device.get())->MatchDiscoveryAck(data);
        });
        if (again) continue;
        {
            std::lock_guard lock(m_listMutex);
            const auto known =
                std::find_if(m_deviceList.begin(), m_deviceList.end(), [&](const auto& device) {
                    return static_cast<CGigeCamera*>(device.get())->MatchDiscoveryAck(data);
                });
            if (known != m_deviceList.end()) {
                static_cast<CGigeCamera*>(known->get())->UpdateDiscoveryAck(data, askedAt);
                found.push_back(*known);
                continue;
            }
        }
        const std::string serial = Field(data.serialNumber);
        const std::string model = Field(data.modelName);
        char version[32];
        std::snprintf(version, sizeof version, "v%d.%d", qv::LoadBe16(data.specVersionMajor),
                      qv::LoadBe16(data.specVersionMinor));
        found.push_back(std::make_shared<CGigeCameraBySocket>(serial.c_str(), model.c_str(),
                                                              version, netcard.c_str(), data));
    }
    group.clear();
    CloseSockets();
    Publish(std::move(found));
}

void CGigeCameraFactory::Publish(std::list<std::shared_ptr<CJNDevice>> devices) {
    // Serial numbers are read once per device, outside the comparisons.
    std::vector<std::pair<std::string, std::shared_ptr<CJNDevice>>> keyed;
    for (auto& device : devices) keyed.emplace_back(SerialOf(device), std::move(device));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return std::strcmp(a.first.c_str(), b.first.c_str()) < 0;
    });
    std::list<std::shared_ptr<CJNDevice>> sorted;
    for (auto& entry : keyed) sorted.push_back(std::move(entry.second));
    std::lock_guard lock(m_listMutex);
    m_deviceList = std::move(sorted);
    if (m_firstScan) {
        qv::Log("finish first scan\n");
        m_firstScan = false;
        m_firstScanDone.notify_all();
    }
}

// ---- Lists -----------------------------------------------------------------------------------

int CGigeCameraFactory::GetDeviceList(std::vector<std::shared_ptr<CJNDevice>>& devices) {
    std::unique_lock lock(m_listMutex);
    if (m_firstScan) {
        qv::Log("wait a first scan\n");
        m_firstScanDone.wait_until(lock, std::chrono::system_clock::now() + kFirstScanWait,
                                   [this] { return !m_firstScan; });
        qv::Log("wait a first scan finish\n");
    }
    devices.insert(devices.end(), m_deviceList.begin(), m_deviceList.end());
    return 0;
}

int CGigeCameraFactory::RefreshDeviceList(std::list<std::shared_ptr<CJNDevice>>& devices) {
    std::list<std::shared_ptr<CJNDevice>> current;
    {
        std::lock_guard lock(m_listMutex);
        current = m_deviceList;
    }
    // Up to 900 ms per silent camera: without the list mutex, so discovery and enumeration
    // go on meanwhile.
    for (const auto& device : current) {
        if (!device->CheckAlive()) continue;
        const auto same = std::find_if(devices.begin(), devices.end(), [&](const auto& entry) {
            return entry && device->CompareSymbolicName(entry.get());
        });
        if (same == devices.end())
            devices.push_back(device);
        else if (*same != device)
            *same = device;
    }
    return 0;
}
