// A host program of the shared library libTarnlex.so as an application loads it: with dlopen,
// calling the six functions through dlsym. The sole camera is the simulated mono IMX290 behind
// the real libusb under umockdev; the upper cameras are OpenCV captures whose functions this
// program defines (InterposedVideoCapture.h). It opens the station, waits until both kinds of
// camera stream and then, by its argument,
//   exit    returns from main with the station open;
//   unload  releases the station, unloads the library and lives on for three seconds in a
//           blocking read, which nothing may cut short;
//   fork    forks a child that calls the six functions and exit(), with its output buffered;
//           the child must exit 0 with that output, and the parent's station run on;
//   pidns   as fork, the host the first process of a PID namespace (as in a container) and
//           the child the first of a namespace of its own: both have process ID 1;
//   reload  unloads the library without the release (the light must go off, the sole camera
//           stop streaming), loads it again and opens the station once more.
// Exit status 0 when all went as it should; a crash shows as a signal.
#include <dlfcn.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
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

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

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

// The six functions of a loaded library.
struct Station {
    int (*init)();
    int (*release)();
    int (*setFootDirect)(int);
    int (*save)(char*, char*, char**, char*, FOOT_XD_INFO*);
    int (*preview)(unsigned char*, unsigned char*);
    int (*isSupportCap)();

    explicit Station(void* library)
        : init(Symbol<int (*)()>(library, "Tarn_InitDevice")),
          release(Symbol<int (*)()>(library, "Tarn_ReleaseDevice")),
          setFootDirect(Symbol<int (*)(int)>(library, "Tarn_SetFootDirect")),
          save(Symbol<int (*)(char*, char*, char**, char*, FOOT_XD_INFO*)>(library,
                                                                           "Tarn_SaveXDImageEX")),
          preview(Symbol<int (*)(unsigned char*, unsigned char*)>(library, "Tarn_GetPreviewImage")),
          isSupportCap(Symbol<int (*)()>(library, "Tarn_IsSupportCap")) {}
    bool Complete() const {
        return init && release && setFootDirect && save && preview && isSupportCap;
    }
};

unsigned char g_solePreview[520 * 1200], g_mosaic[320 * 180 * 3];

// Waits until both kinds of camera have delivered and the sole preview answers.
bool Streams(const Station& station) {
    const uint64_t reads = qvsim::InterposedCaptureReads();
    const uint64_t frames = g_sole->Model().FramesCompleted();
    return WaitFor([&] {
        return qvsim::InterposedCaptureReads() >= reads + 4 * 2 &&
               g_sole->Model().FramesCompleted() >= frames + 2 &&
               station.preview(g_solePreview, g_mosaic) > 0;
    });
}

pid_t g_hostPid = 0;

// The child of the fork mode: every function, then exit() with the report still in stdio's
// buffer (a pipe: fully buffered), so that only a clean exit delivers it.
[[noreturn]] void ForkedChild(const Station& station, int out) {
    dup2(out, STDOUT_FILENO);
    close(out);
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    std::string dir = g_home;
    char sole[] = "sole.bmp", group[] = "group.bmp";
    char v1[] = "v1.bmp", v2[] = "v2.bmp", v3[] = "v3.bmp", v4[] = "v4.bmp";
    char* views[] = {v1, v2, v3, v4};
    FOOT_XD_INFO info{};
    const int results[] = {station.init(),
                           station.preview(g_solePreview, g_mosaic),
                           station.save(dir.data(), sole, views, group, &info),
                           station.setFootDirect(1),
                           station.isSupportCap(),
                           station.release()};
    // The measurements untouched by the refused save. (Whether it wrote a file the parent
    // looks: a file system call here would go through the device emulation's preload, whose
    // lock a thread of the parent may have held at the fork.)
    std::printf("station_host child:");
    for (int r : results) std::printf(" %d", r);
    std::printf("%s\n", info.footLong == 0 ? "" : " (the save measured)");
    std::exit(0);
}

int ForkWhileRunning(const Station& station) {
    int fds[2];
    if (pipe(fds) != 0) return Fail("no pipe");
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) return Fail("fork failed");
    if (child == 0) {
        close(fds[0]);
        ForkedChild(station, fds[1]);
    }
    close(fds[1]);
    // A child that hangs (waiting for a lock or a thread of its parent's) is ended.
    std::string report;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    for (;;) {
        pollfd fd{fds[0], POLLIN, 0};
        const int ready = poll(&fd, 1, 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0) {
            char buffer[256];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR)) break;
            if (n > 0) report.append(buffer, static_cast<size_t>(n));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            break;
        }
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return Fail(WIFSIGNALED(status)
                        ? "the child died of signal " + std::to_string(WTERMSIG(status))
                        : "the child exited with " + std::to_string(WEXITSTATUS(status)));
    // Init refused, preview refused, save refused, the side set, the capability, the release
    // a no-op.
    // (The functions' own log lines come before it, each flushed as it is written.)
    const std::string expected = "station_host child: -1 -1 -8 1 1 1\n";
    const size_t at = report.find("station_host child:");
    if (at == std::string::npos || report.substr(at) != expected)
        return Fail("the child reported \"" + report + "\"");
    if (fs::exists(g_home + "/sole.bmp")) return Fail("the child's save wrote");
    if (!Streams(station)) return Fail("the station does not run on after the child's exit");
    if (!g_sole->Model().OutputLine(0).DrivenHigh()) return Fail("the child put the light off");
    if (station.release() != 1) return Fail("release");
    std::puts("station_host: the forked child exited cleanly and the station ran on");
    return 0;
}

