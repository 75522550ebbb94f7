// The whole picture path of the player: the real delegate on the offscreen platform plays a
// generated 16-channel D1 DV5 recording in the 16-pane grid and a 4-channel 1080p AVC recording
// in the 4-pane grid,
//   - paced at 1x for a number of seconds: pictures the engine delivered, pictures that reached
//     a tile, and the GUI thread's processor time per picture;
//   - unpaced (no pacing sleep) to the end of a shorter recording: the same counts and the rate,
//     beside the engine alone (a counting delegate, the same decoder target) on the same file in
//     the same run, and their ratio (best of three runs each).
//   - with --window: the real player window under its own Xvfb (1440 x 1000, 1x) against one
//     `ffmpeg -re` per channel on the same streams, decoding them to RGBA at the tiles' size and
//     decoding only, all pinned to the same cores, in rounds whose order turns: whole-process CPU
//     seconds of each side (from the children's resource usage), the X server's CPU seconds during
//     the player's run, the paint passes, and the ratios at min, median and max.
//   - with --landing: paused seeks in 4- and 16-channel D1 recordings, from the slider's drag
//     to every tile's new picture, against libavcodec decoding what the landing needs
//     (landing.cpp).
// The recordings are at recorder bit rates: D1 at 1.5 Mbit/s, 1080p at 4.5 Mbit/s, 25 frames/s.
// Usage: app_bench [paced seconds (default 20)] [unpaced frames per channel (default 100)]
//        app_bench --window [seconds (default 20)] [rounds (default 5)] [cores (default 0,1)]
//        app_bench --landing [runs (default 5, at least 5)]
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/engine_side/engine_side.h"
#include "app/main_window.h"
#include "bench_common/bench_delegates.h"
#include "bench_common/bench_stats.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "engines/headless_delegate.h"
#include "landing.h"

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
    if (!paced)
        d->handleDVFmtPlayback()->setPacer([](std::chrono::microseconds, const std::function<bool()> &) {});
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
        engine.setPacer([](std::chrono::microseconds, const std::function<bool()> &) {});
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

// A recorder's stream: libx264 at a recorder's bit rate, with grain so that the rate is spent.
std::vector<std::string> recordingArgs(bool dv) {
    if (dv)
        return {"--kind", "dv5-nvr", "--size",   "704x576",  "--video-mask", "0xffff", "--audio-mask", "0",
                "--gop",  "50",      "--preset", "veryfast", "--bitrate",    "1500",   "--grain",      "3"};
    return {"--kind", "avc", "--size",   "1920x1080", "--video-mask", "0xf",  "--audio-mask", "0",
            "--gop",  "50",  "--preset", "veryfast",  "--bitrate",    "4500", "--grain",      "3"};
}

// ---- The real window against one ffmpeg per channel ------------------------------------------

constexpr int kWindowWidth = 1440, kWindowHeight = 1000;

// Counts the paint passes (each one a transfer to the X server): widgets painted less than a
// millisecond after the one before are taken as painted in the same pass.
class PaintPassCounter : public QObject {
  public:
    uint64_t passes = 0;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            const auto now = Clock::now();
            if (now - lastPaint_ > std::chrono::milliseconds(1)) ++passes;
            lastPaint_ = now;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    Clock::time_point lastPaint_{};
};

// The child side: the player in a real window plays `path` at 1x until its engine has delivered
// `pictures` (the anchors' work), then prints what it delivered and showed, the decoders' target
// size, the paint passes and the seconds it took.
int playInWindow(int argc, char **argv) {
    if (argc < 4) return 2;
    const std::string path = argv[2];
    const uint64_t pictures = std::strtoull(argv[3], nullptr, 10);
    QApplication application(argc, argv);
    dvFmtResetControlFlags();
    auto d = std::make_unique<VistrelAppDelegate>();
    d->applicationDidFinishLaunching();
    d->window()->resize(kWindowWidth, kWindowHeight);
    d->makeWindowKeyAndOrderFront();
    // The window is on screen before the file plays, as when a user opens one.
    const auto shown = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < shown && !(d->window()->windowHandle() && d->window()->windowHandle()->isExposed()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    PaintPassCounter passes;
    application.installEventFilter(&passes);
    const auto t0 = Clock::now();
    d->openFileDirectly(QString::fromStdString(path));
    // Opening a file sets the window's size for the file: the wall's size comes after it.
    d->window()->resize(kWindowWidth, kWindowHeight);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (d->engineSide()->picturesDelivered() >= pictures || Clock::now() - t0 > std::chrono::minutes(5))
            loop.quit();
    });
    check.start(5);
    loop.exec();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const uint64_t delivered = d->engineSide()->picturesDelivered();
    const uint64_t shownPictures = d->engineSide()->picturesShown();
    printf("%llu %llu %.0f %.0f %llu %.2f\n", static_cast<unsigned long long>(delivered),
           static_cast<unsigned long long>(shownPictures), d->decoderTargetWidth(), d->decoderTargetHeight(),
           static_cast<unsigned long long>(passes.passes), wall);
    fflush(stdout);
    d->resetPlaybackHandle();
    fflush(stdout);
    // The process's own teardown of the interface is not part of playing.
    _exit(0);
}

