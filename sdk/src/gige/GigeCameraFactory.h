// CGigeCameraFactory: discovery of GigE cameras. From construction to destruction one thread runs
// discovery cycles back to back: on every IPv4 address of the host but 127.0.0.1 it broadcasts a
// DISCOVERY command to 255.255.255.255:13956, collects the answers for 1 s, turns each answering
// camera into a CGigeCameraBySocket (or refreshes the one it already has) and publishes the
// cycle's cameras, sorted by serial number, as its device list.
//
// Each address gets two sockets on one port: one bound to the address (the broadcast leaves by
// that interface only, and unicast answers come back to it) and one bound to 0.0.0.0 (a camera
// outside the interface's subnet answers by broadcast, which only such a socket receives).
//
// Locking: m_listMutex guards the device list and the first-scan flag; the discovery thread
// takes a device's information mutex while holding it. The alive checks of RefreshDeviceList run
// without it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gige/UDP.h"
#include "manager/CameraFactory.h"

class CGigeCamera;

class CGigeCameraFactory : public CCameraFactory {
  public:
    // Starts the discovery thread.
    CGigeCameraFactory();
    // Stops and joins the thread (within about 100 ms) and empties the list.
    ~CGigeCameraFactory() override;
    CGigeCameraFactory(const CGigeCameraFactory&) = delete;
    CGigeCameraFactory& operator=(const CGigeCameraFactory&) = delete;

    // Waits once for the first cycle (at most 1.5 s), then appends the devices of the last
    // finished cycle; 0.
    int GetDeviceList(std::vector<std::shared_ptr<CJNDevice>>& devices) override;
    // For every listed device that answers its alive check: replaces the caller's entry with
    // the same symbolic name, or appends it; 0.
    int RefreshDeviceList(std::list<std::shared_ptr<CJNDevice>>& devices) override;

  private:
    struct NetcardEntry {
        std::string name;
        LQComponent::UDP sender;    // bound to the interface's address, ephemeral port
        LQComponent::UDP receiver;  // bound to 0.0.0.0, the same port
    };

    void DiscoveryThreadFunc();
    void RunCycle();
    int OpenSocket();
    void SendDiscovery();
    void CloseSockets();
    // Sleeps, waking early only when the factory stops.
    void SleepUnlessStopped(std::chrono::milliseconds time);
    void Publish(std::list<std::shared_ptr<CJNDevice>> devices);

    std::list<NetcardEntry> m_socketList;  // the discovery thread's own
    uint16_t m_reqId = 10000;              // the discovery thread's own
    uint8_t m_ackBuffer[1024];             // the discovery thread's own

    std::atomic<bool> m_stop{false};
    std::mutex m_stopMutex;  // with m_stopCond: wakes a sleeping discovery thread
    std::condition_variable m_stopCond;
    std::unique_ptr<std::thread> m_thread;

    std::mutex m_listMutex;  // guards m_deviceList and m_firstScan
    std::condition_variable m_firstScanDone;
    std::list<std::shared_ptr<CJNDevice>> m_deviceList;
    bool m_firstScan = true;
};