int ReloadWithoutRelease(void* library) {
    if (dlclose(library) != 0) return Fail(dlerror());
    if (dlopen(QV_TARNLEX_LIBRARY, RTLD_NOW | RTLD_NOLOAD) != nullptr)
        return Fail("the library stayed loaded");
    if (!g_sole->Model().OutputLine(0).DrivenLow()) return Fail("the light stayed on");
    if (g_sole->Model().IsStreaming()) return Fail("the sole camera streams on");
    library = dlopen(QV_TARNLEX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return Fail(dlerror());
    const Station again(library);
    if (!again.Complete()) return Fail("missing exports");
    const int opened = again.init();
    if (opened != 1) return Fail("the station did not open again: " + std::to_string(opened));
    if (!Streams(again)) return Fail("the cameras do not stream after the reload");
    if (!g_sole->Model().OutputLine(0).DrivenHigh()) return Fail("the light is off");
    if (again.release() != 1) return Fail("release");
    if (!g_sole->Model().OutputLine(0).DrivenLow()) return Fail("the light stayed on");
    std::puts("station_host: opened the station again after unloading it open");
    return 0;
}

}  // namespace

// A child that forks from this host exits through exit(): its leak check would see the
// parent's threads' memory as lost, none of which the child owns.
extern "C" int __lsan_is_turned_off() {
    return g_hostPid != 0 && getpid() != g_hostPid;
}

// The host of the pidns mode: the first process of a PID namespace of its own (as a program
// is in a container), it opens the station and forks its child into a namespace of the child's
// own, where the child's process ID is 1 as well. The exit status is the host's.
int RunAsFirstProcessOfANamespace() {
    // Without the capability to make a namespace: skipped (77).
    if (unshare(CLONE_NEWPID) != 0) {
        std::fprintf(stderr, "station_host: unshare: %s\n", std::strerror(errno));
        return 77;
    }
    const pid_t host = fork();
    if (host < 0) return Fail("fork failed");
    if (host == 0) return -1;  // go on as the host
    int status = 0;
    while (waitpid(host, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return Fail("the host died of signal " + std::to_string(WTERMSIG(status)));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int main(int argc, char** argv) {
    const std::string mode = argc == 2 ? argv[1] : "";
    if (mode != "exit" && mode != "unload" && mode != "fork" && mode != "reload" &&
        mode != "pidns") {
        std::fprintf(stderr, "usage: station_host exit|unload|fork|reload|pidns\n");
        return 2;
    }
    if ((mode == "fork" || mode == "pidns") && kAddressSanitizer) {
        // Its runtime's allocator is not safe across fork() in a process with threads: a child
        // forked while another thread holds one of the allocator's locks hangs at its next
        // allocation or release, at the latest in exit(). The Release and ThreadSanitizer runs
        // keep the mode.
        std::puts("station_host: the fork modes do not run under AddressSanitizer");
        return 77;
    }
    if (mode == "pidns") {
        const int status = RunAsFirstProcessOfANamespace();
        if (status >= 0) return status;
    }
    g_hostPid = getpid();
    char home[] = "/tmp/qv-station-host-XXXXXX";
    if (mkdtemp(home) == nullptr) return Fail("no temporary folder");
    g_home = home;
    // Last of all: after the station and the SDK have ended.
    std::atexit([] {
        if (getpid() != g_hostPid) return;  // a forked child's exit: the folder is the host's
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

    void* library = dlopen(QV_TARNLEX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return Fail(dlerror());
    const Station station(library);
    if (!station.Complete()) return Fail("missing exports");

    if (station.init() != 1) return Fail("the station did not open");
    if (!Streams(station)) return Fail("the cameras do not stream");

    if (mode == "exit") {
        std::puts("station_host: returning from main with the station open");
        return 0;
    }
    if (mode == "fork") return ForkWhileRunning(station);
    if (mode == "pidns") {
        // The host's next child is the first process of a namespace of its own.
        if (unshare(CLONE_NEWPID) != 0)
            return Fail(std::string("unshare: ") + std::strerror(errno));
        return ForkWhileRunning(station);
    }
    if (mode == "reload") return ReloadWithoutRelease(library);

    station.release();
    if (dlclose(library) != 0) return Fail(dlerror());
    if (dlopen(QV_TARNLEX_LIBRARY, RTLD_NOW | RTLD_NOLOAD) != nullptr)
        return Fail("the library stayed loaded");
    const auto [n, error] = qvstation::BlockingRead(3s);
    if (n != 1) return Fail(std::string("the blocking read ended early: ") + std::strerror(error));
    std::puts("station_host: lived on for three seconds after unloading the library");
    return 0;
}
