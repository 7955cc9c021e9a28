// CApiMutex: a camera controller's API mutex. Recursive, and it counts how deep its owner holds
// it, so that the joins that release it can check they hold it once (a nested hold would stay
// locked and the capture thread would never return).
#pragma once

#include <mutex>

class CApiMutex {
  public:
    void lock() {
        m_mutex.lock();
        ++m_depth;
    }
    bool try_lock() {
        if (!m_mutex.try_lock()) return false;
        ++m_depth;
        return true;
    }
    void unlock() {
        --m_depth;
        m_mutex.unlock();
    }
    int Depth() const { return m_depth; }  // meaningful to the owner only

  private:
    std::recursive_mutex m_mutex;
    int m_depth = 0;  // guarded by m_mutex
};