double seconds(const timeval &t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// User + system CPU seconds a running process has used, from /proc; -1 when it cannot be read.
double procCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14) utime = std::stoull(field);
        if (n == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Starts `args` on `cores` (none: anywhere) with its output to `outFd` (-1: /dev/null).
pid_t spawnOn(const std::vector<std::string> &args, const cpu_set_t *cores, int outFd,
              const std::vector<std::string> &env = {}) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (cores) sched_setaffinity(0, sizeof(cpu_set_t), cores);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(outFd >= 0 ? outFd : null, 1);
    dup2(null, 2);
    for (const std::string &e : env)
        putenv(strdup(e.c_str()));
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(strdup(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// Waits for `pid`; its CPU seconds, -1 when it failed.
double waitCpu(pid_t pid) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// An X server of the bench's own (so that its CPU can be read): its pid and display.
struct XServer {
    pid_t pid = -1;
    std::string display;
};

XServer startXServer() {
    XServer x;
    int fds[2];
    if (pipe(fds) != 0) return x;
    x.pid = fork();
    if (x.pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buffer[32] = {};
    const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
    close(fds[0]);
    if (n > 0) x.display = ":" + std::to_string(atoi(buffer));
    return x;
}

int windowVersusFfmpeg(int argc, char **argv) {
    const double playSeconds = argc > 2 ? std::max(2.0, atof(argv[2])) : 20.0;
    const int pairs = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    const std::string coreList = argc > 4 ? argv[4] : "0,1";
    cpu_set_t cores;
    CPU_ZERO(&cores);
    {
        std::istringstream list(coreList);
        std::string core;
        while (std::getline(list, core, ','))
            CPU_SET(atoi(core.c_str()), &cores);
    }
    const XServer x = startXServer();
    if (x.display.empty()) {
        fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    mkrec::TempDir dir;
    const int frames = static_cast<int>(playSeconds * 25);
    struct Case {
        const char *name;
        bool dv;
        int channels;
        mkrec::Recording recording;
        std::string esDir;
    };
    std::vector<Case> cases{{"DV5 16 x D1, 16-grid", true, 16, {}, dir.file("es-dv5")},
                            {"AVC 4 x 1080p, 4-grid", false, 4, {}, dir.file("es-avc")}};
    fprintf(stderr, "writing the recordings...\n");
    for (Case &c : cases) {
        std::vector<std::string> args = recordingArgs(c.dv);
        // A few seconds more than is played, so that the player does not reach the end.
        args.insert(args.end(), {"--frames", std::to_string(frames + 100), "--es-dir", c.esDir});
        c.recording = make(dir, c.dv ? "window.dv5" : "window.avc", args, 0);
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;

    printf("window %dx%d at 1x, %.0f s per run, %d rounds, cores %s\n", kWindowWidth, kWindowHeight,
           playSeconds, pairs, coreList.c_str());
    printf("anchors, one per channel: `ffmpeg -re -threads 2 -thread_type slice -i <channel> -frames:v %d` "
           "with\n"
           "  rgba: `-vf scale=<tile>:flags=fast_bilinear,format=rgba -f null -` (the engine's work)\n"
           "  decode: `-f null -` (decoding only)\n",
           frames);
    printf(
        "the player plays until it has delivered as many pictures; CPU seconds; `played` is its wall time\n");
    printf("%-24s %5s %9s %7s %8s %8s %11s %7s %7s %8s %8s %8s %11s\n", "recording", "round", "player s",
           "X s", "rgba s", "decode s", "shown/deliv", "played", "paints", "tile", "pl/rgba", "pl/dec",
           "(pl+X)/dec");
    for (const Case &c : cases) {
        if (!c.recording.ok()) continue;
        const std::string out = dir.file("player.out");
        std::string tile;
        std::vector<double> toRgba, toDecode, withX;
        for (int round = 0; round < pairs; ++round) {
            double player = -1, xCpu = -1, rgba = -1, decode = -1;
            unsigned long long delivered = 0, shown = 0, paints = 0;
            double playWall = 0;
            auto runPlayer = [&] {
                const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                const double x0 = procCpuSeconds(x.pid);
                const pid_t pid = spawnOn(
                    {self, "--play-in-window", c.recording.path,
                     std::to_string(static_cast<long long>(frames) * c.channels)},
                    &cores, fd, {"DISPLAY=" + x.display, "QT_QPA_PLATFORM=xcb", "SDL_AUDIODRIVER=dummy"});
                close(fd);
                player = waitCpu(pid);
                xCpu = procCpuSeconds(x.pid) - x0;
                std::ifstream in(out);
                int w = 0, h = 0;
                in >> delivered >> shown >> w >> h >> paints >> playWall;
                if (tile.empty() && w > 0 && h > 0) tile = std::to_string(w) + ":" + std::to_string(h);
            };
            auto runFfmpeg = [&](bool toTile) {
                std::vector<pid_t> pids;
                for (int ch = 0; ch < c.channels; ++ch) {
                    std::vector<std::string> args{"ffmpeg",
                                                  "-nostdin",
                                                  "-v",
                                                  "error",
                                                  "-re",
                                                  "-threads",
                                                  "2",
                                                  "-thread_type",
                                                  "slice",
                                                  "-i",
                                                  c.esDir + "/video-ch" + std::to_string(ch) + ".h264",
                                                  "-frames:v",
                                                  std::to_string(frames)};
                    if (toTile)
                        args.insert(args.end(),
                                    {"-vf", "scale=" + tile + ":flags=fast_bilinear,format=rgba"});
                    args.insert(args.end(), {"-f", "null", "-"});
                    pids.push_back(spawnOn(args, &cores, -1));
                }
                double sum = 0;
                for (pid_t pid : pids) {
                    const double one = waitCpu(pid);
                    sum = one < 0 || sum < 0 ? -1 : sum + one;
                }
                (toTile ? rgba : decode) = sum;
            };
            // The order turns each round, so that a change in the machine's load falls on every side.
            const std::function<void()> sides[] = {runPlayer, [&] { runFfmpeg(true); },
                                                   [&] { runFfmpeg(false); }};
            const int first = tile.empty() ? 0 : round % 3;
            for (int k = 0; k < 3; ++k)
                sides[(first + k) % 3]();
            if (player > 0 && rgba > 0 && decode > 0) {
                toRgba.push_back(player / rgba);
                toDecode.push_back(player / decode);
                withX.push_back((player + xCpu) / decode);
            }
            printf("%-24s %5d %9.2f %7.2f %8.2f %8.2f %5llu/%-5llu %7.1f %7llu %8s %8.3f %8.3f %11.3f\n",
                   c.name, round + 1, player, xCpu, rgba, decode, shown, delivered, playWall, paints,
                   tile.c_str(), rgba > 0 ? player / rgba : 0.0, decode > 0 ? player / decode : 0.0,
                   decode > 0 ? (player + xCpu) / decode : 0.0);
            fflush(stdout);
        }
        const Spread a = spread(toRgba), b = spread(toDecode), bx = spread(withX);
        printf("%-24s min / median / max: player/rgba %.3f %.3f %.3f; player/decode %.3f %.3f %.3f; "
               "(player+X)/decode %.3f %.3f %.3f\n",
               c.name, a.min, a.median, a.max, b.min, b.median, b.max, bx.min, bx.median, bx.max);
        fflush(stdout);
    }
    kill(x.pid, SIGTERM);
    waitpid(x.pid, nullptr, 0);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::string(argv[1]) == "--window") return windowVersusFfmpeg(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--play-in-window") return playInWindow(argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication application(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--landing") return pausedSeekLanding(argc, argv);
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
    const std::vector<std::string> dv5 = recordingArgs(true);
    const std::vector<std::string> avc = recordingArgs(false);
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
