// The DV4 and DV5 unit scanners on damaged files. The first three bytes choose the file variant,
// the speed, pause, the audio channel, the channels shown, and a seek or stop request made after
// some hand-off; the rest is either the file itself or, when the top bit of the first byte is
// set, a list of commands that build a file of well-formed units mixed with damage, so that the
// fuzzer reaches the deeper states (payload skips, seeks that find key frames) quickly.
// The scanner runs to the end of the file once; the host aborts on any hand-off that breaks
// the records' bounds, and the sanitizers watch every read.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engines/dv_data_feed.h"
#include "engines/dv_stream_parser.h"
#include "engines/headless_delegate.h"
#include "engines/recording_host.h"
#include "platform/log.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Builds a file of units from 4-byte commands.
class Builder {
  public:
    explicit Builder(DVVariant v) : v_(v) {}

    void command(const uint8_t *c) {
        switch (c[0] & 7) {
        case 0:
            video(c, false);
            break;
        case 1:
            audio(c);
            break;
        case 2: // a stray start code
            if (mpeg4()) {
                out_.insert(out_.end(), {0, 0, 1, c[1]});
            } else {
                out_.insert(out_.end(), {0, 0, 0, 1, c[1]});
            }
            break;
        case 3: // junk
            for (int i = 0; i < c[1]; ++i)
                out_.push_back(static_cast<uint8_t>(next(c[2]) | 1));
            break;
        case 4: // zeros
            out_.insert(out_.end(), c[1] % 64, 0);
            break;
        case 5: { // a header cut short
            Bytes h = videoHeader(c, 0);
            h.resize(c[1] % h.size());
            out_.insert(out_.end(), h.begin(), h.end());
            break;
        }
        case 6:
            video(c, true);
            break;
        case 7: { // a length field that lies
            const size_t at = out_.size();
            video(c, false);
            if (dv5() && out_.size() >= at + 36)
                put32(out_, at + (v_ == DVVariant::DV5NVR ? 32 : 20), 0x7FFFFF00u | c[3]);
            break;
        }
        }
    }
    const Bytes &bytes() const { return out_; }

  private:
    bool mpeg4() const { return v_ == DVVariant::DV4MPEG4; }
    bool dv5() const { return v_ == DVVariant::DV5NVR || v_ == DVVariant::DV5DVR; }
    uint8_t next(uint8_t salt) {
        seed_ = seed_ * 1103515245u + 12345u + salt;
        return static_cast<uint8_t>(seed_ >> 16);
    }

    Bytes videoHeader(const uint8_t *c, uint32_t len) {
        ++seconds_;
        const uint8_t channel =
            (c[1] & 2) ? static_cast<uint8_t>(16 + (c[1] >> 4)) : static_cast<uint8_t>(c[1] >> 4);
        Bytes h;
        switch (v_) {
        case DVVariant::DV4H264:
            h.assign(20, 0);
            h[3] = 1;
            h[4] = 0x1F;
            h[8] = c[1] & 1;
            put32(h, 12, seconds_);
            put32(h, 16, c[3] * 1000u);
            break;
        case DVVariant::DV4MPEG4:
            h = {0, 0, 1, 0xB2, 0x0F, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};
            put32(h, 6, seconds_);
            put32(h, 10, c[3] * 1000u);
            break;
        case DVVariant::DV5NVR:
        case DVVariant::DV5DVR: {
            const bool nvr = v_ == DVVariant::DV5NVR;
            h.assign(nvr ? 41 : 29, 0);
            h[3] = 1;
            h[4] = 0x1F;
            h[8] = c[1] & 1;
            put32(h, 12, seconds_);
            put32(h, nvr ? 20 : 16, nvr ? seconds_ : c[3] * 1000u);
            if (nvr) put32(h, 24, c[3] * 1000u);
            put32(h, nvr ? 32 : 20, len);
            h.back() = channel;
            if (c[1] & 4) { // an extension block
                h[10] = 0x20;
                const uint32_t ext = c[3] & 15;
                h.insert(h.end(), {static_cast<uint8_t>(ext), 0, 0, 0});
                h.insert(h.end(), ext, 0xEE);
            }
            break;
        }
        }
        return h;
    }

