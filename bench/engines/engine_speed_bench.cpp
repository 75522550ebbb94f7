// The AVC engine against two anchors on the same channels of the same recording, streams as
// recorders write them (libx264 veryfast, one slice per frame, an average bit rate, sensor-like
// grain):
//   engine   - the AVC engine, unpaced (time stamps 5 s apart, which the pacing does not sleep),
//              from open to its end notice, pictures to a delegate that keeps each channel's last;
//   serial   - libavcodec decoding the same channels' frames in file order, one picture at a time
//              on one thread, with the decoder's settings (two slice threads) and its scaler
//              (fast bilinear to RGBA), from reading the file to the last picture;
//   parallel - one ffmpeg process per channel, all at once, on the cores this process may use.
// The three run in turn, paired (A/B/C/A/B/C...); the ratios are the medians of the pairs.
// Then each case plays at 1x (a recording with real time stamps): seconds taken against the
// video's length, and per channel the pictures delivered more than one frame interval after
// their due time (open + time stamp - first time stamp).
// With --capacity, only the 1x runs: for each size, the largest channel count that keeps up.
// Run it pinned, e.g. `taskset -c 0,1 engine_speed_bench --capacity`.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "bench_common/bench_delegates.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "platform/log.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double processSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Keeps each channel's last picture, as a pane does, and the delivery time of every picture.
class TimingDelegate : public benchutil::QuietDelegate {
  public:
    explicit TimingDelegate(int channels) : channels_(channels), last_(16), times_(16) {
        for (auto &t : times_)
            t.reserve(4096);
    }
    bool checkNeedDecodeForMultiCHs(uint8_t ch) override { return ch < channels_; }
    void videoUpdateTaskWithChannel(unsigned ch, VideoImageRef image, const uint8_t *, unsigned, bool,
                                    unsigned, const _SYSTEMTIME &) override {
        if (ch >= 16) return;
        times_[ch].push_back(Clock::now()); // one channel thread at a time: the hand-off is synchronous
        last_[ch] = std::move(image);
    }
    void setAVCFmtProcessingInfoAtEndOfProcessing() override {
        std::lock_guard<std::mutex> lock(mutex_);
        endedAt_ = Clock::now();
        ended_ = true;
        cv_.notify_all();
    }

    Clock::time_point waitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return ended_; });
        return endedAt_;
    }
    const std::vector<Clock::time_point> &times(int ch) const { return times_[ch]; }
    size_t pictures() const {
        size_t n = 0;
        for (const auto &t : times_)
            n += t.size();
        return n;
    }

  private:
    const int channels_;
    std::vector<VideoImageRef> last_;
    std::vector<std::vector<Clock::time_point>> times_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ended_ = false;
    Clock::time_point endedAt_;
};

struct EngineRun {
    double wall = -1, cpu = 0;
    size_t pictures = 0;
    Clock::time_point opened;
    std::vector<std::vector<Clock::time_point>> times;
};

EngineRun runEngine(const std::string &path, int channels, bool keepTimes) {
    EngineRun r;
    TimingDelegate delegate(channels);
    AVCFormatPlayback engine;
    engine.setAppDelg(&delegate);
    if (!engine.createAVCFmtVideoPlaybackThread() || !engine.createAVCFmtAudioPlaybackThread()) return r;
    const double cpu0 = processSeconds();
    r.opened = Clock::now();
    if (!engine.openAVCFileAndStartParser(path)) return r;
    const Clock::time_point end = delegate.waitForEnd();
    r.wall = std::chrono::duration<double>(end - r.opened).count();
    r.cpu = processSeconds() - cpu0;
    r.pictures = delegate.pictures();
    engine.closeAVCFileAndStopParser();
    engine.cancelAllThreads();
    if (keepTimes)
        for (int ch = 0; ch < channels; ++ch)
            r.times.push_back(delegate.times(ch));
    return r;
}

