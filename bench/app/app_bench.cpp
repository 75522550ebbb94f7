// The whole picture path of the player: the real delegate on the offscreen platform plays a
// generated 16-channel D1 DV5 recording in the 16-pane grid and a 4-channel 1080p AVC recording
// in the 4-pane grid,
//   - paced at 1x for a number of seconds: pictures the engine delivered, pictures that reached
//     a tile, and the GUI thread's processor time per picture;
//   - unpaced (no pacing sleep) to the end of a shorter recording: the same counts and the rate,
//     beside the engine alone (a counting delegate, the same decoder target) on the same file in
//     the same run, and their ratio (best of three runs each).
// Usage: app_bench [paced seconds (default 20)] [unpaced frames per channel (default 100)]
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/engine_side/engine_side.h"
#include "app/main_window.h"
#include "bench_common/bench_delegates.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "engines/headless_delegate.h"

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Run {
    uint64_t delivered = 0, shown = 0, superseded = 0;
    double wall = 0, guiCpu = 0;
    float targetWidth = 0, targetHeight = 0;
};

// The delegate plays `path`; paced runs stop after `seconds`, unpaced ones at the end.
Run runDelegate(const std::string &path, bool paced, double seconds) {
    dvFmtResetControlFlags();
    Run r;
    auto d = std::make_unique<VistrelAppDelegate>();
    d->applicationDidFinishLaunching();
    d->makeWindowKeyAndOrderFront();
    if (!paced) d->handleDVFmtPlayback()->setPacer([](std::chrono::microseconds) {});
    QCoreApplication::processEvents();
    const double cpu0 = threadCpuSeconds();
    const auto t0 = Clock::now();
    d->openFileDirectly(QString::fromStdString(path));
    // A large window, as a 16-channel wall would be watched.
    d->window()->resize(1440, 1000);
    // The GUI thread waits in its event loop as it does in the player; a timer looks at the
    // clock and the end of the file.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        if ((paced ? elapsed >= seconds : !d->isPlaybackNow()) || elapsed > 600) loop.quit();
    });
    check.start(20);
    loop.exec();
    r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    r.targetWidth = d->decoderTargetWidth();
    r.targetHeight = d->decoderTargetHeight();
    d->resetPlaybackHandle();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    r.guiCpu = threadCpuSeconds() - cpu0;
    r.delivered = d->engineSide()->picturesDelivered();
    r.shown = d->engineSide()->picturesShown();
    r.superseded = d->engineSide()->picturesSuperseded();
    d.reset();
    dvFmtResetControlFlags();
    return r;
}

using benchutil::CountingDelegate;

