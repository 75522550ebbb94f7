// Paused seeks through the real delegate on the offscreen platform: D1 recordings as recorders
// write them (libx264 veryfast, 1.5 Mbit/s, grain, 25 frames/s, a key frame every 4 s, 20 s),
// 4 channels in the 4-grid and 16 in the 16-grid, DV5 and AVC, with each channel's key-frame
// interval starting at its own time (encoders started 1.48 s apart for 4 channels, 0.28 s for
// 16), so that every seek lands at a different distance from each channel's key frame; and the
// 16-channel files again with channel 5's key frames 15 s apart.
//
// A run opens the file, waits for every tile's first picture, pauses with the Pause button,
// waits until no picture is on its way, then drags the progress slider to 20, 43, 70 and 97 %
// in turn. Landing: from the drag (press, move and release in one go) to the moment the last
// channel's tile is handed its first picture after it (the engine side's shown-picture
// observer; 20 s at most). After each landing the run waits until pictures stop coming before
// the next seek.
//
// Anchor, right after each landing (so that a drifting load falls on both): libavcodec with
// the engine decoder's settings (two slice threads) decodes, channel after channel, the frames
// from that channel's last key frame at or before the place up to the place, from packets read
// out of the recording before the clock starts and with decoders opened before it too: the
// decoding a landing on the place must do at least, and nothing else. The place is taken from
// the generator's list of units as the engines seek: DV files to the frame holding the byte at
// that share of the file, AVC files to that share of the records.
//
// For each recording and seek it prints: frames, what the anchor decodes; the landing and the
// anchor in ms and landing/anchor of each pair, at min, median and max; settled, the median ms
// to the last picture shown after the seek (an engine may show a key frame first and go on to
// the place); first-pl and last-pl, where each channel's first and last picture after the seek
// lay against its place, over all channels and runs (frames; negative: before it).
// Usage: app_bench --landing [runs (default 5, at least 5)]
#include "landing.h"

#include <QApplication>
#include <QByteArray>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedButton.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/engine_side/engine_side.h"
#include "app/main_window.h"
#include "bench_common/bench_stats.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"
#include "recorderfile/avc_parse.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPercents[] = {20, 43, 70, 97};
constexpr auto kLandingDeadline = std::chrono::seconds(20);
// No picture for this long, and none on its way: the paused file holds.
constexpr auto kQuiet = std::chrono::milliseconds(300);

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Serves the GUI thread's events, as the player's own loop does, until `done` or the deadline.
bool serveUntil(const std::function<bool()> &done, Clock::duration deadline) {
    const auto end = Clock::now() + deadline;
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || Clock::now() > end) loop.quit();
    });
    check.start(2);
    loop.exec();
    return done();
}

// One channel's share of a seek: its frames from its last key frame at or before the place up
// to the place, in file order.
using ChannelFrames = std::vector<const mkrec::Unit *>;

std::map<int, ChannelFrames> framesToPlace(const mkrec::Manifest &m, bool avc, int percent) {
    size_t end = 0; // units [0, end) lie at or before the place
    if (avc) {
        end = m.units.size() * static_cast<size_t>(percent) / 100;
    } else {
        const uint64_t target = static_cast<uint64_t>(static_cast<double>(m.num("bytes")) * 0.01 * percent);
        while (end < m.units.size() && m.units[end].offset <= target)
            ++end;
    }
    std::map<int, ChannelFrames> frames;
    for (size_t i = 0; i < end; ++i) {
        const mkrec::Unit &u = m.units[i];
        if (!u.video) continue;
        ChannelFrames &f = frames[u.channel];
        if (u.key) f.clear();
        if (u.key || !f.empty()) f.push_back(&u);
    }
    return frames;
}

