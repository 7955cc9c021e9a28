// Producer-to-consumer hand-off through the frame pool: 6 buffers, 1, 2 or 4 consumers.
//
// The producer stamps each frame with the steady clock just before PutFullFrame; every consumer
// measures the time from that stamp to its GetFullFrame returning. Reported: p50/p99 hand-off
// latency (ns), delivered frames per second, and heap allocations per frame once warm.
//
// A blocked consumer's latency is mostly the kernel waking its thread, so two references run
// in the same program: a bare mutex + condition variable hand-off (the floor for any blocking
// wait on this machine), and the pool with a consumer that polls (timeout 0) and so measures
// the pool's own cost without the wake-up.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <thread>
#include <vector>

#include "frames/FrameBucket.h"
#include "support/AllocCounter.h"
#include "support/BenchStats.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void BM_FramePoolHandoff(benchmark::State& state) {
    const int consumers = static_cast<int>(state.range(0));
    const uint32_t frameBytes = static_cast<uint32_t>(state.range(1));
    const int waitMs = state.range(2) ? 0 : 50;  // 1: poll without blocking
    constexpr int kFramesPerIteration = 200;

    CFrameBucket bucket(6);
    CFrameBucketProducer* producer = bucket.GetProducer();
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> delivered{0};
    std::vector<std::vector<int64_t>> latencies(static_cast<size_t>(consumers));
    for (auto& l : latencies) l.reserve(1 << 20);

    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int c = 0; c < consumers; ++c) {
        threads.emplace_back([&, c] {
            CFrameBucketClient* client = bucket.CreateBucketClient();
            auto& mine = latencies[static_cast<size_t>(c)];
            ++ready;
            while (!stop.load(std::memory_order_relaxed)) {
                CFrameBufferShared frame;
                if (client->GetFullFrame(frame, waitMs) != 0) continue;
                const int64_t now = NowNs();
                int64_t stamp;
                std::memcpy(&stamp, frame->GetData(), sizeof stamp);
                if (mine.size() < mine.capacity()) mine.push_back(now - stamp);
                delivered.fetch_add(1, std::memory_order_relaxed);
                client->ReleaseFrame(frame);
            }
        });
    }
    while (ready.load() < consumers) std::this_thread::yield();

    // Warm-up: every buffer reaches its final size before allocations are counted.
    auto produce = [&] {
        CFrameBufferShared f = producer->GetEmptyFrame();
        if (!f) {
            producer->AddLostFrames(1);
            return;
        }
        f->Reserve(static_cast<int>(frameBytes), frameBytes);
        uint8_t* data = f->GetBuffer();
        data[frameBytes - 1] = 1;  // touch the frame like a receiver would
        f->SetFilledSize(static_cast<int>(frameBytes));
        const int64_t stamp = NowNs();
        std::memcpy(data, &stamp, sizeof stamp);
        producer->PutFullFrame(f);
    };
    for (int i = 0; i < 50; ++i) {
        produce();
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    for (auto& l : latencies) l.clear();

    const uint64_t allocBefore = qvbench::AllocationCount();
    const uint64_t deliveredBefore = delivered.load();
    const auto start = Clock::now();
    uint64_t produced = 0;
    for (auto _ : state) {
        for (int i = 0; i < kFramesPerIteration; ++i) {
            produce();
            ++produced;
            // Pace the producer like a camera: a frame every 100 us leaves the consumers time
            // to wake, so the figure is the hand-off latency, not queueing.
            const auto due = Clock::now() + std::chrono::microseconds(100);
            while (Clock::now() < due) {
            }
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const uint64_t allocations = qvbench::AllocationCount() - allocBefore;
    stop = true;
    for (auto& t : threads) t.join();

    std::vector<int64_t> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    auto pct = [&](double p) {
        return all.empty() ? 0.0
                           : static_cast<double>(all[static_cast<size_t>(p * (all.size() - 1))]);
    };
    state.counters["p50_ns"] = pct(0.50);
    state.counters["p99_ns"] = pct(0.99);
    state.counters["max_ns"] = all.empty() ? 0.0 : static_cast<double>(all.back());
    state.counters["frames_per_s"] =
        static_cast<double>(delivered.load() - deliveredBefore) / seconds / consumers;
    state.counters["allocs_per_frame"] = qvbench::PerFrame(allocations, produced);
}

BENCHMARK(BM_FramePoolHandoff)
    ->ArgNames({"consumers", "bytes", "poll"})
    ->ArgsProduct({{1, 2, 4}, {1280 * 1024, 5472 * 3648}, {0}})
    ->Args({1, 1280 * 1024, 1})
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor: one mutex + condition variable hand-off of a time stamp, paced like the pool runs.
void BM_CondvarHandoffBaseline(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable cv;
    int64_t stamp = 0;
    uint64_t sequence = 0;
    bool stop = false;
    std::vector<int64_t> latencies;
    latencies.reserve(1 << 20);
    std::thread consumer([&] {
        uint64_t seen = 0;
        std::unique_lock lock(mutex);
        for (;;) {
            cv.wait(lock, [&] { return sequence != seen || stop; });
            if (stop) break;
            seen = sequence;
            latencies.push_back(NowNs() - stamp);
        }
    });
    for (auto _ : state) {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard lock(mutex);
                stamp = NowNs();
                ++sequence;
            }
            cv.notify_all();
            const auto due = Clock::now() + std::chrono::microseconds(100);
            while (Clock::now() < due) {
            }
        }
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    cv.notify_all();
    consumer.join();
    std::sort(latencies.begin(), latencies.end());
    state.counters["p50_ns"] = static_cast<double>(latencies[latencies.size() / 2]);
    state.counters["p99_ns"] = static_cast<double>(latencies[latencies.size() * 99 / 100]);
}
BENCHMARK(BM_CondvarHandoffBaseline)->Iterations(50)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
