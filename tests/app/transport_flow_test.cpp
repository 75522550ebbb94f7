// The transport controls driving the real engines on generated DV4, DV5 and AVC recordings,
// through the window's own controls: what plays is measured from the recorder times of the
// pictures that reach a tile (each picture is traced back to its frame in the recording's
// manifest) against the wall clock.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/alerts.h"
#include "app/controls/CustomizedButton.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/engine_side/engine_side.h"
#include "app/main_window.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"
#include "qt_test_app.h"

namespace {

using Clock = std::chrono::steady_clock;

// One picture that reached a tile: when, and which frame of the recording it shows.
struct Seen {
    double wallMs;
    const mkrec::Unit *unit;
    QImage picture;
};

// Answers the alert sheets itself; keeps what it was shown.
class KeptAlerts : public AlertPresenter {
  public:
    KeptAlerts() { previous_ = setAlertPresenter(this); }
    ~KeptAlerts() override { setAlertPresenter(previous_); }
    void present(QWidget *, const Alert &alert, AlertCompletion completion) override {
        shown.push_back(alert);
        if (completion) completion(kAlertFirstButtonReturn);
    }
    std::vector<Alert> shown;

  private:
    AlertPresenter *previous_ = nullptr;
};

// A launched player with one recording open, tracing every picture shown to its frame.
class Watched {
  public:
    explicit Watched(const mkrec::Recording &rec) : rec_(rec), trace_(rec.manifest) {
        testApp();
        dvFmtResetControlFlags();
        start_ = Clock::now();
        d_ = std::make_unique<VistrelAppDelegate>();
        d_->applicationDidFinishLaunching();
        d_->makeWindowKeyAndOrderFront();
        d_->engineSide()->setShownPictureObserver([this](const EngineSide::ShownPicture &p) {
            const mkrec::Unit *unit = trace_.unitOf(p.frame.constData(), static_cast<size_t>(p.frame.size()));
            if (!unit) {
                ++unknown;
                return;
            }
            seen.push_back({nowMs(), unit, p.picture});
        });
        serveEvents();
        d_->openFileDirectly(QString::fromStdString(rec.path));
    }
    ~Watched() {
        d_->engineSide()->setShownPictureObserver({});
        d_.reset();
        dvFmtResetControlFlags();
    }
    VistrelAppDelegate &d() { return *d_; }
    Ui::MainWindow &ui() { return d_->window()->ui; }

    double nowMs() const { return std::chrono::duration<double, std::milli>(Clock::now() - start_).count(); }
    // Serves events for `ms`: the span over which a speed is measured or a held picture watched.
    void watchFor(int ms) {
        serveEventsUntil([] { return false; }, ms);
    }
    bool waitForPictures(size_t n, int timeoutMs = 10000) {
        return serveEventsUntil([&] { return seen.size() >= n; }, timeoutMs);
    }
    bool shows(const QPixmap &window, const QPixmap &fullScreen) const {
        return d_->window()->ui.playbackStatusImageView->pixmap().cacheKey() == window.cacheKey() &&
               d_->window()->ui.fullScreenPlaybackStatusImageView->pixmap().cacheKey() ==
                   fullScreen.cacheKey();
    }

    // Recorder seconds per wall second over the pictures shown from `fromMs` on: the median of
    // every channel's steps from one picture to its next. A busy machine stretches the steps it
    // delays and leaves the others as the pacing made them, so the median keeps to the pacing
    // where a fit over the whole span follows the delays. Counts the pictures, the steps, and
    // the steps that went the other way in the recording than `direction` (+1 or -1).
    double stepSpeedSince(double fromMs, int direction, size_t *pictures, size_t *steps,
                          size_t *against) const {
        std::map<int, const Seen *> previous;
        std::vector<double> speeds;
        *pictures = *against = 0;
        for (const Seen &s : seen) {
            if (s.wallMs < fromMs) continue;
            ++*pictures;
            const Seen *&p = previous[s.unit->channel];
            if (p) {
                const double recorderMs = static_cast<double>(s.unit->tUs - p->unit->tUs) / 1000.0;
                const double wallMs = s.wallMs - p->wallMs;
                if (recorderMs * direction <= 0) ++*against;
                // Two pictures taken in one pass of the event loop: as fast as can be.
                speeds.push_back(wallMs > 0
                                     ? recorderMs / wallMs
                                     : std::copysign(std::numeric_limits<double>::infinity(), recorderMs));
            }
            p = &s;
        }
        *steps = speeds.size();
        if (speeds.empty()) return 0.0;
        std::sort(speeds.begin(), speeds.end());
        const size_t n = speeds.size();
        return n % 2 ? speeds[n / 2] : (speeds[n / 2 - 1] + speeds[n / 2]) / 2;
    }
    // Plays on for `ms` and checks what the speed does to the pictures: each channel's pictures
    // go forward in the recording (backwards for a negative speed), paced at the speed within
    // bounds that tell it from half or twice of it and hold on a busy machine (0.6 to 1.25 times
    // the speed). How close to the speed the engines pace is a figure transport_bench prints.
    // The span starts at the `changing`-th picture shown after the control was used: the frame
    // under way then was paced at the old speed.
    void expectSpeed(double speed, int ms, const char *what, size_t changing = 2) {
        const size_t at = seen.size();
        ASSERT_TRUE(waitForPictures(at + changing)) << what << ": " << framesSeen(at);
        const double from = changing > 0 ? seen[at + changing - 1].wallMs : nowMs();
        watchFor(ms);
        const int direction = speed < 0 ? -1 : 1;
        size_t pictures = 0, steps = 0, against = 0;
        const double measured = stepSpeedSince(from, direction, &pictures, &steps, &against);
        EXPECT_GE(pictures, 3u) << what;
        EXPECT_GE(steps, 2u) << what;
        EXPECT_EQ(against, 0u) << what << ": pictures against the play's direction; " << framesSeen(at);
        EXPECT_GE(measured * direction, 0.6 * std::abs(speed)) << what << ": " << measured << "x";
        EXPECT_LE(measured * direction, std::abs(speed) / 0.8) << what << ": " << measured << "x";
    }
    // Watches for `ms` after a pause or stop has taken effect: the engines hand one frame at a
    // time to their channel threads, so only the frame under way then may still be delivered,
    // and only it and those already on their way to the GUI thread may still reach a tile.
    void expectHeld(int ms, const char *what) {
        const EngineSide &e = *d_->engineSide();
        const uint64_t delivered = e.picturesDelivered();
        const uint64_t onTheirWay = delivered - e.picturesShown() - e.picturesSuperseded();
        const size_t count = seen.size();
        const QImage onTile = d_->videoPaneLayout()->videoView()[0]->contents();
        watchFor(ms);
        const uint64_t after = e.picturesDelivered();
        EXPECT_LE(after, delivered + 1) << what;
        EXPECT_LE(seen.size(), count + onTheirWay + (after - delivered)) << what << ": " << framesSeen(count);
        if (seen.size() == count) {
            EXPECT_EQ(d_->videoPaneLayout()->videoView()[0]->contents().cacheKey(), onTile.cacheKey())
                << what;
        }
    }
    std::string framesSeen(size_t from) const {
        std::string out = "frames shown:";
        for (size_t i = from; i < seen.size(); ++i)
            out += " " + std::to_string(seen[i].unit->frame);
        return out;
    }
    // The progress slider's seek: a drag to `percent` and its release.
    void seekTo(int percent) {
        CustomizedProgressSlider *slider = d_->window()->ui.playbackProgressSlider;
        slider->setSliderDown(true);
        slider->setFloatValue(static_cast<float>(percent));
        slider->setSliderDown(false);
    }