// The engine alone, unpaced, to the end of the file: pictures and seconds.
Run runEngineOnly(const std::string &path, bool dv, float targetWidth, float targetHeight) {
    dvFmtResetControlFlags();
    Run r;
    CountingDelegate delegate;
    delegate.filePath = path;
    delegate.targetWidth = targetWidth;
    delegate.targetHeight = targetHeight;
    enginetest::QueuePoster poster;
    const auto t0 = Clock::now();
    if (dv) {
        DVFormatPlayback engine;
        engine.setAppDelg(&delegate);
        engine.setMainThreadPoster(&poster);
        engine.setPacer([](std::chrono::microseconds) {});
        engine.setDvFmtVideoCodec(kDVFmtDV5);
        engine.resetAVStreamType();
        engine.createDVFmtVideoPlaybackThread();
        engine.createDVFmtAudioPlaybackThread();
        engine.createDVFmtParserThread();
        while (!delegate.ended.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
        engine.cancelAllThreads();
    } else {
        AVCFormatPlayback engine;
        engine.setAppDelg(&delegate);
        engine.setMainThreadPoster(&poster);
        engine.createAVCFmtVideoPlaybackThread();
        engine.createAVCFmtAudioPlaybackThread();
        if (engine.openAVCFileAndStartParser(path)) {
            while (!delegate.ended.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
        engine.closeAVCFileAndStopParser();
        engine.cancelAllThreads();
    }
    poster.drain();
    r.delivered = delegate.pictures.load();
    dvFmtResetControlFlags();
    return r;
}

mkrec::Recording make(const mkrec::TempDir &dir, const std::string &name, std::vector<std::string> args,
                      int gapFrames) {
    // Time stamps 5 s apart are a gap the pacing does not sleep: the AVC file plays flat out.
    for (int f = 1; f < gapFrames; ++f) {
        args.push_back("--gap");
        args.push_back(std::to_string(f) + ":5");
    }
    mkrec::Recording r = mkrec::make(dir, name, args);
    if (!r.ok()) fprintf(stderr, "cannot make %s: %s\n", name.c_str(), r.output.c_str());
    return r;
}

} // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication application(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, atof(argv[1])) : 20.0;
    const int frames = argc > 2 ? std::max(20, atoi(argv[2])) : 100;
    mkrec::TempDir dir;
    const std::string pacedFrames = std::to_string(static_cast<int>(seconds * 25) + 50);
    const std::string unpacedFrames = std::to_string(frames);

    struct Case {
        const char *name;
        bool dv;
        mkrec::Recording paced, unpaced;
    };
    const std::vector<std::string> dv5{"--kind", "dv5-nvr",      "--size", "704x576", "--video-mask",
                                       "0xffff", "--audio-mask", "0",      "--gop",   "50"};
    const std::vector<std::string> avc{"--kind", "avc",          "--size", "1920x1080", "--video-mask",
                                       "0xf",    "--audio-mask", "0",      "--gop",     "50"};
    auto with = [](std::vector<std::string> args, const std::string &count) {
        args.insert(args.end(), {"--frames", count});
        return args;
    };
    fprintf(stderr, "writing the recordings...\n");
    std::vector<Case> cases;
    cases.push_back({"DV5 16 x D1, 16-grid", true, make(dir, "paced.dv5", with(dv5, pacedFrames), 0),
                     make(dir, "unpaced.dv5", with(dv5, unpacedFrames), 0)});
    cases.push_back({"AVC 4 x 1080p, 4-grid", false, make(dir, "paced.avc", with(avc, pacedFrames), 0),
                     make(dir, "unpaced.avc", with(avc, unpacedFrames), frames)});

    printf("%-24s %-8s %10s %10s %10s %12s %10s %10s %8s\n", "recording", "pacing", "delivered", "on tiles",
           "replaced", "GUI us/pic", "pics/s", "engine/s", "ratio");
    for (const Case &c : cases) {
        if (!c.paced.ok() || !c.unpaced.ok()) continue;
        const Run paced = runDelegate(c.paced.path, true, seconds);
        printf("%-24s %-8s %10llu %10llu %10llu %12.1f %10.1f %10s %8s\n", c.name, "1x",
               static_cast<unsigned long long>(paced.delivered), static_cast<unsigned long long>(paced.shown),
               static_cast<unsigned long long>(paced.superseded),
               paced.shown ? paced.guiCpu / static_cast<double>(paced.shown) * 1e6 : 0.0,
               static_cast<double>(paced.delivered) / paced.wall, "-", "-");
        // The AVC parser builds its index at the first open: one run to build it first.
        if (!c.dv) runEngineOnly(c.unpaced.path, false, 0, 0);
        // Best of three, alternating, as the machine's load comes and goes.
        Run flat;
        double ours = 0, alone = 0;
        for (int rep = 0; rep < 3; ++rep) {
            const Run one = runDelegate(c.unpaced.path, false, 0);
            const double rate = static_cast<double>(one.delivered) / one.wall;
            if (rate > ours) {
                ours = rate;
                flat = one;
            }
            const Run engine = runEngineOnly(c.unpaced.path, c.dv, one.targetWidth, one.targetHeight);
            alone = std::max(alone, static_cast<double>(engine.delivered) / engine.wall);
        }
        printf("%-24s %-8s %10llu %10llu %10llu %12.1f %10.1f %10.1f %8.3f\n", c.name, "unpaced",
               static_cast<unsigned long long>(flat.delivered), static_cast<unsigned long long>(flat.shown),
               static_cast<unsigned long long>(flat.superseded),
               flat.shown ? flat.guiCpu / static_cast<double>(flat.shown) * 1e6 : 0.0, ours, alone,
               ours / alone);
        printf("%-24s decoder target %.0f x %.0f\n", "", flat.targetWidth, flat.targetHeight);
    }
    return 0;
}
