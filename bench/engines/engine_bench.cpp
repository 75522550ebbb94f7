// Both playback engines (DV5 and AVC) against serial libavcodec, and how many channels each
// plays at 1x.
//
// Throughput (the default): recordings as recorders write them (libx264 veryfast, one slice per
// frame, an average bit rate, sensor-like grain, a key frame every second), with time stamps 5 s
// apart so that the pacing sleeps not at all. Two sides run in turn, in pairs, the order
// swapped from one pair to the next so that a drifting load falls on both:
//   engine - the engine from the parser's start to its last picture, every picture to a
//            delegate that keeps each channel's last one (as a pane does);
//   serial - the same packets, read out of the recording before the clock starts, decoded one
//            after another on this thread by one decoder per channel with the engine's settings
//            (two slice threads), each picture converted by the scaler (fast bilinear) to RGBA
//            into the channel's own buffer: the decoding the engine does and nothing more.
// Each case prints engine / serial (pictures per second) at the minimum, median and maximum of
// the pairs.
//
// Capacity (--capacity): recordings at 25 frames/s with real time stamps, played at 1x. A run
// keeps up when every picture is shown and the last one no later than 1 % of the recording's
// length behind the recording's own clock (open + its time stamp - the first time stamp). For
// each engine and size, the largest channel count that keeps up on the processors to be judged,
// e.g. `engine_bench --capacity --cpus 0,1` (the recordings are made on all processors).
//
// Pacing (--pacing [rounds]): how closely the DV engine spaces one channel's pictures by their
// time stamps at each speed, beside a plain sleep of the same steps (pacing.cpp).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/resource.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "bench_common/bench_delegates.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "pacing.h"
#include "platform/log.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double processSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The processors the timed runs use (threads inherit them from the one that makes them); the
// recordings are made with the processors the benchmark was given.
cpu_set_t gAllCpus, gRunCpus;

void useCpus(const cpu_set_t &set) {
    sched_setaffinity(0, sizeof set, &set);
}

bool parseCpus(const std::string &list, cpu_set_t &set) {
    CPU_ZERO(&set);
    size_t at = 0;
    while (at < list.size()) {
        size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(at, end - at);
        const size_t dash = item.find('-');
        const int from = std::atoi(item.c_str());
        const int to = dash == std::string::npos ? from : std::atoi(item.c_str() + dash + 1);
        for (int c = from; c <= to && c >= 0 && c < CPU_SETSIZE; ++c)
            CPU_SET(c, &set);
        at = end + 1;
    }
    return CPU_COUNT(&set) > 0;
}

enum class Engine { DV5, AVC };

const char *engineName(Engine e) {
    return e == Engine::DV5 ? "DV5" : "AVC";
}

// Keeps each channel's last picture, as a pane does, and when every picture arrived.
class PaneDelegate : public benchutil::QuietDelegate {
  public:
    PaneDelegate(std::string path, size_t expected) : path_(std::move(path)), last_(16), times_(16) {
        for (auto &t : times_)
            t.reserve(expected);
    }
    std::string absoluteFilePath() override { return path_; }
    void videoUpdateTaskWithChannel(unsigned ch, VideoImageRef image, const uint8_t *, unsigned, bool,
                                    unsigned, const _SYSTEMTIME &) override {
        if (ch >= 16) return;
        const Clock::time_point now = Clock::now();
        last_[ch] = std::move(image);
        std::lock_guard<std::mutex> lock(mutex_);
        times_[ch].push_back(now);
        pictures_.fetch_add(1);
    }
    void setDVFmtProcessingInfoAtEndOfProcessing() override { end(); }
    void setAVCFmtProcessingInfoAtEndOfProcessing() override { end(); }

