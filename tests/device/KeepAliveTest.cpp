// Keep-alive service: registration, the service thread's life, and the offers of the device
// manager's re-enumerated list.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FakeCameraFactory.h"
#include "FakeDevice.h"
#include "manager/JNDeviceMgr.h"
#include "LogCapture.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using DeviceList = std::list<std::shared_ptr<CJNDevice>>;
using qvsim::CFakeCameraFactory;
using qvsim::CFakeDevice;
using qvsim::LogCapture;

template <typename Cond>
bool WaitFor(Cond cond, std::chrono::milliseconds limit = 30s) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return cond();
}

// A service whose hooks count their runs and check that no two run at once.
class CountingService : public CDevKeepAliveMgr {
  public:
    explicit CountingService(unsigned periodMs) : CDevKeepAliveMgr(periodMs) {}
    ~CountingService() override { StopService(); }

    std::atomic<int> inits{0}, uninits{0}, searches{0};
    std::atomic<int> inside{0}, overlaps{0};
    std::atomic<int> searchResult{0};

  protected:
    struct Guard {
        explicit Guard(CountingService& s) : s(s) {
            if (s.inside.fetch_add(1) != 0) s.overlaps.fetch_add(1);
        }
        ~Guard() { s.inside.fetch_sub(1); }
        CountingService& s;
    };
    int KLive_init() override {
        Guard g(*this);
        inits.fetch_add(1);
        std::this_thread::sleep_for(1ms);  // widen the window a second thread would hit
        return 0;
    }
    int KLive_uninit() override {
        Guard g(*this);
        uninits.fetch_add(1);
        return 0;
    }
    int KLive_GetDevList(DeviceList& out) override {
        Guard g(*this);
        (void)out;
        searches.fetch_add(1);
        std::this_thread::sleep_for(1ms);
        return searchResult.load();
    }
};

// Records the lists it is offered; may unregister itself from inside the offer.
class Recorder : public CDevKeepAliveObj {
  public:
    explicit Recorder(CDevKeepAliveMgr* service = nullptr) : m_service(service) {}
    std::atomic<bool> leaveOnOffer{false};
    std::atomic<int> offers{0};

