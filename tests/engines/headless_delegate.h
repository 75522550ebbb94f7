// A delegate without a window for engine tests: it records every callback with the time it
// arrived, answers the engine's questions from settable fields, and has a stand-in "main
// thread" that runs posted tasks in order on a thread of its own.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engines/engine_delegate.h"

namespace enginetest {

using Clock = std::chrono::steady_clock;

// Runs posted tasks one after another on its own thread, like a GUI thread's queue.
class QueuePoster : public MainThreadPoster {
  public:
    QueuePoster() : thread_([this] { run(); }) {}
    ~QueuePoster() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void postToMainThread(std::function<void()> task) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
            ++posted_;
        }
        cv_.notify_all();
    }
    // Waits until every task posted so far has run.
    void drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        const uint64_t target = posted_;
        idle_.wait(lock, [&] { return ran_ >= target; });
    }
    bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    // While held, posted tasks are queued but not run (a busy GUI thread).
    void hold(bool held) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            held_ = held;
        }
        cv_.notify_all();
    }

  private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return stop_ || (!held_ && !tasks_.empty()); });
            if (tasks_.empty() || held_) {
                if (stop_) return;
                continue;
            }
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
            ++ran_;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_, idle_;
    std::deque<std::function<void()>> tasks_;
    uint64_t posted_ = 0, ran_ = 0;
    bool stop_ = false, held_ = false;
    std::thread thread_;
};

struct VideoEvent {
    unsigned channel;
    VideoImageRef image;
    std::vector<uint8_t> frame;
    bool isIFrame;
    unsigned interval;
    _SYSTEMTIME sysTime;
    Clock::time_point received;
    std::thread::id thread;
};

struct AudioEvent {
    unsigned channel;
    int format;
    std::vector<uint8_t> payload;
    std::thread::id thread;
};

class HeadlessDelegate : public EngineDelegate {
  public:
    // ---- Answers (set by the test) ----
    std::string filePath;
    std::atomic<int> selectedAudioChannel{0};
    std::atomic<bool> flip{false};
    std::atomic<bool> deinterlace{false};
    std::atomic<float> targetWidth{0}, targetHeight{0};
    std::atomic<int> decodeChannelMask{0xFFFF}; // bit n: channel n is decoded
    std::atomic<int> avcStatus{10};
    // Called on the engine thread after a video frame is recorded.
    std::function<void(const VideoEvent &)> onVideo;
    // Called on the parser thread by setDVFmtProcessingInfoAtEndOfProcessing.
    std::function<void()> onDVEnd;
    // Called on the stand-in main thread by setAVCFmtProcessingInfoAtEndOfProcessing, before
    // the notice is counted.
    std::function<void()> onAVCEnd;
    // Called by setEnAVCFmtPlaybackStatus before the status is stored (a slow delegate).
    std::function<void(int)> onAVCStatus;

    // ---- Records ----
    mutable std::mutex mutex;
    std::vector<VideoEvent> video;
    std::vector<AudioEvent> audio;
    std::vector<float> progress;
    std::vector<std::thread::id> progressThreads;
    std::vector<std::pair<std::string, float>> processingInfo;
    std::vector<std::pair<unsigned, int>> audioProcessors;
    std::vector<bool> deinterlaceButton;
    std::vector<int> realWidths, realHeights;
    std::vector<int> vdoIdx;
    std::vector<std::string> labels;
    std::vector<std::vector<char>> titles; // empty vector = no titles
    std::atomic<int> dvEndNotices{0}, avcEndNotices{0}, sysTimes{0};
    std::atomic<int> triState{-1};
    // Bit n: channel n was told it has no picture at a landing's moment.
    std::atomic<uint32_t> noPictureMask{0};
    std::atomic<int> imageRealW{0}, imageRealH{0};
    // The kernel id of the thread that last reported a frame's time or the DV end: the parser.
    std::atomic<pid_t> parserTid{0};

    size_t videoCount() const {
        std::lock_guard<std::mutex> lock(mutex);
        return video.size();
    }
    std::vector<VideoEvent> videoEvents() const {
        std::lock_guard<std::mutex> lock(mutex);
        return video;
    }

    static pid_t callingTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