    // Waits for the end notice and for `expected` pictures (up to a few seconds after the notice).
    void waitForEnd(size_t expected) {
        std::unique_lock<std::mutex> lock(mutex_);
        endCv_.wait(lock, [&] { return ended_; });
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        while (pictures_.load() < expected && Clock::now() < deadline) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lock.lock();
        }
    }
    size_t pictures() const { return pictures_.load(); }
    std::vector<Clock::time_point> times(int ch) {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_[ch];
    }
    Clock::time_point lastPicture() {
        std::lock_guard<std::mutex> lock(mutex_);
        Clock::time_point t{};
        for (const auto &v : times_)
            if (!v.empty()) t = std::max(t, v.back());
        return t;
    }

  private:
    void end() {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        endCv_.notify_all();
    }
    const std::string path_;
    std::vector<VideoImageRef> last_;
    std::vector<std::vector<Clock::time_point>> times_;
    std::atomic<size_t> pictures_{0};
    std::mutex mutex_;
    std::condition_variable endCv_;
    bool ended_ = false;
};

struct EngineRun {
    double wall = -1, cpu = 0;
    size_t pictures = 0;
    Clock::time_point started, ended;
    std::vector<std::vector<Clock::time_point>> times; // per channel, when asked for
};

// One play of the recording from the parser's start to its last picture.
EngineRun playOnce(Engine kind, const std::string &path, size_t expected, bool keepTimes) {
    EngineRun r;
    PaneDelegate delegate(path, keepTimes ? expected : 0);
    double cpu0 = 0;
    if (kind == Engine::AVC) {
        AVCFormatPlayback engine;
        engine.setAppDelg(&delegate);
        if (!engine.createAVCFmtVideoPlaybackThread() || !engine.createAVCFmtAudioPlaybackThread()) return r;
        cpu0 = processSeconds();
        r.started = Clock::now();
        if (!engine.openAVCFileAndStartParser(path)) return r;
        delegate.waitForEnd(expected);
        r.cpu = processSeconds() - cpu0;
        r.pictures = delegate.pictures();
        r.ended = delegate.lastPicture();
        engine.closeAVCFileAndStopParser();
        engine.cancelAllThreads();
    } else {
        dvFmtResetControlFlags();
        DVFormatPlayback engine;
        engine.setAppDelg(&delegate);
        engine.setDvFmtVideoCodec(kDVFmtDV5);
        engine.setIsDVRType700(false);
        engine.resetAVStreamType();
        if (!engine.createDVFmtVideoPlaybackThread() || !engine.createDVFmtAudioPlaybackThread()) return r;
        cpu0 = processSeconds();
        r.started = Clock::now();
        if (!engine.createDVFmtParserThread()) return r;
        delegate.waitForEnd(expected);
        r.cpu = processSeconds() - cpu0;
        r.pictures = delegate.pictures();
        r.ended = delegate.lastPicture();
        // The parser idles at the file's start after the end: let it leave.
        gDVFmtPlaybackParserThreadForceExit = 1;
        gDVFmtPlaybackKeepRunning = 1;
        while (gDVFmtPlaybackParserThreadForceExit.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        engine.cancelAllThreads();
        dvFmtResetControlFlags();
    }
    if (r.pictures > 0) r.wall = seconds(r.ended - r.started);
    if (keepTimes)
        for (int ch = 0; ch < 16; ++ch)
            r.times.push_back(delegate.times(ch));
    return r;
}

// The same on the processors of the timed runs.
EngineRun runEngine(Engine kind, const std::string &path, size_t expected, bool keepTimes) {
    useCpus(gRunCpus);
    EngineRun r = playOnce(kind, path, expected, keepTimes);
    useCpus(gAllCpus);
    return r;
}

// The channels' packets in file order, as the engine hands them to its decoders.
struct Packets {
    std::vector<int> channel;
    std::vector<AVPacket *> packet;
    int channels = 0;
    Packets() = default;
    Packets(const Packets &) = delete;
    Packets &operator=(const Packets &) = delete;
    ~Packets() {
        for (AVPacket *p : packet)
            av_packet_free(&p);
    }
};

bool extractPackets(const mkrec::Recording &rec, Packets &out) {
    const std::vector<uint8_t> file = mkrec::readFile(rec.path);
    for (const mkrec::Unit *u : rec.manifest.video()) {
        AVPacket *p = av_packet_alloc();
        if (!p || av_new_packet(p, static_cast<int>(u->esLen)) < 0) {
            av_packet_free(&p);
            return false;
        }
        std::memcpy(p->data, file.data() + u->esOffset, u->esLen);
        out.packet.push_back(p);
        out.channel.push_back(u->channel);
        out.channels = std::max(out.channels, u->channel + 1);
    }
    return !out.packet.empty();
}

struct SerialRun {
    double wall = -1, cpu = 0;
    size_t pictures = 0;
};

// libavcodec and the scaler on the packets, one after the other on this thread.
SerialRun decodeSerially(const Packets &packets, AVCodecID codecId) {
    SerialRun r;
    const int n = packets.channels;
    std::vector<AVCodecContext *> ctx(n, nullptr);
    std::vector<SwsContext *> sws(n, nullptr);
    std::vector<std::vector<uint8_t>> pictures(n);
    AVFrame *frame = av_frame_alloc();
    const AVCodec *codec = avcodec_find_decoder(codecId);
    const double cpu0 = processSeconds();
    const Clock::time_point t0 = Clock::now();
    bool ok = frame && codec;
    for (size_t i = 0; ok && i < packets.packet.size(); ++i) {
        const int ch = packets.channel[i];
        AVCodecContext *&c = ctx[ch];
        if (!c) {
            // Opened at the channel's first packet, as the engines do.
            c = avcodec_alloc_context3(codec);
            c->thread_count = 2;
            c->thread_type = FF_THREAD_SLICE;
            if (avcodec_open2(c, codec, nullptr) < 0) ok = false;
        }
        if (!ok || avcodec_send_packet(c, packets.packet[i]) < 0) continue;
        while (avcodec_receive_frame(c, frame) >= 0) {
            SwsContext *&s = sws[ch];
            if (!s)
                s = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                   frame->width, frame->height, AV_PIX_FMT_RGBA, SWS_FAST_BILINEAR, nullptr,
                                   nullptr, nullptr);
            std::vector<uint8_t> &rgba = pictures[ch];
            rgba.resize(static_cast<size_t>(frame->width) * frame->height * 4);
            uint8_t *dst[4] = {rgba.data(), nullptr, nullptr, nullptr};
            int stride[4] = {frame->width * 4, 0, 0, 0};
            if (s && sws_scale(s, frame->data, frame->linesize, 0, frame->height, dst, stride) > 0)
                ++r.pictures;
            av_frame_unref(frame);
        }
    }
    if (ok && r.pictures > 0) {
        r.wall = seconds(Clock::now() - t0);
        r.cpu = processSeconds() - cpu0;
    }
    av_frame_free(&frame);
    for (int ch = 0; ch < n; ++ch) {
        avcodec_free_context(&ctx[ch]);
        sws_freeContext(sws[ch]);
    }
    return r;
}

