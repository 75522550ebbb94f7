// The DV engine, unpaced, against plain ffmpeg on the same streams, in the same run:
//   - whole-engine throughput (parser, hand-offs, decoding to RGBA, pictures to a counting
//     delegate) on generated DV5 recordings: 1080p H.264 with 1 and 4 channels, D1 with 16;
//     ffmpeg decodes each channel's stream with
//     "-threads 2 -thread_type slice -vf scale=flags=fast_bilinear,format=rgba -f null -";
//   - parse-only throughput of the unit scanner (no decoding) in MB/s.
// Usage: dv_engine_bench [frames per channel]   (default 60)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/mkrec_fixture.h"
#include "engines/dv_format_playback.h"
#include "engines/dv_stream_parser.h"
#include "engines/headless_delegate.h"
#include "platform/log.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Counts what arrives; everything else is answered and forgotten.
class CountingDelegate : public enginetest::HeadlessDelegate {
  public:
    std::atomic<uint64_t> frames{0};
    void videoUpdateTaskWithChannel(unsigned, VideoImageRef, const uint8_t *, unsigned, bool, unsigned,
                                    const _SYSTEMTIME &) override {
        ++frames;
    }
    void audioUpdateTaskWithBuffer(const uint8_t *, unsigned, int, unsigned) override {}
    void updateProcessingInfoWithServerTime(const std::string &, float) override {}
    void upadatePlaybackProgress(float) override {}
    void setDeinterlaceEnableBtnEnabled(bool) override {}
    void setImageRealWidth(int) override {}
    void setImageRealHeight(int) override {}
};

// A host for the scanner alone: hand-offs are accepted and dropped.
class NullHost : public DVParserHost {
  public:
    uint64_t handOffs = 0;
    void setKeyFrameMark(bool k) override { key_ = k; }
    bool keyFrameMark() const override { return key_; }
    void prepareVideoDecoder(int, int) override {}
    bool audioFormatAnnounced(int) const override { return true; }
    void setAudioFormat(int, int) override {}
    bool handOffVideo(DVVideoSelector, const void *) override {
        ++handOffs;
        return true;
    }
    bool handOffAudio(DVAudioSelector, const void *) override {
        ++handOffs;
        return true;
    }
    _SYSTEMTIME frameTime() const override { return {}; }
    void resetStreams() override {}
    void postProgress(float) override {}
    void pause(std::chrono::microseconds) override {}
    void waitForRequest() override { gDVFmtPlaybackKeepRunning = 1; }

  private:
    bool key_ = false;
};

struct Timing {
    uint64_t frames = 0;
    double seconds = 0;
    double fps() const { return seconds > 0 ? static_cast<double>(frames) / seconds : 0; }
};

// The whole engine, from start to the end notice.
Timing runEngine(const std::string &path, int codec, bool dvr700) {
    dvFmtResetControlFlags();
    CountingDelegate delegate;
    delegate.filePath = path;
    enginetest::QueuePoster poster;
    Timing t;
    {
        DVFormatPlayback engine;
        engine.setAppDelg(&delegate);
        engine.setMainThreadPoster(&poster);
        engine.setPacer([](std::chrono::microseconds) {});
        engine.setDvFmtVideoCodec(codec);
        engine.setIsDVRType700(dvr700);
        engine.resetAVStreamType();
        engine.createDVFmtVideoPlaybackThread();
        engine.createDVFmtAudioPlaybackThread();
        const auto t0 = Clock::now();
        engine.createDVFmtParserThread();
        while (delegate.dvEndNotices.load() == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        t.seconds = secondsSince(t0);
        t.frames = delegate.frames.load();
        gDVFmtPlaybackParserThreadForceExit = 1;
        gDVFmtPlaybackKeepRunning = 1;
        while (gDVFmtPlaybackParserThreadForceExit.load())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        engine.cancelAllThreads();
    }
    poster.drain();
    dvFmtResetControlFlags();
    return t;
}

// ffmpeg on one stream; its own measure of the decoding time ("-benchmark" rtime).
Timing runFfmpeg(const std::string &stream, const std::string &dir) {
    const std::string log = dir + "/ffmpeg.log";
    const int status = mkrec::runProgram({"ffmpeg", "-nostdin", "-hide_banner", "-benchmark", "-threads", "2",
                                          "-thread_type", "slice", "-i", stream, "-vf",
                                          "scale=flags=fast_bilinear,format=rgba", "-f", "null", "-"},
                                         log);
    Timing t;
    if (status != 0) return t;
    const std::string text = mkrec::readText(log);
    const size_t rtime = text.rfind("rtime=");
    const size_t frame = text.rfind("frame=");
    if (rtime == std::string::npos || frame == std::string::npos) return t;
    t.seconds = std::strtod(text.c_str() + rtime + 6, nullptr);
    t.frames = std::strtoull(text.c_str() + text.find_first_not_of(' ', frame + 6), nullptr, 10);
    return t;
}

// The scanner over the whole file, hand-offs dropped. Best of three, in MB/s.
double parseOnly(const std::string &path, DVVariant variant, uint64_t *handOffs) {
    double best = 0;
    for (int rep = 0; rep < 3; ++rep) {
        dvFmtResetControlFlags();
        enginetest::HeadlessDelegate delegate;
        NullHost host;
        DataFeedController window;
        if (!window.initDataFeedControllerWith(path)) return 0;
        const uint64_t size = window.fileSize();
        DVStreamParser parser(variant, window, host, &delegate);
        const auto t0 = Clock::now();
        parser.run(true);
        const double s = secondsSince(t0);
        best = std::max(best, static_cast<double>(size) / 1e6 / s);
        *handOffs = host.handOffs;
    }
    dvFmtResetControlFlags();
    return best;
}

} // namespace

