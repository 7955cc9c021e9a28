// Waits of a host program of the station: for a condition with a generous limit, and in a
// blocking read of the calling thread.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <utility>

namespace qvstation {

// Waits for `condition`; false when it never held within `limit`.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A read of the calling thread that another thread satisfies after `wait`: {1, 0} when it got
// its byte, else {-1, errno}. A signal that reaches the thread and is not restarted ends it
// early.
inline std::pair<ssize_t, int> BlockingRead(std::chrono::milliseconds wait) {
    int fds[2];
    if (pipe(fds) != 0) return {-1, errno};
    std::thread writer([&] {
        std::this_thread::sleep_for(wait);
        const char byte = 'x';
        if (write(fds[1], &byte, 1) != 1) std::perror("write");
    });
    char byte = 0;
    const ssize_t n = read(fds[0], &byte, 1);
    const int error = n == 1 ? 0 : errno;
    writer.join();
    close(fds[0]);
    close(fds[1]);
    return {n, error};
}

}  // namespace qvstation
