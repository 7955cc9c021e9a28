// The foot accumulator on synthetic 520x1200 frames: what counts as a foot, the impression as a
// per-pixel maximum, the relearning of the empty plate and the six-second limit, plus the
// lifecycle and refusals. Each test runs in a process of its own (the accumulator's state is
// process-wide); the seconds of a foot are read from a clock the test moves on.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "OwnProcess.h"
#include "PW_Mosaic.h"
#include "StdStreamCapture.h"

namespace {

using qvstation::RunInOwnProcess;

constexpr int kW = 520;
constexpr int kH = 1200;
// Counting window for 520x1200: columns 52 to 467, rows 30 to 1169.

struct Block {
    cv::Rect rect;
    int value;
};

struct Frame {
    int base = 0;
    std::vector<Block> blocks;
};

struct Probe {
    int x, y, value;
};

struct Step {
    double secondsBefore;  // how far the clock moves on before the frame
    Frame frame;
    int expect;
    std::vector<Probe> out;  // pixels of the caller's output after the frame
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    int timerMessages;  // "Timer expired  times" lines expected on standard output
};

// 1500 changed pixels, and a single one more.
const cv::Rect kBlock1500(100, 100, 50, 30);
const cv::Rect kOneMore(300, 300, 1, 1);
// Two large regions (2000 pixels each) for feet.
const cv::Rect kA(100, 200, 40, 50);
const cv::Rect kB(300, 700, 40, 50);
const cv::Rect kC50(200, 1000, 50, 1);
const cv::Rect kC49(200, 1000, 49, 1);

std::vector<uint8_t> Render(const Frame& f) {
    cv::Mat image(kH, kW, CV_8UC1, cv::Scalar(f.base));
    for (const Block& b : f.blocks) image(b.rect).setTo(cv::Scalar(b.value));
    return std::vector<uint8_t>(image.data, image.data + image.total());
}

Step Quiet(int base, double seconds = 0) {
    return {seconds, {base, {}}, 0, {}};
}

// The accumulator's clock in these tests: it stands still until a test moves it on.
std::chrono::steady_clock::time_point g_now{std::chrono::hours(1)};

std::chrono::steady_clock::time_point TestClock() {
    return g_now;
}

void UseTestClock() {
    MOSAIC_SetClock(TestClock);
}

void MoveOn(std::chrono::steady_clock::duration d) {
    g_now += d;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    cases.push_back({"a brightening of 28 does not count, 29 does",
                     {Quiet(100),
                      {0, {100, {{kBlock1500, 128}, {kOneMore, 128}}}, 0, {}},
                      {0,
                       {100, {{kBlock1500, 129}, {kOneMore, 129}}},
                       1,
                       {{110, 110, 29}, {300, 300, 29}, {10, 10, 0}, {400, 900, 0}}}},
                     0});
    cases.push_back({"1500 changed pixels are no foot, 1501 are",
                     {Quiet(100),
                      {0, {100, {{kBlock1500, 200}}}, 0, {}},
                      {0, {100, {{kBlock1500, 200}, {kOneMore, 200}}}, 1, {{110, 110, 100}}}},
                     0});
    // The first frame after initialisation is the background, and the output turns black.
    cases.push_back({"pixels outside the window are ignored",
                     {{0, {100, {}}, 0, {{0, 0, 0}, {260, 600, 0}}},
                      {0, {100, {{kBlock1500, 200}, {{51, 500, 1, 1}, 200}}}, 0, {}},
                      {0, {100, {{kBlock1500, 200}, {{468, 500, 1, 1}, 200}}}, 0, {}},
                      {0, {100, {{kBlock1500, 200}, {{300, 29, 1, 1}, 200}}}, 0, {}},
                      {0, {100, {{kBlock1500, 200}, {{300, 1170, 1, 1}, 200}}}, 0, {}},
                      {0, {100, {{kBlock1500, 200}, {{52, 30, 1, 1}, 200}}}, 1, {}}},
                     0});
    cases.push_back(
        {"a background of 200 and a frame of 0 count nothing",
         {Quiet(200),
          {0, {0, {}}, 0, {}},
          {0, {0, {{kA, 229}}}, 1, {{kA.x + 5, kA.y + 5, 29}, {260, 600, 0}, {10, 10, 0}}}},
         0});
    cases.push_back(
        {"the impression is the per-pixel maximum and survives the empty plate",
         {Quiet(10),
          {0, {10, {{kA, 110}}}, 1, {{kA.x, kA.y, 100}, {kB.x, kB.y, 0}}},
          {0, {10, {{kA, 40}, {kB, 70}}}, 1, {{kA.x, kA.y, 100}, {kB.x, kB.y, 60}, {10, 10, 0}}},
          {0, {10, {}}, 0, {{kA.x, kA.y, 100}, {kB.x, kB.y, 60}}}},
         0});
    // The frame that learns the background is the first quiet one.
    {
        std::vector<Step> s = {Quiet(0), {0, {0, {{kA, 100}}}, 1, {{kA.x, kA.y, 100}}}};
        for (int i = 0; i < 6; ++i) s.push_back(Quiet(20));
        s.push_back({0,
                     {20, {{kB, 60}}},
                     1,
                     {{kA.x, kA.y, 0}, {kB.x, kB.y, 40}, {10, 10, 0}, {260, 600, 0}}});
        cases.push_back(
            {"seven quiet frames relearn the background and clear the impression", s, 0});
    }
    {
        std::vector<Step> s = {
            Quiet(0), {0, {0, {{{100, 100, 10, 10}, 100}}}, 0, {}}, {0, {0, {{kA, 100}}}, 1, {}}};
        for (int i = 0; i < 6; ++i) s.push_back(Quiet(20));
        s.push_back(
            {0, {20, {{kB, 60}}}, 1, {{kA.x, kA.y, 100}, {kB.x, kB.y, 60}, {260, 600, 20}}});
        cases.push_back({"six quiet frames keep the background", s, 0});
    }
    for (const bool restart : {true, false}) {
        std::vector<Step> s = {Quiet(0), {0, {0, {{kA, 100}}}, 1, {}}};
        for (int i = 0; i < 5; ++i) s.push_back(Quiet(0));
        s.push_back({0, {0, {{restart ? kC50 : kC49, 100}}}, 0, {}});
        s.push_back(Quiet(0));
        s.push_back({0, {0, {{kB, 60}}}, 1, {{kA.x, kA.y, restart ? 100 : 0}, {kB.x, kB.y, 60}}});
        cases.push_back({restart ? "a growth of 50 changed pixels restarts the quiet count"
                                 : "a growth of 49 changed pixels is quiet",
                         s, 0});
    }
    cases.push_back({"six seconds with a foot reset the accumulation",
                     {Quiet(0),
                      {0, {0, {{kA, 100}}}, 1, {}},
                      {5, {0, {{kA, 100}}}, 1, {{kA.x, kA.y, 100}}},
                      {1, {0, {{kA, 120}}}, -2, {{kA.x, kA.y, 0}, {10, 10, 0}}},
                      // The next frame learns the plate with the foot on it ...
                      {0, {0, {{kA, 120}}}, 0, {{kA.x, kA.y, 0}}},
                      // ... so a foot that keeps standing adds only what brightens further.
                      {0, {0, {{kA, 150}}}, 1, {{kA.x, kA.y, 30}}}},
                     1});
    // Six seconds from the foot's first frame, to the millisecond.
    cases.push_back({"the reset comes when six seconds are full",
                     {Quiet(0, 0.5),
                      {0.25, {0, {{kA, 100}}}, 1, {}},
                      {5.999, {0, {{kA, 100}}}, 1, {{kA.x, kA.y, 100}}},
                      {0.001, {0, {{kA, 100}}}, -2, {{kA.x, kA.y, 0}}}},
                     1});
    cases.push_back({"seconds without a foot are not counted",
                     {Quiet(0, 10), {0, {0, {{kA, 100}}}, 1, {}}, {5, {0, {{kA, 100}}}, 1, {}}},
                     0});
    cases.push_back({"a foot that leaves within five seconds clears the count",
                     {Quiet(0),
                      {0, {0, {{kA, 100}}}, 1, {}},
                      {5, {0, {}}, 0, {}},
                      {0, {0, {{kA, 100}}}, 1, {}},
                      {5, {0, {{kA, 100}}}, 1, {}}},
                     0});
    // The sixth second passes between the last frame with the foot and the first without it.
    cases.push_back({"a sixth second after the foot left does not reset the next foot",
                     {Quiet(0),
                      {0, {0, {{kA, 100}}}, 1, {}},
                      {6, {0, {}}, 0, {}},
                      {0, {0, {{kB, 100}}}, 1, {{kB.x, kB.y, 100}}}},
                     0});
    return cases;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class MosaicSequence : public ::testing::TestWithParam<Case> {};

TEST_P(MosaicSequence, GivesTheResultsAndImpression) {
    const Case& c = GetParam();
    RunInOwnProcess([&] {
        CStdStreamCapture capture;
        UseTestClock();
        ASSERT_EQ(MOSAIC_Init(kW, kH), 1);
        std::vector<uint8_t> out(static_cast<size_t>(kW) * kH, 0xAB);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            MoveOn(std::chrono::round<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(step.secondsBefore)));
            std::vector<uint8_t> in = Render(step.frame);
            EXPECT_EQ(MOSAIC_DoMosaic(in.data(), out.data(), kW, kH), step.expect) << "frame " << i;
            for (const Probe& p : step.out)
                EXPECT_EQ(out[static_cast<size_t>(p.y) * kW + p.x], p.value)
                    << "frame " << i << " at (" << p.x << ", " << p.y << ")";
        }
        capture.Stop();
        int messages = 0;
        const std::string text = capture.Out();
        for (size_t at = 0; (at = text.find("Timer expired  times\n", at)) != std::string::npos;
             ++at)
            ++messages;
        EXPECT_EQ(messages, c.timerMessages);
        EXPECT_EQ(MOSAIC_Close(), 1);
    });
}