    int KLive_Reconnect(DeviceList& present) override {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> serials;
        for (const auto& d : present) {
            char sn[33] = {};
            d->GetSN(sn);
            serials.emplace_back(sn);
        }
        m_last = serials;
        offers.fetch_add(1);
        if (leaveOnOffer.load() && m_service != nullptr) m_service->KLive_UnregisterDev(this);
        return 0;
    }
    std::vector<std::string> Last() {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

  private:
    CDevKeepAliveMgr* m_service;
    std::mutex m_mutex;
    std::vector<std::string> m_last;
};

TEST(KeepAlive, RegisterOnceLogOnceAndTheThreadEndsWithTheLastObject) {
    LogCapture log;
    CountingService service(5);
    Recorder a, b;
    EXPECT_EQ(service.KLive_RegisterDev(nullptr), -1);
    EXPECT_EQ(service.KLive_RegisterDev(&a), 0);
    EXPECT_EQ(service.KLive_RegisterDev(&a), 0);
    EXPECT_EQ(service.KLive_RegisterDev(&b), 0);
    EXPECT_TRUE(service.IsServiceRunning());
    char line[64];
    std::snprintf(line, sizeof line, "KLive_RegisterDev:%p,add:1\n", static_cast<void*>(&a));
    EXPECT_EQ(log.Count(line), 1);

    // Every registered object is offered the (empty) list, again and again.
    EXPECT_TRUE(WaitFor([&] { return a.offers >= 3 && b.offers >= 3; }));
    EXPECT_TRUE(a.Last().empty());

    EXPECT_EQ(service.KLive_UnregisterDev(&a), 0);
    EXPECT_EQ(service.KLive_UnregisterDev(&a), -1);
    EXPECT_TRUE(service.IsServiceRunning());
    EXPECT_EQ(service.KLive_UnregisterDev(&b), 0);
    std::snprintf(line, sizeof line, "NO KLive_UnregisterDev:%p,del:0\n", static_cast<void*>(&b));
    EXPECT_EQ(log.Count(line), 1);
    EXPECT_TRUE(WaitFor([&] { return !service.IsServiceRunning(); }));
    EXPECT_EQ(service.inits.load(), 1);
    EXPECT_EQ(service.uninits.load(), 1);
    EXPECT_EQ(service.GetServiceStarts(), 1u);
}

// Leaving and coming back within one period must never leave two service threads running
// (each run pairs one init with one uninit, and the hooks never overlap).
TEST(KeepAlive, UnregisterAndRegisterWithinAPeriodKeepsOneThread) {
    CountingService service(50);
    Recorder a;
    for (int round = 0; round < 200; ++round) {
        ASSERT_EQ(service.KLive_RegisterDev(&a), 0);
        if (round % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        ASSERT_EQ(service.KLive_UnregisterDev(&a), 0);
    }
    EXPECT_TRUE(WaitFor([&] { return !service.IsServiceRunning(); }));
    EXPECT_EQ(service.overlaps.load(), 0);
    EXPECT_EQ(service.inits.load(), service.uninits.load());
    EXPECT_EQ(service.inits.load(), static_cast<int>(service.GetServiceStarts()));

    // From several threads at once as well.
    Recorder objects[4];
    std::vector<std::thread> threads;
    for (auto& obj : objects)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                service.KLive_RegisterDev(&obj);
                service.KLive_UnregisterDev(&obj);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_TRUE(WaitFor([&] { return !service.IsServiceRunning(); }));
    EXPECT_EQ(service.overlaps.load(), 0);
    EXPECT_EQ(service.inits.load(), service.uninits.load());
}

TEST(KeepAlive, AnObjectMayLeaveFromInsideItsOffer) {
    CountingService service(1);
    Recorder leaving(&service), staying;
    leaving.leaveOnOffer = true;
    ASSERT_EQ(service.KLive_RegisterDev(&leaving), 0);
    ASSERT_EQ(service.KLive_RegisterDev(&staying), 0);
    EXPECT_TRUE(WaitFor([&] { return staying.offers >= 3; }));
    EXPECT_EQ(leaving.offers.load(), 1);
    EXPECT_FALSE(service.IsRegistered(&leaving));

    // The last one leaving from inside its offer ends the thread.
    staying.leaveOnOffer = true;
    Recorder self(&service);
    self.leaveOnOffer = true;
    ASSERT_EQ(service.KLive_UnregisterDev(&staying), 0);
    ASSERT_EQ(service.KLive_RegisterDev(&self), 0);
    EXPECT_TRUE(WaitFor([&] { return !service.IsServiceRunning(); }));
    EXPECT_EQ(self.offers.load(), 1);
}

TEST(KeepAlive, AFailedSearchOffersNothingThatPeriod) {
    CountingService service(1);
    service.searchResult = -1;
    Recorder a;
    ASSERT_EQ(service.KLive_RegisterDev(&a), 0);
    EXPECT_TRUE(WaitFor([&] { return service.searches >= 5; }));
    EXPECT_EQ(a.offers.load(), 0);
    service.searchResult = 0;
    EXPECT_TRUE(WaitFor([&] { return a.offers >= 1; }));
    service.KLive_UnregisterDev(&a);
}

// The device manager's hooks: what is offered each period is the re-enumerated list of the
// cameras that answer and are free.
TEST(KeepAlive, ManagerOffersTheReEnumeratedListEveryPeriod) {
    auto usb = std::make_unique<CFakeCameraFactory>(CFakeCameraFactory::RefreshStyle::kUsb);
    auto gige = std::make_unique<CFakeCameraFactory>(CFakeCameraFactory::RefreshStyle::kGige);
    CFakeCameraFactory* usbFactory = usb.get();
    CFakeCameraFactory* gigeFactory = gige.get();
    auto present = std::make_shared<CFakeDevice>("U-1", "Cam", "bus:1:address:2");
    auto busy = std::make_shared<CFakeDevice>("G-2", "Cam");
    busy->SetInUse(true);
    usbFactory->AddDevice(present);
    gigeFactory->AddDevice(busy);

    CJNDeviceMgr mgr(std::move(usb), std::move(gige), 2);
    Recorder controller;
    ASSERT_EQ(mgr.KLive_RegisterDev(&controller), 0);
    EXPECT_TRUE(WaitFor([&] { return controller.offers >= 2; }));
    // The in-use camera is never offered.
    EXPECT_EQ(controller.Last(), std::vector<std::string>{"U-1"});

    // A camera that stops answering drops out; one that appears is offered.
    present->SetAlive(false);
    auto arriving = std::make_shared<CFakeDevice>("G-3", "Cam");
    gigeFactory->AddDevice(arriving);
    int seen = controller.offers;
    EXPECT_TRUE(WaitFor([&] {
        return controller.offers > seen + 1 && controller.Last() == std::vector<std::string>{"G-3"};
    }));
    // It comes back once it answers again.
    present->SetAlive(true);
    EXPECT_TRUE(WaitFor([&] {
        const auto last = controller.Last();
        return std::set<std::string>(last.begin(), last.end()) ==
               std::set<std::string>{"U-1", "G-3"};
    }));
    EXPECT_GT(usbFactory->RefreshCalls(), 2);
    EXPECT_GT(gigeFactory->RefreshCalls(), 2);

    // The thread ends when the last controller leaves, and the manager's own enumeration list
    // was never touched by the service.
    ASSERT_EQ(mgr.KLive_UnregisterDev(&controller), 0);
    EXPECT_TRUE(WaitFor([&] { return !mgr.IsServiceRunning(); }));
    EXPECT_EQ(mgr.DeviceCount(), 0);
}

// A controller whose reconnection fails stays registered and is offered the list again; the
// manager can be destroyed while the service runs.
TEST(KeepAlive, ManagerDestroyedWhileTheServiceRuns) {
    auto gige = std::make_unique<CFakeCameraFactory>();
    gige->AddDevice(std::make_shared<CFakeDevice>("G-1", "Cam"));
    auto mgr = std::make_unique<CJNDeviceMgr>(nullptr, std::move(gige), 1);
    Recorder controller;
    ASSERT_EQ(mgr->KLive_RegisterDev(&controller), 0);
    EXPECT_TRUE(WaitFor([&] { return controller.offers >= 3; }));
    EXPECT_TRUE(mgr->IsRegistered(&controller));
    mgr.reset();
}

}  // namespace