// libavcodec and the scaler on the frames of the first `channels` channels, in file order.
// With ownPictures, every channel's pictures go to storage of the channel's own (as the engine's
// pictures, which the panes keep), instead of one buffer that stays in the cache.
double runSerial(const std::string &path, const mkrec::Manifest &m, int channels, bool ownPictures,
                 size_t *pictures) {
    const auto t0 = Clock::now();
    const std::vector<uint8_t> file = mkrec::readFile(path);
    std::vector<AVCodecContext *> ctx(channels, nullptr);
    std::vector<SwsContext *> sws(channels, nullptr);
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    for (int ch = 0; ch < channels; ++ch) {
        ctx[ch] = avcodec_alloc_context3(codec);
        ctx[ch]->thread_count = 2;
        ctx[ch]->thread_type = FF_THREAD_SLICE;
        if (avcodec_open2(ctx[ch], codec, nullptr) < 0) return -1;
    }
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::vector<std::vector<uint8_t>> outputs(ownPictures ? channels : 1);
    *pictures = 0;
    for (const mkrec::Unit *u : m.video()) {
        if (u->channel >= channels) continue;
        if (av_new_packet(pkt, static_cast<int>(u->esLen)) < 0) break;
        std::memcpy(pkt->data, file.data() + u->esOffset, u->esLen);
        AVCodecContext *c = ctx[u->channel];
        if (avcodec_send_packet(c, pkt) < 0) continue;
        while (avcodec_receive_frame(c, frame) >= 0) {
            SwsContext *&s = sws[u->channel];
            s = sws_getCachedContext(s, frame->width, frame->height,
                                     static_cast<AVPixelFormat>(frame->format), frame->width, frame->height,
                                     AV_PIX_FMT_RGBA, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
            std::vector<uint8_t> &rgba = outputs[ownPictures ? u->channel : 0];
            rgba.resize(static_cast<size_t>(frame->width) * frame->height * 4);
            uint8_t *dst[4] = {rgba.data(), nullptr, nullptr, nullptr};
            int stride[4] = {frame->width * 4, 0, 0, 0};
            sws_scale(s, frame->data, frame->linesize, 0, frame->height, dst, stride);
            ++*pictures;
        }
    }
    const double s = since(t0);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    for (int ch = 0; ch < channels; ++ch) {
        avcodec_free_context(&ctx[ch]);
        sws_freeContext(sws[ch]);
    }
    return s;
}

// One ffmpeg per channel, all started together; seconds until the last one ends.
double runParallel(const std::vector<std::string> &streams) {
    const auto t0 = Clock::now();
    std::vector<pid_t> pids;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    for (const std::string &es : streams) {
        std::vector<std::string> args{
            "ffmpeg",       "-nostdin", "-v", "error", "-threads", "2",
            "-thread_type", "slice",    "-i", es,      "-vf",      "scale=flags=fast_bilinear,format=rgba",
            "-f",           "null",     "-"};
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ) == 0) pids.push_back(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    bool ok = pids.size() == streams.size();
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return ok ? since(t0) : -1;
}

struct Size {
    const char *name, *dims, *kbps;
};
const Size kSizes[] = {
    {"D1", "704x576", "1500"},
    {"720p", "1280x720", "3000"},
    {"1080p", "1920x1080", "5000"},
};

struct Recordings {
    mkrec::Recording flat, realTime;
    std::string esDir;
    double seconds = 0; // video length of the real-time recording
};

Recordings makeRecordings(const mkrec::TempDir &dir, const Size &size, int channels, int flatFrames,
                          int realFrames) {
    Recordings r;
    const std::string mask = channels >= 16 ? "0xffff" : std::to_string((1 << channels) - 1);
    std::vector<std::string> common{
        "--kind", "avc", "--size",   size.dims,  "--video-mask", mask,      "--audio-mask", "0",
        "--gop",  "25",  "--preset", "veryfast", "--bitrate",    size.kbps, "--grain",      "3"};
    r.esDir = dir.file(std::string("es-") + size.name);
    if (flatFrames > 0) {
        std::vector<std::string> flat = common;
        flat.insert(flat.end(), {"--frames", std::to_string(flatFrames), "--es-dir", r.esDir});
        for (int f = 1; f < flatFrames; ++f)
            flat.insert(flat.end(), {"--gap", std::to_string(f) + ":5"});
        r.flat = mkrec::make(dir, std::string(size.name) + "-flat.avc", flat);
    }
    if (realFrames > 0) {
        std::vector<std::string> real = common;
        real.insert(real.end(), {"--frames", std::to_string(realFrames)});
        r.realTime = mkrec::make(dir, std::string(size.name) + "-1x.avc", real);
        r.seconds = realFrames / 25.0;
    }
    return r;
}

// Pictures delivered more than one frame interval after their due time, per channel; the
// largest delay past due in milliseconds; seconds from open to the last picture.
struct Lateness {
    std::vector<int> late;
    double worstMs = 0, lastMs = 0, seconds = 0;
    size_t pictures = 0, expected = 0;
};

Lateness realTimeRun(const Recordings &rec, int channels) {
    Lateness l;
    const EngineRun run = runEngine(rec.realTime.path, channels, true);
    const auto &units = rec.realTime.manifest.video();
    int64_t first = INT64_MAX;
    for (const mkrec::Unit *u : units)
        first = std::min(first, u->tUs);
    const double intervalMs = 40.0;
    for (int ch = 0; ch < channels; ++ch) {
        const std::vector<const mkrec::Unit *> mine = rec.realTime.manifest.video(ch);
        const auto &times = run.times[ch];
        int late = 0;
        for (size_t i = 0; i < times.size() && i < mine.size(); ++i) {
            const double dueMs = (mine[i]->tUs - first) / 1000.0;
            const double atMs = std::chrono::duration<double, std::milli>(times[i] - run.opened).count();
            const double past = atMs - dueMs;
            if (past > intervalMs) ++late;
            l.worstMs = std::max(l.worstMs, past);
            if (i + 1 == mine.size()) l.lastMs = std::max(l.lastMs, past);
            l.seconds = std::max(l.seconds, atMs / 1000.0);
        }
        l.late.push_back(late);
        l.pictures += times.size();
        l.expected += mine.size();
    }
    return l;
}

// Keeps up: every picture arrived, and the last ones are no later than the one-channel run's
// (the pacing's own drift, which the decoding load does not cause) plus 80 ms or 1 % of the
// video's length, whichever is more: a backlog that grows shows there.
bool keepsUp(const Lateness &l, const Lateness &oneChannel, double videoSeconds) {
    const double allowanceMs = std::max(80.0, videoSeconds * 10.0);
    return l.pictures == l.expected && l.lastMs <= oneChannel.lastMs + allowanceMs;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::vector<std::string> split(const std::string &s) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= s.size()) {
        const size_t comma = s.find(',', at);
        out.push_back(s.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}

void usage() {
    std::printf(
        "usage: engine_speed_bench [--sizes D1,1080p] [--channels 1,4,16] [--frames N] [--seconds S]\n"
        "                          [--pairs N] [--no-1x] [--serial-own] [--engine-only] [--capacity]\n"
        "  --frames N    unpaced frames per channel (default 125)\n"
        "  --seconds S   length of the 1x recordings (default 6; 10 with --capacity)\n"
        "  --pairs N     paired runs of engine and anchors (default 2)\n"
        "  --serial-own  also a serial anchor that writes each channel's pictures to storage of\n"
        "                its own (as pictures kept by the panes), column own\n"
        "  --engine-only the engine's unpaced runs alone (for a profiler)\n"
        "  --capacity    only 1x runs: the largest channel count that keeps up, per size\n"
        "                (default sizes D1,720p,1080p)\n");
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> sizes{"D1", "1080p"};
    std::vector<int> counts{1, 4, 16};
    int frames = 125, pairs = 2;
    double seconds = 6;
    bool realTime = true, capacity = false, serialOwn = false, sizesGiven = false, secondsGiven = false,
         engineOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--sizes" && hasValue) {
            sizes = split(argv[++i]);
            sizesGiven = true;
        } else if (a == "--channels" && hasValue) {
            counts.clear();
            for (const std::string &c : split(argv[++i]))
                counts.push_back(std::max(1, std::min(16, std::atoi(c.c_str()))));
        } else if (a == "--frames" && hasValue) {
            frames = std::max(25, std::atoi(argv[++i]));
        } else if (a == "--seconds" && hasValue) {
            seconds = std::max(1.0, std::atof(argv[++i]));
            secondsGiven = true;
        } else if (a == "--pairs" && hasValue) {
            pairs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--no-1x") {
            realTime = false;
        } else if (a == "--serial-own") {
            serialOwn = true;
        } else if (a == "--engine-only") {
            engineOnly = true;
            realTime = false;
        } else if (a == "--capacity") {
            capacity = true;
        } else {
            usage();
            return a == "--help" ? 0 : 2;
        }
    }
    if (capacity && !sizesGiven) sizes = {"D1", "720p", "1080p"};
    if (capacity && !secondsGiven) seconds = 10;
    player_log_set_sink([](const std::string &) {});
    const int maxChannels = capacity ? 16 : *std::max_element(counts.begin(), counts.end());
    const int realFrames = realTime || capacity ? static_cast<int>(seconds * 25) : 0;
    mkrec::TempDir dir;

    std::printf("AVC engine against libavcodec on the same channels; x264 veryfast, one slice per frame,\n"
                "grain 3, at D1 1.5, 720p 3, 1080p 5 Mbit/s. Pictures per second timed from open;\n"
                "ratios engine/anchor, median of %d paired runs; cores = engine processor time / wall.\n",
                pairs);
    if (!capacity) {
        std::printf("%-6s %3s %7s %9s %9s %9s %8s %8s %6s", "size", "ch", "frames", "engine", "serial",
                    "parallel", "eng/ser", "eng/par", "cores");
        if (serialOwn) std::printf(" %9s %8s", "own", "eng/own");
        std::printf("\n");
    }
    std::vector<std::string> realTimeLines;
    for (const std::string &sizeName : sizes) {
        const Size *size = nullptr;
        for (const Size &s : kSizes)
            if (sizeName == s.name) size = &s;
        if (!size) {
            std::printf("unknown size %s\n", sizeName.c_str());
            continue;
        }
        const Recordings rec = makeRecordings(dir, *size, maxChannels, capacity ? 0 : frames, realFrames);
        if ((!capacity && !rec.flat.ok()) || (realFrames > 0 && !rec.realTime.ok())) {
            std::printf("%s: mkrec failed: %s%s\n", size->name, rec.flat.output.c_str(),
                        rec.realTime.output.c_str());
            continue;
        }
        // The first open of a file builds its index; not timed.
        if (!capacity) runEngine(rec.flat.path, 0, false);
        if (realFrames > 0) runEngine(rec.realTime.path, 0, false);

        if (capacity) {
            // Channel counts from 16 down, halving the gap; the largest that keeps up.
            const Lateness one = realTimeRun(rec, 1);
            std::printf("%-6s  1 channel  at 1x: %5.2f s for %.2f s of video, last picture %4.0f ms past due "
                        "(the pacing's own drift)\n",
                        size->name, one.seconds, rec.seconds, one.lastMs);
            int lo = 1, hi = 17; // lo keeps up, hi does not
            int n = 16;
            while (hi - lo > 1) {
                const Lateness l = realTimeRun(rec, n);
                const bool ok = keepsUp(l, one, rec.seconds);
                int late = 0;
                for (int x : l.late)
                    late += x;
                std::printf(
                    "%-6s %2d channels at 1x: %5.2f s for %.2f s of video, last picture %5.0f ms past due, "
                    "%4d of %4zu late -> %s\n",
                    size->name, n, l.seconds, rec.seconds, l.lastMs, late, l.expected,
                    ok ? "keeps up" : "falls behind");
                std::fflush(stdout);
                (ok ? lo : hi) = n;
                n = (lo + hi) / 2;
            }
            std::printf("%-6s keeps up at 1x with up to %d channels\n", size->name, lo);
            continue;
        }

        for (int channels : counts) {
            std::vector<std::string> streams;
            for (int ch = 0; ch < channels; ++ch)
                streams.push_back(rec.esDir + "/video-ch" + std::to_string(ch) + ".h264");
            std::vector<double> engineFps, serialFps, parallelFps, cores, ownFps;
            size_t pictures = 0;
            const double expected = static_cast<double>(channels) * frames;
            for (int p = 0; p < pairs; ++p) {
                const EngineRun e = runEngine(rec.flat.path, channels, false);
                size_t serialPictures = e.pictures;
                const double s = engineOnly ? e.wall
                                            : runSerial(rec.flat.path, rec.flat.manifest, channels, false,
                                                        &serialPictures);
                const double par = engineOnly ? e.wall : runParallel(streams);
                size_t ownPictures = 0;
                const double own =
                    serialOwn ? runSerial(rec.flat.path, rec.flat.manifest, channels, true, &ownPictures) : 1;
                if (e.wall <= 0 || s <= 0 || par <= 0 || own <= 0) continue;
                ownFps.push_back(ownPictures / own);
                pictures = e.pictures;
                engineFps.push_back(e.pictures / e.wall);
                serialFps.push_back(serialPictures / s);
                parallelFps.push_back(expected / par);
                cores.push_back(e.cpu / e.wall);
            }
            std::vector<double> es, ep, eo;
            for (size_t i = 0; i < engineFps.size(); ++i) {
                es.push_back(engineFps[i] / serialFps[i]);
                ep.push_back(engineFps[i] / parallelFps[i]);
                if (ownFps[i] > 0) eo.push_back(engineFps[i] / ownFps[i]);
            }
            std::printf("%-6s %3d %7zu %9.1f %9.1f %9.1f %8.3f %8.3f %6.2f", size->name, channels, pictures,
                        median(engineFps), median(serialFps), median(parallelFps), median(es), median(ep),
                        median(cores));
            if (serialOwn) std::printf(" %9.1f %8.3f", median(ownFps), median(eo));
            std::printf("\n");
            std::fflush(stdout);
            if (realFrames > 0) {
                const Lateness l = realTimeRun(rec, channels);
                char line[512];
                std::snprintf(line, sizeof line,
                              "%-6s %2d ch at 1x: %5.2f s for %.2f s of video, worst %6.0f ms "
                              "past due, last %6.0f ms; late per channel:",
                              size->name, channels, l.seconds, rec.seconds, l.worstMs, l.lastMs);
                std::string text = line;
                for (int n : l.late)
                    text += " " + std::to_string(n);
                if (l.pictures != l.expected)
                    text += " (" + std::to_string(l.pictures) + " of " + std::to_string(l.expected) +
                            " pictures)";
                realTimeLines.push_back(text);
            }
        }
    }
    if (!realTimeLines.empty()) {
        std::printf("\nAt 1x (late: delivered more than one frame interval, 40 ms, after open + time stamp - "
                    "first):\n");
        for (const std::string &l : realTimeLines)
            std::printf("%s\n", l.c_str());
    }
    return 0;
}