INSTANTIATE_TEST_SUITE_P(Frames, MosaicSequence, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST(Mosaic, TheImpressionIsAnOutputOnlyWhileAFootIsPresent) {
    RunInOwnProcess([] {
        UseTestClock();
        ASSERT_EQ(MOSAIC_Init(kW, kH), 1);
        std::vector<uint8_t> out(static_cast<size_t>(kW) * kH, 0xAB);
        std::vector<uint8_t> in = Render({0, {}});
        EXPECT_EQ(MOSAIC_DoMosaic(in.data(), out.data(), kW, kH), 0);
        EXPECT_EQ(cv::countNonZero(cv::Mat(kH, kW, CV_8UC1, out.data())), 0);
        std::fill(out.begin(), out.end(), 0xAB);
        EXPECT_EQ(MOSAIC_DoMosaic(in.data(), out.data(), kW, kH), 0);
        EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xAB)) << "a quiet frame wrote the output";
    });
}

// The process's SIGALRM and its real-time interval timer belong to the host: the accumulator
// counts its seconds without them.
void HostAlarm(int) {}

TEST(Mosaic, LeavesTheHostsSignalHandlerAndIntervalTimerAlone) {
    RunInOwnProcess([] {
        struct sigaction host {};
        host.sa_handler = HostAlarm;
        sigemptyset(&host.sa_mask);
        host.sa_flags = SA_RESTART;
        ASSERT_EQ(sigaction(SIGALRM, &host, nullptr), 0);
        // Long enough never to expire during the test.
        const itimerval timer{{500, 250000}, {1000, 0}};
        ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
        auto expectTheHosts = [](const char* when) {
            SCOPED_TRACE(when);
            struct sigaction now {};
            ASSERT_EQ(sigaction(SIGALRM, nullptr, &now), 0);
            EXPECT_EQ(now.sa_handler, &HostAlarm);
            EXPECT_EQ(now.sa_flags & SA_RESTART, SA_RESTART);
            itimerval left{};
            ASSERT_EQ(getitimer(ITIMER_REAL, &left), 0);
            EXPECT_EQ(left.it_interval.tv_sec, 500);
            EXPECT_EQ(left.it_interval.tv_usec, 250000);
            EXPECT_GT(left.it_value.tv_sec, 900);
        };
        ASSERT_EQ(MOSAIC_Init(kW, kH), 1);
        expectTheHosts("initialised");
        std::vector<uint8_t> in(static_cast<size_t>(kW) * kH, 7), out(in.size());
        EXPECT_EQ(MOSAIC_DoMosaic(in.data(), out.data(), kW, kH), 0);
        expectTheHosts("after a frame");
        EXPECT_EQ(MOSAIC_Close(), 1);
        expectTheHosts("closed");
        ASSERT_EQ(MOSAIC_Init(kW, kH), 1);
        expectTheHosts("initialised again");
        EXPECT_EQ(MOSAIC_Close(), 1);
    });
}

