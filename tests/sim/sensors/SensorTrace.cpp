#include "SensorTrace.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

namespace qvsim {

// ---- Virtual clock -----------------------------------------------------------------------------

CVirtualSensorClock::CVirtualSensorClock() : m_replaced(SensorClock::Install(this)) {}

CVirtualSensorClock::~CVirtualSensorClock() {
    // Clocks nest: the last one installed must go first, or virtual time would leak to real time.
    SensorClock* current = SensorClock::Install(m_replaced);
    if (current != this) ADD_FAILURE() << "virtual sensor clocks destroyed out of order";
}

void CVirtualSensorClock::Sleep(unsigned ms) {
    std::function<void(unsigned)> hook;
    {
        std::lock_guard lock(m_mutex);
        m_nowMs += ms;
        m_sleptMs += ms;
        hook = m_hook;
    }
    if (hook) hook(ms);
}

uint64_t CVirtualSensorClock::NowMs() {
    std::lock_guard lock(m_mutex);
    return m_nowMs;
}

uint64_t CVirtualSensorClock::SleptMs() const {
    std::lock_guard lock(m_mutex);
    return m_sleptMs;
}

void CVirtualSensorClock::SetSleepHook(std::function<void(unsigned)> hook) {
    std::lock_guard lock(m_mutex);
    m_hook = std::move(hook);
}

// ---- Steps -------------------------------------------------------------------------------------

namespace {

bool IsRegisterStep(const std::string& op) {
    return op == "Reg" || op == "Regs" || op == "ReadReg" || op == "Fpga" || op == "ReadFpga";
}

std::string Hex(int64_t v) {
    if (v < 0) return "*";
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(v));
    return text;
}

}  // namespace

std::string TraceStep::ToString() const {
    std::ostringstream out;
    out << op << "(";
    if (op == "Regs" || op == "Reg" || op == "Fpga") {
        for (size_t i = 0; i + 1 < args.size(); i += 2)
            out << (i ? " " : "") << Hex(args[i]) << "=" << Hex(args[i + 1]);
    } else {
        for (size_t i = 0; i < args.size(); ++i)
            out << (i ? "," : "") << (IsRegisterStep(op) ? Hex(args[i]) : std::to_string(args[i]));
    }
    out << ")";
    return out.str();
}

bool TraceStep::Matches(const TraceStep& actual) const {
    if (op != actual.op || args.size() != actual.args.size()) return false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (op == "Regs" && i % 2 == 0 && args[i] == -1 && args[i + 1] == -1) {
            ++i;  // a pair left open
            continue;
        }
        if (args[i] != actual.args[i]) return false;
    }
    return true;
}

// ---- Trace -------------------------------------------------------------------------------------

CSensorTrace::CSensorTrace(CFakeDevice& device) : m_device(device) {
    static const std::map<std::string, std::string> kNames = {
        {"WriteSensorReg", "Reg"}, {"WriteSensorRegs", "Regs"},   {"ReadSensorReg", "ReadReg"},
        {"WriteFpgaReg", "Fpga"},  {"WriteFpgaRegs", "FpgaRegs"}, {"ReadFpgaReg", "ReadFpga"},
    };
    m_device.SetCallHook([this](const FakeCall& call) {
        if (call.name == "GetHardwareType") return;
        auto it = kNames.find(call.name);
        Add({it != kNames.end() ? it->second : call.name, call.args});
    });
    m_clock.SetSleepHook([this](unsigned ms) { Add({"Sleep", {ms}}); });
}

CSensorTrace::~CSensorTrace() {
    m_device.SetCallHook(nullptr);
    m_clock.SetSleepHook(nullptr);
}

void CSensorTrace::Add(TraceStep step) {
    std::lock_guard lock(m_mutex);
    m_steps.push_back(std::move(step));
}

std::vector<TraceStep> CSensorTrace::Steps() const {
    std::lock_guard lock(m_mutex);
    return m_steps;
}

void CSensorTrace::Clear() {
    std::lock_guard lock(m_mutex);
    m_steps.clear();
}

// ---- Expected steps ----------------------------------------------------------------------------

TraceStep Call(const std::string& op, std::initializer_list<int64_t> args) {
    return {op, args};
}

TraceStep Sleep(unsigned ms) {
    return {"Sleep", {ms}};
}

TraceStep Reg(uint16_t reg, uint16_t value) {
    return {"Reg", {reg, value}};
}

TraceStep Fpga(uint16_t reg, uint32_t value) {
    return {"Fpga", {reg, value}};
}

TraceStep Regs(const RegRows& rows) {
    TraceStep step{"Regs", {}};
    for (const RegPair& p : rows) {
        step.args.push_back(p.reg);
        step.args.push_back(p.value);
    }
    return step;
}

RegRows AnyRows(size_t count) {
    return RegRows(count, kAnyRow);
}

RegRows operator+(RegRows a, const RegRows& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void Append(std::vector<TraceStep>& steps, const std::vector<TraceStep>& more) {
    steps.insert(steps.end(), more.begin(), more.end());
}

::testing::AssertionResult TraceMatches(const std::vector<TraceStep>& actual,
                                        const std::vector<TraceStep>& expected) {
    size_t i = 0;
    while (i < actual.size() && i < expected.size() && expected[i].Matches(actual[i])) ++i;
    if (i == actual.size() && i == expected.size()) return ::testing::AssertionSuccess();

    auto failure = ::testing::AssertionFailure();
    failure << "traces differ at step " << i << " (expected " << expected.size() << " steps, got "
            << actual.size() << ")\n";
    const size_t from = i >= 3 ? i - 3 : 0;
    for (size_t k = from; k < std::max(actual.size(), expected.size()) && k < i + 4; ++k) {
        failure << (k == i ? "> " : "  ") << k << "  expected "
                << (k < expected.size() ? expected[k].ToString() : "(end)") << "\n"
                << "       actual   " << (k < actual.size() ? actual[k].ToString() : "(end)")
                << "\n";
    }
    return failure;
}

}  // namespace qvsim
