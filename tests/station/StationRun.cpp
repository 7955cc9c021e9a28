// qv_station: the footprint station run on simulated cameras through the capture program's own
// dialog. The sole camera is the simulated mono IMX290 (1280x1024) behind the real libusb under
// umockdev, reached through the camera SDK's shared library; a synthetic foot walks on it heel
// first. The four upper cameras are scripted sources behind /dev/wcam1 to /dev/wcam4, each with
// a colour of its own. The program re-executes itself under the umockdev preload and inside a
// private network namespace. It
//   1. opens the dialog and clicks Open,
//   2. walks the foot on and waits for the contact shot and the mosaic,
//   3. after S seconds clicks Save in DIR, answers the message box and prints the four values,
//   4. writes a screenshot of the dialog as PNG,
//   5. clicks Close and ends,
// checking on the way that the previews and files are what the walk should give (exit status 1
// otherwise). Qt's offscreen platform is used unless a display is set.
//
//   qv_station --out DIR [--seconds S] [--screenshot FILE] [--no-time-limit]
//     DIR   the working folder: DIR/Output/ gets the saved images (default screenshot
//           DIR/pwcapture.png); the SDK's parameter files go to DIR/.home
//     S     how long the station runs from Open to Save (default 5; at least the walk)
//     --no-time-limit  the foot may stand as long as the machine needs (the station's
//           six-second limit on one foot is switched off: its clock stands still)
#include <umockdev.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "PW_Mosaic.h"
#include "QVCameraApi.h"
#include "ScriptedUpperCameras.h"
#include "SimHostSettings.h"
#include "SimSoleScene.h"
#include "SimUsbImx290Camera.h"
#include "camerathread.h"
#include "dialog.h"

namespace {

namespace fs = std::filesystem;
using Phase = CSimSoleScene::Phase;

struct Options {
    double seconds = 5;
    std::string out;
    std::string screenshot;
    bool noTimeLimit = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--no-time-limit") {
            o.noTimeLimit = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        if (a == "--seconds")
            o.seconds = std::atof(argv[++i]);
        else if (a == "--out")
            o.out = argv[++i];
        else if (a == "--screenshot")
            o.screenshot = argv[++i];
        else
            return false;
    }
    return !o.out.empty() && o.seconds >= 0;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "qv_station: %s\n", what.c_str());
    return 1;
}

// Runs the event loop until `condition` holds; false after `limitMs`.
bool WaitFor(const std::function<bool()>& condition, int limitMs = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

// Bright pixels of an upright sole image inside an area.
int Bright(const QImage& sole, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += sole.pixelIndex(x, y) > 127;
    return n;
}

// The station's clock with --no-time-limit.
std::chrono::steady_clock::time_point StandingClock() {
    return std::chrono::steady_clock::time_point{};
}

// The labels whose text does not fit their width: their names.
std::string ClippedLabels(const Dialog& dialog) {
    std::string clipped;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        if (label->contentsRect().width() < label->fontMetrics().horizontalAdvance(label->text()))
            clipped += " " + label->objectName().toStdString() + " (\"" +
                       label->text().toStdString() + "\")";
    }
    return clipped;
}

const QRect kForefoot(160, 210, 201, 381);
const QRect kHeel(190, 700, 141, 301);

