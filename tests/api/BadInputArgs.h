// The argument source of the bad-input table. A row is one call of an export, written once with
// the accessors below in place of its arguments; each accessor names the kind of argument (the
// handle, an out pointer, a line index, a text ...) and the bad values that kind takes, with
// what the export must answer to each. The runner calls the row again and again: once with
// valid arguments, once with a null handle, once with every pointer null and every number zero,
// and once for each bad value of each argument, the other arguments valid.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "QVCameraApi.h"

namespace badinput {

// Results besides the status codes of the table.
constexpr int kNull = 1000;     // a pointer export answered a null pointer
constexpr int kPointer = 1001;  // a pointer export answered a pointer
constexpr int kSkip = 1002;     // in a row: the call with valid arguments is not made
constexpr int kAny = 1003;      // any code of the status table
// A row's own check after a call that succeeded: the getter reports another value than the
// one the setter must have stored.
constexpr int kMismatch = 1004;

// What a call may answer: one code, or one of a few.
class Expect {
  public:
    Expect(int code) : m_codes{code}, m_count(1) {}  // NOLINT: a code is an expectation
    Expect(std::initializer_list<int> codes);
    bool Accepts(int result) const;
    // Only codes that report a failure (a pointer export's null among them).
    bool IsFailure() const;
    std::string ToString() const;

  private:
    std::array<int, 4> m_codes{};
    size_t m_count = 0;
};

// Whether a result is a code of the status table.
bool IsStatusCode(int result);
std::string ResultText(int result);

template <class T>
struct Case {
    T value;
    Expect expect;
};
using IntCase = Case<int64_t>;
using RealCase = Case<double>;
using TextCase = Case<const char*>;
// Another record in place of a valid one.
template <class T>
struct Alt {
    const char* label;
    T* value;
    Expect expect;
};

// A pointer export's answer as a result of the table.
template <class T>
int PointerResult(T* p) {
    return p != nullptr ? kPointer : kNull;
}

// What the fixture lends the rows: the live camera and things to pass to it.
struct Context {
    HANDLE handle = nullptr;
    int outputLines = 0;
    int inputLines = 0;
    int resolutionIndex = 0;
    std::string serial;
    std::string friendlyName;
    std::string dir;  // a folder of the test's own
    // A processed image (24-bit BGR) and its head, for the functions that take an image.
    std::vector<BYTE> image;
    stImageInfo imageInfo{};
    // A raw frame of the camera, taken for a call and released after it.
    std::function<CameraFrameHandle()> takeFrame;
    std::function<void(CameraFrameHandle)> releaseFrame;
};

class Args {
  public:
    enum class Mode { kDiscover, kValid, kNullHandle, kNullAndZero, kBad };

    struct Slot {
        std::string kind;
        std::vector<std::string> labels;  // of the bad values
        std::vector<Expect> expects;
        bool pointer = false;
    };

    explicit Args(const Context& context) : m_context(context) {}

    // Prepares a run: the mode and, for kBad, the argument and its bad value.
    void Begin(Mode mode, size_t slot = 0, size_t badCase = 0);
    // Ends a run: releases a frame taken for it unless the call gave it back (released).
    void End(bool released);
    const std::vector<Slot>& Slots() const { return m_slots; }
    // The expectation a bad value set during the run (kNullHandle and kBad runs).
    const Expect& Expected() const { return m_expect; }
    bool HasHandle() const { return m_hasHandle; }
    // What the export answers a null handle.
    const Expect& NullHandleExpect() const { return m_nullHandleExpect; }
    const Context& Ctx() const { return m_context; }