int main(int argc, char **argv) {
    const std::string frames = argc > 1 ? argv[1] : "60";
    player_log_set_sink([](const std::string &) {});
    mkrec::TempDir dir;
    struct Case {
        const char *name;
        std::vector<std::string> args;
        int channels;
    } cases[] = {
        {"DV5 1080p H.264, 1 channel", {"--size", "1920x1080", "--video-mask", "0x1"}, 1},
        {"DV5 1080p H.264, 4 channels", {"--size", "1920x1080", "--video-mask", "0xf"}, 4},
        {"DV5 D1 H.264, 16 channels", {"--size", "704x576", "--video-mask", "0xffff"}, 16},
    };
    std::printf("%-30s %8s %12s %12s %8s\n", "recording", "frames", "engine fps", "ffmpeg fps", "ratio");
    int n = 0;
    for (const Case &c : cases) {
        const std::string es = dir.file("es" + std::to_string(n));
        std::vector<std::string> args{"--kind", "dv5-nvr", "--frames", frames, "--gop", "25", "--audio-mask", "0",
                                      "--es-dir", es};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const mkrec::Recording rec = mkrec::make(dir, "r" + std::to_string(n++) + ".dv5", args);
        if (!rec.ok()) {
            std::printf("%-30s mkrec failed: %s\n", c.name, rec.output.c_str());
            continue;
        }
        Timing ours, theirs;
        for (int rep = 0; rep < 3; ++rep) { // best of three, alternating
            const Timing o = runEngine(rec.path, kDVFmtDV5, false);
            if (rep == 0 || o.seconds < ours.seconds) ours = o;
            Timing f;
            for (int ch = 0; ch < c.channels; ++ch) {
                const Timing one = runFfmpeg(es + "/video-ch" + std::to_string(ch) + ".h264", dir.path());
                f.frames += one.frames;
                f.seconds += one.seconds;
            }
            if (rep == 0 || f.seconds < theirs.seconds) theirs = f;
        }
        std::printf("%-30s %8llu %12.1f %12.1f %8.2f\n", c.name, static_cast<unsigned long long>(ours.frames),
                    ours.fps(), theirs.fps(), theirs.fps() > 0 ? ours.fps() / theirs.fps() : 0.0);
        std::remove(rec.path.c_str());
    }

    // Parse only: a byte-scanned DV4 file and a length-skipped DV5 file, both with large frames.
    struct ParseCase {
        const char *name;
        const char *kind;
        DVVariant variant;
        const char *mask;
    } parses[] = {
        {"DV4 H.264 1080p (byte scan)", "dv4-h264", DVVariant::DV4H264, "0x1"},
        {"DV5 NVR 1080p, 4 channels", "dv5-nvr", DVVariant::DV5NVR, "0xf"},
    };
    for (const ParseCase &p : parses) {
        const mkrec::Recording rec =
            mkrec::make(dir, std::string("p-") + p.kind,
                        {"--kind", p.kind, "--size", "1920x1080", "--noise", "--frames", "20", "--video-mask", p.mask,
                         "--audio-mask", "0x1"});
        if (!rec.ok()) {
            std::printf("%-30s mkrec failed: %s\n", p.name, rec.output.c_str());
            continue;
        }
        uint64_t handOffs = 0;
        const double mbs = parseOnly(rec.path, p.variant, &handOffs);
        std::printf("parse only, %-28s %6.1f MB  %8.1f MB/s  (%llu units handed off)\n", p.name,
                    static_cast<double>(rec.manifest.num("bytes")) / 1e6, mbs,
                    static_cast<unsigned long long>(handOffs));
    }
    return 0;
}