    // ---- EngineDelegate ----
    std::string absoluteFilePath() override {
        std::lock_guard<std::mutex> lock(mutex);
        return filePath;
    }
    void setICurrentSelectedAudioCH(int channel) override { selectedAudioChannel = channel; }
    int iCurrentSelectedAudioCH() override { return selectedAudioChannel; }
    void setAudioProcessorWithChannel(unsigned channel, int format) override {
        std::lock_guard<std::mutex> lock(mutex);
        audioProcessors.emplace_back(channel, format);
    }
    bool checkNeedDecodeForMultiCHs(uint8_t channel) override {
        return channel < 16 && ((decodeChannelMask >> channel) & 1);
    }
    void setAVCFmtVdoIdxForAVIBuilder(int codec) override {
        std::lock_guard<std::mutex> lock(mutex);
        vdoIdx.push_back(codec);
    }
    void audioUpdateTaskWithBuffer(const uint8_t *buffer, unsigned length, int format,
                                   unsigned channel) override {
        std::lock_guard<std::mutex> lock(mutex);
        audio.push_back(
            {channel, format, std::vector<uint8_t>(buffer, buffer + length), std::this_thread::get_id()});
    }
    bool videoFlipImageFlag() override { return flip; }
    bool videoDeinterlaceFlag() override { return deinterlace; }
    void setDeinterlaceEnableBtnEnabled(bool enabled) override {
        std::lock_guard<std::mutex> lock(mutex);
        deinterlaceButton.push_back(enabled);
    }
    float decoderTargetWidth() override { return targetWidth; }
    float decoderTargetHeight() override { return targetHeight; }
    void setImageRealWidth(int w) override {
        imageRealW = w;
        std::lock_guard<std::mutex> lock(mutex);
        realWidths.push_back(w);
    }
    void setImageRealHeight(int h) override {
        imageRealH = h;
        std::lock_guard<std::mutex> lock(mutex);
        realHeights.push_back(h);
    }
    int imageRealWidth() override { return imageRealW; }
    int imageRealHeight() override { return imageRealH; }
    void videoUpdateTaskWithChannel(unsigned channel, VideoImageRef image, const uint8_t *buffer,
                                    unsigned length, bool isIFrame, unsigned interval,
                                    const _SYSTEMTIME &sysTime) override {
        VideoEvent e{channel,
                     std::move(image),
                     std::vector<uint8_t>(buffer, buffer + length),
                     isIFrame,
                     interval,
                     sysTime,
                     Clock::now(),
                     std::this_thread::get_id()};
        {
            std::lock_guard<std::mutex> lock(mutex);
            video.push_back(e);
        }
        if (onVideo) onVideo(e);
    }
    void showNoPictureOfChannel(unsigned channel) override { noPictureMask |= 1u << (channel & 31); }
    void setSys_Time(const _SYSTEMTIME &) override {
        parserTid = callingTid();
        ++sysTimes;
    }
    void updateProcessingInfoWithServerTime(const std::string &time, float p) override {
        std::lock_guard<std::mutex> lock(mutex);
        processingInfo.emplace_back(time, p);
    }
    void upadatePlaybackProgress(float percent) override {
        std::lock_guard<std::mutex> lock(mutex);
        progress.push_back(percent);
        progressThreads.push_back(std::this_thread::get_id());
    }
    void setDVFmtProcessingInfoAtEndOfProcessing() override {
        parserTid = callingTid();
        ++dvEndNotices;
        if (onDVEnd) onDVEnd();
    }
    void setAVCFmtProcessingInfoAtEndOfProcessing() override {
        if (onAVCEnd) onAVCEnd();
        ++avcEndNotices;
    }
    int enAVCFmtPlaybackStatus() override { return avcStatus; }
    void setEnAVCFmtPlaybackStatus(int status) override {
        if (onAVCStatus) onAVCStatus(status);
        avcStatus = status;
    }
    void setPlaybackTriState(uint8_t state) override { triState = state; }
    void setDevChannelTitle(const char *t) override {
        std::lock_guard<std::mutex> lock(mutex);
        titles.push_back(t ? std::vector<char>(t, t + 16 * 64) : std::vector<char>());
    }
    void setServerTimeLabelText(const std::string &text) override {
        std::lock_guard<std::mutex> lock(mutex);
        labels.push_back(text);
    }
};

} // namespace enginetest
