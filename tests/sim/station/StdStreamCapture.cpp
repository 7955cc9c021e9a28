#include "StdStreamCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace {

int TempFile() {
    char name[] = "/tmp/qv-station-capture-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) unlink(name);
    return fd;
}

std::string ReadAll(int fd) {
    std::string all;
    if (fd < 0) return all;
    char chunk[4096];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, chunk, sizeof chunk, at);
        if (n <= 0) break;
        all.append(chunk, static_cast<size_t>(n));
        at += n;
    }
    return all;
}

void FlushAll() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
}

}  // namespace

CStdStreamCapture::CStdStreamCapture() {
    FlushAll();
    m_outFile = TempFile();
    m_errFile = TempFile();
    m_savedOut = dup(STDOUT_FILENO);
    m_savedErr = dup(STDERR_FILENO);
    if (m_outFile >= 0) dup2(m_outFile, STDOUT_FILENO);
    if (m_errFile >= 0) dup2(m_errFile, STDERR_FILENO);
}

CStdStreamCapture::~CStdStreamCapture() {
    Stop();
    if (m_outFile >= 0) close(m_outFile);
    if (m_errFile >= 0) close(m_errFile);
}

void CStdStreamCapture::Stop() {
    FlushAll();
    if (m_savedOut >= 0) {
        dup2(m_savedOut, STDOUT_FILENO);
        close(m_savedOut);
        m_savedOut = -1;
    }
    if (m_savedErr >= 0) {
        dup2(m_savedErr, STDERR_FILENO);
        close(m_savedErr);
        m_savedErr = -1;
    }
}

std::string CStdStreamCapture::Out() const {
    FlushAll();
    return ReadAll(m_outFile);
}

std::string CStdStreamCapture::Err() const {
    FlushAll();
    return ReadAll(m_errFile);
}