// The anchor's packets, one list per channel, and its decoders, opened before the clock starts.
class Anchor {
  public:
    Anchor(const std::vector<uint8_t> &file, const std::map<int, ChannelFrames> &frames) {
        for (const auto &[channel, units] : frames) {
            std::vector<AVPacket *> &list = packets_.emplace_back();
            for (const mkrec::Unit *u : units) {
                AVPacket *p = av_packet_alloc();
                if (!p || av_new_packet(p, static_cast<int>(u->esLen)) < 0) {
                    ok_ = false;
                    av_packet_free(&p);
                    continue;
                }
                std::memcpy(p->data, file.data() + u->esOffset, u->esLen);
                list.push_back(p);
                ++frames_;
            }
        }
    }
    ~Anchor() {
        for (auto &list : packets_)
            for (AVPacket *&p : list)
                av_packet_free(&p);
    }
    Anchor(const Anchor &) = delete;
    Anchor &operator=(const Anchor &) = delete;
    size_t frames() const { return frames_; }

    // Decodes every channel's frames, one channel after another; ms, -1 when a picture is missing.
    double run() const {
        const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        AVFrame *frame = av_frame_alloc();
        std::vector<AVCodecContext *> decoders;
        bool ok = ok_ && codec && frame;
        for (size_t i = 0; ok && i < packets_.size(); ++i) {
            AVCodecContext *c = avcodec_alloc_context3(codec);
            decoders.push_back(c);
            ok = c != nullptr;
            if (!ok) break;
            c->thread_count = 2;
            c->thread_type = FF_THREAD_SLICE;
            ok = avcodec_open2(c, codec, nullptr) >= 0;
        }
        ok = ok && decoders.size() == packets_.size();
        size_t pictures = 0;
        const auto t0 = Clock::now();
        for (size_t ch = 0; ok && ch < packets_.size(); ++ch) {
            AVCodecContext *c = decoders[ch];
            auto receive = [&] {
                while (avcodec_receive_frame(c, frame) >= 0) {
                    ++pictures;
                    av_frame_unref(frame);
                }
            };
            for (const AVPacket *p : packets_[ch]) {
                if (avcodec_send_packet(c, p) >= 0) receive();
            }
            // The place's picture must come out too.
            avcodec_send_packet(c, nullptr);
            receive();
        }
        const double ms = msBetween(t0, Clock::now());
        for (AVCodecContext *&c : decoders)
            avcodec_free_context(&c);
        av_frame_free(&frame);
        return ok && pictures == frames_ ? ms : -1;
    }

  private:
    std::vector<std::vector<AVPacket *>> packets_;
    size_t frames_ = 0;
    bool ok_ = true;
};

struct Case {
    const char *name = "";
    bool avc = false;
    int channels = 0;
    mkrec::Recording rec;
    std::vector<uint8_t> bytes;
    std::unique_ptr<mkrec::FrameTrace> trace;
};

// Frames from the place (negative: before it), lowest and highest.
struct Range {
    int lo = INT_MAX, hi = INT_MIN;
    void add(int v) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    std::string text() const { return lo <= hi ? std::to_string(lo) + ".." + std::to_string(hi) : "-"; }
};

// What one seek of every run gave.
struct Row {
    std::map<int, ChannelFrames> frames;
    std::unique_ptr<Anchor> anchor;
    std::vector<double> landing, settled, anchorMs, ratio;
    int timeouts = 0, anchorFailures = 0, unknown = 0;
    Range first, last; // each channel's first and last picture after the seek
};

// Pictures shown since the last arm(), and when every channel had one.
struct Watch {
    int channels = 0;
    std::vector<std::pair<int, QByteArray>> shown;
    std::array<bool, 16> seen{};
    int seenCount = 0;
    Clock::time_point allAt{}, lastAt{};

    void arm() {
        shown.clear();
        seen.fill(false);
        seenCount = 0;
    }
    void picture(const EngineSide::ShownPicture &p) {
        lastAt = Clock::now();
        // Kept as the shared buffer: the frame is looked up after the landing, off its clock.
        shown.emplace_back(p.channel, p.frame);
        if (p.channel < 0 || p.channel >= 16 || seen[static_cast<size_t>(p.channel)]) return;
        seen[static_cast<size_t>(p.channel)] = true;
        if (++seenCount == channels) allAt = lastAt;
    }
};

// Waits until no picture has come for kQuiet and none is on its way to the GUI thread.
bool waitQuiet(const EngineSide &engine, const Watch &w) {
    return serveUntil(
        [&] {
            return Clock::now() - w.lastAt >= kQuiet &&
                   engine.picturesDelivered() == engine.picturesShown() + engine.picturesSuperseded();
        },
        std::chrono::seconds(10));
}