TEST(Mosaic, LifecycleAndRefusals) {
    RunInOwnProcess([] {
        std::vector<uint8_t> in(static_cast<size_t>(kW) * kH, 7);
        std::vector<uint8_t> out(in.size(), 0xAB);
        EXPECT_EQ(MOSAIC_DoMosaic(in.data(), out.data(), kW, kH), -1) << "before init";
        EXPECT_EQ(MOSAIC_Close(), -1) << "before init";

        UseTestClock();
        ASSERT_EQ(MOSAIC_Init(kW, kH), 1);
        EXPECT_EQ(MOSAIC_Init(100, 100), 1) << "a second init keeps the first size";
        EXPECT_EQ(MOSAIC_DoMosaic(in.data(), nullptr, kW, kH), -1);
        EXPECT_EQ(MOSAIC_DoMosaic(nullptr, out.data(), kW, kH), -1);
        std::vector<uint8_t> small(100 * 100, 7);
        std::vector<uint8_t> smallOut(small.size(), 0xAB);
        EXPECT_EQ(MOSAIC_DoMosaic(small.data(), smallOut.data(), 100, 100), -1);
        EXPECT_EQ(smallOut, std::vector<uint8_t>(small.size(), 0xAB));
        std::vector<uint8_t> big(static_cast<size_t>(kW) * (kH + 1), 7);
        EXPECT_EQ(MOSAIC_DoMosaic(big.data(), big.data(), kW, kH + 1), -1);
        EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xAB));

        // The refused calls touched nothing: this is still the first frame, which is learned.
        EXPECT_EQ(MOSAIC_DoMosaic(in.data(), out.data(), kW, kH), 0);
        EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0));

        EXPECT_EQ(MOSAIC_Close(), 1);
        EXPECT_EQ(MOSAIC_Close(), -1);
        EXPECT_EQ(MOSAIC_DoMosaic(in.data(), out.data(), kW, kH), -1);

        // After a close, an init of another size takes the new size.
        ASSERT_EQ(MOSAIC_Init(100, 100), 1);
        EXPECT_EQ(MOSAIC_DoMosaic(small.data(), smallOut.data(), 100, 100), 0);
        EXPECT_EQ(MOSAIC_DoMosaic(in.data(), out.data(), kW, kH), -1);
        EXPECT_EQ(MOSAIC_Close(), 1);
    });
}

