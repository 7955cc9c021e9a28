// Runs a test body in a child process of its own. The station's accumulator keeps its state in
// globals: each test that initialises it starts from a fresh process this way. The child's
// failures are printed as they happen; the parent fails when the child did.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

namespace qvstation {

inline void RunInOwnProcess(const std::function<void()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        body();
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    ASSERT_EQ(waited, pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child process failed (its failures are printed above)";
}

}  // namespace qvstation