    std::vector<Seen> seen;
    int unknown = 0;

  private:
    const mkrec::Recording &rec_;
    const mkrec::FrameTrace trace_;
    Clock::time_point start_;
    std::unique_ptr<VistrelAppDelegate> d_;
};

struct FlowCase {
    const char *name;
    const char *file;
    std::vector<std::string> args;
    bool avc;
    int gop; // a paused AVC file steps through its key frames only
};

// The unit at the place of a seek to `percent`: the first video unit whose header lies at or
// after that share of the bytes (DV) or the first video record from that share of the records
// on (AVC); at the end, the last.
const mkrec::Unit *placeUnit(const mkrec::Recording &rec, bool avc, int percent) {
    const std::vector<const mkrec::Unit *> video = rec.manifest.video();
    const size_t k = std::max<size_t>(rec.manifest.units.size() * static_cast<size_t>(percent) / 100, 1);
    const uint64_t target =
        static_cast<uint64_t>(static_cast<double>(rec.manifest.num("bytes")) * 0.01 * percent);
    for (const mkrec::Unit *u : video)
        if (avc ? u->index >= k - 1 : u->offset >= target) return u;
    return video.back();
}

// The frame of channel 1 a seek to `percent` shows: the one at the moment of the place, the first
// frame from there on (DV files: the first unit whose header lies at or after that share of the
// bytes; AVC files: the first video record from that share of the records on), or at the end
// the last one.
std::vector<const mkrec::Unit *> seekLandings(const mkrec::Recording &rec, bool avc, int percent) {
    const std::vector<const mkrec::Unit *> video = rec.manifest.video(0);
    if (percent == 0) return {video.front()};
    int64_t moment = video.back()->tUs;
    if (avc) {
        const std::vector<mkrec::Unit> &all = rec.manifest.units;
        const size_t k = std::max<size_t>(all.size() * static_cast<size_t>(percent) / 100, 1);
        for (size_t i = all.size(); i-- > k - 1;)
            if (all[i].video) moment = all[i].tUs;
    } else {
        const uint64_t target =
            static_cast<uint64_t>(static_cast<double>(rec.manifest.num("bytes")) * 0.01 * percent);
        const std::vector<const mkrec::Unit *> all = rec.manifest.video();
        for (size_t i = all.size(); i-- > 0;)
            if (all[i]->offset >= target) moment = all[i]->tUs;
    }
    for (const mkrec::Unit *u : video)
        if (u->tUs >= moment) return {u};
    return {video.back()};
}

// Every control of the transport, in the order a user might press them, on each kind of file.
TEST(TransportFlow, EachControlChangesWhatPlays) {
    const std::vector<FlowCase> cases = {
        {"DV4", "flow.dv4", {"--kind", "dv4-h264"}, false, 5},
        {"DV5", "flow.dv5", {"--kind", "dv5-nvr", "--video-mask", "0x1"}, false, 5},
        {"AVC", "flow.avc", {"--kind", "avc", "--video-mask", "0x1", "--audio-mask", "0"}, true, 2},
    };
    mkrec::TempDir dir;
    for (const FlowCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--duration", "10", "--gop", std::to_string(c.gop)});
        const mkrec::Recording rec = mkrec::make(dir, c.file, args);
        ASSERT_TRUE(rec.ok()) << rec.output;
        const std::vector<const mkrec::Unit *> video = rec.manifest.video(0);
        KeptAlerts alerts;
        Watched w(rec);
        VistrelAppDelegate &d = w.d();
        ASSERT_TRUE(w.waitForPictures(1));
        EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Play),
                            d.statusImages().image(transport::StatusImage::Play, true)));

        // 1x, then fast forward 2x and 4x.
        w.expectSpeed(1, 700, "1x", 0);
        w.ui().fastForwardBtn->click();
        EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Fwd2x),
                            d.statusImages().image(transport::StatusImage::Fwd2x, true)));
        w.expectSpeed(2, 600, "2x");
        w.ui().fastForwardFullScreenBtn->click();
        EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Fwd4x),
                            d.statusImages().image(transport::StatusImage::Fwd4x, true)));
        w.expectSpeed(4, 500, "4x");
        w.ui().playActionBtn->click();
        EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Play),
                            d.statusImages().image(transport::StatusImage::Play, true)));

        // Fast rewind: AVC files go back through their key frames; DV files say they cannot.
        if (c.avc) {
            w.ui().fastRewindBtn->click();
            EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Rwd1x),
                                d.statusImages().image(transport::StatusImage::Rwd1x, true)));
            w.expectSpeed(-1, 800, "rewind 1x", 3);
            w.ui().fastRewindFullScreenBtn->click();
            EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Rwd2x),
                                d.statusImages().image(transport::StatusImage::Rwd2x, true)));
            w.expectSpeed(-2, 500, "rewind 2x", 3);
            w.ui().playActionBtn->click();
        } else {
            w.ui().fastRewindBtn->click();
            serveEvents();
            ASSERT_EQ(alerts.shown.size(), 1u);
            EXPECT_EQ(alerts.shown[0].messageText, QString("Action Unsupported"));
            EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Play),
                                d.statusImages().image(transport::StatusImage::Play, true)));
            w.expectSpeed(1, 700, "1x after the refused rewind", 0);
        }
        EXPECT_TRUE(alerts.shown.size() == (c.avc ? 0u : 1u));

        // Pause holds the picture; holding fast forward steps on, letting go stops again.
        w.ui().pauseActionBtn->click();
        EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Pause),
                            d.statusImages().image(transport::StatusImage::Pause, true)));
        EXPECT_FALSE(d.isPlaybackNow());
        w.expectHeld(400, "paused");
        const size_t beforeSteps = w.seen.size();
        const int64_t pausedAt = w.seen.back().unit->tUs;
        QTest::mousePress(w.ui().fastForwardBtn, Qt::LeftButton);
        const bool stepped = w.waitForPictures(beforeSteps + 3);
        QTest::mouseRelease(w.ui().fastForwardBtn, Qt::LeftButton);
        ASSERT_TRUE(stepped) << "holding fast forward while paused steps frames";
        for (size_t i = beforeSteps; i < w.seen.size(); ++i)
            EXPECT_GT(w.seen[i].unit->tUs, i == beforeSteps ? pausedAt : w.seen[i - 1].unit->tUs);
        EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Pause),
                            d.statusImages().image(transport::StatusImage::Pause, true)))
            << "a step keeps the pause image";
        EXPECT_EQ(gDVFmtPlaybackSpeed.load(), 0);
        // The next tick of the button watch closes the step window.
        ASSERT_TRUE(serveEventsUntil([] { return gDVFmtPlaybackForwardAtPause.load() == 0; }, 10000));
        w.expectHeld(400, "released");

        // Flip: the first frames played again upright and then flipped; from the flip on, every
        // picture is the upright one turned by 180 degrees. A busy GUI thread shows only the
        // latest of the pictures waiting for it, so two plays may show different frames: the
        // flipped play starts again from 0 until three of its pictures are of frames also seen
        // upright. Each play hands `take` the pictures after the jump back (where the frame
        // numbers go down: those still on their way from before are later frames) until it
        // says enough.
        const auto playFromStart = [&](const std::function<bool(const Seen &)> &take) {
            const size_t from = w.seen.size();
            const int before = w.seen.back().unit->frame;
            w.seekTo(0);
            size_t next = from;
            bool back = false;
            return serveEventsUntil(
                [&] {
                    for (; next < w.seen.size(); ++next) {
                        back = back || w.seen[next].unit->frame < before;
                        if (back && take(w.seen[next])) return true;
                    }
                    return false;
                },
                10000);
        };
        w.ui().playActionBtn->click();
        ASSERT_FALSE(d.videoFlipImageFlag());
        std::map<const mkrec::Unit *, QImage> upright;
        int lastUpright = 0;
        const size_t uprightFrom = w.seen.size();
        ASSERT_TRUE(playFromStart([&](const Seen &s) {
            upright[s.unit] = s.picture;
            lastUpright = std::max(lastUpright, s.unit->frame);
            return upright.size() >= 8;
        })) << w.framesSeen(uprightFrom);
        w.ui().flipImageBtn->click();
        ASSERT_TRUE(d.videoFlipImageFlag());
        size_t compared = 0;
        const auto flipDeadline = Clock::now() + std::chrono::seconds(40);
        while (compared < 3 && Clock::now() < flipDeadline) {
            const size_t from = w.seen.size();
            ASSERT_TRUE(playFromStart([&](const Seen &s) {
                const auto seenUpright = upright.find(s.unit);
                if (seenUpright != upright.end()) {
                    EXPECT_EQ(comparable(s.picture), comparable(seenUpright->second.mirrored(true, true)))
                        << "frame " << s.unit->frame;
                    ++compared;
                }
                // Past the frames seen upright: nothing more to compare in this play.
                return compared >= 3 || s.unit->frame > lastUpright;
            })) << w.framesSeen(from);
        }
        EXPECT_GE(compared, 3u) << "upright: frames up to " << lastUpright;
        EXPECT_EQ(comparable(d.videoPaneLayout()->videoView()[0]->contents()),
                  comparable(w.seen.back().picture));
        w.ui().flipImageBtn->click();
        EXPECT_FALSE(d.videoFlipImageFlag());

        // Seeks, made while paused: the picture shown is where the engine landed, and Play goes
        // on from there; the progress shows the share asked for. From 99 % the file plays to its
        // end.
        for (int percent : {50, 0, 99}) {
            SCOPED_TRACE("seek to " + std::to_string(percent) + "%");
            w.ui().pauseActionBtn->click();
            const size_t atSeek = w.seen.size();
            const std::vector<const mkrec::Unit *> landings = seekLandings(rec, c.avc, percent);
            ASSERT_FALSE(landings.empty());
            // The landing frame and the next may reach the engine's output back to back, and the
            // tile then shows only the later one.
            const auto onLanding = [&](const mkrec::Unit *shown) {
                return std::any_of(landings.begin(), landings.end(), [&](const mkrec::Unit *u) {
                    return shown->frame >= u->frame && shown->frame <= u->frame + 2;
                });
            };
            w.seekTo(percent);
            EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Pause),
                                d.statusImages().image(transport::StatusImage::Pause, true)));
            // A paused file shows the landing frame, after the frames that were on their way
            // at the pause.
            size_t before = 0;
            const auto seekDone = [&] {
                for (size_t i = atSeek; i < w.seen.size(); ++i) {
                    if (onLanding(w.seen[i].unit)) {
                        before = i;
                        return true;
                    }
                }
                return false;
            };
            ASSERT_TRUE(serveEventsUntil(seekDone, 10000))
                << "the seek was not carried out, expected frame " << landings.back()->frame << "; "
                << w.framesSeen(atSeek);
            serveEvents();
            // A DV file reports where the landing frame ends, a little past the share asked for.
            const float progress = d.window()->ui.playbackProgressSlider->floatValue();
            EXPECT_GE(progress, percent - 1.0f);
            EXPECT_LE(progress, percent + (c.avc ? 1.0f : 3.0f));
            w.ui().playActionBtn->click();
            ASSERT_TRUE(w.waitForPictures(before + 1));
            const mkrec::Unit *landed = w.seen[before].unit;
            EXPECT_TRUE(onLanding(landed))
                << "landed on frame " << landed->frame << ", expected frame " << landings.back()->frame;
            if (percent != 99) {
                ASSERT_TRUE(w.waitForPictures(w.seen.size() + 3));
            }
        }
        ASSERT_TRUE(serveEventsUntil([&] { return !d.isPlaybackNow(); }, 10000)) << "the end of the file";
        ASSERT_TRUE(serveEventsUntil(
            [&] {
                return w.shows(d.statusImages().image(transport::StatusImage::Stop),
                               d.statusImages().image(transport::StatusImage::Stop, true));
            },
            5000));
        EXPECT_EQ(w.seen.back().unit, video.back());
        EXPECT_EQ(d.window()->ui.playbackProgressSlider->floatValue(), 100.0f);

        // Play after the end starts again from the first frame; Stop ends playing and holds.
        const size_t beforeReplay = w.seen.size();
        w.ui().playActionBtn->click();
        ASSERT_TRUE(w.waitForPictures(beforeReplay + 3));
        EXPECT_LE(w.seen[beforeReplay].unit->frame, 2);
        EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Play),
                            d.statusImages().image(transport::StatusImage::Play, true)));
        // Stop from pause: a paused DV parser must run to carry the stop out.
        ASSERT_TRUE(w.waitForPictures(beforeReplay + 8));
        w.ui().pauseActionBtn->click();
        w.expectHeld(300, "paused before the stop");
        w.ui().stopBtn->click();
        EXPECT_TRUE(w.shows(d.statusImages().image(transport::StatusImage::Stop),
                            d.statusImages().image(transport::StatusImage::Stop, true)));
        EXPECT_FALSE(d.isPlaybackNow());
        // The DV parser has taken the stop and halted after the first key frame.
        ASSERT_TRUE(serveEventsUntil(
            [&] {
                return c.avc ||
                       (gDVFmtPlaybackStopActionLaunched.load() == 0 && gDVFmtPlaybackIFrameStop.load() == 0);
            },
            10000));
        w.expectHeld(500, "stopped");
        if (!c.avc) {
            EXPECT_EQ(w.seen.back().unit, video.front()) << "the DV parser went back to the start";
        }
        EXPECT_EQ(d.window()->ui.playbackProgressSlider->floatValue(), 0.0f);
        EXPECT_EQ(w.unknown, 0) << "pictures not traced to a frame of the recording";
    }
}