TEST(Mosaic, MarginsFollowTheImageShape) {
    // 1501 changed pixels (79 x 19) at the window's top-left corner are a foot; one row and one
    // column further out, 1404 of them are inside and they are not.
    struct Shape {
        int w, h, th1, th2;
    };
    for (const Shape& shape : {Shape{400, 400, 40, 10}, Shape{1200, 520, 30, 52}}) {
        SCOPED_TRACE(std::to_string(shape.w) + "x" + std::to_string(shape.h));
        RunInOwnProcess([&] {
            UseTestClock();
            ASSERT_EQ(MOSAIC_Init(shape.w, shape.h), 1);
            cv::Mat bg(shape.h, shape.w, CV_8UC1, cv::Scalar(0));
            std::vector<uint8_t> out(bg.total());
            EXPECT_EQ(MOSAIC_DoMosaic(bg.data, out.data(), shape.w, shape.h), 0);
            cv::Mat foot = bg.clone();
            foot(cv::Rect(shape.th1, shape.th2, 79, 19)).setTo(cv::Scalar(100));
            EXPECT_EQ(MOSAIC_DoMosaic(foot.data, out.data(), shape.w, shape.h), 1);
            cv::Mat shifted = bg.clone();
            shifted(cv::Rect(shape.th1 - 1, shape.th2 - 1, 79, 19)).setTo(cv::Scalar(100));
            EXPECT_EQ(MOSAIC_DoMosaic(shifted.data, out.data(), shape.w, shape.h), 0);
            EXPECT_EQ(MOSAIC_Close(), 1);
        });
    }
}

}  // namespace
