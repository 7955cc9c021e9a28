// Captures what the process writes to standard output and standard error (file descriptors 1
// and 2, so stdio, iostreams and perror alike) while it lives; one at a time per process.
#pragma once

#include <string>

class CStdStreamCapture {
  public:
    CStdStreamCapture();
    ~CStdStreamCapture();
    CStdStreamCapture(const CStdStreamCapture&) = delete;
    CStdStreamCapture& operator=(const CStdStreamCapture&) = delete;

    // Everything written so far (the streams are flushed first).
    std::string Out() const;
    std::string Err() const;
    // Puts the original streams back; Out and Err keep answering.
    void Stop();

  private:
    int m_savedOut = -1;
    int m_savedErr = -1;
    int m_outFile = -1;
    int m_errFile = -1;
};
