// A host that loads the library at run time, lets it start its services and unloads it again
// must live on: the manager's threads (USB events, GigE discovery, timers) run for the rest of the
// process, so the library's code has to stay mapped after dlclose.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// Runs in a child process; returns its exit status.
int LoadEnumerateUnloadAndLiveOn() {
    void* library = dlopen(QVSDK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    using Enumerate = int (*)(int*);
    auto enumerate = reinterpret_cast<Enumerate>(dlsym(library, "CameraEnumerateDevice"));
    if (enumerate == nullptr) return 3;
    int count = -1;
    enumerate(&count);  // creates the manager and starts its threads; no camera is here
    if (dlclose(library) != 0) return 4;
    // Long enough for every service thread to wake several times (10 ms event waits, 1 s
    // discovery cycles).
    std::this_thread::sleep_for(std::chrono::seconds(3));
    return 0;
}

TEST(Unload, HostLivesOnAfterUnloadingTheStartedLibrary) {
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(LoadEnumerateUnloadAndLiveOn());
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_FALSE(WIFSIGNALED(status)) << "the host died by signal " << WTERMSIG(status);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
