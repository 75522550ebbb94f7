// What the benchmarks hand the engines in place of a player: delegates that answer and drop,
// a parser host that drops the units it is handed, and the scanner's speed over a file. Only the counting the
// benchmarks need is kept, so the stand-ins cost next to nothing beside the work measured.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "engines/dv_data_feed.h"
#include "engines/dv_stream_parser.h"
#include "engines/engine_controls.h"
#include "engines/engine_delegate.h"
#include "engines/headless_delegate.h"

namespace benchutil {

// Every callback answered with the stream's own settings and otherwise dropped; the AVC status
// is kept. Benchmarks override what they count.
class QuietDelegate : public EngineDelegate {
  public:
    std::string absoluteFilePath() override { return {}; }
    void setICurrentSelectedAudioCH(int) override {}
    int iCurrentSelectedAudioCH() override { return 0; }
    void setAudioProcessorWithChannel(unsigned, int) override {}
    bool checkNeedDecodeForMultiCHs(uint8_t) override { return true; }
    void setAVCFmtVdoIdxForAVIBuilder(int) override {}
    void audioUpdateTaskWithBuffer(const uint8_t *, unsigned, int, unsigned) override {}
    bool videoFlipImageFlag() override { return false; }
    bool videoDeinterlaceFlag() override { return false; }
    void setDeinterlaceEnableBtnEnabled(bool) override {}
    float decoderTargetWidth() override { return 0; }
    float decoderTargetHeight() override { return 0; }
    void setImageRealWidth(int) override {}
    void setImageRealHeight(int) override {}
    int imageRealWidth() override { return 0; }
    int imageRealHeight() override { return 0; }
    void videoUpdateTaskWithChannel(unsigned, VideoImageRef, const uint8_t *, unsigned, bool, unsigned,
                                    const _SYSTEMTIME &) override {}
    void setSys_Time(const _SYSTEMTIME &) override {}
    void updateProcessingInfoWithServerTime(const std::string &, float) override {}
    void upadatePlaybackProgress(float) override {}
    void setDVFmtProcessingInfoAtEndOfProcessing() override {}
    void setAVCFmtProcessingInfoAtEndOfProcessing() override {}
    int enAVCFmtPlaybackStatus() override { return status; }
    void setEnAVCFmtPlaybackStatus(int s) override { status = s; }
    void setPlaybackTriState(uint8_t) override {}
    void setDevChannelTitle(const char *) override {}
    void setServerTimeLabelText(const std::string &) override {}

    std::atomic<int> status{kAVCFmtPlaybackPlay};
};

// The headless delegate's answers (file path, target size), but the pictures only counted and
// the per-frame records dropped; `ended` is set at either end notice.
class CountingDelegate : public enginetest::HeadlessDelegate {
  public:
    std::atomic<uint64_t> pictures{0};
    std::atomic<bool> ended{false};
    void videoUpdateTaskWithChannel(unsigned, VideoImageRef, const uint8_t *, unsigned, bool, unsigned,
                                    const _SYSTEMTIME &) override {
        ++pictures;
    }
    void audioUpdateTaskWithBuffer(const uint8_t *, unsigned, int, unsigned) override {}
    void updateProcessingInfoWithServerTime(const std::string &, float) override {}
    void upadatePlaybackProgress(float) override {}
    void setDeinterlaceEnableBtnEnabled(bool) override {}
    void setImageRealWidth(int) override {}
    void setImageRealHeight(int) override {}
    void setDVFmtProcessingInfoAtEndOfProcessing() override {
        HeadlessDelegate::setDVFmtProcessingInfoAtEndOfProcessing();
        ended = true;
    }
    void setAVCFmtProcessingInfoAtEndOfProcessing() override {
        HeadlessDelegate::setAVCFmtProcessingInfoAtEndOfProcessing();
        ended = true;
    }
};

// A host for the DV unit scanner alone: hand-offs are counted and dropped, progress reports
// counted, and the end of the file ends the run.
class NullHost : public DVParserHost {
  public:
    uint64_t handOffs = 0;
    unsigned progressReports = 0;
    void setKeyFrameMark(bool k) override { key_ = k; }
    bool keyFrameMark() const override { return key_; }
    void prepareVideoDecoder(int, int) override {}
    bool audioFormatAnnounced(int) const override { return true; }
    void setAudioFormat(int, int) override {}
    bool handOffVideo(DVVideoSelector, const void *) override {
        ++handOffs;
        return true;
    }
    bool handOffAudio(DVAudioSelector, const void *) override {
        ++handOffs;
        return true;
    }
    _SYSTEMTIME frameTime() const override { return {}; }
    void resetStreams() override {}
    void postProgress(float) override { ++progressReports; }
    void pause(std::chrono::microseconds) override {}
    void waitForRequest() override { gDVFmtPlaybackKeepRunning = 1; }

  private:
    bool key_ = false;
};

// The unit scanner alone over the whole file, hand-offs dropped: best of three, in MB/s (0 when
// the file cannot be opened). *last gets the host of the last scan, with its counts.
inline double bestScanSpeed(const std::string &path, DVVariant variant, NullHost *last) {
    double best = 0;
    for (int rep = 0; rep < 3; ++rep) {
        dvFmtResetControlFlags();
        enginetest::HeadlessDelegate delegate;
        NullHost host;
        DataFeedController window;
        if (!window.initDataFeedControllerWith(path)) return 0;
        const uint64_t size = window.fileSize();
        DVStreamParser parser(variant, window, host, &delegate);
        const auto t0 = std::chrono::steady_clock::now();
        parser.run(true);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::max(best, static_cast<double>(size) / 1e6 / s);
        *last = host;
    }
    dvFmtResetControlFlags();
    return best;
}

} // namespace benchutil
