// The capture dialog and its polling thread against a fake of the station's six functions,
// under Qt's offscreen platform: the form, Open and Close with the buttons' states, an open that
// fails or is still blocking, the previews' formats, the polls after failures, Save with its
// arguments and answers, the destructor, and a screenshot with the previews in place.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QMutex>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <thread>

#include "FakeTarnlex.h"
#include "camerathread.h"
#include "dialog.h"

namespace {

QMutex g_messagesMutex;
QStringList g_messages;

void Collect(QtMsgType, const QMessageLogContext&, const QString& message) {
    QMutexLocker lock(&g_messagesMutex);
    g_messages << message;
}

QStringList Messages() {
    QMutexLocker lock(&g_messagesMutex);
    return g_messages;
}

int CountMessages(const QString& text) {
    return static_cast<int>(Messages().count(text));
}

// Answers the next message box with OK, after noting its title and text.
struct MessageBoxAnswer {
    QString title, text;
    bool seen = false;
};

void AnswerNextMessageBox(MessageBoxAnswer* answer) {
    QTimer::singleShot(10, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            AnswerNextMessageBox(answer);
            return;
        }
        answer->title = box->windowTitle();
        answer->text = box->text();
        answer->seen = true;
        box->button(QMessageBox::Ok)->click();
    });
}

}  // namespace

class DialogTest : public QObject {
    Q_OBJECT

  private:
    template <class T>
    T* Child(const char* name) {
        T* child = m_dialog->findChild<T*>(name);
        if (child == nullptr) qWarning() << "no child" << name;
        return child;
    }
    QPushButton* Open() { return Child<QPushButton>("btnOpenDevice"); }
    QPushButton* Close() { return Child<QPushButton>("btnCloseDevice"); }
    QPushButton* Save() { return Child<QPushButton>("btnSaveImage"); }
    QLabel* Sole() { return Child<QLabel>("imageLabel0"); }
    QLabel* Mosaic() { return Child<QLabel>("imageLabel1"); }

    Dialog* m_dialog = nullptr;

  private slots:
    void initTestCase() { qInstallMessageHandler(Collect); }

    void init() {
        FakeTarnlex::Instance().Reset();
        {
            QMutexLocker lock(&g_messagesMutex);
            g_messages.clear();
        }
        m_dialog = new Dialog;
        m_dialog->show();
    }

    void cleanup() {
        FakeTarnlex::Instance().LetInit();
        delete m_dialog;
        m_dialog = nullptr;
    }