// The clock's second and a picture's are at most `seconds` apart (the clock shows whole seconds).
bool nearClock(const QString &clock, const mkrec::Unit *u, int seconds = 2) {
    const int d = static_cast<int>((u->tUs / 1000000 - clock.right(2).toInt()) % 60 + 60) % 60;
    return std::min(d, 60 - d) <= seconds;
}

// The frame each shown tile of the pane holds, among the pictures seen from `from` on; a tile
// that holds none of them is missing from the map.
std::map<int, const mkrec::Unit *> tileFrames(Watched &w, size_t from = 0) {
    std::map<int, const mkrec::Unit *> frames;
    const auto &tiles = w.d().videoPaneLayout()->videoView();
    for (int channel = 0; channel < 16; ++channel) {
        if (!tiles[channel]->isVisible()) continue;
        const qint64 key = tiles[channel]->contents().cacheKey();
        for (size_t i = from; i < w.seen.size(); ++i)
            if (w.seen[i].picture.cacheKey() == key) frames[channel] = w.seen[i].unit;
    }
    return frames;
}

// `tiles` tiles are shown, each with a picture seen from `from` on, all within `apartUs` of each
// other (and of `momentUs`, when given); but tile `blank`, which shows no picture.
bool oneMoment(Watched &w, size_t tiles, size_t from, int64_t apartUs, int64_t momentUs = -1,
               int blank = -1) {
    const auto &views = w.d().videoPaneLayout()->videoView();
    const size_t shown = static_cast<size_t>(std::count_if(
        views.begin(), views.end(), [](const CustomizedVideoView *v) { return v->isVisible(); }));
    const auto frames = tileFrames(w, from);
    if (blank >= 0 && (frames.count(blank) || !views[static_cast<size_t>(blank)]->contents().isNull()))
        return false;
    if (shown != tiles || frames.size() != tiles - (blank >= 0 ? 1 : 0)) return false;
    int64_t lo = momentUs < 0 ? INT64_MAX : momentUs, hi = momentUs < 0 ? INT64_MIN : momentUs;
    for (const auto &f : frames) {
        lo = std::min(lo, f.second->tUs);
        hi = std::max(hi, f.second->tUs);
    }
    return hi - lo <= apartUs;
}

