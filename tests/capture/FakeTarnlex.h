// A fake of the station's six functions for the capture program's tests: results scripted by
// the test, arguments and calls recorded, a grey ramp as the sole preview (index x mod 256 at
// column x) and a mosaic with a red block at the top left and a blue block at the bottom right.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Tarnlex.h"

struct FakeTarnlex {
    using Clock = std::chrono::steady_clock;

    // The mosaic's blocks: 40x40 pixels at either corner; grey (128) elsewhere.
    static constexpr int kBlock = 40;

    static FakeTarnlex& Instance();
    // Back to the defaults: every call succeeds, previews answer 1, nothing recorded.
    void Reset();

    // Tarn_InitDevice waits while held.
    void HoldInit();
    void LetInit();
    bool WaitInitEntered(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits until Tarn_GetPreviewImage was called `calls` times in all.
    bool WaitPolls(size_t calls, std::chrono::milliseconds timeout = std::chrono::seconds(30));

    std::mutex mutex;  // guards everything below
    std::condition_variable changed;
    int initResult = 1;
    bool initHeld = false;
    int initCalls = 0;
    int releaseCalls = 0;
    std::deque<int> previewResults;  // answered in order; 1 once they are used up
    std::vector<Clock::time_point> previewCalls;
    int saveResult = 1;
    FOOT_XD_INFO saveInfo{};
    std::vector<std::string> saveArguments;  // folder, sole, four views, group
    bool saveInfoNull = false;
};