    void initialForm() {
        QCOMPARE(m_dialog->windowTitle(), QString("PW Capture"));
        QCOMPARE(m_dialog->size(), QSize(854, 642));
        QCOMPARE(Sole()->geometry(), QRect(240, 10, 260, 600));
        QCOMPARE(Mosaic()->geometry(), QRect(510, 60, 320, 180));
        QCOMPARE(Child<QWidget>("layoutWidget")->geometry(), QRect(20, 20, 193, 364));
        for (QLabel* label : {Sole(), Mosaic()}) {
            QVERIFY(label->text().isEmpty());
            QVERIFY(label->hasScaledContents());
            QCOMPARE(label->frameShape(), QFrame::Panel);
            QCOMPARE(label->alignment(), Qt::AlignCenter);
            QCOMPARE(label->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
            QCOMPARE(label->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
        }
        const std::pair<QPushButton*, const char*> buttons[] = {
            {Open(), "初始化设备"}, {Save(), "保存图像"}, {Close(), "关闭设备"}};
        for (const auto& [button, text] : buttons) {
            QCOMPARE(button->text(), QString::fromUtf8(text));
            QVERIFY(button->isEnabled());
            QVERIFY(button->autoDefault());
            QCOMPARE(button->minimumSize(), QSize(150, 50));
            QCOMPARE(button->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        }
        const std::pair<const char*, const char*> labels[] = {
            {"label", "鞋底花纹评分："},         {"labelScore", "0"},
            {"label_2", "足长（毫米）:"},        {"labelFootlength", "0"},
            {"label_3", "前脚掌宽度（毫米）："}, {"labelFrontWidth", "0"},
            {"label_4", "后脚掌宽度（毫米）："}, {"labelBackWidth", "0"}};
        for (const auto& [name, text] : labels)
            QCOMPARE(Child<QLabel>(name)->text(), QString::fromUtf8(text));
        QCOMPARE(Child<QGroupBox>("groupBox")->title(), QString());
        QCOMPARE(Child<QGroupBox>("groupBox")->styleSheet(),
                 QString("QGroupBox {   border: 2px solid gray;   border-radius: 5px;   "
                         "margin-top: 1.5ex;}QGroupBox::title {   subcontrol-origin: margin;   "
                         "subcontrol-position: top left;   padding: 0 3px;}"));
    }

    void openShowsThePreviewsAndCloseClearsThem() {
        {
            std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
            FakeTarnlex::Instance().previewResults = {1, 2, 1, 1};
        }
        QTest::mouseClick(Open(), Qt::LeftButton);
        QVERIFY(!Open()->isEnabled());
        QVERIFY(Close()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!Sole()->pixmap().isNull(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!Mosaic()->pixmap().isNull(), 30000);
        // The mosaic keeps its colours: red top left, blue bottom right (1:1 in its label).
        const QImage mosaic = Mosaic()->pixmap().toImage();
        QCOMPARE(mosaic.size(), QSize(320, 180));
        QCOMPARE(QColor(mosaic.pixel(10, 10)), QColor(255, 0, 0));
        QCOMPARE(QColor(mosaic.pixel(310, 170)), QColor(0, 0, 255));
        // The sole preview at half size: the ramp runs left to right.
        const QImage sole = Sole()->pixmap().toImage();
        QCOMPARE(sole.size(), QSize(260, 600));
        QVERIFY(qGray(sole.pixel(10, 300)) < qGray(sole.pixel(100, 300)));

        QTest::mouseClick(Close(), Qt::LeftButton);
        QVERIFY(Sole()->pixmap().isNull());
        QVERIFY(Mosaic()->pixmap().isNull());
        QVERIFY(Open()->isEnabled());
        QVERIFY(!Close()->isEnabled());
        std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
        QCOMPARE(FakeTarnlex::Instance().initCalls, 1);
        QCOMPARE(FakeTarnlex::Instance().releaseCalls, 1);
    }

    void thePreviewsKeepTheirFormatsAndTheMosaicComesOnlyWithResult2() {
        {
            std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
            FakeTarnlex::Instance().previewResults = {1, 1, 2, 1, 1, 2, 1};
        }
        CameraThread thread;
        QSignalSpy images(&thread, &CameraThread::imageReady);
        QSignalSpy shots(&thread, &CameraThread::shotImageReady);
        thread.start();
        QVERIFY(FakeTarnlex::Instance().WaitPolls(8));
        thread.stop();
        QVERIFY(thread.wait(30000));
        QVERIFY(images.count() >= 7);
        QCOMPARE(shots.count(), 2);
        const QImage sole = images.first().first().value<QImage>();
        QCOMPARE(sole.format(), QImage::Format_Indexed8);
        QCOMPARE(sole.size(), QSize(520, 1200));
        QCOMPARE(sole.colorCount(), 256);
        for (int j = 0; j < 256; ++j) QCOMPARE(sole.color(j), 0xFF000000u + j * 0x010101u);
        for (int x : {0, 7, 255, 256, 519}) QCOMPARE(sole.pixelIndex(x, 600), x % 256);
        const QImage shot = shots.first().first().value<QImage>();
        QCOMPARE(shot.format(), QImage::Format_BGR888);
        QCOMPARE(shot.size(), QSize(320, 180));
        QCOMPARE(QColor(shot.pixel(0, 0)), QColor(255, 0, 0));
        QCOMPARE(QColor(shot.pixel(319, 179)), QColor(0, 0, 255));
        std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
        QCOMPARE(FakeTarnlex::Instance().releaseCalls, 1);
    }

    void failedPollsAreLoggedOnceAndPaced() {
        {
            std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
            FakeTarnlex::Instance().previewResults = {-1, -1, -1, -1, 1, -1, -1};
        }
        CameraThread thread;
        thread.start();
        QVERIFY(FakeTarnlex::Instance().WaitPolls(8));
        thread.stop();
        QVERIFY(thread.wait(30000));
        QCOMPARE(CountMessages("Failed to get preview image"), 2);
        std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
        const auto& calls = FakeTarnlex::Instance().previewCalls;
        for (size_t i = 1; i < 7; ++i)
            QVERIFY2(calls[i] - calls[i - 1] >= std::chrono::milliseconds(29),
                     "a failed poll was repeated without the pause");
    }

    void aFailedOpenLogsAndReleasesNothing() {
        {
            std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
            FakeTarnlex::Instance().initResult = -2;
        }
        QTest::mouseClick(Open(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(CountMessages("Failed to open camera"), 1, 30000);
        auto* thread = m_dialog->findChild<CameraThread*>();
        QVERIFY(thread != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(thread->isFinished(), 30000);
        QVERIFY(Sole()->pixmap().isNull());
        QVERIFY(Mosaic()->pixmap().isNull());
        QVERIFY(!Open()->isEnabled());
        QVERIFY(Close()->isEnabled());
        QTest::mouseClick(Close(), Qt::LeftButton);
        QVERIFY(Open()->isEnabled());
        std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
        QCOMPARE(FakeTarnlex::Instance().releaseCalls, 0);
        QCOMPARE(FakeTarnlex::Instance().previewCalls.size(), size_t{0});
    }

    void closeWhileTheOpenIsBlockingWaitsAndReleasesOnce() {
        FakeTarnlex::Instance().HoldInit();
        QTest::mouseClick(Open(), Qt::LeftButton);
        QVERIFY(FakeTarnlex::Instance().WaitInitEntered());
        auto* thread = m_dialog->findChild<CameraThread*>();
        QVERIFY(thread != nullptr);
        // Lets the open finish once Close has asked the thread to stop (Close then waits in
        // this thread, the GUI thread).
        std::thread letter([thread] {
            while (thread->running()) std::this_thread::yield();
            FakeTarnlex::Instance().LetInit();
        });
        QTest::mouseClick(Close(), Qt::LeftButton);
        letter.join();
        QVERIFY(Open()->isEnabled());
        std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
        QCOMPARE(FakeTarnlex::Instance().releaseCalls, 1);
    }

    void save_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("values");  // front, back, length, score
        QTest::newRow("success") << 1 << QString::fromUtf8("保存成功")
                                 << QStringList{"57", "40", "230", "73"};
        QTest::newRow("folder") << -7 << QString::fromUtf8("保存失败，错误代码：-7")
                                << QStringList{"0", "0", "0", "0"};
        QTest::newRow("not written")
            << -8 << QString::fromUtf8("保存失败，错误代码：-8") << QStringList{"0", "0", "0", "0"};
    }

    void save() {
        QFETCH(int, result);
        QFETCH(QString, text);
        QFETCH(QStringList, values);
        {
            std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
            FakeTarnlex::Instance().saveResult = result;
            FakeTarnlex::Instance().saveInfo = {73, 230, 57, 40};
        }
        MessageBoxAnswer answer;
        AnswerNextMessageBox(&answer);
        QTest::mouseClick(Save(), Qt::LeftButton);
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, QString::fromUtf8("提示"));
        QCOMPARE(answer.text, text);
        {
            std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
            QCOMPARE(FakeTarnlex::Instance().saveArguments,
                     (std::vector<std::string>{"Output", "shoe.jpg", "view1.jpg", "view2.jpg",
                                               "view3.jpg", "view4.jpg", "view.jpg"}));
            QVERIFY(!FakeTarnlex::Instance().saveInfoNull);
        }
        QCOMPARE(Child<QLabel>("labelFrontWidth")->text(), values[0]);
        QCOMPARE(Child<QLabel>("labelBackWidth")->text(), values[1]);
        QCOMPARE(Child<QLabel>("labelFootlength")->text(), values[2]);
        QCOMPARE(Child<QLabel>("labelScore")->text(), values[3]);
        if (result != 1)
            QCOMPARE(
                CountMessages(QString::fromUtf8("Tarn_SaveXDImageEX 函数调用失败，错误代码： ") +
                              QString::number(result)),
                1);
    }

    // Each value is whole as soon as Save has set it, before any event that follows; so are
    // the captions once the events have run. At an 11-point application font the panel takes
    // the size its layout needs, in the form's place.
    void theValuesAndCaptionsShowWhole_data() {
        QTest::addColumn<qreal>("pointSize");  // 0: the platform's own
        QTest::newRow("platform font") << 0.0;
        QTest::newRow("11 points") << 11.0;
    }

    void theValuesAndCaptionsShowWhole() {
        QFETCH(qreal, pointSize);
        struct FontBack {
            QFont font = QApplication::font();
            ~FontBack() { QApplication::setFont(font); }
        } fontBack;
        if (pointSize > 0) {
            QFont font = fontBack.font;
            font.setPointSizeF(pointSize);
            QApplication::setFont(font);
        }
        Dialog dialog;
        dialog.show();
        {
            std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
            // The widest values: those of the empty plate.
            FakeTarnlex::Instance().saveInfo = {-89, -342, -142, -142};
        }
        auto whole = [](const QLabel* label) {
            return label->contentsRect().width() >=
                   label->fontMetrics().horizontalAdvance(label->text());
        };
        MessageBoxAnswer answer;
        AnswerNextMessageBox(&answer);
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnSaveImage"), Qt::LeftButton);
        QVERIFY(answer.seen);
        for (const char* name :
             {"labelScore", "labelFootlength", "labelFrontWidth", "labelBackWidth"}) {
            const QLabel* value = dialog.findChild<QLabel*>(name);
            QVERIFY(value->text().startsWith('-'));
            QVERIFY2(whole(value), name);
        }
        QCoreApplication::processEvents();
        for (const QLabel* label :
             dialog.findChild<QGroupBox*>("groupBox")->findChildren<QLabel*>())
            QVERIFY2(whole(label), qPrintable(label->objectName()));
        const QRect panel = dialog.findChild<QWidget*>("layoutWidget")->geometry();
        QCOMPARE(panel.topLeft(), QPoint(20, 20));
        QVERIFY(panel.width() >= 193 && panel.height() >= 364);
        QVERIFY2(panel.right() < dialog.findChild<QLabel*>("imageLabel0")->x(),
                 "the panel reaches into the sole preview");
    }

    void theDestructorStopsTheThreadAndReleasesOnce() {
        QTest::mouseClick(Open(), Qt::LeftButton);
        QVERIFY(FakeTarnlex::Instance().WaitPolls(2));
        delete m_dialog;
        m_dialog = nullptr;
        std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
        QCOMPARE(FakeTarnlex::Instance().releaseCalls, 1);
    }

    void closeWithoutOpenAndASecondOpenAreHarmless() {
        QTest::mouseClick(Close(), Qt::LeftButton);
        QVERIFY(Open()->isEnabled());
        QTest::mouseClick(Open(), Qt::LeftButton);
        QTest::mouseClick(Open(), Qt::LeftButton);                        // disabled now
        QMetaObject::invokeMethod(m_dialog, "on_btnOpenDevice_clicked");  // while running
        QVERIFY(FakeTarnlex::Instance().WaitPolls(2));
        QCOMPARE(m_dialog->findChildren<CameraThread*>().size(), 1);
        std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
        QCOMPARE(FakeTarnlex::Instance().initCalls, 1);
    }

    void theScreenshotShowsThePreviewsWhereTheFormPutsThem() {
        {
            std::lock_guard<std::mutex> lock(FakeTarnlex::Instance().mutex);
            FakeTarnlex::Instance().previewResults = {2};
        }
        QTest::mouseClick(Open(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!Mosaic()->pixmap().isNull(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!Sole()->pixmap().isNull(), 30000);
        const QImage shot = m_dialog->grab().toImage();
        QTemporaryDir dir;
        QVERIFY(shot.save(dir.filePath("pwcapture.png")));
        QCOMPARE(QImage(dir.filePath("pwcapture.png")).size(), shot.size());
        const qreal scale = shot.width() / 854.0;
        auto at = [&](int x, int y) { return QColor(shot.pixel(x * scale, y * scale)); };
        QCOMPARE(at(510 + 10, 60 + 10), QColor(255, 0, 0));
        QCOMPARE(at(510 + 310, 60 + 170), QColor(0, 0, 255));
        QCOMPARE(at(510 + 160, 60 + 90), QColor(128, 128, 128));
        // The sole preview: dark at the left of its label, brighter to the right.
        QVERIFY(qGray(at(240 + 5, 300).rgb()) < 30);
        QVERIFY(qGray(at(240 + 120, 300).rgb()) > 200);
    }
};

QTEST_MAIN(DialogTest)
#include "DialogTest.moc"
