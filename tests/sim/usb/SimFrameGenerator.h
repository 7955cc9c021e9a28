// The bulk frame source of the simulated USB camera: frames of a configured size and pattern,
// each behind a 16-byte header (timestamp in microseconds, frame number; little-endian), at a
// configured frame rate or as fast as the host reads.
//
// The host reads with bulk transfers of any length; a read never spans two frames, so the last
// read of a frame comes back short (a USB short packet), which is how a receiver finds the frame
// boundary again after a lost chunk. Time is passed in, so tests can drive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

enum class SimFramePattern : uint8_t {
    kRamp,      // SimFrameGenerator::RampByte of frame number and image offset
    kConstant,  // every image byte is SimFrameFormat::constant
    // A textured scene of mean brightness SimFrameFormat::level: each byte is the level times a
    // factor from 0.75 to 1.25 (SimFrameGenerator::SceneFactor of its offset), saturating at 255.
    kScene,
    kCallback,    // each frame's image comes from SimFrameFormat::image
    kBayerScene,  // a GRBG mosaic of a grey scene under a colour cast (SimBayerScene)
};

// A grey scene (a ramp of grey levels 60 to 160 from left to right, each 2 x 2 cell one level)
// as a colour sensor behind a GRBG filter sees it under a cast: every sample is the cell's grey
// level times the cast factor of its colour, at most 255. 12-bit frames carry the value in
// their top 8 bits.
struct SimBayerScene {
    uint32_t width = 320;              // samples per row
    int sampleBytes = 1;               // 1: "Bayer GRBG8"; 2: "Bayer GRBG12" in 16-bit words
    double cast[3] = {1.0, 1.0, 1.0};  // red, green, blue

    // The sample at (x, y).
    uint16_t Sample(uint32_t x, uint32_t y) const;
    bool operator==(const SimBayerScene&) const = default;
};

// Fills the image of frame `frameNumber` (`bytes` bytes, zero on entry), when it begins. Called
// on the thread that reads the camera.
using SimFrameImage = std::function<void(uint64_t frameNumber, uint8_t* image, uint32_t bytes)>;

struct SimFrameFormat {
    uint32_t imageBytes = 64 * 1024;  // image data per frame, without the header
    bool header = true;               // false for the boards that send no header
    double fps = 0;                   // 0: a frame is ready whenever the previous one is read
    SimFramePattern pattern = SimFramePattern::kRamp;
    uint8_t constant = 0;
    double level = 0;            // kScene
    SimFrameImage image{};       // for kCallback
    SimBayerScene bayerScene{};  // kBayerScene
};

class CSimFrameGenerator {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CSimFrameGenerator(Clock::time_point epoch);

    void SetFormat(const SimFrameFormat& format);  // applies from the next frame
    // Called as each frame begins with the format it is to have, which it may change (a sensor
    // model sets the scene's level from the exposure in force).
    void SetFrameStartHook(std::function<void(SimFrameFormat&)> hook) {
        m_onFrameStart = std::move(hook);
    }
    const SimFrameFormat& Format() const { return m_format; }

    // Stream start: the first frame is due at once. Stop drops the frame in progress.
    void Start(Clock::time_point now);
    void Stop();
    bool Running() const { return m_running; }

    // Copies up to len bytes of the current frame into buf; 0 when no frame is due yet or the
    // stream is stopped.
    uint32_t Produce(uint8_t* buf, uint32_t len, Clock::time_point now);
    // When Produce will next have data: now or later; nothing while stopped.
    std::optional<Clock::time_point> NextData(Clock::time_point now) const;

    // The next frame to begin ends `missing` bytes early (as if the camera's FIFO had dropped
    // them): its last read comes back short. It keeps its number; the one after it is whole.
    void CutNextFrame(uint32_t missing) { m_cutNext = missing; }

    // Triggered streaming: while gated no frame begins on its own; each Release lets that many
    // more begin (at the frame rate). Stop and Start drop the frames released but not begun.
    void SetGated(bool gated) { m_gated = gated; }
    bool Gated() const { return m_gated; }
    void Release(uint64_t frames) { m_released += frames; }
    uint64_t Released() const { return m_released; }

    // Header timestamps count microseconds from here.
    void ResetTimestamp(Clock::time_point now) { m_epoch = now; }

    uint64_t NextFrameNumber() const { return m_frameNumber; }
    uint64_t FramesCompleted() const { return m_framesCompleted; }
    uint32_t FrameBytes() const { return m_current.imageBytes + (m_current.header ? 16u : 0u); }

    // The image byte at `offset` of frame `frameNumber` in the ramp pattern: changes with every
    // byte and every frame, so a chunk at a wrong offset or of another frame shows.
    static uint8_t RampByte(uint64_t frameNumber, uint32_t offset) {
        return static_cast<uint8_t>(offset + (offset >> 8) + (offset >> 16) + frameNumber * 31);
    }
    // The texture of the scene pattern: 32 steps from 0.75 to 1.25, mean 1, spread along rows
    // and across them.
    static double SceneFactor(uint32_t offset) {
        return 0.75 + 0.5 * static_cast<double>(SceneStep(offset)) / (kSceneSteps - 1);
    }

  private:
    static constexpr uint32_t kSceneSteps = 32;
    static uint32_t SceneStep(uint32_t offset) {
        return ((offset >> 2) + (offset >> 9)) % kSceneSteps;
    }
    void BeginFrame(Clock::time_point now);
    // The image bytes of the Bayer scene pattern, made once per format.
    void MakeBayerScene();

    SimFrameFormat m_format;   // as set
    SimFrameFormat m_current;  // of the frame in progress
    Clock::time_point m_epoch;
    Clock::time_point m_due;  // when the next frame may begin
    bool m_running = false;
    bool m_inFrame = false;
    uint32_t m_offset = 0;  // bytes of the frame in progress already read
    uint32_t m_total = 0;   // bytes the frame in progress has
    uint32_t m_cutNext = 0;
    bool m_gated = false;
    uint64_t m_released = 0;  // frames that may still begin while gated
    uint8_t m_header[16] = {};
    std::vector<uint8_t> m_image;  // the frame in progress, for kCallback
    uint64_t m_frameNumber = 0;    // of the next frame to begin
    uint64_t m_framesCompleted = 0;
    std::function<void(SimFrameFormat&)> m_onFrameStart;
    uint8_t m_scene[kSceneSteps] = {};  // the bytes of the frame in progress, by texture step
    std::vector<uint8_t> m_bayerScene;  // image bytes of the Bayer scene pattern
    SimBayerScene m_bayerSceneMade{};
    uint32_t m_bayerSceneBytes = 0;
};