// One run over the seeks; with `rows` null nothing is kept (the warm-up).
bool runOnce(Case &c, std::vector<Row> *rows) {
    dvFmtResetControlFlags();
    auto d = std::make_unique<VistrelAppDelegate>();
    d->applicationDidFinishLaunching();
    d->makeWindowKeyAndOrderFront();
    Watch w;
    w.channels = c.channels;
    w.lastAt = Clock::now();
    d->engineSide()->setShownPictureObserver([&w](const EngineSide::ShownPicture &p) { w.picture(p); });
    QCoreApplication::processEvents();
    d->openFileDirectly(QString::fromStdString(c.rec.path));
    // A large window, as a wall is watched; opening sets the window's size for the file first.
    d->window()->resize(1440, 1000);
    bool ok = serveUntil([&] { return w.seenCount == c.channels; }, kLandingDeadline);
    if (!ok) fprintf(stderr, "%s: not every tile showed a picture after the open\n", c.name);
    Ui::MainWindow &ui = d->window()->ui;
    if (ok) {
        ui.pauseActionBtn->click();
        ok = waitQuiet(*d->engineSide(), w);
        if (!ok) fprintf(stderr, "%s: pictures kept coming after the pause\n", c.name);
    }
    for (size_t k = 0; ok && k < std::size(kPercents); ++k) {
        w.arm();
        const auto asked = Clock::now();
        CustomizedProgressSlider *slider = ui.playbackProgressSlider;
        slider->setSliderDown(true);
        slider->setFloatValue(static_cast<float>(kPercents[k]));
        slider->setSliderDown(false);
        const bool landed = serveUntil([&] { return w.seenCount == c.channels; }, kLandingDeadline);
        const double ms = msBetween(asked, w.allAt);
        ok = waitQuiet(*d->engineSide(), w);
        if (!ok) fprintf(stderr, "%s: pictures kept coming after the seek to %d %%\n", c.name, kPercents[k]);
        if (!rows) continue;
        Row &row = (*rows)[k];
        if (!landed || !ok) {
            row.timeouts += landed ? 0 : 1;
            continue;
        }
        row.settled.push_back(msBetween(asked, w.lastAt));
        // Where each channel's pictures lay, looked up now that the clock is off.
        std::map<int, std::vector<int>> offsets;
        for (const auto &[channel, frame] : w.shown) {
            const mkrec::Unit *unit = c.trace->unitOf(frame.constData(), static_cast<size_t>(frame.size()));
            const auto place = row.frames.find(channel);
            if (!unit || place == row.frames.end() || place->second.empty())
                ++row.unknown;
            else
                offsets[channel].push_back(unit->frame - place->second.back()->frame);
        }
        for (const auto &[channel, list] : offsets) {
            row.first.add(list.front());
            row.last.add(list.back());
        }
        const double anchorMs = row.anchor->run();
        if (anchorMs <= 0) {
            ++row.anchorFailures;
            continue;
        }
        row.landing.push_back(ms);
        row.anchorMs.push_back(anchorMs);
        row.ratio.push_back(ms / anchorMs);
    }
    d->engineSide()->setShownPictureObserver({});
    d->resetPlaybackHandle();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    d.reset();
    dvFmtResetControlFlags();
    return ok;
}

} // namespace

