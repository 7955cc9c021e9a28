// CPendingSettings: the settings of a pipeline object in two copies, the active one its
// per-frame step reads and the pending one the host's setters write, with a dirty code naming
// the last kind of change (only zero or non-zero matters to a frame). The per-frame step takes
// the pending copy over before it touches a frame, so a frame never sees half a change.
//
// Settings with a window (auto exposure, white balance) have the members window[4] (left, top,
// width, height in raw-frame pixels), windowEnabled and windowChanged (pending copy only: a
// window setter ran); the window helpers below need them.
//
// Locking: m_mutex (recursive) guards the two copies, the dirty code and every member the
// deriving object declares; every operation of that object takes it. It is a leaf: nothing is
// called out of the object while it is held.
#pragma once

#include <cstdint>
#include <mutex>

namespace qv::isp {

template <class Settings>
class CPendingSettings {
  public:
    Settings GetActiveSettings() const {
        Lock lock(m_mutex);
        return m_active;
    }
    // The pending copy: what the next processed frame takes over.
    Settings GetPendingSettings() const {
        Lock lock(m_mutex);
        return m_pending;
    }
    uint16_t GetDirtyCode() const {
        Lock lock(m_mutex);
        return m_dirty;
    }

  protected:
    using Lock = std::lock_guard<std::recursive_mutex>;
    static constexpr uint16_t kNothingPending = 0;

    CPendingSettings() = default;
    ~CPendingSettings() = default;

    // Behind the host's setters: value into the pending copy, with its dirty code. Always 0.
    template <class Field, class Value>
    int SetPending(Field Settings::*field, Value value, uint16_t code) {
        Lock lock(m_mutex);
        m_pending.*field = static_cast<Field>(value);
        m_dirty = code;
        return 0;
    }

    // One field of the active copy.
    template <class Field>
    Field GetActive(Field Settings::*field) const {
        Lock lock(m_mutex);
        return m_active.*field;
    }

    // Both copies become s; anything pending is discarded. With the lock held.
    void LoadSettings(const Settings& s) {
        m_active = s;
        m_pending = s;
        m_dirty = kNothingPending;
    }

    // A stored window {left, top, width, height}: enabled when it has an area.
    static void LoadWindow(Settings& s, const int32_t window[4]) {
        for (int i = 0; i < 4; ++i) s.window[i] = window[i];
        s.windowEnabled = window[2] > 0 && window[3] > 0 ? 1 : 0;
    }

    // The window setter: width 0 disables the window (left and top are kept), otherwise it is
    // enabled with its width rounded down to even (whole 2 x 2 Bayer cells). Always 0.
    int SetPendingWindow(int left, int top, int width, int height, uint16_t code) {
        Lock lock(m_mutex);
        m_pending.window[0] = left;
        m_pending.window[1] = top;
        m_pending.window[2] = width & ~1;
        m_pending.window[3] = height;
        m_pending.windowEnabled = width != 0 ? 1 : 0;
        m_pending.windowChanged = 1;
        m_dirty = code;
        return 0;
    }

    // The take-over of a pending window, with the lock held: a disabled window keeps the
    // active rectangle.
    void ApplyPendingWindow() {
        if (!m_pending.windowChanged) return;
        m_active.windowEnabled = m_pending.windowEnabled;
        if (m_active.windowEnabled)
            for (int i = 0; i < 4; ++i) m_active.window[i] = m_pending.window[i];
        m_pending.windowChanged = 0;
    }

    // The active window; any pointer may be null. Always 0.
    int GetWindow(int* left, int* top, int* width, int* height) const {
        Lock lock(m_mutex);
        if (left != nullptr) *left = m_active.window[0];
        if (top != nullptr) *top = m_active.window[1];
        if (width != nullptr) *width = m_active.window[2];
        if (height != nullptr) *height = m_active.window[3];
        return 0;
    }

    mutable std::recursive_mutex m_mutex;  // guards every member of the object
    Settings m_active;
    Settings m_pending;
    uint16_t m_dirty = kNothingPending;
};

}  // namespace qv::isp
