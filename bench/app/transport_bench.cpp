// How soon the transport's controls take effect and how closely playing keeps to the speed asked
// for, through the real delegate and engines on the offscreen platform; each picture that reaches
// a tile is traced to its frame in the recording's manifest by its bytes, as the flow tests do.
//   - Play after Stop, after a rewind at 4x and after fast forward at 2x of a 4-channel AVC grid
//     (mkrec's defaults: a key frame every second, 25 frames/s): milliseconds from the press to
//     the 8th picture after it. Anchor: 8 pictures of the same grid playing on at 1x, counted
//     from an arbitrary moment (two frame times of the recording, 40 to 80 ms).
//   - 1x, 2x and 4x on one-channel DV4, DV5 and AVC recordings, and rewind at 1x and 2x on the
//     AVC one: recorder seconds per wall second over the pictures shown, fitted by least squares
//     and as the median of the steps from one picture to the next. Anchor: the speed asked for,
//     and the bounds the engines' pacing keeps to on a quiet machine (each step between 0.8 and
//     1.3 times plus 8 ms of the recording's step divided by the speed).
// Each row prints min / median / max over the rounds.
// Usage: transport_bench [rounds (default 5)]
#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/engine_side/engine_side.h"
#include "app/main_window.h"
#include "bench_common/bench_stats.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"