// A trip to channel 2's single view and back while paused: each view shows at once, and back in
// the grid every tile shows the moment on screen again, still paused.
void tripToTheSingleViewAndBack(Watched &w) {
    const auto &tiles = w.d().videoPaneLayout()->videoView();
    const int64_t moment = w.seen.back().unit->tUs;
    QTest::mouseClick(tiles[1], Qt::LeftButton);
    ASSERT_EQ(w.d().videoPaneCutState(), 0);
    EXPECT_TRUE(oneMoment(w, 1, 0, 100000, moment)) << "the single view shows at once";
    const size_t back = w.seen.size();
    QTest::mouseClick(tiles[1], Qt::LeftButton);
    ASSERT_EQ(w.d().videoPaneCutState(), 1);
    ASSERT_TRUE(serveEventsUntil([&] { return oneMoment(w, 4, back, 100000, moment); }, 10000))
        << w.framesSeen(back);
    w.expectHeld(300, "paused back in the grid");
}

// Searching a paused file with the slider, in the single view and in the 4-grid: each seek
// shows every tile's picture of the place asked for (made from its channel's last key frame at
// or before it), with the clock there, and holds; no earlier place comes back, and Play goes on
// from there. Where nothing can be decoded the file stays paused there rather than reading on to
// its end. D1 recordings at recorder bit rates with key frames 4 s apart also land at the end,
// seek while playing, and show every channel's start after Stop.
TEST(TransportFlow, PausedSeekShowsThePlaceAskedForInEveryTile) {
    const std::vector<std::string> d1 = {"--video-mask", "0xf",       "--size", "704x576", "--gop",
                                         "100",          "--bitrate", "1500",   "--grain", "4"};
    const struct {
        const char *file;
        std::vector<std::string> args;
        bool avc;
        int tiles; // 0: pictures from 45 % on cannot be decoded
        bool far;  // key frames 4 s and some MB apart
    } rows[] = {{"search.dv5", {"--kind", "dv5-nvr", "--video-mask", "0x1"}, false, 1, false},
                {"grid.dv5", {"--kind", "dv5-nvr", "--video-mask", "0xf"}, false, 4, false},
                {"grid.avc", {"--kind", "avc", "--video-mask", "0xf", "--audio-mask", "0"}, true, 4, false},
                {"damaged.dv5", {"--kind", "dv5-nvr", "--video-mask", "0x1"}, false, 0, false},
                {"d1.dv5", {"--kind", "dv5-nvr"}, false, 4, true},
                {"d1.avc", {"--kind", "avc", "--audio-mask", "0"}, true, 4, true}};
    mkrec::TempDir dir;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"--duration", row.far ? "16" : "20"});
        if (row.far) args.insert(args.end(), d1.begin(), d1.end());
        const mkrec::Recording rec = mkrec::make(dir, row.file, args);
        ASSERT_TRUE(rec.ok()) << rec.output;
        const std::vector<const mkrec::Unit *> video = rec.manifest.video();
        if (row.tiles == 0) {
            // Every slice from 45 % on becomes a NAL unit type the decoder passes over.
            std::vector<uint8_t> b = mkrec::readFile(rec.path);
            for (size_t i = b.size() * 45 / 100; i < b.size(); ++i)
                if (b[i - 3] == 0 && b[i - 2] == 0 && b[i - 1] == 1 &&
                    ((b[i] & 0x1F) == 1 || (b[i] & 0x1F) == 5))
                    b[i] = static_cast<uint8_t>((b[i] & 0xE0) | 0x18);
            std::ofstream(rec.path).write(reinterpret_cast<const char *>(b.data()),
                                          static_cast<long>(b.size()));
        }
        Watched w(rec);
        ASSERT_TRUE(serveEventsUntil(
            [&] { return !w.seen.empty() && w.seen.back().unit->tUs - video.front()->tUs >= 2000000; }));
        w.ui().pauseActionBtn->click();
        w.expectHeld(300, "paused at 2 s");
        std::map<int, const mkrec::Unit *> landed;
        const std::vector<int> seeks = row.tiles == 0 ? std::vector<int>{70}
                                       : row.far      ? std::vector<int>{99, 100, 43, 70, 20}
                                                      : std::vector<int>{43, 70, 20};
        for (int percent : seeks) {
            SCOPED_TRACE("seek to " + std::to_string(percent) + "%");
            // The recorder time of the frame that holds the byte (DV) or the record (AVC) asked for.
            const uint64_t target =
                static_cast<uint64_t>(static_cast<double>(rec.manifest.num("bytes")) * 0.01 * percent);
            int64_t place = video.front()->tUs;
            std::map<int, const mkrec::Unit *> keyOf; // each channel's last key frame there
            for (size_t k = 0; k < video.size(); ++k) {
                if (row.avc ? k < video.size() * percent / 100 : video[k]->offset <= target)
                    place = video[k]->tUs;
                if (video[k]->key &&
                    (row.avc ? k < video.size() * percent / 100 : video[k]->payloadOffset + 4 <= target))
                    keyOf[video[k]->channel] = video[k];
            }
            const size_t before = w.seen.size();
            w.seekTo(percent);
            const auto showsPlace = [&] {
                landed.clear();
                for (size_t i = before; i < w.seen.size(); ++i)
                    landed.emplace(w.seen[i].unit->channel, w.seen[i].unit);
                const QString clock = w.ui().serverTimeLabel->text();
                const auto clockThere = [&](const auto &l) {
                    return clock.endsWith(QString::asprintf(":%02d", int(l.second->tUs / 1000000 % 60)));
                };
                // Nothing decodable there: the tile shows no picture rather than one of another moment.
                if (row.tiles == 0) return w.d().videoPaneLayout()->videoView()[0]->contents().isNull();
                return static_cast<int>(landed.size()) == row.tiles &&
                       std::any_of(landed.begin(), landed.end(), clockThere);
            };
            ASSERT_TRUE(serveEventsUntil(showsPlace, 10000))
                << w.framesSeen(before) << " clock " << w.ui().serverTimeLabel->text().toStdString() << " t "
                << w.seen.back().unit->tUs;
            // Every tile shows the moment of the place, decoded from its channel's own key frame.
            for (size_t i = before; i < w.seen.size(); ++i) {
                const mkrec::Unit *u = w.seen[i].unit;
                if (row.tiles > 0) {
                    EXPECT_LE(std::abs(u->tUs - place), 100000) << "frame " << u->frame;
                }
                if (!row.far) continue;
                ASSERT_TRUE(keyOf.count(u->channel)) << "channel " << u->channel;
                EXPECT_GE(u->tUs, keyOf[u->channel]->tUs)
                    << "channel " << u->channel << " frame " << u->frame;
            }
            EXPECT_EQ(gDVFmtPlaybackIsPauseNow.load(), 1);
            w.expectHeld(300, "paused after the seek");
            EXPECT_TRUE(w.shows(w.d().statusImages().image(transport::StatusImage::Pause),
                                w.d().statusImages().image(transport::StatusImage::Pause, true)));
            if (percent < 99) {
                EXPECT_LT(w.ui().playbackProgressSlider->floatValue(), 100.0f) << "no end while paused";
            }
        }
        if (row.tiles == 0) continue;
        // Play goes on from each tile's picture, in a grid after a trip to the single view.
        if (row.tiles > 1 && !row.far) tripToTheSingleViewAndBack(w);
        if (HasFatalFailure()) return;
        const size_t before = w.seen.size();
        w.ui().playActionBtn->click();
        std::map<int, const mkrec::Unit *> next;
        ASSERT_TRUE(serveEventsUntil([&] {
            for (size_t i = before; i < w.seen.size(); ++i)
                next.emplace(w.seen[i].unit->channel, w.seen[i].unit);
            return next.size() == landed.size();
        })) << w.framesSeen(before);
        for (const auto &[channel, unit] : landed) {
            const int64_t step = next[channel]->tUs - unit->tUs;
            EXPECT_TRUE(step > 0 && step <= 2000000)
                << "channel " << channel << " went on " << step << " us later";
        }
        if (row.tiles > 1 && !row.far) {
            // Paused, a click on CH2's tile and a seek: the single view shows the place, the
            // first picture after the click is not lost to the new layout.
            w.ui().pauseActionBtn->click();
            QTest::mouseClick(w.d().videoPaneLayout()->videoView()[1], Qt::LeftButton);
            const size_t at = w.seen.size();
            w.seekTo(60);
            EXPECT_TRUE(serveEventsUntil([&] { return w.seen.size() > at; }, 5000))
                << "the seek showed nothing";
        }
        if (!row.far) continue;
        // The latest picture of every tile; all of them within `ms` of recording after `from`.
        const auto latest = [&] {
            std::map<int, const mkrec::Unit *> last;
            for (const Seen &s : w.seen)
                last[s.unit->channel] = s.unit;
            return last;
        };
        const auto tilesNear = [&](int64_t from, int64_t ms) {
            const auto last = latest();
            return last.size() == 4 && std::all_of(last.begin(), last.end(), [&](const auto &l) {
                       return l.second->tUs >= from && l.second->tUs <= from + ms * 1000;
                   });
        };
        // A seek while playing: every tile goes on from the place, with the clock.
        const size_t seekAt = w.seen.size();
        w.seekTo(55);
        ASSERT_TRUE(serveEventsUntil(
            [&] {
                const auto frames = tileFrames(w, seekAt);
                return frames.size() == 4 && std::all_of(frames.begin(), frames.end(), [&](const auto &f) {
                           return nearClock(w.ui().serverTimeLabel->text(), f.second);
                       });
            },
            20000))
            << w.framesSeen(seekAt);
        // Paused at the end, then played: the end is reported.
        w.ui().pauseActionBtn->click();
        w.seekTo(100);
        ASSERT_TRUE(serveEventsUntil([&] { return tilesNear(video.back()->tUs - 4500000, 4500); }))
            << w.framesSeen(before);
        EXPECT_TRUE(w.shows(w.d().statusImages().image(transport::StatusImage::Pause),
                            w.d().statusImages().image(transport::StatusImage::Pause, true)));
        w.ui().playActionBtn->click();
        ASSERT_TRUE(serveEventsUntil([&] { return !w.d().isPlaybackNow(); }, 20000)) << "the end of the file";
        if (row.avc) continue;
        // Stop while playing: every tile shows its channel's start, the clock too.
        w.ui().playActionBtn->click();
        ASSERT_TRUE(serveEventsUntil([&] { return tilesNear(video.front()->tUs + 2000000, 2000); }));
        w.ui().stopBtn->click();
        ASSERT_TRUE(serveEventsUntil([&] {
            return tilesNear(video.front()->tUs, 1500) &&
                   nearClock(w.ui().serverTimeLabel->text(), video.front());
        })) << w.framesSeen(before);
    }
}

