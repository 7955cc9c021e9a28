#include "dialog.h"

#include <QDebug>
#include <QLayout>
#include <QMessageBox>
#include <QPixmap>

#include "Tarnlex.h"
#include "camerathread.h"
#include "ui_dialog.h"

namespace {

const char* const kGroupBoxStyle =
    "QGroupBox {   border: 2px solid gray;   border-radius: 5px;   margin-top: 1.5ex;}"
    "QGroupBox::title {   subcontrol-origin: margin;   subcontrol-position: top left;   "
    "padding: 0 3px;}";

// The widest measurement the station reports: a sign and three digits (the empty plate's foot
// length is -342).
const char* const kWidestValue = "-888";

// The image scaled smoothly to the label's size, keeping its aspect ratio.
void Show(QLabel* label, const QImage& image) {
    label->setPixmap(QPixmap::fromImage(image).scaled(label->size(), Qt::KeepAspectRatio,
                                                      Qt::SmoothTransformation));
}

}  // namespace

Dialog::Dialog(QWidget* parent) : QDialog(parent), ui(new Ui_Dialog) {
    ui->setupUi(this);
    ui->groupBox->setStyleSheet(kGroupBoxStyle);
    FitPanel();
}

void Dialog::FitPanel() {
    // The values take the panel's spare width (their size policy) and never less than the widest
    // one needs, so each shows whole from the layout it is set in, before any later pass.
    for (QLabel* value :
         {ui->labelScore, ui->labelFootlength, ui->labelFrontWidth, ui->labelBackWidth})
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(kWidestValue));
    // The form's place and size, unless the layout needs more (a larger application font): then
    // the layout's own size, so that no caption is cut either. The style sheet's border and
    // margin count.
    ui->groupBox->ensurePolished();
    ui->layoutWidget->resize(ui->layoutWidget->size().expandedTo(ui->gridLayout_2->sizeHint()));
}

Dialog::~Dialog() {
    if (m_thread != nullptr) {
        m_thread->stop();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
    delete ui;
}

void Dialog::on_btnOpenDevice_clicked() {
    if (m_thread != nullptr && m_thread->isRunning()) return;
    // A thread that ended on its own (the station did not open) goes before a new one starts.
    delete m_thread;
    m_thread = new CameraThread(this);
    connect(m_thread, &CameraThread::imageReady, this, &Dialog::updateImage);
    connect(m_thread, &CameraThread::shotImageReady, this, &Dialog::updateShotImage);
    m_thread->start();
    ui->btnOpenDevice->setEnabled(false);
    ui->btnCloseDevice->setEnabled(true);
}

void Dialog::on_btnCloseDevice_clicked() {
    if (m_thread == nullptr) return;
    m_thread->stop();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    ui->imageLabel0->clear();
    ui->imageLabel1->clear();
    ui->btnOpenDevice->setEnabled(true);
    ui->btnCloseDevice->setEnabled(false);
}

void Dialog::on_btnSaveImage_clicked() {
    // The library takes writable arrays.
    char folder[] = "Output";
    char sole[] = "shoe.jpg";
    char view1[] = "view1.jpg", view2[] = "view2.jpg", view3[] = "view3.jpg", view4[] = "view4.jpg";
    char* views[] = {view1, view2, view3, view4};
    char group[] = "view.jpg";
    FOOT_XD_INFO info{};
    const int result = Tarn_SaveXDImageEX(folder, sole, views, group, &info);
    if (result == 1) {
        QMessageBox::information(this, tr("提示"), tr("保存成功"));
        ui->labelFrontWidth->setText(QString::number(info.footFrontWidth));
        ui->labelBackWidth->setText(QString::number(info.footBackWidth));
        ui->labelFootlength->setText(QString::number(info.footLong));
        ui->labelScore->setText(QString::number(info.footScore));
    } else {
        qDebug() << "Tarn_SaveXDImageEX 函数调用失败，错误代码：" << result;
        QMessageBox::information(this, tr("提示"), tr("保存失败，错误代码：%1").arg(result));
    }
}

void Dialog::updateImage(QImage image) {
    Show(ui->imageLabel0, image);
}

void Dialog::updateShotImage(QImage image) {
    Show(ui->imageLabel1, image);
}