namespace {

using Clock = std::chrono::steady_clock;

// Serves events until `done` holds or the time is up, in the flow tests' steps (so that a picture
// is timed as they time it); returns `done`'s last answer.
bool serveUntil(const std::function<bool()> &done, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void serveFor(int ms) {
    serveUntil([] { return false; }, ms);
}

struct Seen {
    double wallMs;
    const mkrec::Unit *unit;
};

// A player with one recording open, timing every picture shown and tracing it to its frame.
class Watcher {
  public:
    explicit Watcher(const mkrec::Recording &rec) : start_(Clock::now()), trace_(rec.manifest) {
        dvFmtResetControlFlags();
        d_ = std::make_unique<VistrelAppDelegate>();
        d_->applicationDidFinishLaunching();
        d_->makeWindowKeyAndOrderFront();
        d_->engineSide()->setShownPictureObserver([this](const EngineSide::ShownPicture &p) {
            if (const mkrec::Unit *unit =
                    trace_.unitOf(p.frame.constData(), static_cast<size_t>(p.frame.size())))
                seen.push_back({nowMs(), unit});
        });
        QCoreApplication::processEvents();
        d_->openFileDirectly(QString::fromStdString(rec.path));
    }
    ~Watcher() {
        d_->engineSide()->setShownPictureObserver({});
        d_.reset();
        dvFmtResetControlFlags();
    }
    Ui::MainWindow &ui() { return d_->window()->ui; }
    double nowMs() const { return std::chrono::duration<double, std::milli>(Clock::now() - start_).count(); }
    bool waitForPictures(size_t n, int timeoutMs = 10000) {
        return serveUntil([&] { return seen.size() >= n; }, timeoutMs);
    }
    void seekTo(int percent) {
        CustomizedProgressSlider *slider = ui().playbackProgressSlider;
        slider->setSliderDown(true);
        slider->setFloatValue(static_cast<float>(percent));
        slider->setSliderDown(false);
    }
    // Milliseconds from now to the `count`-th picture after now; -1 when it does not come in 10 s.
    double msToPictures(size_t count, const std::function<void()> &press = {}) {
        const size_t at = seen.size();
        const double from = nowMs();
        if (press) press();
        if (!waitForPictures(at + count)) return -1;
        return seen[at + count - 1].wallMs - from;
    }

    std::vector<Seen> seen;

  private:
    Clock::time_point start_;
    const mkrec::FrameTrace trace_;
    std::unique_ptr<VistrelAppDelegate> d_;
};

// ---- Play after Stop, a rewind and a fast forward ---------------------------------------------

struct PlayRound {
    double afterStop = -1, afterRewind = -1, afterForward = -1, anchor = -1;
};

// The flow test's path through a 4-channel AVC grid, timing each Play.
PlayRound playRound(const mkrec::Recording &rec) {
    PlayRound r;
    Watcher w(rec);
    if (!w.waitForPictures(8)) return r;
    const int64_t start = rec.manifest.video().front()->tUs;
    const auto played = [&] { return w.seen.back().unit->tUs - start; };
    const auto play = [&] { return w.msToPictures(8, [&] { w.ui().playActionBtn->click(); }); };

    w.ui().pauseActionBtn->click();
    const size_t beforeSeek = w.seen.size();
    w.seekTo(15);
    std::map<int, bool> landed;
    if (!serveUntil(
            [&] {
                for (size_t i = beforeSeek; i < w.seen.size(); ++i)
                    if (w.seen[i].unit->tUs - start >= 2500000) landed[w.seen[i].unit->channel] = true;
                return landed.size() == 4;
            },
            10000))
        return r;
    w.ui().stopBtn->click();
    serveFor(300);
    r.afterStop = play();
    if (r.afterStop < 0) return r;
    // Playing on at 1x for a while, then 8 pictures from whenever the count starts.
    serveFor(500);
    r.anchor = w.msToPictures(8);

    w.seekTo(80);
    if (!serveUntil([&] { return played() >= 18000000; }, 10000)) return r;
    for (int i = 0; i < 3; ++i)
        w.ui().fastRewindBtn->click();
    if (!serveUntil([&] { return played() < 14000000; }, 10000)) return r;
    r.afterRewind = play();
    if (r.afterRewind < 0) return r;

    const int64_t forwardFrom = played();
    w.ui().fastForwardBtn->click();
    if (!serveUntil([&] { return played() > forwardFrom + 4000000; }, 15000)) return r;
    r.afterForward = play();
    return r;
}

// ---- Speeds -----------------------------------------------------------------------------------

struct Measured {
    double fitted = 0, stepMedian = 0;
};

// Recorder seconds per wall second over the pictures shown from `fromMs` on.
Measured speedSince(const std::vector<Seen> &seen, double fromMs) {
    double sw = 0, st = 0, sww = 0, swt = 0;
    size_t n = 0;
    std::map<int, const Seen *> previous;
    std::vector<double> steps;
    for (const Seen &s : seen) {
        if (s.wallMs < fromMs) continue;
        const double w = s.wallMs / 1000.0, t = static_cast<double>(s.unit->tUs) / 1e6;
        sw += w, st += t, sww += w * w, swt += w * t;
        ++n;
        const Seen *&p = previous[s.unit->channel];
        if (p) {
            const double recorderMs = static_cast<double>(s.unit->tUs - p->unit->tUs) / 1000.0;
            const double wallMs = s.wallMs - p->wallMs;
            steps.push_back(wallMs > 0 ? recorderMs / wallMs
                                       : std::copysign(std::numeric_limits<double>::infinity(), recorderMs));
        }
        p = &s;
    }
    Measured m;
    const double den = static_cast<double>(n) * sww - sw * sw;
    m.fitted = n >= 2 && den > 0 ? (static_cast<double>(n) * swt - sw * st) / den : 0.0;
    m.stepMedian = spread(steps).median;
    return m;
}

// Plays on for `ms` from the `changing`-th picture after the control (the frame under way then
// was paced at the old speed) and measures.
Measured measure(Watcher &w, int ms, size_t changing) {
    const size_t at = w.seen.size();
    if (!w.waitForPictures(at + changing)) return {};
    const double from = changing > 0 ? w.seen[at + changing - 1].wallMs : w.nowMs();
    serveFor(ms);
    return speedSince(w.seen, from);
}

struct SpeedCase {
    const char *name;
    const char *file;
    std::vector<std::string> args;
    bool avc;
    int gop;
    mkrec::Recording rec;
};

struct SpeedRow {
    std::string name;
    double speed, lo, hi;
    std::vector<double> fitted, stepMedian;
};

// One round on one file: the flow test's speeds, in its order and spans.
void speedRound(const SpeedCase &c, std::vector<SpeedRow> &rows) {
    Watcher w(c.rec);
    if (!w.waitForPictures(1)) return;
    struct Step {
        std::function<void()> press;
        double speed;
        int ms;
        size_t changing;
    };
    std::vector<Step> steps = {
        {{}, 1, 700, 0},
        {[&] { w.ui().fastForwardBtn->click(); }, 2, 600, 2},
        {[&] { w.ui().fastForwardBtn->click(); }, 4, 500, 2},
    };
    if (c.avc) {
        steps.push_back({[&] {
                             w.ui().playActionBtn->click();
                             w.ui().fastRewindBtn->click();
                         },
                         -1, 800, 3});
        steps.push_back({[&] { w.ui().fastRewindBtn->click(); }, -2, 500, 3});
    }
    for (const Step &s : steps) {
        if (s.press) s.press();
        const Measured m = measure(w, s.ms, s.changing);
        const std::string name = std::string(c.name) + " " + (s.speed < 0 ? "rewind " : "") +
                                 std::to_string(static_cast<int>(std::abs(s.speed))) + "x";
        auto row = std::find_if(rows.begin(), rows.end(), [&](const SpeedRow &r) { return r.name == name; });
        if (row == rows.end()) {
            // The recording's step: a frame, or a key frame interval when rewinding.
            const double gap = (s.speed < 0 ? 40.0 * c.gop : 40.0) / std::abs(s.speed);
            rows.push_back({name,
                            s.speed,
                            std::abs(s.speed) * gap / (1.3 * gap + 8.0),
                            std::abs(s.speed) / 0.8,
                            {},
                            {}});
            row = rows.end() - 1;
        }
        row->fitted.push_back(m.fitted * (s.speed < 0 ? -1 : 1));
        row->stepMedian.push_back(m.stepMedian * (s.speed < 0 ? -1 : 1));
    }
}

void printSpread(const std::vector<double> &v) {
    const Spread s = spread(v);
    printf(" %7.2f %7.2f %7.2f", s.min, s.median, s.max);
}

} // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    mkrec::TempDir dir;
    fprintf(stderr, "writing the recordings...\n");
    const mkrec::Recording grid =
        mkrec::make(dir, "resume.avc", {"--kind", "avc", "--video-mask", "0xf", "--duration", "24"});
    std::vector<SpeedCase> cases = {
        {"DV4", "flow.dv4", {"--kind", "dv4-h264"}, false, 5, {}},
        {"DV5", "flow.dv5", {"--kind", "dv5-nvr", "--video-mask", "0x1"}, false, 5, {}},
        {"AVC", "flow.avc", {"--kind", "avc", "--video-mask", "0x1", "--audio-mask", "0"}, true, 2, {}},
    };
    for (SpeedCase &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--duration", "10", "--gop", std::to_string(c.gop)});
        c.rec = mkrec::make(dir, c.file, args);
        if (!c.rec.ok()) fprintf(stderr, "cannot make %s: %s\n", c.file, c.rec.output.c_str());
    }
    if (!grid.ok()) fprintf(stderr, "cannot make resume.avc: %s\n", grid.output.c_str());