// The upper cameras' files and links inside the umockdev testbed: the process sees the links as
// /dev/wcam1 to /dev/wcam4 and their targets as /dev/qv-upper/videoN.
void LinkUpperCameras(CSimUsbTestbed& testbed, CScriptedUpperCameras& upper) {
    gchar* root = umockdev_testbed_get_root_dir(testbed.Raw());
    const std::string dev = std::string(root) + "/dev";
    g_free(root);
    fs::create_directories(dev + "/qv-upper");
    for (int i = 1; i <= 4; ++i) {
        const std::string device = "/qv-upper/video" + std::to_string(i);
        std::ofstream(dev + device).put('\n');
        fs::create_symlink(dev + device, dev + "/wcam" + std::to_string(i));
        upper.Alias(i - 1, "/dev" + device);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: qv_station --out DIR [--seconds S] [--screenshot FILE] "
                     "[--no-time-limit]\n");
        return 2;
    }
    std::error_code ec;
    fs::create_directories(options.out, ec);
    const fs::path out = fs::absolute(options.out);
    if (options.screenshot.empty()) options.screenshot = (out / "pwcapture.png").string();
    options.screenshot = fs::absolute(options.screenshot).string();
    fs::remove_all(out / "Output", ec);
    // The SDK keeps the cameras' parameter files under HOME.
    fs::create_directories(out / ".home");
    setenv("HOME", (out / ".home").c_str(), 1);
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        fs::create_directories(out / ".runtime");
        fs::permissions(out / ".runtime", fs::perms::owner_all, ec);
        setenv("XDG_RUNTIME_DIR", (out / ".runtime").c_str(), 1);
    }

    // The simulated cameras, before the SDK's first call starts libusb.
    if (!qvsim::UseImx290Resolution(qvsim::CustomResolution(320, 28, 1280, 1024)))
        return Fail("cannot write the sole camera's parameter file");
    CSimUsbTestbed testbed;
    if (!CSimUsbTestbed::PreloadActive()) return Fail("not running under the umockdev preload");
    CSimSoleScene scene;
    SimImx290Options sole;
    sole.serial = "QV-SOLE-0001";
    sole.port = {1, 4};
    sole.fps = 15;
    sole.pattern = SimFramePattern::kCallback;
    sole.image = [&scene](uint64_t, uint8_t* image, uint32_t bytes) { scene.Render(image, bytes); };
    auto soleCamera = std::make_unique<CSimUsbImx290Camera>(testbed, sole);
    CScriptedUpperCameras upper;
    LinkUpperCameras(testbed, upper);
    // libusb learns of the camera from its hot-plug events.
    for (int tries = 0, count = 0; count != 1; ++tries) {
        if (tries == 500) return Fail("the SDK does not list the sole camera");
        CameraEnumerateDevice(&count);
        if (count != 1) usleep(20000);
    }

    QApplication application(argc, argv);
    if (chdir(out.c_str()) != 0) return Fail("cannot enter " + out.string());
    Dialog dialog;
    dialog.show();
    auto* open = dialog.findChild<QPushButton*>("btnOpenDevice");
    auto* save = dialog.findChild<QPushButton*>("btnSaveImage");
    auto* close = dialog.findChild<QPushButton*>("btnCloseDevice");

    // 1. Open, and follow the previews the polling thread hands to the dialog.
    open->click();
    QElapsedTimer running;
    running.start();
    auto* thread = dialog.findChild<CameraThread*>();
    QImage latest;
    bool shot = false;
    QObject::connect(thread, &CameraThread::imageReady, &dialog,
                     [&latest](QImage image) { latest = image; });
    QObject::connect(thread, &CameraThread::shotImageReady, &dialog,
                     [&shot](QImage) { shot = true; });
    if (!WaitFor([&] { return !latest.isNull() || thread->isFinished(); }))
        return Fail("no sole preview");
    if (thread->isFinished()) return Fail("the station did not open");
    if (options.noTimeLimit) MOSAIC_SetClock(StandingClock);

    // 2. The walk: heel (tried again after more empty frames should the station have learned the
    // plate with the heel on it), full contact, the heel lifting (the shot), toes, gone.
    bool heel = false;
    for (int attempt = 1; attempt <= 5 && !heel; ++attempt) {
        scene.SetPhase(Phase::kEmpty);
        const uint64_t from = soleCamera->Model().FramesCompleted();
        if (!WaitFor([&] { return soleCamera->Model().FramesCompleted() >= from + 10 * attempt; }))
            return Fail("the sole camera stopped");
        scene.SetPhase(Phase::kHeel);
        const uint64_t shown = soleCamera->Model().FramesCompleted();
        WaitFor([&] {
            return Bright(latest, kHeel) > 10000 ||
                   soleCamera->Model().FramesCompleted() > shown + 20 * attempt;
        });
        heel = Bright(latest, kHeel) > 10000;
    }
    if (!heel) return Fail("the heel never showed");
    scene.SetPhase(Phase::kFull);
    if (!WaitFor([&] { return Bright(latest, kForefoot) > 30000; }))
        return Fail("the forefoot never showed");
    scene.SetPhase(Phase::kRoll);
    if (!WaitFor([&] { return shot; })) return Fail("no contact shot");
    scene.SetPhase(Phase::kToe);
    uint64_t from = soleCamera->Model().FramesCompleted();
    WaitFor([&] { return soleCamera->Model().FramesCompleted() >= from + 3; });
    scene.SetPhase(Phase::kEmpty);
    from = soleCamera->Model().FramesCompleted();
    WaitFor([&] { return soleCamera->Model().FramesCompleted() >= from + 5; });
    WaitFor([&] { return running.elapsed() >= options.seconds * 1000; },
            static_cast<int>(options.seconds * 1000) + 1000);

    // 3. Save, answer the message box, print the values.
    QString answer;
    std::function<void()> answerBox = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            QTimer::singleShot(10, answerBox);
            return;
        }
        answer = box->text();
        box->button(QMessageBox::Ok)->click();
    };
    QTimer::singleShot(10, answerBox);
    save->click();
    auto text = [&dialog](const char* name) {
        return dialog.findChild<QLabel*>(name)->text().toStdString();
    };
    std::printf("score %s, length %s mm, front width %s mm, back width %s mm\n",
                text("labelScore").c_str(), text("labelFootlength").c_str(),
                text("labelFrontWidth").c_str(), text("labelBackWidth").c_str());
    std::fflush(stdout);
    // Whole from the layout the values were set in, before the events that follow a change.
    const std::string clippedAtOnce = ClippedLabels(dialog);

    // 4. The screenshot, once the events the new values brought have run.
    QCoreApplication::processEvents();
    const std::string clipped = ClippedLabels(dialog);
    const QImage screenshot = dialog.grab().toImage();
    if (!screenshot.save(QString::fromStdString(options.screenshot)))
        return Fail("cannot write " + options.screenshot);
    std::printf("screenshot: %s\nimages: %s\n", options.screenshot.c_str(),
                (out / "Output").c_str());

    // 5. Close.
    close->click();

    // What the run must have given.
    int failures = 0;
    auto check = [&failures](bool ok, const std::string& what) {
        if (!ok) {
            std::fprintf(stderr, "qv_station: %s\n", what.c_str());
            ++failures;
        }
    };
    check(answer == QString::fromUtf8("保存成功"), "the save answered " + answer.toStdString());
    check(clippedAtOnce.empty(), "labels cut short after the save:" + clippedAtOnce);
    check(clipped.empty(), "labels cut short in the screenshot:" + clipped);
    for (const char* name :
         {"shoe.jpg", "view1.jpg", "view2.jpg", "view3.jpg", "view4.jpg", "view.jpg"})
        check(fs::exists(out / "Output" / name), std::string(name) + " was not written");
    const qreal scale = screenshot.width() / 854.0;
    auto at = [&](int x, int y) { return QColor(screenshot.pixel(x * scale, y * scale)); };
    // The sole preview (label at 240,10, half size): the forefoot and the heel bright, the plate
    // between them dark.
    check(qGray(at(240 + 130, 10 + 200).rgb()) > 127, "the forefoot is not in the sole preview");
    check(qGray(at(240 + 130, 10 + 425).rgb()) > 127, "the heel is not in the sole preview");
    check(qGray(at(240 + 130, 10 + 322).rgb()) < 64, "the sole preview is not the foot");
    // The mosaic (label at 510,60): each camera's colour in the middle of its quarter.
    for (int i = 0; i < 4; ++i) {
        const cv::Scalar c = CScriptedUpperCameras::DefaultColour(i);
        const QColor expected(static_cast<int>(c[2]), static_cast<int>(c[1]),
                              static_cast<int>(c[0]));
        const QColor seen = at(510 + 80 + 160 * (i % 2), 60 + 45 + 90 * (i / 2));
        check(seen == expected, "quarter " + std::to_string(i) + " of the mosaic is " +
                                    seen.name().toStdString() + ", not " +
                                    expected.name().toStdString());
    }
    // The manager's list still holds the camera open: empty it before the device goes.
    int count = 0;
    CameraEnumerateDeviceEx(&count, 0);
    soleCamera.reset();
    return failures == 0 ? 0 : 1;
}
