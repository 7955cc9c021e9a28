// Counts the calls a test's helper thread makes, for the test's thread to wait on with a
// deadline instead of spinning.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qvsim {

class CCallCounter {
  public:
    void Count() {
        {
            std::lock_guard lock(m_mutex);
            ++m_calls;
        }
        m_changed.notify_all();
    }
    // Whether the count reached `n` within `limit`.
    bool WaitFor(int n, std::chrono::seconds limit) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_calls >= n; });
    }
    // Whether `more` calls followed this one within `limit`.
    bool WaitForMore(int more, std::chrono::seconds limit) {
        std::unique_lock lock(m_mutex);
        const int target = m_calls + more;
        return m_changed.wait_for(lock, limit, [&] { return m_calls >= target; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_calls = 0;
};

}  // namespace qvsim
