// Plays generated DV recordings through the whole DV engine (parser thread, video and audio
// threads) on the headless delegate, the way the application starts, steers and stops it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/mkrec_fixture.h"
#include "common/thread_state.h"
#include "engines/dv_format_playback.h"
#include "engines/headless_delegate.h"

namespace enginetest {

inline double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Polls `done` every millisecond for up to `ms`; the watchdog of every wait in these tests.
template <typename F> bool waitFor(F done, double ms = 20000) {
    const auto t0 = Clock::now();
    while (!done()) {
        if (msSince(t0) > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The file kinds as the application tells them to the engine.
struct DVKind {
    const char *kind; // mkrec --kind
    int codec;        // setDvFmtVideoCodec
    bool dvr700;      // setIsDVRType700
    const char *es;   // extension of the elementary streams mkrec writes
    bool dv5() const { return codec == kDVFmtDV5; }
};

constexpr DVKind kDV4H264{"dv4-h264", kDVFmtDV4H264, false, "h264"};
constexpr DVKind kDV4MPEG4{"dv4-mpeg4", kDVFmtDV4MPEG4, false, "m4v"};
constexpr DVKind kDV5NVR{"dv5-nvr", kDVFmtDV5, false, "h264"};
constexpr DVKind kDV5DVR{"dv5-dvr700", kDVFmtDV5, true, "h264"};

inline std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// "%04d/%02d/%02d %02d:%02d:%02d" of unix seconds, by the C library.
inline std::string utcText(uint64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

class DVPlayer {
  public:
    // Unpaced by default, so that a whole file plays in the time its decoding takes; `paced`
    // may be changed at any time.
    explicit DVPlayer(bool pacedAtStart = false) : paced(pacedAtStart) {
        dvFmtResetControlFlags();
        engine.setAppDelg(&delegate);
        engine.setMainThreadPoster(&poster);
        engine.setPacer([this](std::chrono::microseconds wait, const std::function<bool()> &interrupted) {
            if (paced) RunLoopThread::interruptibleSleep(wait, interrupted);
        });
        delegate.onDVEnd = [this] {
            // The end notice comes on the parser thread after the last frame's hand-off: what
            // has been delivered by now is the whole playthrough.
            {
                std::lock_guard<std::mutex> lock(delegate.mutex);
                videoAtEnd.push_back(delegate.video.size());
                audioAtEnd.push_back(delegate.audio.size());
            }
            ++endsRecorded;
        };
    }
    ~DVPlayer() {
        close();
        poster.drain();
        dvFmtResetControlFlags();
    }

    // The application's start sequence. `running` = false starts paused.
    bool start(const DVKind &kind, const std::string &path, bool running = true) {
        delegate.filePath = path;
        engine.setDvFmtVideoCodec(kind.codec);
        engine.setIsDVRType700(kind.dvr700);
        engine.resetAVStreamType();
        // Before the threads start: a parser that reaches the end at once must not find them
        // changed behind it (a second end notice).
        gDVFmtPlaybackKeepRunning = running ? 1 : 0;
        gDVFmtPlaybackStopActionLaunched = 0;
        gDVFmtPlaybackSliderValueChanged = 0;
        gDVFmtPlaybackIsPauseNow = running ? 0 : 1;
        return engine.createDVFmtVideoPlaybackThread() && engine.createDVFmtAudioPlaybackThread() &&
               engine.createDVFmtParserThread();
    }
    // Play / pause as the transport controls send them.
    void play() {
        gDVFmtPlaybackKeepRunning = 1;
        gDVFmtPlaybackStopActionLaunched = 0;
        gDVFmtPlaybackSpeed = 0;
        gDVFmtPlaybackIsPauseNow = 0;
    }
    void pauseNow() {
        gDVFmtPlaybackKeepRunning = 0;
        gDVFmtPlaybackIsPauseNow = 1;
    }
    void stopPlaying() {
        play();
        gDVFmtPlaybackStopActionLaunched = 1;
    }
    // Seek, and wait until the parser has taken it (it clears the request).
    bool seek(int percent) {
        gDVFmtPlaybackKeepRunning = 0;
        dvFmtRequestSeek(percent);
        // Paused, the engine then shows the landing picture and holds again.
        return waitFor([] {
            return gDVFmtPlaybackSliderValueChanged.load() == 0 && gDVFmtPlaybackShowSeekLanding.load() == 0;
        });
    }
    // Waits for the n-th end notice; videoAtEnd and audioAtEnd hold n entries after it.
    bool waitForEnd(int notices = 1, double ms = 30000) {
        return waitFor([&] { return endsRecorded.load() >= notices; }, ms);
    }
    // The application's teardown: ask the parser to leave and wait, then end every thread.
    void close() {
        if (engine.isDVFmtParserThreadExecuting()) {
            gDVFmtPlaybackParserThreadForceExit = 1;
            gDVFmtPlaybackKeepRunning = 1;
            const bool left = waitFor([] { return gDVFmtPlaybackParserThreadForceExit.load() == 0; }, 10000);
            EXPECT_TRUE(left) << "the parser did not leave";
        }
        engine.cancelAllThreads();
        gDVFmtPlaybackKeepRunning = 0;
    }

    // Waits until the parser can deliver nothing more unless it is told to: it has ended, or it
    // sleeps (at the end of the file, or inside a hand-off the halted playback threads hold).
    bool waitUntilParserRests(double ms = 20000) {
        int asleep = 0;
        return waitFor(
            [&] {
                if (!engine.isDVFmtParserThreadExecuting()) return true;
                const pid_t tid = delegate.parserTid.load();
                asleep = tid != 0 && testutil::threadState(tid) == 'S' ? asleep + 1 : 0;
                return asleep >= 5;
            },
            ms);
    }

    size_t videoCount() const { return delegate.videoCount(); }
    std::vector<VideoEvent> video() const { return delegate.videoEvents(); }
    // Video events of one channel among events [from, to).
    std::vector<VideoEvent> channelVideo(unsigned channel, size_t from = 0, size_t to = SIZE_MAX) const {
        std::vector<VideoEvent> all = video(), out;
        for (size_t i = from; i < std::min(to, all.size()); ++i)
            if (all[i].channel == channel) out.push_back(all[i]);
        return out;
    }

    std::atomic<bool> paced;
    HeadlessDelegate delegate;
    QueuePoster poster;
    DVFormatPlayback engine;
    // What had been delivered at each end notice (written on the parser thread before
    // endsRecorded counts it).
    std::vector<size_t> videoAtEnd, audioAtEnd;
    std::atomic<int> endsRecorded{0};
};

} // namespace enginetest
