#include "SimFrameGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

uint16_t SimBayerScene::Sample(uint32_t x, uint32_t y) const {
    const uint32_t cellX = x & ~1u;
    const double grey = 60.0 + 100.0 * cellX / std::max(width, 1u);
    const int site = y % 2 == 0 ? (x % 2 == 0 ? 1 : 0) : (x % 2 == 0 ? 2 : 1);
    const double v = std::min(grey * cast[site], 255.0);
    const auto level = static_cast<uint16_t>(std::lround(v));
    return sampleBytes == 2 ? static_cast<uint16_t>(level * 16 + ((x + y) & 15)) : level;
}

CSimFrameGenerator::CSimFrameGenerator(Clock::time_point epoch) : m_epoch(epoch), m_due(epoch) {}

void CSimFrameGenerator::SetFormat(const SimFrameFormat& format) {
    m_format = format;
}

void CSimFrameGenerator::Start(Clock::time_point now) {
    m_running = true;
    m_inFrame = false;
    m_released = 0;
    m_due = now;
}

void CSimFrameGenerator::Stop() {
    m_running = false;
    m_inFrame = false;
    m_released = 0;
}

void CSimFrameGenerator::MakeBayerScene() {
    const SimBayerScene& scene = m_current.bayerScene;
    if (!m_bayerScene.empty() && scene == m_bayerSceneMade &&
        m_bayerSceneBytes == m_current.imageBytes)
        return;
    m_bayerScene.assign(m_current.imageBytes, 0);
    const uint32_t samples = m_current.imageBytes / static_cast<uint32_t>(scene.sampleBytes);
    const uint32_t width = std::max(scene.width, 1u);
    for (uint32_t i = 0; i < samples; ++i) {
        const uint16_t v = scene.Sample(i % width, i / width);
        if (scene.sampleBytes == 2) {
            m_bayerScene[2 * i] = static_cast<uint8_t>(v);
            m_bayerScene[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        } else {
            m_bayerScene[i] = static_cast<uint8_t>(v);
        }
    }
    m_bayerSceneMade = scene;
    m_bayerSceneBytes = m_current.imageBytes;
}

void CSimFrameGenerator::BeginFrame(Clock::time_point now) {
    m_current = m_format;
    if (m_onFrameStart) m_onFrameStart(m_current);
    if (m_current.pattern == SimFramePattern::kScene) {
        for (uint32_t i = 0; i < kSceneSteps; ++i) {
            const double v =
                m_current.level * (0.75 + 0.5 * static_cast<double>(i) / (kSceneSteps - 1));
            m_scene[i] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    }
    if (m_current.pattern == SimFramePattern::kBayerScene) MakeBayerScene();
    m_inFrame = true;
    m_offset = 0;
    const uint32_t whole = m_current.imageBytes + (m_current.header ? 16u : 0u);
    m_total = whole - std::min(m_cutNext, whole - 1);
    m_cutNext = 0;
    Clock::time_point start = now;
    if (m_current.fps > 0) {
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / m_current.fps));
        // On time (or late by less than a period): the frame keeps its slot, so the rate does not
        // drift with the host's reading latency. A host that fell further behind gets the next
        // frame one period after this one, not a burst of the frames it missed.
        if (now - m_due <= period) start = m_due;
        m_due = start + period;
    } else {
        m_due = now;
    }
    const uint64_t stamp = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(start - m_epoch).count());
    for (int i = 0; i < 8; ++i) {
        m_header[i] = static_cast<uint8_t>(stamp >> (8 * i));
        m_header[8 + i] = static_cast<uint8_t>(m_frameNumber >> (8 * i));
    }
    if (m_current.pattern == SimFramePattern::kCallback) {
        m_image.assign(m_current.imageBytes, 0);
        if (m_current.image) m_current.image(m_frameNumber, m_image.data(), m_current.imageBytes);
    }
}

uint32_t CSimFrameGenerator::Produce(uint8_t* buf, uint32_t len, Clock::time_point now) {
    if (!m_running || len == 0) return 0;
    if (!m_inFrame) {
        if (now < m_due || (m_gated && m_released == 0)) return 0;
        if (m_gated) --m_released;
        BeginFrame(now);
    }
    const uint32_t n = std::min(len, m_total - m_offset);
    uint32_t done = 0;
    const uint32_t headerBytes = m_current.header ? 16u : 0u;
    if (m_offset < headerBytes) {
        done = std::min(n, headerBytes - m_offset);
        std::memcpy(buf, m_header + m_offset, done);
    }
    const uint32_t imageStart = m_offset + done - headerBytes;
    if (m_current.pattern == SimFramePattern::kConstant) {
        std::memset(buf + done, m_current.constant, n - done);
    } else if (m_current.pattern == SimFramePattern::kBayerScene) {
        std::memcpy(buf + done, m_bayerScene.data() + imageStart, n - done);
    } else if (m_current.pattern == SimFramePattern::kScene) {
        for (uint32_t i = done; i < n; ++i) buf[i] = m_scene[SceneStep(imageStart + (i - done))];
    } else if (m_current.pattern == SimFramePattern::kCallback) {
        // The bytes past the image (none in a whole frame) stay zero.
        const uint32_t want = n - done;
        const uint32_t have =
            imageStart < m_image.size() ? std::min<uint32_t>(want, m_image.size() - imageStart) : 0;
        if (have > 0) std::memcpy(buf + done, m_image.data() + imageStart, have);
        std::memset(buf + done + have, 0, want - have);
    } else {
        for (uint32_t i = done; i < n; ++i)
            buf[i] = RampByte(m_frameNumber, imageStart + (i - done));
    }
    m_offset += n;
    if (m_offset == m_total) {
        m_inFrame = false;
        ++m_frameNumber;
        ++m_framesCompleted;
    }
    return n;
}

std::optional<CSimFrameGenerator::Clock::time_point> CSimFrameGenerator::NextData(
    Clock::time_point now) const {
    if (!m_running) return std::nullopt;
    if (m_inFrame) return now;
    if (m_gated && m_released == 0) return std::nullopt;
    return std::max(m_due, now);
}
