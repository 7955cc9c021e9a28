// The capture dialog: Open starts the polling thread, Close stops it, Save writes the station's
// images and shows the measurements; the two labels show the sole preview and the upper mosaic.
#pragma once

#include <QDialog>
#include <QImage>

class CameraThread;
class Ui_Dialog;

class Dialog : public QDialog {
    Q_OBJECT

  public:
    explicit Dialog(QWidget* parent = nullptr);
    // Stops, waits for and deletes a remaining thread.
    ~Dialog() override;

  private slots:
    // Connected by name to the buttons' clicked signals.
    void on_btnOpenDevice_clicked();
    void on_btnCloseDevice_clicked();
    void on_btnSaveImage_clicked();

    void updateImage(QImage image);
    void updateShotImage(QImage image);

  private:
    // Room for the measurements, and the panel sized to hold its captions and values.
    void FitPanel();

    Ui_Dialog* ui;
    CameraThread* m_thread = nullptr;
};
