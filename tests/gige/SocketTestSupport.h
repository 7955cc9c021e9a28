// Helpers of the socket component's tests: the message of the exception a call throws, and a
// datagram socket bound on loopback.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "gige/SocketException.h"
#include "gige/UDP.h"

namespace sockettest {

// The message of the SocketException f throws, or "(no exception)".
inline std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const LQComponent::SocketException& e) {
        return e.what();
    }
    return "(no exception)";
}

// A datagram socket bound to 127.0.0.1 and a port of the system's choice.
inline LQComponent::UDP Bound() {
    LQComponent::UDP s;
    EXPECT_EQ(s.bind("127.0.0.1", 0), 0);
    return s;
}

}  // namespace sockettest
