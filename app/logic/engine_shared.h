// The values the engine threads read (and some of them write) while a file plays or converts.
// One instance, owned by the engine side; the features that set these values from the GUI
// thread get it at construction. Everything else of the application lives on the GUI thread
// with the feature that owns it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/logic/player_state.h"
#include "recorderfile/recorder_time.h"

struct EngineShared {
    // The callbacks choose their work by it (playing, converting, idle).
    std::atomic<int> playerState{kPlayerStateIdle};
    // Which channels are decoded: the single view's channel, or all of them in the grid.
    std::atomic<int> cutState{kCutStateSingle};
    std::atomic<int> selectedVideoChannel{0};
    // The heard channel, 1-based; the engines set it too.
    std::atomic<int> selectedAudioChannel{0};
    // The open file is an AVC file (the other engine's decoders are not reset).
    std::atomic<bool> avcFile{false};
    // Playing, not paused at the end; the DV parser clears it at the end of the recording.
    std::atomic<bool> playbackNow{false};
    // A click switched the cut: the next picture resets the decoders and lays the pane out.
    std::atomic<bool> viewCutChanged{false};
    // The pane changed size: the next picture lays it out.
    std::atomic<bool> resizingVideoPane{false};
    std::atomic<bool> flipImage{false};
    std::atomic<bool> deinterlace{false};
    // The size the decoders scale to (0: the stream's own).
    std::atomic<float> decoderTargetWidth{0.0f};
    std::atomic<float> decoderTargetHeight{0.0f};
    // The picture size the engines deliver, and the stream's own (the decoders store it).
    std::atomic<int> imageRealWidth{0};
    std::atomic<int> imageRealHeight{0};
    std::atomic<int> streamWidth{0};
    std::atomic<int> streamHeight{0};
    // The AVC engine's status and the DV engine's play/pause/stop state.
    std::atomic<int> avcStatus{0};
    std::atomic<uint8_t> triState{0};

    // The open file's path in the file system's encoding.
    std::string filePath() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return filePath_;
    }
    void setFilePath(std::string path) {
        std::lock_guard<std::mutex> lock(mutex_);
        filePath_ = std::move(path);
    }
    // The recorder time of the last frame an engine handled.
    _SYSTEMTIME sysTime() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sysTime_;
    }
    void setSysTime(const _SYSTEMTIME &time) {
        std::lock_guard<std::mutex> lock(mutex_);
        sysTime_ = time;
    }

  private:
    mutable std::mutex mutex_;
    std::string filePath_;
    _SYSTEMTIME sysTime_{};
};
