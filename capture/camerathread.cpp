#include "camerathread.h"

#include <QDebug>
#include <QList>

#include <vector>

#include "Tarnlex.h"

namespace {

constexpr int kSoleWidth = 520;
constexpr int kSoleHeight = 1200;
constexpr int kMosaicWidth = 320;
constexpr int kMosaicHeight = 180;
constexpr unsigned long kPollPauseMs = 30;

QList<QRgb> GreyTable() {
    QList<QRgb> table(256);
    for (int j = 0; j < 256; ++j) table[j] = 0xFF000000u + static_cast<QRgb>(j) * 0x010101u;
    return table;
}

}  // namespace

CameraThread::CameraThread(QObject* parent) : QThread(parent) {}

CameraThread::~CameraThread() {
    stop();
    wait();
}

void CameraThread::stop() {
    m_running = false;
}

void CameraThread::run() {
    if (Tarn_InitDevice() != 1) {
        qDebug() << "Failed to open camera";
        return;
    }
    std::vector<unsigned char> sole(static_cast<size_t>(kSoleWidth) * kSoleHeight);
    std::vector<unsigned char> mosaic(static_cast<size_t>(kMosaicWidth) * kMosaicHeight * 3);
    const QList<QRgb> grey = GreyTable();
    bool failing = false;
    while (m_running) {
        const int ret = Tarn_GetPreviewImage(sole.data(), mosaic.data());
        if (ret < 0) {
            // Once per run of failures, and the same pause as after a preview: a library that
            // keeps failing must not be polled in a busy loop.
            if (!failing) qDebug() << "Failed to get preview image";
            failing = true;
        } else {
            failing = false;
            QImage image(sole.data(), kSoleWidth, kSoleHeight, kSoleWidth, QImage::Format_Indexed8);
            image.setColorTable(grey);
            // Deep copies: the buffers are reused at once.
            emit imageReady(image.copy());
            if (ret == 2) {
                const QImage shot(mosaic.data(), kMosaicWidth, kMosaicHeight, kMosaicWidth * 3,
                                  QImage::Format_BGR888);
                emit shotImageReady(shot.copy());
            }
        }
        msleep(kPollPauseMs);
    }
    sole = {};
    mosaic = {};
    Tarn_ReleaseDevice();
}
