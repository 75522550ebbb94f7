// The AVC engine run flat out (time stamps 5 s apart, which the pacing does not sleep) against
// `ffmpeg -threads 2 -thread_type slice -i STREAM -vf scale=flags=fast_bilinear,format=rgba
// -f null -` on the same elementary stream; prints both frame rates and their ratio.
// Usage: avc_bench [frames]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "bench_common/bench_delegates.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts pictures and waits for the end; everything else is accepted and dropped.
class CountingDelegate : public benchutil::QuietDelegate {
  public:
    void videoUpdateTaskWithChannel(unsigned, VideoImageRef, const uint8_t *, unsigned, bool, unsigned,
                                    const _SYSTEMTIME &) override {
        ++pictures;
    }
    void setAVCFmtProcessingInfoAtEndOfProcessing() override {
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        cv.notify_all();
    }

    std::atomic<int> pictures{0};
    std::mutex mutex;
    std::condition_variable cv;
    bool ended = false;
};

// Seconds from open to the end of the file; the pictures delivered.
double runEngine(const std::string &path, int *pictures) {
    CountingDelegate delegate;
    AVCFormatPlayback engine;
    engine.setAppDelg(&delegate);
    engine.createAVCFmtVideoPlaybackThread();
    engine.createAVCFmtAudioPlaybackThread();
    const auto t0 = Clock::now();
    if (!engine.openAVCFileAndStartParser(path)) return -1;
    {
        std::unique_lock<std::mutex> lock(delegate.mutex);
        delegate.cv.wait(lock, [&] { return delegate.ended; });
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    *pictures = delegate.pictures;
    return s;
}

// ffmpeg's own time for the decode and conversion ("rtime" of -benchmark).
double runFFmpeg(const std::string &es) {
    const std::string cmd = "ffmpeg -hide_banner -nostdin -benchmark -threads 2 -thread_type slice -i '" +
                            es + "' -vf scale=flags=fast_bilinear,format=rgba -f null - 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    char line[512];
    double rtime = -1;
    while (fgets(line, sizeof line, p))
        if (const char *r = strstr(line, "rtime=")) rtime = atof(r + 6);
    pclose(p);
    return rtime;
}

} // namespace

int main(int argc, char **argv) {
    const int frames = argc > 1 ? std::max(20, atoi(argv[1])) : 600;
    mkrec::TempDir dir;
    const struct {
        const char *name, *size, *codec, *ext;
    } cases[] = {
        {"H.264 704x576", "704x576", "h264", "h264"},
        {"H.264 1920x1080", "1920x1080", "h264", "h264"},
        {"MPEG-4 704x576", "704x576", "mpeg4", "m4v"},
        {"MJPEG 704x576", "704x576", "mjpeg", "mjpeg"},
    };
    printf("%-18s %8s %12s %12s %8s\n", "stream", "pictures", "engine fps", "ffmpeg fps", "ratio");
    for (const auto &c : cases) {
        std::vector<std::string> args{"--kind",       "avc",         "--size",   c.size,
                                      "--codec",      c.codec,       "--frames", std::to_string(frames),
                                      "--audio-mask", "0",           "--gop",    "50",
                                      "--es-dir",     dir.file("es")};
        for (int f = 1; f < frames; ++f) {
            args.push_back("--gap");
            args.push_back(std::to_string(f) + ":5");
        }
        const mkrec::Recording rec = mkrec::make(dir, std::string(c.codec) + c.size + ".avc", args);
        if (!rec.ok()) {
            fprintf(stderr, "cannot make %s: %s\n", c.name, rec.output.c_str());
            continue;
        }
        const std::string es = dir.file("es") + "/video-ch0." + c.ext;
        double ours = 1e9, theirs = 1e9;
        int pictures = 0;
        for (int rep = 0; rep < 5; ++rep) { // best of five, alternating; the first open builds the index
            const double s = runEngine(rec.path, &pictures);
            if (s > 0 && rep > 0) ours = std::min(ours, s);
            const double f = runFFmpeg(es);
            if (f > 0) theirs = std::min(theirs, f);
        }
        const double a = pictures / ours, b = frames / theirs;
        printf("%-18s %8d %12.1f %12.1f %8.3f\n", c.name, pictures, a, b, a / b);
    }
    return 0;
}
