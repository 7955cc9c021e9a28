// LQComponent::SocketException: the one exception of the socket component. Its message starts
// with the failing operation in brackets ("[receive_timeout] Cannot receive"); the GigE layer
// above catches it and turns it into a status code or a log line.
#pragma once

#include <exception>
#include <ostream>
#include <string>
#include <utility>

namespace LQComponent {

class SocketException : public std::exception {
  public:
    explicit SocketException(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

  private:
    std::string m_message;
};

// Its message.
inline std::ostream& operator<<(std::ostream& os, const SocketException& e) {
    return os << e.what();
}

// The largest datagram the component sends or receives; only a longer length is refused.
inline constexpr size_t kMaxDatagramLength = 0x10000;

}  // namespace LQComponent
