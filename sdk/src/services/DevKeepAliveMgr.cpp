#include "services/DevKeepAliveMgr.h"

#include <algorithm>
#include <chrono>

#include "common/Log.h"

CDevKeepAliveMgr::CDevKeepAliveMgr(unsigned periodMs) : m_periodMs(periodMs) {}

CDevKeepAliveMgr::~CDevKeepAliveMgr() {
    StopService();
}

int CDevKeepAliveMgr::KLive_GetDevList(std::list<std::shared_ptr<CJNDevice>>& out) {
    (void)out;
    return 0;
}
int CDevKeepAliveMgr::KLive_init() {
    return 0;
}
int CDevKeepAliveMgr::KLive_uninit() {
    return 0;
}

int CDevKeepAliveMgr::KLive_RegisterDev(CDevKeepAliveObj* obj) {
    if (obj == nullptr) return -1;
    std::lock_guard lock(m_listMutex);
    return RegisterLocked(obj);
}

int CDevKeepAliveMgr::KLive_TryRegisterDev(CDevKeepAliveObj* obj) {
    if (obj == nullptr) return -1;
    std::unique_lock lock(m_listMutex, std::try_to_lock);
    if (!lock.owns_lock()) return kBusy;
    return RegisterLocked(obj);
}

int CDevKeepAliveMgr::RegisterLocked(CDevKeepAliveObj* obj) {
    if (std::find(m_list.begin(), m_list.end(), obj) == m_list.end()) {
        m_list.push_back(obj);
        qv::Log("KLive_RegisterDev:%p,add:%zu\n", static_cast<void*>(obj), m_list.size());
    }
    m_stop.store(false);
    if (!m_running) {
        // A thread that has left its loop touches nothing shared any more: joining it here is
        // short even with the list mutex held.
        if (m_thread.joinable()) m_thread.join();
        m_running = true;
        m_starts.fetch_add(1);
        m_thread = std::thread(&CDevKeepAliveMgr::ServiceLoop, this);
    }
    return 0;
}

int CDevKeepAliveMgr::KLive_UnregisterDev(const CDevKeepAliveObj* obj) {
    std::lock_guard lock(m_listMutex);
    if (std::find(m_list.begin(), m_list.end(), obj) == m_list.end()) return -1;
    m_list.remove(const_cast<CDevKeepAliveObj*>(obj));
    qv::Log("NO KLive_UnregisterDev:%p,del:%zu\n", static_cast<const void*>(obj), m_list.size());
    if (m_list.empty()) {
        m_stop.store(true);
        std::lock_guard sleep(m_sleepMutex);
        m_wake.notify_all();
    }
    return 0;
}

bool CDevKeepAliveMgr::IsRegistered(const CDevKeepAliveObj* obj) {
    std::lock_guard lock(m_listMutex);
    return std::find(m_list.begin(), m_list.end(), obj) != m_list.end();
}

bool CDevKeepAliveMgr::IsServiceRunning() {
    std::lock_guard lock(m_listMutex);
    return m_running;
}

unsigned CDevKeepAliveMgr::GetServiceStarts() {
    return m_starts.load();
}

void CDevKeepAliveMgr::StopService() {
    std::thread thread;
    {
        std::lock_guard lock(m_listMutex);
        m_stop.store(true);
        thread = std::move(m_thread);
    }
    {
        std::lock_guard sleep(m_sleepMutex);
        m_wake.notify_all();
    }
    // The thread only tries the list mutex, so it is joined without holding it.
    if (thread.joinable()) thread.join();
}

bool CDevKeepAliveMgr::FinishIfDoneLocked() {
    if (!m_stop.load() && !m_list.empty()) return false;
    KLive_uninit();
    m_running = false;
    return true;
}

void CDevKeepAliveMgr::SleepPeriod() {
    if (m_periodMs == 0) return;
    std::unique_lock lock(m_sleepMutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(m_periodMs), [this] { return m_stop.load(); });
}

void CDevKeepAliveMgr::ServiceLoop() {
    KLive_init();
    for (;;) {
        {
            std::unique_lock lock(m_listMutex, std::try_to_lock);
            if (!lock.owns_lock()) {
                SleepPeriod();
                continue;
            }
            if (FinishIfDoneLocked()) return;
        }

        std::list<std::shared_ptr<CJNDevice>> present;
        if (KLive_GetDevList(present) == 0) {
            std::unique_lock lock(m_listMutex, std::try_to_lock);
            if (!lock.owns_lock()) {
                present.clear();
                SleepPeriod();
                continue;
            }
            if (!m_stop.load()) {
                // The next node is read before each call, so an object may unregister itself.
                for (auto it = m_list.begin(); it != m_list.end();) {
                    CDevKeepAliveObj* obj = *it++;
                    obj->KLive_Reconnect(present);
                }
            }
            present.clear();
            if (FinishIfDoneLocked()) return;
        }
        present.clear();
        SleepPeriod();
    }
}