struct Size {
    const char *name, *dims, *kbps;
};
SerialRun runSerial(const Packets &packets, AVCodecID codecId) {
    useCpus(gRunCpus);
    SerialRun r = decodeSerially(packets, codecId);
    useCpus(gAllCpus);
    return r;
}

// Recorder bit rates.
const Size kSizes[] = {
    {"D1", "704x576", "1800"},
    {"720p", "1280x720", "3000"},
    {"1080p", "1920x1080", "4500"},
};

// A recording of `channels` channels and `frames` frames each; `flat` puts the time stamps 5 s
// apart (never slept: a gap), otherwise they are 25 per second.
mkrec::Recording makeRecording(const mkrec::TempDir &dir, Engine kind, const Size &size, int channels,
                               int frames, bool flat) {
    const std::string mask = std::to_string((1 << channels) - 1);
    std::vector<std::string> args{"--kind",       kind == Engine::AVC ? "avc" : "dv5-nvr",
                                  "--size",       size.dims,
                                  "--video-mask", mask,
                                  "--audio-mask", "0",
                                  "--gop",        "25",
                                  "--fps",        "25",
                                  "--preset",     "veryfast",
                                  "--bitrate",    size.kbps,
                                  "--grain",      "3",
                                  "--frames",     std::to_string(frames)};
    if (flat)
        for (int f = 1; f < frames; ++f)
            args.insert(args.end(), {"--gap", std::to_string(f) + ":5"});
    const std::string name = std::string(engineName(kind)) + "-" + size.name + "-" +
                             std::to_string(channels) + (flat ? "-flat" : "-1x") +
                             (kind == Engine::AVC ? ".avc" : ".dv5");
    return mkrec::make(dir, name, args);
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
    for (;;) {
        const size_t comma = s.find(',', at);
        out.push_back(s.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) return out;
        at = comma + 1;
    }
}

