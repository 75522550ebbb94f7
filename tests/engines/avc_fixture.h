// The AVC engine on the headless delegate, started the way the application starts it, with
// helpers to make recordings and to wait for what the engine delivers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "headless_delegate.h"
#include "recorderfile/avc_parse.h"
#include "stream_clips.h"

namespace enginetest {

using namespace std::chrono_literals;

class AVCEngineFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        engine.setAppDelg(&delegate);
        engine.setMainThreadPoster(&poster);
        engine.setPImageWidthFromStream(&streamW);
        engine.setPImageHeightFromStream(&streamH);
        engine.setHandleOfImageRectFromStream();
        // Pauses from inside a picture's hand-off: the reader stops right after that record.
        delegate.onVideo = [this](const VideoEvent &) {
            const int fd = engine.fdAVCFile();
            if (fd == 0 || !pauseOnPicture_.exchange(false)) return;
            pausedAtPass_ = avc_parse_passes(fd); // this record's pass is still to come
            engine.doPlaybackAction(kAVCFmtPlaybackPause);
        };
    }
    void TearDown() override {
        engine.closeAVCFileAndStopParser();
        engine.cancelAllThreads();
        poster.drain();
    }
    mkrec::Recording make(const std::string &name, std::vector<std::string> args) {
        args.insert(args.begin(), {"--kind", "avc", "--es-dir", dir.file(name + ".es")});
        mkrec::Recording r = mkrec::make(dir, name, args);
        EXPECT_TRUE(r.ok()) << r.output;
        return r;
    }
    // The application's start sequence, at the given status.
    bool start(const std::string &path, int status = kAVCFmtPlaybackPlay) {
        delegate.avcStatus = status;
        engine.resetAVStreamType();
        return engine.createAVCFmtVideoPlaybackThread() && engine.createAVCFmtAudioPlaybackThread() &&
               engine.openAVCFileAndStartParser(path) != 0;
    }
    // Sets the status in both places, as the transport controls do.
    void act(int status) {
        delegate.avcStatus = status;
        engine.doPlaybackAction(status);
    }
    template <class Pred> bool waitFor(Pred pred, std::chrono::milliseconds limit = 20s) {
        const auto end = Clock::now() + limit;
        while (!pred()) {
            if (Clock::now() > end) return false;
            std::this_thread::sleep_for(2ms);
        }
        return true;
    }
    bool waitEnd(int notices = 1) {
        return waitFor([&] { return delegate.avcEndNotices >= notices; });
    }
    // Starts at 1x and pauses on a picture; true once the reader has stopped after it.
    bool startPaused(const std::string &path) {
        pausedAtPass_ = -1;
        pauseOnPicture_ = true;
        if (!start(path)) return false;
        return waitFor([&] {
            const long at = pausedAtPass_.load();
            return at >= 0 && avc_parse_passes(engine.fdAVCFile()) > at;
        });
    }
    // Seeks while paused and waits until the reader has handled the landing record and
    // stopped again; the seek's result, or -2 when the reader did not get there in time.
    int seekPaused(int percent) {
        const long passes = avc_parse_passes(engine.fdAVCFile());
        const int result = engine.changePlaybackProgress(percent);
        // Paused, the reader reads on until every channel has landed.
        if (result == 0 && !waitFor([&] {
                return avc_parse_passes(engine.fdAVCFile()) > passes && !engine.landingUnderWay();
            }))
            return -2;
        return result;
    }
    // Frame index within its channel of each delivered video frame, found by its bytes.
    std::vector<int> frameIndexes(const mkrec::Recording &r, size_t from = 0) {
        std::map<std::string, int> byMd5;
        for (const mkrec::Unit *u : r.manifest.video())
            byMd5[u->esMd5] = u->frame;
        std::vector<int> out;
        const auto events = delegate.videoEvents();
        for (size_t i = from; i < events.size(); ++i) {
            auto it = byMd5.find(mkrec::md5Hex(events[i].frame));
            out.push_back(it == byMd5.end() ? -1 : it->second);
        }
        return out;
    }
    static std::string pictureMd5(const VideoEvent &e) {
        return md5(e.image->pixels(), e.image->byteCount());
    }
    std::vector<float> progress() {
        poster.drain();
        std::lock_guard<std::mutex> lock(delegate.mutex);
        return delegate.progress;
    }
    static double medianGapMs(const std::vector<VideoEvent> &ev, size_t from) {
        std::vector<double> gaps;
        for (size_t i = from + 1; i < ev.size(); ++i)
            gaps.push_back(
                std::chrono::duration<double, std::milli>(ev[i].received - ev[i - 1].received).count());
        if (gaps.empty()) return -1;
        std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
        return gaps[gaps.size() / 2];
    }

    mkrec::TempDir dir;
    HeadlessDelegate delegate;
    QueuePoster poster;
    std::atomic<int> streamW{0}, streamH{0};
    AVCFormatPlayback engine;
    std::atomic<bool> pauseOnPicture_{false};
    std::atomic<long> pausedAtPass_{-1};
};

} // namespace enginetest