// After Play, every tile of `landed` goes on from its picture: its next picture is at most 0.2 s
// of recording later.
void expectPlaysOn(Watched &w, const std::map<int, const mkrec::Unit *> &landed, size_t from) {
    std::map<int, const mkrec::Unit *> next;
    ASSERT_TRUE(serveEventsUntil(
        [&] {
            for (size_t i = from; i < w.seen.size(); ++i)
                if (landed.count(w.seen[i].unit->channel))
                    next.emplace(w.seen[i].unit->channel, w.seen[i].unit);
            return next.size() == landed.size();
        },
        20000))
        << w.framesSeen(from);
    for (const auto &[channel, unit] : landed) {
        const int64_t step = next[channel]->tUs - unit->tUs;
        EXPECT_TRUE(step > 0 && step <= 200000)
            << "channel " << channel << " went on " << step << " us later";
    }
}

// Every jump shows every tile at one moment under the clock, on recordings whose channels' key
// frames come at the same moments or staggered (each channel's encoder started on its own):
// paused seeks, a seek while playing, view changes while paused, and Play after 8x.
TEST(TransportFlow, EveryTileShowsOneMomentAfterAJump) {
    const std::vector<std::string> stagger4 = {"--video-mask", "0xf",           "--gop",
                                               "100",          "--key-stagger", "1480"};
    const std::vector<std::string> stagger16 = {"--video-mask", "0xffff",        "--gop",
                                                "100",          "--key-stagger", "280"};
    const std::vector<int> everyFifth = {10, 15, 20, 25, 30, 35, 40, 45, 50,
                                         55, 60, 65, 70, 75, 80, 85, 90, 95};
    const std::vector<int> aroundTheMiddle = {45, 48, 49, 50, 51, 52, 55};
    const struct {
        const char *file;
        std::vector<std::string> kind, args;
        std::vector<int> seeks;
        int tiles;
        int blank = -1;      // a tile whose channel stopped before the seeks: it shows no picture
        int clockFrame = -1; // the frame from which the clock is changed
    } rows[] = {
        {"aligned.dv5",
         {"--kind", "dv5-dvr700", "--duration", "40"},
         {"--video-mask", "0x1ff", "--gop", "50"},
         everyFifth,
         9},
        {"stagger4.dv5", {"--kind", "dv5-nvr", "--duration", "20"}, stagger4, {20, 43, 70, 97, 99}, 4},
        {"stagger4.avc", {"--kind", "avc", "--duration", "20"}, stagger4, {20, 43, 70, 97, 99}, 4},
        {"stagger16.dv5", {"--kind", "dv5-nvr", "--duration", "20"}, stagger16, {20, 43, 70, 97, 40}, 16},
        {"stagger16.avc", {"--kind", "avc", "--duration", "20"}, stagger16, {20, 43, 70, 97, 40}, 16},
        // The recorder's clock set back an hour, set back 3 s, set forward 4 h at 10 s.
        {"back1h.dv5",
         {"--kind", "dv5-nvr", "--duration", "20", "--gap", "250:-3600"},
         stagger4,
         aroundTheMiddle,
         4,
         -1,
         250},
        {"back1h.avc",
         {"--kind", "avc", "--duration", "20", "--gap", "250:-3600"},
         stagger4,
         aroundTheMiddle,
         4,
         -1,
         250},
        {"back3s.dv5",
         {"--kind", "dv5-nvr", "--duration", "20", "--gap", "250:-3"},
         stagger4,
         aroundTheMiddle,
         4,
         -1,
         250},
        {"forward4h.dv5",
         {"--kind", "dv5-dvr700", "--duration", "20", "--gap", "250:14400"},
         stagger4,
         aroundTheMiddle,
         4,
         -1,
         250},
        // Channel 5's key frames at 0, 1.12 and 16.12 s.
        {"longkey16.dv5",
         {"--kind", "dv5-nvr", "--duration", "20", "--channel-gop", "5:375"},
         stagger16,
         {20, 34, 60, 70, 80},
         16},
        {"longkey16.avc",
         {"--kind", "avc", "--duration", "20", "--channel-gop", "5:375"},
         stagger16,
         {20, 34, 60, 70, 80},
         16},
        // Channel 4 stops at 10 s.
        {"stops.dv5",
         {"--kind", "dv5-nvr", "--duration", "20", "--channel-stop", "4:250"},
         stagger4,
         {70},
         4,
         3},
        {"stops.avc",
         {"--kind", "avc", "--duration", "20", "--channel-stop", "4:250"},
         stagger4,
         {70},
         4,
         3}};
    mkrec::TempDir dir;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        std::vector<std::string> args = row.kind;
        args.insert(args.end(), row.args.begin(), row.args.end());
        const mkrec::Recording rec = mkrec::make(dir, row.file, args);
        ASSERT_TRUE(rec.ok()) << rec.output;
        const std::vector<const mkrec::Unit *> video = rec.manifest.video();
        const size_t tiles = static_cast<size_t>(row.tiles);
        Watched w(rec);
        ASSERT_TRUE(serveEventsUntil([&] { return oneMoment(w, tiles, 0, 2000000); }, 20000));
        w.ui().pauseActionBtn->click();
        // The clock shows the second of one of the tiles.
        const auto clockWithTiles = [&](size_t from) {
            const QString clock = w.ui().serverTimeLabel->text();
            const auto frames = tileFrames(w, from);
            return std::any_of(frames.begin(), frames.end(), [&](const auto &f) {
                return clock.endsWith(QString::asprintf(":%02d", int(f.second->tUs / 1000000 % 60)));
            });
        };
        for (int percent : row.seeks) {
            SCOPED_TRACE("seek to " + std::to_string(percent) + "%");
            const size_t before = w.seen.size();
            w.seekTo(percent);
            // At the place's moment, on its side of a clock change.
            const mkrec::Unit *place = placeUnit(rec, row.kind[1] == "avc", percent);
            const auto placesSide = [&] {
                const auto frames = tileFrames(w, before);
                return std::all_of(frames.begin(), frames.end(), [&](const auto &f) {
                    return (f.second->frame >= row.clockFrame) == (place->frame >= row.clockFrame);
                });
            };
            ASSERT_TRUE(serveEventsUntil(
                [&] {
                    return oneMoment(w, tiles, before, 100000, place->tUs, row.blank) && placesSide() &&
                           clockWithTiles(before);
                },
                30000))
                << w.framesSeen(before);
            if (percent == 99) {
                EXPECT_GE(tileFrames(w, before).begin()->second->tUs, video.back()->tUs - 1000000);
            }
            EXPECT_EQ(gDVFmtPlaybackIsPauseNow.load(), 1);
        }
        QComboBox *grid = w.ui().videoChannelSwitchBtn;
        const auto &views = w.d().videoPaneLayout()->videoView();
        if (tiles == 16) {
            // Paused: the 9-grid, CH3's single view, the 16-grid; each shows at once, at one moment.
            size_t from = w.seen.size() - 16;
            emit grid->activated(2);
            EXPECT_TRUE(oneMoment(w, 9, from, 100000)) << "the 9-grid";
            QTest::mouseClick(views[2], Qt::LeftButton);
            EXPECT_TRUE(oneMoment(w, 1, from, 100000)) << "the single view";
            from = w.seen.size();
            emit grid->activated(4);
            ASSERT_TRUE(serveEventsUntil([&] { return oneMoment(w, 16, from, 100000); }, 30000))
                << w.framesSeen(from);
            w.expectHeld(300, "paused in the 16-grid");
        }
        // Play, then a seek while playing: the tiles go on together, from the pictures on screen.
        const std::map<int, const mkrec::Unit *> landed = tileFrames(w);
        size_t from = w.seen.size();
        w.ui().playActionBtn->click();
        EXPECT_TRUE(serveEventsUntil([&] { return oneMoment(w, tiles, from, 150000, -1, row.blank); }, 20000))
            << "playing on";
        expectPlaysOn(w, landed, from);
        from = w.seen.size();
        w.seekTo(row.blank >= 0 ? 80 : 55); // past the stop
        EXPECT_TRUE(serveEventsUntil([&] { return oneMoment(w, tiles, from, 150000, -1, row.blank); }, 20000))
            << "a seek while playing";
        if (tiles != 16) continue;
        // From the start, 8x, then Play: every tile goes on from the moment on screen.
        w.seekTo(0);
        for (int i = 0; i < 3; ++i)
            w.ui().fastForwardBtn->click();
        w.watchFor(1500);
        w.ui().playActionBtn->click();
        const size_t played = w.seen.size();
        ASSERT_TRUE(serveEventsUntil([&] { return oneMoment(w, 16, played, 150000); }, 30000))
            << w.framesSeen(played);
        const int64_t landedAt = tileFrames(w, played).begin()->second->tUs;
        ASSERT_TRUE(serveEventsUntil(
            [&] {
                const auto frames = tileFrames(w, played);
                return frames.size() == 16 && std::all_of(frames.begin(), frames.end(), [&](const auto &f) {
                           return f.second->tUs >= landedAt + 500000;
                       });
            },
            30000))
            << "Play goes on in every tile";
    }
}