// How far behind the recording's clock the last picture was shown, and whether all came.
struct Lag {
    double firstMs = 0, lastMs = 0, lengthS = 0;
    size_t pictures = 0, expected = 0;
    bool keepsUp() const { return pictures == expected && lastMs <= lengthS * 10.0; }
};

Lag playAt1x(Engine kind, const mkrec::Recording &rec) {
    Lag l;
    const auto units = rec.manifest.video();
    l.expected = units.size();
    const EngineRun run = runEngine(kind, rec.path, units.size(), true);
    l.pictures = run.pictures;
    if (run.times.empty()) return l;
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (const mkrec::Unit *u : units) {
        first = std::min(first, u->tUs);
        last = std::max(last, u->tUs);
    }
    l.lengthS = (last - first) / 1e6 + 0.04; // one frame interval at 25 frames/s
    l.lastMs = -1e9;
    l.firstMs = 1e9;
    for (int ch = 0; ch < 16; ++ch) {
        const auto mine = rec.manifest.video(ch);
        const auto &times = run.times[ch];
        for (size_t i = 0; i < times.size() && i < mine.size(); ++i) {
            const double dueMs = (mine[i]->tUs - first) / 1000.0;
            const double atMs = std::chrono::duration<double, std::milli>(times[i] - run.started).count();
            if (i == 0) l.firstMs = std::min(l.firstMs, atMs - dueMs);
            if (i + 1 == mine.size()) l.lastMs = std::max(l.lastMs, atMs - dueMs);
        }
    }
    return l;
}

