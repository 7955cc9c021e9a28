// CDevKeepAliveMgr: the keep-alive service. While at least one object is registered, one service
// thread asks the derived class once per period for the cameras that are present and free
// (KLive_GetDevList) and offers that list to every registered object (KLive_Reconnect), in
// registration order. The thread starts with the first registration and ends when the list is
// empty again.
//
// Locking: m_listMutex guards the registration list and the thread's state. Registration and
// unregistration block on it (controllers call them holding their API mutex); the service thread
// only tries it, and holds it while it offers the list. The device search runs without it.
//
// One thread at most: the thread's state changes only under m_listMutex, a registration that
// finds a stopping thread still in its loop re-arms it instead of starting another, and a new
// thread is started only after the old one has left its loop (and is joined), so the derived
// class's hooks never run on two threads at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "services/DevKeepAliveObj.h"

class CJNDevice;

class CDevKeepAliveMgr {
  public:
    explicit CDevKeepAliveMgr(unsigned periodMs);
    // Stops the service thread. A derived class that overrides the hooks must call StopService
    // in its own destructor, before its members die.
    virtual ~CDevKeepAliveMgr();

    CDevKeepAliveMgr(const CDevKeepAliveMgr&) = delete;
    CDevKeepAliveMgr& operator=(const CDevKeepAliveMgr&) = delete;

    // -1 for null. Adds obj once (a second registration changes nothing) and starts the service
    // when it is not running; 0.
    int KLive_RegisterDev(CDevKeepAliveObj* obj);
    // As KLive_RegisterDev without waiting: CAMERA_STATUS_BUSY (-28) when the list mutex is held
    // (the service may be offering cameras for a long time).
    int KLive_TryRegisterDev(CDevKeepAliveObj* obj);
    // -1 when obj is not registered. Otherwise removes it; when the list is then empty the
    // service thread ends at its next check (it is woken from its sleep); 0.
    int KLive_UnregisterDev(const CDevKeepAliveObj* obj);
    bool IsRegistered(const CDevKeepAliveObj* obj);

    unsigned GetPeriodMs() const { return m_periodMs; }
    // Whether a service thread is in its loop, and how many were started (tests).
    bool IsServiceRunning();
    unsigned GetServiceStarts();

  protected:
    // Hooks, run on the service thread only: once when a thread starts, once per period for the
    // offered list (non-zero: nothing is offered this period), once when the thread ends.
    virtual int KLive_GetDevList(std::list<std::shared_ptr<CJNDevice>>& out);
    virtual int KLive_init();
    virtual int KLive_uninit();

    // Ends the service thread and waits for it. Not from the service thread itself.
    void StopService();

  private:
    static constexpr int kBusy = -28;  // CAMERA_STATUS_BUSY
    int RegisterLocked(CDevKeepAliveObj* obj);
    void ServiceLoop();
    // With m_listMutex held: true when the thread must end now (it then has ended its run).
    bool FinishIfDoneLocked();
    void SleepPeriod();

    std::recursive_mutex m_listMutex;  // guards m_list, m_thread and m_running
    std::thread m_thread;
    bool m_running = false;               // a service thread is in its loop
    std::atomic<bool> m_stop{false};      // set when the list empties; a registration clears it
    std::list<CDevKeepAliveObj*> m_list;  // registration order; not owned
    const unsigned m_periodMs;
    std::atomic<unsigned> m_starts{0};

    std::mutex m_sleepMutex;  // with m_wake: a stop request cuts the period's sleep short
    std::condition_variable m_wake;
};
