// A host program of the shared library libTarnlex.so as an application loads it: with dlopen,
// calling the six functions through dlsym. The sole camera is the simulated mono IMX290 behind
// the real libusb under umockdev; the upper cameras are OpenCV captures whose functions this
// program defines (InterposedVideoCapture.h). It opens the station, waits until both kinds of
// camera stream and then, by its argument,
//   exit    returns from main with the station open;
//   unload  releases the station, unloads the library and lives on for three seconds in a
//           blocking read, which nothing may cut short.
// Exit status 0 when all went as it should; a crash shows as a signal.
#include <dlfcn.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "HostWaits.h"
#include "InterposedVideoCapture.h"
#include "SimHostSettings.h"
#include "SimUsbImx290Camera.h"
#include "Tarnlex.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qvstation::WaitFor;

// The simulated sole camera and its testbed live as long as the process: the station may still
// use them while the process ends.
CSimUsbTestbed* g_testbed = nullptr;
CSimUsbImx290Camera* g_sole = nullptr;
std::string g_home;

int Fail(const std::string& what) {
    std::fprintf(stderr, "station_host: %s\n", what.c_str());
    return 1;
}

// /dev/wcam1 to /dev/wcam4 as the process sees them: links in the testbed to files there.
void LinkUpperCameras() {
    gchar* root = umockdev_testbed_get_root_dir(g_testbed->Raw());
    const std::string dev = std::string(root) + "/dev";
    g_free(root);
    fs::create_directories(dev + "/qv-upper");
    for (int i = 1; i <= 4; ++i) {
        const std::string device = dev + "/qv-upper/video" + std::to_string(i);
        std::ofstream(device).put('\n');
        fs::create_symlink(device, dev + "/wcam" + std::to_string(i));
    }
}

template <class F>
F Symbol(void* library, const char* name) {
    return reinterpret_cast<F>(dlsym(library, name));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 2 ? argv[1] : "";
    if (mode != "exit" && mode != "unload") {
        std::fprintf(stderr, "usage: station_host exit|unload\n");
        return 2;
    }
    char home[] = "/tmp/qv-station-host-XXXXXX";
    if (mkdtemp(home) == nullptr) return Fail("no temporary folder");
    g_home = home;
    // Last of all: after the station and the SDK have ended.
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(g_home, ec);
    });
    setenv("HOME", home, 1);
    if (!qvsim::UseImx290Resolution(qvsim::CustomResolution(320, 28, 1280, 1024)))
        return Fail("cannot write the sole camera's parameter file");
    g_testbed = new CSimUsbTestbed();
    if (!CSimUsbTestbed::PreloadActive()) return Fail("not running under the umockdev preload");
    SimImx290Options sole;
    sole.serial = "QV-SOLE-0001";
    sole.port = {1, 4};
    // Slow, as are the upper cameras: the host only needs both kinds to stream.
    sole.fps = 5;
    g_sole = new CSimUsbImx290Camera(*g_testbed, sole);
    LinkUpperCameras();

    void* station = dlopen(QV_TARNLEX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (station == nullptr) return Fail(dlerror());
    const auto init = Symbol<int (*)()>(station, "Tarn_InitDevice");
    const auto release = Symbol<int (*)()>(station, "Tarn_ReleaseDevice");
    const auto preview =
        Symbol<int (*)(unsigned char*, unsigned char*)>(station, "Tarn_GetPreviewImage");
    if (init == nullptr || release == nullptr || preview == nullptr) return Fail("missing exports");

    if (init() != 1) return Fail("the station did not open");
    static unsigned char solePreview[520 * 1200], mosaic[320 * 180 * 3];
    const uint64_t reads = qvsim::InterposedCaptureReads();
    const uint64_t frames = g_sole->Model().FramesCompleted();
    if (!WaitFor([&] {
            return qvsim::InterposedCaptureReads() >= reads + 4 * 2 &&
                   g_sole->Model().FramesCompleted() >= frames + 2 &&
                   preview(solePreview, mosaic) > 0;
        }))
        return Fail("the cameras do not stream");

    if (mode == "exit") {
        std::puts("station_host: returning from main with the station open");
        return 0;
    }

    release();
    if (dlclose(station) != 0) return Fail(dlerror());
    if (dlopen(QV_TARNLEX_LIBRARY, RTLD_NOW | RTLD_NOLOAD) != nullptr)
        return Fail("the library stayed loaded");
    const auto [n, error] = qvstation::BlockingRead(3s);
    if (n != 1) return Fail(std::string("the blocking read ended early: ") + std::strerror(error));
    std::puts("station_host: lived on for three seconds after unloading the library");
    return 0;
}
