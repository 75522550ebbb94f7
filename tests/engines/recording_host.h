// A host for the DV unit scanner without threads or decoders: it keeps what the scanner hands
// off, in order, and answers at once. Used by the scanner's tests, its fuzz target and the
// parse-only benchmark.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engines/dv_records.h"
#include "engines/dv_stream_parser.h"
#include "engines/engine_controls.h"

namespace enginetest {

class RecordingHost : public DVParserHost {
  public:
    struct HandOff {
        bool video;
        int channel;
        bool key;                     // the key-frame mark at the hand-off (video)
        std::vector<uint8_t> payload; // empty unless keepPayloads
        uint32_t length;
    };
    // Everything in order: "V" video, "A" audio, "P<percent>" progress, "R" reset.
    std::vector<std::string> events;
    std::vector<HandOff> handOffs;
    std::vector<int> decodersMade; // channels, in order
    std::array<uint8_t, kEngineChannelCount> decoderMade{}, audioAnnounced{};
    std::array<int, kEngineChannelCount> audioFormat{};
    bool keepPayloads = true;
    bool logEvents = true;
    uint64_t payloadSum = 0; // every handed-off byte, summed (so that every byte is read)
    // Called after each hand-off has been kept (the scanner waits for it, as for the engine).
    std::function<void(const HandOff &)> onHandOff;
    // Called in place of each sleep the scanner asks for.
    std::function<void()> onPause;

    void setKeyFrameMark(bool k) override { key_ = k; }
    bool keyFrameMark() const override { return key_; }
    void prepareVideoDecoder(int channel, int) override {
        if (channel < 0 || channel >= kEngineChannelCount || decoderMade[channel]) return;
        decoderMade[channel] = 1;
        decodersMade.push_back(channel);
    }
    bool audioFormatAnnounced(int channel) const override {
        return channel < 0 || channel >= kEngineChannelCount || audioAnnounced[channel];
    }
    void setAudioFormat(int channel, int format) override {
        if (channel < 0 || channel >= kEngineChannelCount) return;
        audioFormat[channel] = format;
        audioAnnounced[channel] = 1;
    }
    bool handOffVideo(DVVideoSelector selector, const void *record) override {
        const DVVideoRecordLayout &l = dvVideoRecordLayout(selector);
        return keep(true, dvVideoRecordChannel(selector, record), record, l.payload, l.length,
                    kDVVideoPayloadRoom);
    }
    bool handOffAudio(DVAudioSelector selector, const void *record) override {
        const DVAudioRecordLayout &l = dvAudioRecordLayout(selector);
        return keep(false, dvAudioRecordChannel(selector, record), record, l.payload, l.length,
                    kDVAudioPayloadRoom);
    }
    _SYSTEMTIME frameTime() const override { return _SYSTEMTIME{2024, 1, 2, 2, 3, 4, 5, 0}; }
    void resetStreams() override {
        decoderMade.fill(0);
        audioAnnounced.fill(0);
        audioFormat.fill(0);
        if (logEvents) events.push_back("R");
    }
    void postProgress(float percent) override {
        if (logEvents) events.push_back("P" + std::to_string(percent));
    }
    void pause(std::chrono::microseconds) override {
        if (onPause) onPause();
    }
    // Nothing else would ever raise a request: play on.
    void waitForRequest() override { gDVFmtPlaybackKeepRunning = 1; }

    size_t count(bool video) const {
        size_t n = 0;
        for (const HandOff &h : handOffs)
            n += h.video == video;
        return n;
    }

  private:
    bool keep(bool video, int channel, const void *record, int payloadAt, int lengthAt, uint32_t room) {
        const uint8_t *bytes = static_cast<const uint8_t *>(record);
        uint32_t length = 0;
        std::memcpy(&length, bytes + lengthAt, 4);
        if (length > room || channel < 0 || channel >= kEngineChannelCount) {
            // The scanner must never hand these off.
            std::abort();
        }
        HandOff h{video, channel, key_, {}, length};
        for (uint32_t i = 0; i < length; ++i)
            payloadSum += bytes[payloadAt + i];
        if (keepPayloads) h.payload.assign(bytes + payloadAt, bytes + payloadAt + length);
        if (logEvents) events.push_back(video ? "V" : "A");
        handOffs.push_back(std::move(h));
        if (onHandOff) onHandOff(handOffs.back());
        return true;
    }

    bool key_ = false;
};

} // namespace enginetest