int pausedSeekLanding(int argc, char **argv) {
    const int runs = argc > 2 ? std::max(5, atoi(argv[2])) : 5;
    mkrec::TempDir dir;
    const std::vector<std::string> d1{"--size",       "704x576", "--gop",    "100",      "--bitrate",  "1500",
                                      "--grain",      "4",       "--preset", "veryfast", "--duration", "20",
                                      "--audio-mask", "0"};
    struct Spec {
        const char *name, *kind, *mask, *stagger;
        bool avc;
        int channels;
        std::vector<std::string> more;
    };
    // Channel 5 with key frames 15 s apart (at 0, 1.12 and 16.12 s), as quiet cameras have.
    const std::vector<std::string> quiet5{"--channel-gop", "5:375"};
    const Spec specs[] = {{"DV5 4 x D1, 4-grid", "dv5-nvr", "0xf", "1480", false, 4, {}},
                          {"AVC 4 x D1, 4-grid", "avc", "0xf", "1480", true, 4, {}},
                          {"DV5 16 x D1, 16-grid", "dv5-nvr", "0xffff", "280", false, 16, {}},
                          {"AVC 16 x D1, 16-grid", "avc", "0xffff", "280", true, 16, {}},
                          {"DV5 16 x D1, CH5 15 s", "dv5-nvr", "0xffff", "280", false, 16, quiet5},
                          {"AVC 16 x D1, CH5 15 s", "avc", "0xffff", "280", true, 16, quiet5}};
    fprintf(stderr, "writing the recordings...\n");
    std::vector<Case> cases;
    for (const Spec &s : specs) {
        std::vector<std::string> args{"--kind", s.kind, "--video-mask", s.mask, "--key-stagger", s.stagger};
        args.insert(args.end(), d1.begin(), d1.end());
        args.insert(args.end(), s.more.begin(), s.more.end());
        Case c;
        c.name = s.name;
        c.avc = s.avc;
        c.channels = s.channels;
        c.rec = mkrec::make(dir,
                            std::string("landing-") + s.mask + (s.more.empty() ? "" : "-quiet5") +
                                (s.avc ? ".avc" : ".dv5"),
                            args);
        if (!c.rec.ok()) {
            fprintf(stderr, "cannot make %s: %s\n", s.name, c.rec.output.c_str());
            continue;
        }
        c.bytes = mkrec::readFile(c.rec.path);
        // The units stay where they are when the case moves into the list.
        c.trace = std::make_unique<mkrec::FrameTrace>(c.rec.manifest);
        cases.push_back(std::move(c));
    }

    printf("paused seeks, %d runs: landing = slider drag to every tile's first picture after it;\n"
           "anchor = libavcodec decoding each channel's frames from its last key frame to the place, "
           "channel after channel\n",
           runs);
    printf("%-22s %5s %7s %22s %22s %22s %8s %10s %10s\n", "recording", "seek", "frames",
           "landing ms min/med/max", "anchor ms min/med/max", "landing/anchor", "settled", "first-pl",
           "last-pl");
    for (Case &c : cases) {
        std::vector<Row> rows(std::size(kPercents));
        for (size_t k = 0; k < rows.size(); ++k) {
            rows[k].frames = framesToPlace(c.rec.manifest, c.avc, kPercents[k]);
            rows[k].anchor = std::make_unique<Anchor>(c.bytes, rows[k].frames);
        }
        // The first open of an AVC file builds its index beside it; the runs open it ready.
        runOnce(c, nullptr);
        if (c.avc) {
            const std::string idx = avc_index_path(c.rec.path);
            serveUntil([&] { return !idx.empty() && access(idx.c_str(), F_OK) == 0; },
                       std::chrono::seconds(20));
        }
        int failed = 0;
        for (int r = 0; r < runs; ++r)
            failed += runOnce(c, &rows) ? 0 : 1;
        if (failed) printf("%-22s %d of %d runs stopped early (see the errors)\n", c.name, failed, runs);
        for (size_t k = 0; k < rows.size(); ++k) {
            const Row &row = rows[k];
            const Spread l = spread(row.landing), a = spread(row.anchorMs), q = spread(row.ratio);
            printf("%-22s %4d%% %7zu %6.0f %6.0f %8.0f %6.1f %6.1f %8.1f %6.2f %6.2f %8.2f %8.0f %10s %10s",
                   c.name, kPercents[k], row.anchor->frames(), l.min, l.median, l.max, a.min, a.median, a.max,
                   q.min, q.median, q.max, spread(row.settled).median, row.first.text().c_str(),
                   row.last.text().c_str());
            if (row.timeouts) printf("  %d timed out", row.timeouts);
            if (row.anchorFailures) printf("  anchor failed %d", row.anchorFailures);
            if (row.unknown) printf("  %d pictures of unknown frames", row.unknown);
            printf("\n");
            fflush(stdout);
        }
    }
    return 0;
}
