// Makes a test or benchmark executable run under the umockdev preload library, which emulates
// sysfs, udev and the USB device nodes for the simulated cameras: started without it, the
// process re-executes itself with it before main. So ctest, a developer's shell and a debugger
// all run the executable the same way.
//
// Order with the network-namespace guard: that guard runs first (constructor priority 101) and
// may re-execute the process inside a new namespace; this one (102) then adds the preload, and
// the guard accepts the namespace it made on the second start too, from its environment.
//
// A sanitizer runtime has to stay first in LD_PRELOAD, so it is put in front of the preload.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ReexecSelf.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
extern "C" void __sanitizer_print_stack_trace();
#endif

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

std::string SanitizerRuntime() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&__sanitizer_print_stack_trace), &info) &&
        info.dli_fname != nullptr)
        return info.dli_fname;
#endif
    return {};
}

__attribute__((constructor(102))) void EnterUmockdevPreload() {
    const char* current = std::getenv("LD_PRELOAD");
    if (current != nullptr && std::strstr(current, "libumockdev-preload") != nullptr) return;
    if (std::getenv("QV_UMOCKDEV_REEXEC") != nullptr) {
        std::fprintf(stderr, "the umockdev preload library did not load; is umockdev installed?\n");
        std::_Exit(2);
    }
    std::string value = SanitizerRuntime();
    if (!value.empty()) value += ":";
    value += kPreload;
    if (current != nullptr && *current != '\0') value += std::string(":") + current;
    setenv("LD_PRELOAD", value.c_str(), 1);
    setenv("QV_UMOCKDEV_REEXEC", "1", 1);

    qvtest::ReexecSelf();
    std::fprintf(stderr, "re-executing under the umockdev preload: %s\n", std::strerror(errno));
    std::_Exit(2);
}

}  // namespace

#if defined(__SANITIZE_THREAD__)
// Two races inside umockdev itself, between the test thread attaching or detaching an ioctl
// handler and umockdev's worker thread: the path strings the worker copies are freed by the
// attach, and the detach destroys a mutex the worker has just released. Neither involves the
// emulation's code, which stays checked.
// libusb's synchronous transfers, run while another thread handles the events: the waiting
// thread may see its transfer completed through a plain flag that the event thread set, and
// then frees the transfer whose internal mutex the event thread locked a moment before. libusb
// is not built with the sanitizer, so the lock, the flag and the free show up as unordered;
// C++ mutexes in this tree are never destroyed through pthread_mutex_destroy, so only the C
// libraries' own mutexes are exempt.
// umockdev's worker thread frees memory that the test thread handed it through glib's own
// queues and locks; glib is not built with the sanitizer, so the hand-over is invisible and the
// free shows up as a race with no stack of ours on either side.
// The keep-alive thread of the process-wide camera manager, which programs using the exports
// create and never destroy, is joined only by its next start or the manager's end: once a camera
// came back, its finished thread is still there when the process exits.
extern "C" const char* __tsan_default_suppressions() {
    return "race:g_strdup\n"
           "race:g_rec_mutex_clear\n"
           "race:libglib-2.0.so\n"
           "race:pthread_mutex_destroy\n"
           "thread:CDevKeepAliveMgr::RegisterLocked\n";
}
#endif
