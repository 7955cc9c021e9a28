#include "gige/GvcpTransport.h"

std::atomic<CGvcpTransport::Backend*> CGvcpTransport::s_installed{nullptr};

void CGvcpTransport::InstallBackendForTest(Backend* backend) {
    s_installed.store(backend, std::memory_order_release);
}

void CGvcpTransport::open() {
    if (IsOpened()) return;
    m_backend = s_installed.load(std::memory_order_acquire);
    if (m_backend == nullptr) m_socket.open();
}

int CGvcpTransport::bind(uint16_t port) {
    if (m_backend != nullptr) return 0;
    return m_socket.bind(port);
}

void CGvcpTransport::close() {
    m_backend = nullptr;
    m_socket.close();
}

bool CGvcpTransport::IsOpened() const {
    return m_backend != nullptr || m_socket.IsOpened();
}

size_t CGvcpTransport::send(const LQComponent::Address& to, const void* data, size_t len) {
    if (m_backend != nullptr) return m_backend->Send(to, data, len);
    return m_socket.send(to, data, len);
}

uint32_t CGvcpTransport::receive_timeout(int timeoutMs, LQComponent::Address& from, void* buffer,
                                         uint32_t* len) {
    if (m_backend != nullptr) return m_backend->Receive(timeoutMs, from, buffer, len);
    return m_socket.receive_timeout(timeoutMs, from, buffer, len);
}

CGvcpTransport::Clock::time_point CGvcpTransport::Now() const {
    return m_backend != nullptr ? m_backend->Now() : Clock::now();
}