    void video(const uint8_t *c, bool lead) {
        const bool key = c[1] & 8;
        Bytes payload;
        if (lead && !mpeg4()) payload.insert(payload.end(), {0, 0, 0, 1, 0x09, 0xF0});
        if (mpeg4()) {
            if (key) payload.insert(payload.end(), {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB5});
            payload.insert(payload.end(), {0, 0, 1, 0xB6, static_cast<uint8_t>(key ? 0x10 : 0x50)});
        } else {
            if (key) payload.insert(payload.end(), {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE});
            payload.insert(payload.end(), {0, 0, 0, 1, static_cast<uint8_t>(key ? 0x65 : 0x41)});
        }
        const size_t n = c[2] + 16u * (c[3] >> 4);
        for (size_t i = 0; i < n; ++i)
            payload.push_back(next(c[2]));
        const Bytes h = videoHeader(c, static_cast<uint32_t>(payload.size()));
        out_.insert(out_.end(), h.begin(), h.end());
        out_.insert(out_.end(), payload.begin(), payload.end());
    }

    void audio(const uint8_t *c) {
        static const uint8_t kCodes[] = {0x06, 0x09, 0x0C, 0x14, 0x18, 0x33};
        const uint8_t code = kCodes[c[1] % 6];
        const uint8_t channel = static_cast<uint8_t>((c[1] >> 3) % 18);
        const uint32_t len = c[2] * 4u;
        Bytes h;
        switch (v_) {
        case DVVariant::DV4H264:
            h.assign(20, 0);
            h[3] = 1;
            h[4] = 0x1E;
            h[6] = code;
            break;
        case DVVariant::DV4MPEG4:
            h.assign(18, 0);
            h[2] = 1;
            h[3] = 0xB2;
            h[4] = 0x0F;
            h[5] = code;
            break;
        case DVVariant::DV5NVR:
        case DVVariant::DV5DVR:
            h.assign(v_ == DVVariant::DV5NVR ? 43 : 21, 0);
            h[3] = 1;
            h[4] = 0x1E;
            h[6] = code;
            put32(h, 8, (c[3] & 0x80) ? len + 5000 : len);
            h.back() = channel;
            break;
        }
        out_.insert(out_.end(), h.begin(), h.end());
        for (uint32_t i = 0; i < len; ++i)
            out_.push_back(static_cast<uint8_t>(next(c[3]) | 0x80));
    }

    const DVVariant v_;
    Bytes out_;
    uint32_t seed_ = 1;
    uint32_t seconds_ = 1700000000;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int fd = memfd_create("dv-fuzz", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    static const bool quiet = (player_log_set_sink([](const std::string &) {}), true);
    (void)quiet;
    if (fd < 0 || size < 3) return 0;
    const uint8_t mode = data[0], choice = data[1], request = data[2];
    data += 3;
    size -= 3;

    const DVVariant variant = static_cast<DVVariant>(mode & 3);
    Bytes file;
    if (mode & 0x80) {
        Builder builder(variant);
        for (size_t i = 0; i + 4 <= size && i < 4 * 512; i += 4)
            builder.command(data + i);
        file = builder.bytes();
    } else {
        file.assign(data, data + size);
    }
    if (ftruncate(fd, 0) != 0) return 0;
    if (!file.empty() && pwrite(fd, file.data(), file.size(), 0) != static_cast<ssize_t>(file.size()))
        return 0;

    dvFmtResetControlFlags();
    gDVFmtPlaybackSpeed = ((mode >> 2) & 7) % 5;
    gDVFmtPlaybackIsPauseNow = (mode >> 5) & 1;
    enginetest::HeadlessDelegate delegate;
    delegate.selectedAudioChannel = choice & 0x1F;
    delegate.decodeChannelMask = (choice & 0x20) ? 0x5555 : 0xFFFF;
    enginetest::RecordingHost host;
    host.keepPayloads = false;
    host.logEvents = false;
    // After the n-th hand-off, one seek (to a percentage) or one stop.
    const int requestAt = (request & 0x0F) + 1;
    int handOffs = 0;
    host.onHandOff = [&](const enginetest::RecordingHost::HandOff &) {
        if (++handOffs != requestAt) return;
        if (choice & 0x40)
            gDVFmtPlaybackStopActionLaunched = 1;
        else
            dvFmtRequestSeek((request >> 4) * 7);
    };

    static DataFeedController window; // keeps its buffers from one input to the next
    if (!window.initDataFeedControllerWith(path)) return 0;
    DVStreamParser parser(variant, window, host, &delegate);
    parser.run(true);
    dvFmtResetControlFlags();
    return 0;
}