void usage() {
    std::printf(
        "usage: engine_bench [--engines DV5,AVC] [--sizes D1,1080p] [--channels 1,4,16] [--frames N]\n"
        "                    [--pairs N] [--cpus LIST] [--verbose] [--engine-only]\n"
        "                    [--capacity [--seconds S]]\n"
        "       engine_bench --pacing [rounds (default 7, at least 5)]\n"
        "  --frames N     pictures per run (default 600; at least 50 per channel)\n"
        "  --pairs N      paired runs of engine and serial per case (default 7, at least 5)\n"
        "  --cpus LIST    the timed runs on these processors (as `taskset -c LIST`), e.g. 0,1;\n"
        "                 the recordings are made on all that the benchmark may use\n"
        "  --verbose      every pair's times\n"
        "  --engine-only  the engine's runs alone (for a profiler)\n"
        "  --capacity     1x runs: the largest channel count that keeps up, per engine and size\n"
        "                 (default sizes D1,720p,1080p); --seconds: recording length (default 10)\n"
        "Pin the timed runs, e.g. `engine_bench --cpus 2,3`.\n");
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::string(argv[1]) == "--pacing") return dvPacing(argc, argv);
    std::vector<Engine> engines{Engine::DV5, Engine::AVC};
    std::vector<std::string> sizes{"D1", "1080p"};
    std::vector<int> counts{1, 4, 16};
    int frames = 600, pairs = 7;
    double lengthS = 10;
    bool capacity = false, sizesGiven = false, engineOnly = false, verbose = false, cpusGiven = false;
    sched_getaffinity(0, sizeof gAllCpus, &gAllCpus);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--engines" && hasValue) {
            engines.clear();
            for (const std::string &e : split(argv[++i]))
                engines.push_back(e == "AVC" || e == "avc" ? Engine::AVC : Engine::DV5);
        } else if (a == "--sizes" && hasValue) {
            sizes = split(argv[++i]);
            sizesGiven = true;
        } else if (a == "--channels" && hasValue) {
            counts.clear();
            for (const std::string &c : split(argv[++i]))
                counts.push_back(std::max(1, std::min(16, std::atoi(c.c_str()))));
        } else if (a == "--frames" && hasValue) {
            frames = std::max(50, std::atoi(argv[++i]));
        } else if (a == "--seconds" && hasValue) {
            lengthS = std::max(2.0, std::atof(argv[++i]));
        } else if (a == "--pairs" && hasValue) {
            pairs = std::max(5, std::atoi(argv[++i]));
        } else if (a == "--cpus" && hasValue) {
            if (!parseCpus(argv[++i], gRunCpus)) {
                usage();
                return 2;
            }
            cpusGiven = true;
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a == "--engine-only") {
            engineOnly = true;
        } else if (a == "--capacity") {
            capacity = true;
        } else {
            usage();
            return a == "--help" ? 0 : 2;
        }
    }
    if (!cpusGiven) gRunCpus = gAllCpus;
    CPU_AND(&gRunCpus, &gRunCpus, &gAllCpus);
    if (CPU_COUNT(&gRunCpus) == 0) {
        std::printf("--cpus: none of these processors is available\n");
        return 2;
    }
    if (capacity && !sizesGiven) sizes = {"D1", "720p", "1080p"};
    player_log_set_sink([](const std::string &) {});
    av_log_set_level(AV_LOG_QUIET);
    mkrec::TempDir dir;
    std::vector<const Size *> chosen;
    for (const std::string &name : sizes) {
        const Size *size = nullptr;
        for (const Size &s : kSizes)
            if (name == s.name) size = &s;
        if (size)
            chosen.push_back(size);
        else
            std::printf("unknown size %s\n", name.c_str());
    }

    if (capacity) {
        const int frames1x = static_cast<int>(lengthS * 25);
        std::printf("Channels that play at 1x: every picture shown, the last no later than 1 %% of the\n"
                    "recording's length (%.0f s, 25 frames/s) behind the recording's clock.\n",
                    lengthS);
        for (Engine kind : engines) {
            for (const Size *size : chosen) {
                std::map<int, mkrec::Recording> made;
                auto recording = [&](int n) -> const mkrec::Recording & {
                    auto it = made.find(n);
                    if (it == made.end())
                        it = made.emplace(n, makeRecording(dir, kind, *size, n, frames1x, false)).first;
                    return it->second;
                };
                // Channel counts from 16 down, halving the gap; the largest that keeps up.
                int lo = 0, hi = 17, n = 16; // lo keeps up, hi does not
                while (hi - lo > 1) {
                    const mkrec::Recording &rec = recording(n);
                    if (!rec.ok()) {
                        std::printf("%s %s: mkrec failed: %s\n", engineName(kind), size->name,
                                    rec.output.c_str());
                        break;
                    }
                    if (kind == Engine::AVC) runEngine(kind, rec.path, 0, false); // builds the index
                    const Lag l = playAt1x(kind, rec);
                    std::printf(
                        "%-3s %-5s %2d ch: first picture %4.0f ms, last %6.0f ms behind (limit %4.0f), "
                        "%zu of %zu pictures -> %s\n",
                        engineName(kind), size->name, n, l.firstMs, l.lastMs, l.lengthS * 10.0, l.pictures,
                        l.expected, l.keepsUp() ? "keeps up" : "falls behind");
                    std::fflush(stdout);
                    (l.keepsUp() ? lo : hi) = n;
                    n = (lo + hi) / 2;
                    for (auto &m : made)
                        if (m.first != lo && m.first != hi && m.first != n)
                            std::remove(m.second.path.c_str());
                }
                std::printf("%-3s %-5s plays at 1x with up to %d channels\n", engineName(kind), size->name,
                            lo);
                for (auto &m : made)
                    std::remove(m.second.path.c_str());
            }
        }
        return 0;
    }

    std::printf(
        "Pictures per second from the start to the last picture (median); cores = processor time /\n"
        "wall. speed: engine / serial pictures per second; cpu: serial / engine processor time per\n"
        "picture, which a shared machine's uneven shares of the processors disturb less; each at the\n"
        "min, median and max of %d paired runs (order swapped every pair). x264 veryfast, one slice\n"
        "per frame, grain 3; D1 1.8, 720p 3, 1080p 4.5 Mbit/s.\n",
        pairs);
    std::printf("%-3s %-5s %3s %6s %7s %7s %5s %5s %-20s %-20s\n", "eng", "size", "ch", "frames", "engine",
                "serial", "cores", "cores", "speed min/med/max", "cpu min/med/max");
    for (Engine kind : engines) {
        for (const Size *size : chosen) {
            for (int channels : counts) {
                const int perChannel = std::max(50, frames / channels);
                const mkrec::Recording rec = makeRecording(dir, kind, *size, channels, perChannel, true);
                if (!rec.ok()) {
                    std::printf("%s %s %d: mkrec failed: %s\n", engineName(kind), size->name, channels,
                                rec.output.c_str());
                    continue;
                }
                const size_t expected = rec.manifest.video().size();
                Packets packets;
                if (!extractPackets(rec, packets)) {
                    std::printf("%s %s %d: no packets\n", engineName(kind), size->name, channels);
                    continue;
                }
                // Warm-up, untimed: the first open of an AVC recording builds its index.
                runEngine(kind, rec.path, expected, false);
                std::vector<double> engineFps, serialFps, ratio, cpuRatio, engineCores, serialCores;
                for (int p = 0; p < pairs; ++p) {
                    EngineRun e;
                    SerialRun s;
                    if (p % 2 == 0) {
                        e = runEngine(kind, rec.path, expected, false);
                        if (!engineOnly) s = runSerial(packets, AV_CODEC_ID_H264);
                    } else {
                        if (!engineOnly) s = runSerial(packets, AV_CODEC_ID_H264);
                        e = runEngine(kind, rec.path, expected, false);
                    }
                    if (e.wall <= 0 || e.pictures != expected) {
                        std::printf("  engine run: %zu of %zu pictures\n", e.pictures, expected);
                        continue;
                    }
                    engineFps.push_back(e.pictures / e.wall);
                    engineCores.push_back(e.cpu / e.wall);
                    if (engineOnly) continue;
                    if (s.wall <= 0 || s.pictures != expected) {
                        std::printf("  serial run: %zu of %zu pictures\n", s.pictures, expected);
                        continue;
                    }
                    serialFps.push_back(s.pictures / s.wall);
                    serialCores.push_back(s.cpu / s.wall);
                    ratio.push_back(engineFps.back() / serialFps.back());
                    cpuRatio.push_back((s.cpu / s.pictures) / (e.cpu / e.pictures));
                    if (verbose)
                        std::printf("  pair %d: engine %.3f s (%.2f cores), serial %.3f s (%.2f cores), "
                                    "speed %.3f, cpu %.3f\n",
                                    p + 1, e.wall, engineCores.back(), s.wall, serialCores.back(),
                                    ratio.back(), cpuRatio.back());
                }
                std::printf("%-3s %-5s %3d %6zu %7.1f %7.1f %5.2f %5.2f", engineName(kind), size->name,
                            channels, expected, median(engineFps), median(serialFps), median(engineCores),
                            median(serialCores));
                for (const std::vector<double> *r : {&ratio, &cpuRatio})
                    if (!r->empty())
                        std::printf(" %.3f/%.3f/%.3f ", *std::min_element(r->begin(), r->end()), median(*r),
                                    *std::max_element(r->begin(), r->end()));
                std::printf("\n");
                std::fflush(stdout);
                std::remove(rec.path.c_str());
            }
        }
    }
    return 0;
}
