// The capture dialog with the real libTarnlex.so on a machine without the station's cameras:
// Open reports that the station cannot be opened and the program goes on; Save writes the sole
// image of the empty plate (with its ruler) into Output/ and shows its measurements.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "camerathread.h"
#include "dialog.h"

namespace {

QMutex g_messagesMutex;
QStringList g_messages;

void Collect(QtMsgType, const QMessageLogContext&, const QString& message) {
    QMutexLocker lock(&g_messagesMutex);
    g_messages << message;
}

int CountMessages(const QString& text) {
    QMutexLocker lock(&g_messagesMutex);
    return static_cast<int>(g_messages.count(text));
}

}  // namespace

class DialogLibraryTest : public QObject {
    Q_OBJECT

  private slots:
    void withoutCamerasOpenFailsAndSaveWritesTheEmptyPlate() {
        qInstallMessageHandler(Collect);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir::setCurrent(dir.path()));
        Dialog dialog;
        dialog.show();
        auto* open = dialog.findChild<QPushButton*>("btnOpenDevice");
        auto* close = dialog.findChild<QPushButton*>("btnCloseDevice");
        auto* save = dialog.findChild<QPushButton*>("btnSaveImage");

        QTest::mouseClick(open, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(CountMessages("Failed to open camera"), 1, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.findChild<CameraThread*>()->isFinished(), 60000);
        QVERIFY(dialog.findChild<QLabel*>("imageLabel0")->pixmap().isNull());
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(open->isEnabled());

        QString text;
        QTimer::singleShot(10, [&text] {
            std::function<void()> answer = [&text, &answer] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr) {
                    QTimer::singleShot(10, answer);
                    return;
                }
                text = box->text();
                box->button(QMessageBox::Ok)->click();
            };
            answer();
        });
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(text, QString::fromUtf8("保存成功"));
        QCOMPARE(dialog.findChild<QLabel*>("labelScore")->text(), QString("-89"));
        QCOMPARE(dialog.findChild<QLabel*>("labelFootlength")->text(), QString("-342"));
        QCOMPARE(dialog.findChild<QLabel*>("labelFrontWidth")->text(), QString("-142"));
        QCOMPARE(dialog.findChild<QLabel*>("labelBackWidth")->text(), QString("-142"));
        const QImage shoe(dir.filePath("Output/shoe.jpg"));
        QCOMPARE(shoe.size(), QSize(1934, 4134));
        // The ruler strip, yellow, right of the impression (the program never changes the side).
        const QColor strip(shoe.pixel(1900, 2000));
        QVERIFY(strip.red() > 200 && strip.green() > 200 && strip.blue() < 60);
        QVERIFY(qGray(shoe.pixel(800, 2000)) < 30);
        QVERIFY(!QFile::exists(dir.filePath("Output/view1.jpg")));
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
    }
};

QTEST_MAIN(DialogLibraryTest)
#include "DialogLibraryTest.moc"
