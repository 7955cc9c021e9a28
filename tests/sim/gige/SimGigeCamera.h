// The simulated GigE camera on the network: its firmware (CSimGigeFirmware) behind real UDP
// sockets in a network namespace of the test's making. It answers GVCP on its own address and,
// for broadcasts, on 0.0.0.0 (several cameras of one namespace share that port), sends the
// stream channel's test packets, records every command it receives, and misbehaves on request.
//
//   qvsim::CSimNetns ns;
//   qvsim::CSimVethLink link(ns, {"198.18.1.1"}, {"198.18.1.2", 24, true});
//   qvsim::CSimGigeCamera::Config c;
//   c.firmware.identity.ip = "198.18.1.2";
//   c.netnsFd = ns.Fd();
//   qvsim::CSimGigeCamera camera(c);
//   camera.AddRule({.command = 0x0080, .count = 1, .fault = qvsim::SimGvcpFault::kDropAnswer});
//
// Thread safety: every public member may be called from any thread. One thread of its own
// serves the sockets from construction to destruction (or from Plug to Unplug).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimGigeFirmware.h"
#include "SimGvspStreamer.h"

namespace qvsim {

enum class SimGvcpFault : uint8_t {
    kDropCommand,   // neither executed nor answered
    kDropAnswer,    // executed, not answered
    kDelay,         // answered value ms later
    kDuplicate,     // answered twice
    kShort,         // the answer datagram cut to value bytes
    kLong,          // value extra payload bytes, announced in the length field
    kLengthBeyond,  // the length field announces value bytes more than the datagram carries
    kErrorStatus,   // answered with status value (payload kept)
    kWrongId,       // acknowledge id plus value (1 when value is 0)
    kWrongCode,     // acknowledge code with its lowest bit flipped
};

struct SimGvcpRule {
    uint16_t command = 0;  // 0: any command
    int count = 1;         // how many matching commands it applies to; -1: all
    SimGvcpFault fault = SimGvcpFault::kDropAnswer;
    int value = 0;
};

class CSimGigeCamera {
  public:
    using Clock = std::chrono::steady_clock;

    // How discovery and FORCEIP are answered: by unicast to the asker when it is on the
    // camera's subnet, else by broadcast (a camera outside the asker's subnet cannot reach it
    // otherwise); or both ways at once (the host then hears it on two sockets).
    enum class AnswerRoute : uint8_t { kAuto, kBoth };

    struct Config {
        SimGigeFirmwareConfig firmware;
        AnswerRoute discoveryRoute = AnswerRoute::kAuto;
        SimStreamConfig stream;
        uint16_t gvcpPort = 13956;
        int netnsFd = -1;              // the namespace of its sockets; -1: the caller's
        bool listenBroadcast = true;   // also on 0.0.0.0:port (discovery, FORCEIP)
        uint32_t testPacketLimit = 0;  // larger test packets are not sent; 0: no limit
        // Called on the camera's thread when FORCEIP moves it (masks in dotted text), before it
        // binds its sockets to the new address: the network fixture moves the address on the
        // camera's interface. Empty: nothing to move (loopback addresses are all local).
        std::function<void(const std::string& oldIp, const std::string& oldMask,
                           const std::string& newIp, const std::string& newMask)>
            onAddressChange;
    };

    struct Command {
        Clock::time_point at;
        uint8_t flags = 0;
        uint16_t command = 0;
        uint16_t reqId = 0;
        std::vector<uint8_t> payload;
        uint32_t fromIp = 0;  // network byte order
        uint16_t fromPort = 0;
        bool viaBroadcastSocket = false;
    };

    explicit CSimGigeCamera(const Config& config);  // plugged in: sockets open, thread running
    ~CSimGigeCamera();
    CSimGigeCamera(const CSimGigeCamera&) = delete;
    CSimGigeCamera& operator=(const CSimGigeCamera&) = delete;

    CSimGigeFirmware& Firmware() { return m_firmware; }
    CSimGvspStreamer& Streamer() { return *m_streamer; }

    // ---- What the camera received ----
    std::vector<Command> Commands();
    void ClearCommands();
    size_t Count(uint16_t command);
    // Waits until pred holds for the commands so far (true), or the time runs out (false).
    bool WaitFor(const std::function<bool(const std::vector<Command>&)>& pred,
                 std::chrono::milliseconds timeout);
    unsigned DummiesReceived();  // datagrams that reached the stream channel's source port

    // ---- Misbehaviour ----
    void AddRule(const SimGvcpRule& rule);
    void ClearRules();
    // Rewrites every answer datagram (header included) before it is sent; empty: none.
    void SetAnswerEditor(std::function<void(uint16_t command, std::vector<uint8_t>& datagram)> e);
    // A muted camera keeps running (its privilege still expires) but neither hears nor answers.
    void Mute(bool on);
    // Unplug: the camera leaves the network (sockets closed). Plug: it powers up again with its
    // flash, identity and persistent address, and a fresh volatile state.
    void Unplug();
    void Plug();
    bool Plugged();

    // Sends a datagram from the camera's control socket (crafted or foreign answers).
    void SendRaw(uint32_t ipNetworkOrder, uint16_t port, const std::vector<uint8_t>& bytes);
    uint16_t StreamSourcePort();

  private:
    struct Outgoing {
        Clock::time_point due;
        uint32_t ip;
        uint16_t port;
        std::vector<uint8_t> bytes;
        bool powerCycle = false;  // a reboot's answer: the camera starts over once it is sent
    };

    void OpenSockets();
    void CloseSockets();
    void StartThread();
    void StopThread();
    void Loop();
    void Handle(int fd, bool viaBroadcast);
    void Answer(const CSimGigeFirmware::Request& request, bool viaBroadcast);
    void SendTestPacket();
    // FORCEIP moved the camera: its address-bound sockets follow (on the camera's thread).
    void MoveSockets(const CSimGigeFirmware::ForceIpResult& moved);
    // Unicast to the asker when it is on the camera's subnet, else the limited broadcast.
    uint32_t RouteTo(uint32_t askerIp);
    void Send(const Outgoing& out);
    bool TakeRule(uint16_t command, SimGvcpRule* rule);
    void Wake();

    Config m_config;
    CSimGigeFirmware m_firmware;
    int m_control = -1;             // ip:port
    int m_broadcast = -1;           // 0.0.0.0:port
    std::atomic<int> m_stream{-1};  // ip:source port; the streamer sends from it
    int m_wake = -1;                // eventfd: stop and queued sends
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_muted{false};
    std::atomic<unsigned> m_dummies{0};
    std::unique_ptr<CSimGvspStreamer> m_streamer;

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_commandAdded;
    std::vector<Command> m_commands;
    std::vector<SimGvcpRule> m_rules;
    std::function<void(uint16_t, std::vector<uint8_t>&)> m_editor;
    std::deque<Outgoing> m_outgoing;  // in due order
    bool m_plugged = false;
};

}  // namespace qvsim
