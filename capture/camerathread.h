// Opens the station and polls its previews every 30 ms until stopped, handing each one to the
// GUI thread as a deep copy; releases the station at the end.
#pragma once

#include <QImage>
#include <QThread>

#include <atomic>

class CameraThread : public QThread {
    Q_OBJECT

  public:
    explicit CameraThread(QObject* parent = nullptr);
    // Stops and waits for the thread.
    ~CameraThread() override;

    // Asks the thread to end after its current turn.
    void stop();
    // False once stop() was called.
    bool running() const { return m_running; }

  signals:
    // The sole preview: 520x1200, 8-bit indices into a grey table.
    void imageReady(QImage image);
    // A new upper mosaic: 320x180, blue-green-red.
    void shotImageReady(QImage shotImage);

  protected:
    void run() override;

  private:
    // Written by the GUI thread, read by this one at every turn.
    std::atomic<bool> m_running{true};
};