    printf("%d rounds; min / median / max\n", rounds);
    if (grid.ok()) {
        std::vector<double> afterStop, afterRewind, afterForward, anchor;
        int incomplete = 0;
        for (int round = 0; round < rounds; ++round) {
            const PlayRound r = playRound(grid);
            incomplete += r.afterForward < 0;
            for (auto [value, into] :
                 {std::pair{r.afterStop, &afterStop}, std::pair{r.afterRewind, &afterRewind},
                  std::pair{r.afterForward, &afterForward}, std::pair{r.anchor, &anchor}})
                if (value >= 0) into->push_back(value);
        }
        printf("\nPlay on a 4-channel AVC grid: ms from the press to the 8th picture\n");
        printf("%-34s %7s %7s %7s %7s\n", "after", "runs", "min", "median", "max");
        const std::pair<const char *, const std::vector<double> *> rows[] = {
            {"Stop", &afterStop},
            {"a rewind at 4x", &afterRewind},
            {"fast forward at 2x", &afterForward},
            {"anchor: 8 pictures playing at 1x", &anchor}};
        for (const auto &[name, values] : rows) {
            printf("%-34s %7zu", name, values->size());
            printSpread(*values);
            printf("\n");
        }
        if (incomplete) printf("%d rounds ended early: a wait ran out\n", incomplete);
    }

    std::vector<SpeedRow> speeds;
    for (int round = 0; round < rounds; ++round)
        for (const SpeedCase &c : cases)
            if (c.rec.ok()) speedRound(c, speeds);
    printf("\nSpeed: recorder seconds per wall second over the pictures shown\n");
    printf("%-16s %5s %11s %23s %23s\n", "", "", "bounds", "fitted", "median of the steps");
    printf("%-16s %5s %5s %5s %7s %7s %7s %7s %7s %7s\n", "file, speed", "asked", "low", "high", "min",
           "median", "max", "min", "median", "max");
    for (const SpeedRow &r : speeds) {
        printf("%-16s %5.0f %5.2f %5.2f", r.name.c_str(), std::abs(r.speed), r.lo, r.hi);
        printSpread(r.fitted);
        printSpread(r.stepMedian);
        printf("\n");
    }
    return 0;
}
