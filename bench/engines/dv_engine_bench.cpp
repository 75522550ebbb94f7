// The DV engine, unpaced, against plain ffmpeg on the same streams, in the same run:
//   - whole-engine throughput (parser, hand-offs, decoding to RGBA, pictures to a counting
//     delegate) on generated DV5 recordings: 1080p H.264 with 1 and 4 channels, D1 with 16;
//     ffmpeg decodes each channel's stream with
//     "-threads 2 -thread_type slice -vf scale=flags=fast_bilinear,format=rgba -f null -",
//     one stream after the other, and (several channels) all streams together in one run;
//   - parse-only throughput of the unit scanner (no decoding) in MB/s.
// Usage: dv_engine_bench [frames per channel]   (default 150)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "bench_common/bench_delegates.h"
#include "common/mkrec_fixture.h"
#include "engines/dv_format_playback.h"
#include "engines/dv_stream_parser.h"
#include "engines/headless_delegate.h"
#include "platform/log.h"

namespace {

using Clock = std::chrono::steady_clock;

using benchutil::CountingDelegate;
using benchutil::NullHost;

// Wall-clock and processor seconds (all threads) of one run.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

double processSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The whole engine, from the parser's start to the end notice; *frames gets the pictures.
Timing runEngine(const std::string &path, int codec, bool dvr700, uint64_t *frames) {
    dvFmtResetControlFlags();
    CountingDelegate delegate;
    delegate.filePath = path;
    std::atomic<bool> ended{false};
    Clock::time_point endedAt;
    double cpuAtEnd = 0;
    delegate.onDVEnd = [&] {
        endedAt = Clock::now();
        cpuAtEnd = processSeconds();
        ended = true;
    };
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
        const double cpu0 = processSeconds();
        const auto t0 = Clock::now();
        engine.createDVFmtParserThread();
        while (!ended.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        t.wall = std::chrono::duration<double>(endedAt - t0).count();
        t.cpu = cpuAtEnd - cpu0;
        *frames = delegate.pictures.load();
        gDVFmtPlaybackParserThreadForceExit = 1;
        gDVFmtPlaybackKeepRunning = 1;
        while (gDVFmtPlaybackParserThreadForceExit.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        engine.cancelAllThreads();
    }
    poster.drain();
    dvFmtResetControlFlags();
    return t;
}

// ffmpeg's own measure of its decoding ("-benchmark": rtime, utime + stime) from its log.
Timing ffmpegTiming(const std::vector<std::string> &args, const std::string &dir) {
    const std::string log = dir + "/ffmpeg.log";
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-benchmark"};
    argv.insert(argv.end(), args.begin(), args.end());
    Timing t;
    if (mkrec::runProgram(argv, log) != 0) return t;
    const std::string text = mkrec::readText(log);
    auto field = [&](const char *name) {
        const size_t at = text.rfind(name);
        return at == std::string::npos ? 0.0 : std::strtod(text.c_str() + at + std::strlen(name), nullptr);
    };
    t.wall = field("rtime=");
    t.cpu = field("utime=") + field("stime=");
    return t;
}

const char *const kFilter = "scale=flags=fast_bilinear,format=rgba";

// ffmpeg on one stream, as the application's users would compare.
Timing runFfmpeg(const std::string &stream, const std::string &dir) {
    return ffmpegTiming(
        {"-threads", "2", "-thread_type", "slice", "-i", stream, "-vf", kFilter, "-f", "null", "-"}, dir);
}

// ffmpeg on all channels' streams in one run: it decodes them interleaved, as a recording
// with several channels must be.
Timing runFfmpegTogether(const std::vector<std::string> &streams, const std::string &dir) {
    std::vector<std::string> args;
    std::string graph;
    for (size_t i = 0; i < streams.size(); ++i) {
        for (const char *a : {"-threads", "2", "-thread_type", "slice", "-i"})
            args.push_back(a);
        args.push_back(streams[i]);
        graph += (i ? ";[" : "[") + std::to_string(i) + ":v]" + kFilter + "[v" + std::to_string(i) + "]";
    }
    args.push_back("-filter_complex");
    args.push_back(graph);
    for (size_t i = 0; i < streams.size(); ++i) {
        args.push_back("-map");
        args.push_back("[v" + std::to_string(i) + "]");
    }
    for (const char *a : {"-f", "null", "-"})
        args.push_back(a);
    return ffmpegTiming(args, dir);
}

void keepBest(Timing &best, const Timing &t) {
    if (t.wall > 0 && (best.wall == 0 || t.wall < best.wall)) best.wall = t.wall;
    if (t.cpu > 0 && (best.cpu == 0 || t.cpu < best.cpu)) best.cpu = t.cpu;
}

} // namespace

int main(int argc, char **argv) {
    const std::string frames = argc > 1 ? argv[1] : "150";
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
    std::printf("Frames per second (wall clock) and the ratio engine / ffmpeg; in brackets the ratio of\n"
                "processor time per frame (ffmpeg / engine), which a busy machine disturbs less.\n");
    std::printf("%-30s %6s %10s %10s %13s %15s %13s\n", "recording", "frames", "engine fps", "ffmpeg fps",
                "ratio", "ffmpeg together", "ratio");
    int n = 0;
    for (const Case &c : cases) {
        const std::string es = dir.file("es" + std::to_string(n));
        std::vector<std::string> args{"--kind", "dv5-nvr",      "--frames", frames,     "--gop",
                                      "25",     "--audio-mask", "0",        "--es-dir", es};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const mkrec::Recording rec = mkrec::make(dir, "r" + std::to_string(n++) + ".dv5", args);
        if (!rec.ok()) {
            std::printf("%-30s mkrec failed: %s\n", c.name, rec.output.c_str());
            continue;
        }
        std::vector<std::string> streams;
        for (int ch = 0; ch < c.channels; ++ch)
            streams.push_back(es + "/video-ch" + std::to_string(ch) + ".h264");
        Timing ours, apart, together;
        uint64_t pictures = 0;
        for (int rep = 0; rep < 5; ++rep) { // best of five, alternating
            keepBest(ours, runEngine(rec.path, kDVFmtDV5, false, &pictures));
            Timing sum;
            for (const std::string &stream : streams) {
                const Timing one = runFfmpeg(stream, dir.path());
                sum.wall += one.wall;
                sum.cpu += one.cpu;
            }
            keepBest(apart, sum);
            if (c.channels > 1) keepBest(together, runFfmpegTogether(streams, dir.path()));
        }
        const double frameCount = static_cast<double>(rec.manifest.video().size());
        auto fps = [&](const Timing &t) { return t.wall > 0 ? frameCount / t.wall : 0.0; };
        auto cpuRatio = [&](const Timing &theirs) { return ours.cpu > 0 ? theirs.cpu / ours.cpu : 0.0; };
        std::printf("%-30s %6llu %10.1f %10.1f %5.2f (%5.2f)", c.name,
                    static_cast<unsigned long long>(pictures), fps(ours), fps(apart), fps(ours) / fps(apart),
                    cpuRatio(apart));
        if (c.channels > 1)
            std::printf(" %15.1f %5.2f (%5.2f)", fps(together), fps(ours) / fps(together),
                        cpuRatio(together));
        std::printf("\n");
        std::remove(rec.path.c_str());
    }

    // Parse only: byte-scanned DV4 files (noise gives few zero bytes, plain pictures many) and a
    // DV5 file whose payloads are stepped over by their length.
    struct ParseCase {
        const char *name;
        const char *kind;
        DVVariant variant;
        const char *mask;
        const char *frames;
        bool noise;
    } parses[] = {
        {"DV4 H.264 1080p noise", "dv4-h264", DVVariant::DV4H264, "0x1", "20", true},
        {"DV4 H.264 1080p pictures", "dv4-h264", DVVariant::DV4H264, "0x1", "250", false},
        {"DV4 MPEG-4 1080p pictures", "dv4-mpeg4", DVVariant::DV4MPEG4, "0x1", "250", false},
        {"DV5 NVR 1080p noise, 4 ch", "dv5-nvr", DVVariant::DV5NVR, "0xf", "20", true},
    };
    int k = 0;
    for (const ParseCase &p : parses) {
        std::vector<std::string> args{"--kind", p.kind,         "--size", "1920x1080",    "--frames",
                                      p.frames, "--video-mask", p.mask,   "--audio-mask", "0x1"};
        if (p.noise) args.push_back("--noise");
        const mkrec::Recording rec = mkrec::make(dir, "p" + std::to_string(k++), args);
        if (!rec.ok()) {
            std::printf("%-30s mkrec failed: %s\n", p.name, rec.output.c_str());
            continue;
        }
        NullHost host;
        const double mbs = benchutil::bestScanSpeed(rec.path, p.variant, &host);
        const uint64_t handOffs = host.handOffs;
        std::printf("parse only, %-28s %6.1f MB  %8.1f MB/s  (%llu units handed off)\n", p.name,
                    static_cast<double>(rec.manifest.num("bytes")) / 1e6, mbs,
                    static_cast<unsigned long long>(handOffs));
    }
    return 0;
}