// Play after Stop, a rewind or a fast forward of a 4-channel AVC file in the grid goes on from
// the pictures on screen: no tile goes back from the picture it shows nor jumps past the next
// key frame, and it plays at 1x. How soon the first pictures come is transport_bench's figure.
// Stop after a paused seek keeps the clock with the landed pictures.
TEST(TransportFlow, AVCPlayGoesOnFromThePicturesOnScreen) {
    mkrec::TempDir dir;
    const mkrec::Recording rec =
        mkrec::make(dir, "resume.avc", {"--kind", "avc", "--video-mask", "0xf", "--duration", "24"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    Watched w(rec);
    ASSERT_TRUE(w.waitForPictures(8));
    const int64_t start = rec.manifest.video().front()->tUs;
    const auto played = [&] { return w.seen.back().unit->tUs - start; };
    // Each channel's last picture, among those `sinceUs` or more into the file.
    std::map<int, const mkrec::Unit *> onTile;
    const auto tiles = [&](int64_t sinceUs) {
        onTile.clear();
        for (const Seen &seen : w.seen)
            if (seen.unit->tUs - start >= sinceUs) onTile[seen.unit->channel] = seen.unit;
        return onTile.size();
    };
    const auto playOn = [&](const char *after) {
        const size_t at = w.seen.size();
        w.ui().playActionBtn->click();
        ASSERT_TRUE(w.waitForPictures(at + 8)) << "Play stands still after " << after;
        w.expectSpeed(1, 1000, after, 0);
        std::set<int> goneOn;
        for (size_t i = at; i < w.seen.size(); ++i) {
            const mkrec::Unit *u = w.seen[i].unit;
            const mkrec::Unit *&shown = onTile[u->channel];
            // Only a key frame that the rewind had under way at the press may still be older.
            EXPECT_TRUE(!shown || u->tUs >= shown->tUs || u->key)
                << after << ": channel " << u->channel << " from frame " << shown->frame << " to "
                << u->frame;
            // A rewind leaves the channels up to one key frame interval (1 s) apart, and reading
            // goes on after the newest: no channel's first picture is farther on than that.
            if (goneOn.insert(u->channel).second) {
                EXPECT_LE(u->tUs - (shown ? shown->tUs : start), 2000000)
                    << after << ": channel " << u->channel << " went on at frame " << u->frame;
            }
            shown = u;
        }
    };

    w.ui().pauseActionBtn->click();
    w.seekTo(15);
    ASSERT_TRUE(serveEventsUntil([&] { return tiles(2500000) == 4; }, 10000)) << "landed in every tile";
    w.ui().stopBtn->click();
    w.expectHeld(300, "stopped");
    tiles(0);
    for (const auto &[channel, unit] : onTile)
        EXPECT_TRUE(nearClock(w.ui().serverTimeLabel->text(), unit, 1)) << "channel " << channel;
    onTile.clear(); // Play starts from the first frame
    playOn("Stop");
    if (HasFatalFailure()) return;

    w.seekTo(80);
    ASSERT_TRUE(serveEventsUntil([&] { return played() >= 18000000; }, 10000));
    for (int i = 0; i < 3; ++i)
        w.ui().fastRewindBtn->click();
    ASSERT_TRUE(serveEventsUntil([&] { return played() < 14000000; }, 10000));
    tiles(0);
    playOn("a rewind at 4x");
    if (HasFatalFailure()) return;

    const int64_t forwardFrom = played();
    w.ui().fastForwardBtn->click();
    ASSERT_TRUE(serveEventsUntil([&] { return played() > forwardFrom + 4000000; }, 15000));
    tiles(0);
    playOn("fast forward at 2x");
}

} // namespace