    // ---- accessors, one per argument ----
    HANDLE Handle(Expect ifNull = CAMERA_STATUS_PARAMETER_INVALID);
    // Room for what an export writes: 64 KiB, zero-filled before each run.
    template <class T>
    T* Out(Expect ifNull = CAMERA_STATUS_PARAMETER_INVALID) {
        static_assert(sizeof(T) <= kScratchBytes);
        return static_cast<T*>(Pointer("out", ifNull, Scratch()));
    }
    // Room for a whole output image (Ex1, Ex2).
    BYTE* ImageOut(Expect ifNull = CAMERA_STATUS_PARAMETER_INVALID);
    // An input the row prepared.
    template <class T>
    T* In(T* valid, Expect ifNull = CAMERA_STATUS_PARAMETER_INVALID) {
        return static_cast<T*>(
            Pointer("in", ifNull, const_cast<void*>(static_cast<const void*>(valid))));
    }
    template <class T>
    T* In(T* valid, Expect ifNull, std::initializer_list<Alt<T>> others) {
        std::vector<std::string> labels{"null"};
        std::vector<Expect> expects{ifNull};
        if (m_mode == Mode::kDiscover) {
            for (const Alt<T>& o : others) {
                labels.push_back(o.label);
                expects.push_back(o.expect);
            }
        }
        const int active = Enter("in", std::move(labels), std::move(expects), true);
        if (m_mode == Mode::kDiscover || m_mode == Mode::kNullAndZero || active == 0)
            return nullptr;
        if (active > 0) return std::data(others)[active - 1].value;
        return valid;
    }
    const char* Text(const char* valid, Expect ifNull = CAMERA_STATUS_PARAMETER_INVALID,
                     std::initializer_list<TextCase> bad = {});
    int Int(int valid, std::initializer_list<IntCase> bad = {}) {
        return Int(valid, std::vector<IntCase>(bad));
    }
    int Int(int valid, const std::vector<IntCase>& bad);
    UINT UInt(UINT valid, std::initializer_list<IntCase> bad = {}) {
        return UInt(valid, std::vector<IntCase>(bad));
    }
    UINT UInt(UINT valid, const std::vector<IntCase>& bad);
    USHORT UShort(USHORT valid, std::initializer_list<IntCase> bad = {});
    uintptr_t Word(uintptr_t valid, std::initializer_list<IntCase> bad = {});
    double Real(double valid, std::initializer_list<RealCase> bad = {});
    // A callback: null is its bad value.
    template <class F>
    F Callback(F valid, Expect ifNull) {
        const int active = Enter("callback", {"null"}, {ifNull}, true);
        if (m_mode == Mode::kDiscover || m_mode == Mode::kNullAndZero || active >= 0)
            return nullptr;
        return valid;
    }
    // A raw frame of the camera; bad values: null and a pointer to something that is no frame.
    CameraFrameHandle Frame(Expect ifNull, Expect ifForeign);

  private:
    static constexpr size_t kScratchBytes = 64 * 1024;
    void* Scratch();
    void* Pointer(const char* kind, const Expect& ifNull, void* valid);
    // Registers (first run) or finds the next argument; the index of its bad value that this run
    // passes, or -1.
    int Enter(const char* kind, std::vector<std::string> labels, std::vector<Expect> expects,
              bool pointer = false);
    int64_t Integer(const char* kind, int64_t valid, const std::vector<IntCase>& bad);

    const Context& m_context;
    Mode m_mode = Mode::kDiscover;
    size_t m_slot = 0;
    size_t m_case = 0;
    size_t m_next = 0;
    bool m_hasHandle = false;
    Expect m_expect{CAMERA_STATUS_SUCCESS};
    Expect m_nullHandleExpect{CAMERA_STATUS_PARAMETER_INVALID};
    std::vector<Slot> m_slots;
    std::vector<std::unique_ptr<std::byte[]>> m_scratch;
    size_t m_scratchUsed = 0;
    std::vector<BYTE> m_imageOut;
    CameraFrameHandle m_frame = nullptr;
    std::unique_ptr<uint32_t> m_foreign = std::make_unique<uint32_t>(0);
};

// One export's row: its name, what it answers with valid arguments (kSkip: not called), and the
// call. A row that gives a frame back says so, so that the runner does not release it again.
struct Row {
    const char* name;
    Expect valid;
    std::function<int(Args&)> call;
    bool releasesFrame = false;
};

// The rows by family, in the order of the interface's tables.
std::vector<Row> AcquisitionRows();  // enumeration, initialisation, information, frames
std::vector<Row> SettingsRows();     // exposure, white balance, lookup tables, resolution, ISP
std::vector<Row> LineRows();         // trigger, strobe, I/O lines, GigE stream and IP
std::vector<Row> OtherRows();        // display, files, parameters, storage, pages, version

}  // namespace badinput
