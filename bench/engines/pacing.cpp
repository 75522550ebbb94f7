// engine_bench --pacing: ten frames of one channel (H.264, 64x48) 96 ms apart in the recording,
// handed one by one to the DV engine's video thread as its parser hands them, at each speed from
// 1x to 16x. A round gives the spacing of the pictures from the third on (nothing is slept after
// the first, so the second follows at once): their median, the farthest from the step divided
// by the speed, and how many of the eight are within 8 ms and one frame's cost of it (a frame's
// cost: the same frames handed off at one time stamp, so never slept). Anchor: the same steps
// slept by a plain sleep on this thread and timed alike. Each figure at the min, median and max
// of the rounds, the engine and the anchor in turn, the order swapped every round.
#include "pacing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_common/bench_delegates.h"
#include "bench_common/bench_stats.h"
#include "common/mkrec_fixture.h"
#include "engines/dv_format_playback.h"
#include "engines/stream_clips.h"
#include "platform/log.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kStepUs = 96000;

// When each picture reached the delegate.
class TimingDelegate : public benchutil::QuietDelegate {
  public:
    void videoUpdateTaskWithChannel(unsigned, VideoImageRef, const uint8_t *, unsigned, bool, unsigned,
                                    const _SYSTEMTIME &) override {
        std::lock_guard<std::mutex> lock(mutex_);
        times_.push_back(Clock::now());
    }
    std::vector<Clock::time_point> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Clock::time_point> out;
        out.swap(times_);
        return out;
    }

  private:
    std::mutex mutex_;
    std::vector<Clock::time_point> times_;
};

struct Spacing {
    double median = 0, worst = 0, within = 0;
};

// The spacings from the third picture on, against the step.
Spacing measure(const std::vector<Clock::time_point> &times, double stepMs, double frameCostMs) {
    Spacing s;
    std::vector<double> gaps;
    for (size_t i = 2; i < times.size(); ++i)
        gaps.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    s.median = spread(gaps).median;
    for (double g : gaps) {
        s.worst = std::max(s.worst, std::abs(g - stepMs));
        s.within += std::abs(g - stepMs) <= 8.0 + frameCostMs;
    }
    return s;
}

// The frames at their time stamps 96 ms apart (or all at one, `flat`), handed off in turn.
bool handOff(DVFormatPlayback &engine, const std::vector<enginetest::Frame> &frames, bool flat) {
    if (!engine.initVideoDecoderWithThreadIndex(0, DECODER_CODEC_H264)) return false; // times afresh
    for (size_t i = 0; i < frames.size(); ++i) {
        const uint64_t t = 5000000ull + (flat ? 0 : i * kStepUs);
        engine.isIFrame = frames[i].key;
        if (!engine.handOffVideoFrame(
                DVVideoSelector::DV4H264,
                enginetest::dv4H264Record(frames[i].data, static_cast<uint32_t>(t / 1000000), t % 1000000)
                    .get()))
            return false;
    }
    return true;
}

struct Row {
    std::vector<double> median, worst, within;
    void add(const Spacing &s) {
        median.push_back(s.median);
        worst.push_back(s.worst);
        within.push_back(s.within);
    }
};

void printSpread(const std::vector<double> &v) {
    const Spread s = spread(v);
    std::printf("  %6.1f %6.1f %6.1f", s.min, s.median, s.max);
}

} // namespace

int dvPacing(int argc, char **argv) {
    const int rounds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 7;
    player_log_set_sink([](const std::string &) {});
    mkrec::TempDir dir;
    const std::string path = dir.file("p.h264");
    if (!enginetest::makeClip(path, 64, 48, 10, enginetest::x264Args(10))) {
        std::printf("cannot make the clip\n");
        return 1;
    }
    const std::vector<enginetest::Frame> frames = enginetest::readFrames(path);
    if (frames.size() != 10) {
        std::printf("the clip has %zu frames, not 10\n", frames.size());
        return 1;
    }

    dvFmtResetControlFlags();
    TimingDelegate delegate;
    DVFormatPlayback engine;
    engine.setAppDelg(&delegate);
    if (!engine.createDVFmtVideoPlaybackThread()) {
        std::printf("cannot start the video thread\n");
        return 1;
    }
    const int speeds = kDVFmtPlaybackMaxSpeed + 1;
    std::vector<Row> engineRows(speeds), anchorRows(speeds);
    std::vector<double> frameCost;
    for (int round = 0; round < rounds; ++round) {
        const auto c0 = Clock::now();
        if (!handOff(engine, frames, true)) return 1;
        frameCost.push_back(std::chrono::duration<double, std::milli>(Clock::now() - c0).count() /
                            frames.size());
        delegate.take();
        for (int speed = 0; speed < speeds; ++speed) {
            const double stepMs = (kStepUs >> speed) / 1000.0;
            const auto runEngine = [&] {
                gDVFmtPlaybackSpeed = speed;
                if (!handOff(engine, frames, false)) return false;
                engineRows[speed].add(measure(delegate.take(), stepMs, frameCost.back()));
                return true;
            };
            const auto runAnchor = [&] {
                std::vector<Clock::time_point> times;
                for (size_t i = 0; i < frames.size(); ++i) {
                    times.push_back(Clock::now());
                    if (i > 0) std::this_thread::sleep_for(std::chrono::microseconds(kStepUs >> speed));
                }
                anchorRows[speed].add(measure(times, stepMs, frameCost.back()));
            };
            if (round % 2 == 0) {
                if (!runEngine()) return 1;
                runAnchor();
            } else {
                runAnchor();
                if (!runEngine()) return 1;
            }
        }
    }
    engine.cancelAllThreads();
    dvFmtResetControlFlags();

    const Spread cost = spread(frameCost);
    std::printf("DV pacing: 10 frames of one channel 96 ms apart; spacings from the third picture on;\n"
                "%d rounds, min / median / max. One frame costs %.2f / %.2f / %.2f ms unslept.\n",
                rounds, cost.min, cost.median, cost.max);
    std::printf("%-5s %6s %-7s  %-20s  %-20s  %-20s\n", "speed", "step", "", "median spacing, ms",
                "farthest off, ms", "within 8 ms+cost, of 8");
    for (int speed = 0; speed < speeds; ++speed) {
        for (int side = 0; side < 2; ++side) {
            const Row &row = side == 0 ? engineRows[speed] : anchorRows[speed];
            if (side == 0)
                std::printf("%3dx  %6.1f %-7s", 1 << speed, (kStepUs >> speed) / 1000.0, "engine");
            else
                std::printf("%-5s %6s %-7s", "", "", "anchor");
            printSpread(row.median);
            printSpread(row.worst);
            printSpread(row.within);
            std::printf("\n");
        }
    }
    return 0;
}
