#include "engines/dv_stream_parser.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "decoder/decoder.h"
#include "engines/engine_controls.h"
#include "platform/byte_order.h"
#include "platform/log.h"
#include "recorderfile/audio_format.h"

namespace {

constexpr uint64_t kBuf = kDataFeedBufferSize;
// Bytes scanned without a frame after which the progress is reported anyway.
constexpr uint64_t kQuietProgressBytes = 64ull << 20;
// By how much a backward search's windows overlap, so that a start code across their seam is
// seen.
constexpr uint64_t kSeekOverlap = 64;
// How far into a payload an SPS may lie behind a delimiter or SEI.
constexpr uint32_t kKeyFrameLeadBytes = 256;
// A seek's look at the units around the place starts this far before it: the frames of the
// place's moment written just before it belong to that moment.
constexpr uint64_t kLookBehindBytes = kBuf / 2;

uint32_t clamp32(uint64_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX));
}

bool validChannel(int channel) {
    return channel >= 0 && channel < kEngineChannelCount;
}

bool isSps(uint8_t type) {
    return type == 0x67 || type == 0x27;
}

bool isSlice(uint8_t type) {
    return type == 0x61 || type == 0x41 || type == 0x21;
}

bool fastSpeed() {
    return gDVFmtPlaybackSpeed.load() >= kDVFmtKeyFramesOnlySpeed;
}

DVVideoSelector videoSelectorOf(DVVariant v) {
    switch (v) {
    case DVVariant::DV4H264:
        return DVVideoSelector::DV4H264;
    case DVVariant::DV4MPEG4:
        return DVVideoSelector::DV4MPEG4;
    case DVVariant::DV5NVR:
        return DVVideoSelector::DV5NVR;
    case DVVariant::DV5DVR:
        return DVVideoSelector::DV5DVR;
    }
    return DVVideoSelector::DV4H264;
}

DVAudioSelector audioSelectorOf(DVVariant v) {
    switch (v) {
    case DVVariant::DV4H264:
        return DVAudioSelector::DV4H264;
    case DVVariant::DV4MPEG4:
        return DVAudioSelector::DV4MPEG4;
    case DVVariant::DV5NVR:
        return DVAudioSelector::DV5NVR;
    case DVVariant::DV5DVR:
        return DVAudioSelector::DV5DVR;
    }
    return DVAudioSelector::DV4H264;
}

// Unit header sizes: video, audio.
int videoHeaderLenOf(DVVariant v) {
    switch (v) {
    case DVVariant::DV4H264:
        return 20;
    case DVVariant::DV4MPEG4:
        return 14;
    case DVVariant::DV5NVR:
        return 41;
    case DVVariant::DV5DVR:
        return 29;
    }
    return 20;
}

int audioHeaderLenOf(DVVariant v) {
    switch (v) {
    case DVVariant::DV4H264:
        return 20;
    case DVVariant::DV4MPEG4:
        return 18;
    case DVVariant::DV5NVR:
        return 43;
    case DVVariant::DV5DVR:
        return 21;
    }
    return 20;
}

// Offset of the payload length in a DV5 video header.
int dv5VideoLenOffset(DVVariant v) {
    return v == DVVariant::DV5NVR ? 32 : 20;
}

} // namespace

DVStreamParser::DVStreamParser(DVVariant variant, DataFeedController &window, DVParserHost &host,
                               EngineDelegate *delegate)
    : variant_(variant), window_(window), host_(host), delegate_(delegate),
      videoSelector_(videoSelectorOf(variant)), audioSelector_(audioSelectorOf(variant)),
      videoLayout_(dvVideoRecordLayout(videoSelector_)), audioLayout_(dvAudioRecordLayout(audioSelector_)),
      videoHeaderLen_(videoHeaderLenOf(variant)), audioHeaderLen_(audioHeaderLenOf(variant)) {
    // The records are reused for every unit; only their header parts need clearing.
    videoRecord_.reset(new (std::nothrow)
                           uint8_t[static_cast<size_t>(videoLayout_.payload) + kDVVideoPayloadRoom]);
    audioRecord_.reset(new (std::nothrow)
                           uint8_t[static_cast<size_t>(audioLayout_.payload) + kDVAudioPayloadRoom]);
    if (!ready()) {
        player_log("No memory for the frame records\n");
        videoRecord_.reset();
        audioRecord_.reset();
        return;
    }
    clearRecords();
    restartState();
}

DVStreamParser::~DVStreamParser() = default;

// ---- The loop ----

DVStreamParser::Exit DVStreamParser::run(bool returnAtEnd) {
    if (!ready()) return Exit::Closed;
    for (;;) {
        if (holdPending_) {
            holdPending_ = false;
            stoppedAtStart_ = false;
            host_.holdForRequest();
        }
        if (gDVFmtPlaybackParserThreadForceExit.load()) return Exit::Closed;
        if (gDVFmtPlaybackSliderValueChanged.load()) seek();
        if (gDVFmtPlaybackStopActionLaunched.load()) stop();
        // A view change asks for the moment on screen in every tile it shows; so does playing on
        // after key frames only, which left each tile at its channel's own last key frame.
        if (gDVFmtPlaybackLandOnScreen.load() ||
            (passedOverAtSpeed_ && !fastSpeed() && gDVFmtPlaybackKeepRunning.load()))
            landOnScreen();
        if (window_.absPos() >= window_.fileSize()) {
            // Nothing was handed off since the last restart and frames are not to flow: there
            // is nothing to wait in, so wait here rather than end the file again and again.
            if (handOffs_ == 0 && !gDVFmtPlaybackKeepRunning.load()) {
                host_.waitForRequest();
                // A close sets keep-running with force-exit, and a seek or stop may come with
                // it: each is served above, and a close is never taken for a new play.
                if (!gDVFmtPlaybackKeepRunning.load() || gDVFmtPlaybackParserThreadForceExit.load() ||
                    gDVFmtPlaybackSliderValueChanged.load() || gDVFmtPlaybackStopActionLaunched.load())
                    continue;
            }
            const bool ended = endOfFile();
            if (gDVFmtPlaybackParserThreadForceExit.load()) return Exit::Closed;
            if (!ended) continue;
            if (returnAtEnd) return Exit::Ended;
            continue;
        }
        // Damaged data holds no units: a landing through it ends after a bounded read past the
        // place.
        if (landing() && window_.absPos() >= landingFrom_ + kSeekLandingMaxBytes) {
            finishLanding();
            continue;
        }
        scanStep();
        // A long stretch without units shows no frame: let the progress move all the same.
        const uint64_t at = window_.absPos();
        if (at < quietFrom_) quietFrom_ = at;
        if (at - quietFrom_ >= kQuietProgressBytes) postScanProgress();
    }
}

void DVStreamParser::restartState() {
    state_ = ScanState::None;
    videoStreamLength_ = 0;
    audioCount_ = 0;
    keyFrameCount_ = 0;
    handOffs_ = 0;
    if (window_.absPos() == 0) wholeVideoSeen_ = false;
    payloadStart_ = 0;
    payloadEnd_ = 0;
    videoHeaderAt_ = 0;
    passedOverAtSpeed_ = false;
    quietFrom_ = window_.absPos();
    holdPending_ = false;
}

void DVStreamParser::clearRecords() {
    if (!ready()) return;
    std::memset(videoRecord_.get(), 0, static_cast<size_t>(videoLayout_.payload));
    std::memset(audioRecord_.get(), 0, static_cast<size_t>(audioLayout_.payload));
}

void DVStreamParser::advance(uint64_t length) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (window_.shiftBufferOffsetWithLength(length)) return;
        window_.fillDataToNextBufferWhileNoDataToShift();
    }
    // The window could not step (it has no buffers left): restart it where the step lands.
    window_.initDataFeedControllerWhileSliderChanged(window_.absPos() + length);
}

uint32_t DVStreamParser::peek(uint8_t *dst, uint32_t n) {
    if (window_.bufOffset() + static_cast<uint64_t>(n) <= kBuf &&
        window_.absPos() + static_cast<uint64_t>(n) <= window_.fileSize()) {
        std::memcpy(dst, window_.curPtr(), n);
        return n;
    }
    return window_.getDataFromBufferToVariable(dst, n);
}

void DVStreamParser::countBytes(uint64_t n) {
    if (state_ == ScanState::Video)
        videoStreamLength_ += n;
    else if (state_ == ScanState::Audio)
        audioCount_ += n;
}

uint64_t DVStreamParser::bytesBeforeStartCode() const {
    const uint64_t inBuffer = kBuf - window_.bufOffset();
    const uint64_t inFile = window_.fileSize() - std::min(window_.fileSize(), window_.absPos());
    const size_t avail = static_cast<size_t>(std::min(inBuffer, inFile));
    // DV4 MPEG-4 units start 00 00 01; the others 00 00 00 01.
    const size_t zeros = variant_ == DVVariant::DV4MPEG4 ? 2 : 3;
    if (avail <= zeros) return 0;
    const uint8_t *p = window_.curPtr();
    const uint8_t *end = p + avail;
    // Look for the 01 and then at the zeros before it: the 01 is rare in zeros and in
    // compressed data, so this runs at memchr's speed over bytes that are not units.
    for (const uint8_t *from = p + zeros; from < end;) {
        const auto *one = static_cast<const uint8_t *>(std::memchr(from, 1, static_cast<size_t>(end - from)));
        if (!one) break;
        bool prefix = true;
        for (size_t k = 1; k <= zeros; ++k)
            prefix = prefix && one[-static_cast<ptrdiff_t>(k)] == 0;
        if (prefix) return static_cast<uint64_t>(one - zeros - p);
        from = one + 1;
    }
    // The last bytes may begin a start code that runs past the buffer: the byte-wise step
    // looks at them across the seam.
    return avail - zeros;
}

void DVStreamParser::postScanProgress() {
    const uint64_t size = window_.fileSize();
    lastProgress_ = size ? static_cast<float>(window_.absPos()) / static_cast<float>(size) * 100.0f : 0.0f;
    host_.postProgress(lastProgress_);
    quietFrom_ = window_.absPos();
}

void DVStreamParser::scanStep() {
    if (window_.absPos() >= window_.fileSize()) return;
    if (variant_ == DVVariant::DV4MPEG4)
        scanStepMPEG4();
    else
        scanStepH264();
}

void DVStreamParser::scanStepH264() {
    if (const uint64_t n = bytesBeforeStartCode()) {
        advance(n);
        countBytes(n);
        return;
    }
    uint8_t b[5];
    peek(b, 5);
    if (b[0] != 0 || b[1] != 0 || b[2] != 0 || b[3] != 1) {
        advance(1);
        countBytes(1);
        return;
    }
    switch (b[4]) {
    case 0x1F:
        videoHeaderStep();
        return;
    case 0x1E:
        audioHeaderStep();
        return;
    case 0x00:
        advance(4);
        return;
    default:
        break;
    }
    if (isDV5())
        dv5PayloadStartCode(b[4]);
    else
        dv4PayloadStartCode(b[4]);
}

void DVStreamParser::scanStepMPEG4() {
    if (const uint64_t n = bytesBeforeStartCode()) {
        advance(n);
        countBytes(n);
        return;
    }
    uint8_t b[6];
    peek(b, 6);
    if (b[0] == 0 && b[1] == 0 && b[2] == 1) {
        if (b[3] == 0xB2) {
            if (b[4] == 0x0F && b[5] == 0x01)
                videoHeaderStep();
            else
                audioHeaderStep();
            return;
        }
        if (b[3] == 0xB6) {
            // A VOP: coding type I when the top two bits of the next byte are 0.
            const bool key = b[4] <= 0x3F;
            host_.setKeyFrameMark(key);
            if (key) ++keyFrameCount_;
            advance(5);
            videoStreamLength_ += 5;
            return;
        }
    }
    advance(1);
    countBytes(1);
}

// A start code inside a DV4 payload. Its five bytes count towards the video payload whatever
// the scan state: that is how these files have always been read.
void DVStreamParser::dv4PayloadStartCode(uint8_t type) {
    if (isSps(type)) {
        host_.setKeyFrameMark(true);
        ++keyFrameCount_;
    } else if (isSlice(type)) {
        host_.setKeyFrameMark(false);
    }
    advance(5);
    videoStreamLength_ += 5;
}

// A start code after a DV5 video header. The first SPS or slice inside the pending payload
// marks the frame and steps over the rest of the payload at once; its length counts from the
// payload's own start, so a payload that opens with a delimiter or SEI is not overrun. Any
// other start code, or one outside a pending payload, is stepped over.
void DVStreamParser::dv5PayloadStartCode(uint8_t type) {
    const uint64_t at = window_.absPos();
    if ((isSps(type) || isSlice(type)) && state_ == ScanState::Video && at >= payloadStart_ &&
        at < payloadEnd_) {
        host_.setKeyFrameMark(isSps(type));
        if (isSps(type)) ++keyFrameCount_;
        const uint64_t rest = payloadEnd_ - at;
        advance(rest);
        videoStreamLength_ += rest;
        payloadEnd_ = 0;
        return;
    }
    advance(5);
    videoStreamLength_ += 5;
}

// ---- Record fields ----

uint32_t DVStreamParser::videoLen() const {
    return readLE32(videoRecord_.get() + videoLayout_.length);
}

void DVStreamParser::setVideoLen(uint32_t len) {
    writeLE32(videoRecord_.get() + videoLayout_.length, len);
}

uint32_t DVStreamParser::audioLen() const {
    return readLE32(audioRecord_.get() + audioLayout_.length);
}

void DVStreamParser::setAudioLen(uint32_t len) {
    writeLE32(audioRecord_.get() + audioLayout_.length, len);
}

int DVStreamParser::videoChannel() const {
    return dvVideoRecordChannel(videoSelector_, videoRecord_.get());
}

int DVStreamParser::audioChannel() const {
    return dvAudioRecordChannel(audioSelector_, audioRecord_.get());
}

// ---- Headers ----

void DVStreamParser::videoHeaderStep() {
    if (isDV5())
        dv5VideoHeader();
    else
        dv4VideoHeader();
}

void DVStreamParser::audioHeaderStep() {
    if (isDV5())
        dv5AudioHeader();
    else
        dv4AudioHeader();
}

bool DVStreamParser::handOffVideo() {
    const int channel = videoChannel();
    if (!validChannel(channel)) {
        player_log("Video frame of channel %d dropped: no such channel\n", channel);
        return false;
    }
    const int codec = variant_ == DVVariant::DV4MPEG4 ? DECODER_CODEC_MPEG4 : DECODER_CODEC_H264;
    host_.prepareVideoDecoder(channel, codec);
    if (!window_.getVideoFrameWithLength(videoLen(), videoRecord_.get() + videoLayout_.payload,
                                         kDVVideoPayloadRoom))
        return false;
    ++handOffs_;
    return host_.handOffVideo(videoSelector_, videoRecord_.get());
}

bool DVStreamParser::handOffAudio() {
    if (!window_.getAudioFrameWithLength(audioLen(), audioRecord_.get() + audioLayout_.payload,
                                         kDVAudioPayloadRoom))
        return false;
    ++handOffs_;
    return host_.handOffAudio(audioSelector_, audioRecord_.get());
}

void DVStreamParser::deliverPendingVideo(bool speedRuleApplies) {
    wholeVideoSeen_ = true;
    const bool landingFrame = landingMeetsPendingVideo();
    // A landing decodes every frame up to its moment, whatever the speed.
    bool deliver = !(speedRuleApplies && fastSpeed() && !host_.keyFrameMark() && !landingFrame);
    if (!deliver) passedOverAtSpeed_ = true;
    if (deliver && isDV5()) {
        const int channel = videoChannel();
        if (!validChannel(channel)) {
            player_log("Video frame of channel %d dropped: no such channel\n", channel);
            deliver = false;
        } else {
            deliver = delegate_ && delegate_->checkNeedDecodeForMultiCHs(static_cast<uint8_t>(channel));
        }
    }
    if (deliver) handOffPendingVideo(landingFrame);
}

// ---- A paused seek's landing ----

bool DVStreamParser::landing() const {
    return gDVFmtPlaybackShowSeekLanding.load() != 0;
}

uint64_t DVStreamParser::pendingVideoPos() const {
    return isDV5() ? payloadStart_ : videoHeaderAt_;
}

bool DVStreamParser::landingMeetsPendingVideo() {
    const bool on = landing();
    const uint8_t *record = videoRecord_.get();
    const uint64_t stamp = dvVideoRecordStampUs(videoLayout_, record);
    if (landing_.meet(videoChannel(), stamp, pendingVideoPos(), on, on ? landingWanted() : 0)) return on;
    // The landing ends before this frame, which waits for Play as a paused scan's frame does.
    finishLanding();
    return false;
}

void DVStreamParser::handOffPendingVideo(bool landingFrame) {
    const int channel = videoChannel();
    const uint64_t stamp = dvVideoRecordStampUs(videoLayout_, videoRecord_.get());
    const LandingFrame use =
        landingFrame ? landing_.frameUse(channel, pendingVideoPos(), stamp) : LandingFrame::None;
    // Before the channel's key frame of the landing: its fresh decoder could make nothing of it.
    if (use == LandingFrame::PassedOver) return;
    host_.setLandingUse(use);
    const bool shown = handOffVideo();
    host_.setLandingUse(LandingFrame::None);
    if (shown) shownUs_ = stamp;
    if (!landingFrame || !shown) return;
    landing_.pictureShown(channel);
    if (landing() && landing_.allLanded(landingWanted())) finishLanding();
}

void DVStreamParser::finishLanding() {
    gDVFmtPlaybackShowSeekLanding = 0;
    // A wanted channel with nothing at the moment shows nothing, not a picture of another one.
    showNoPictureOf(delegate_, landing_.unlanded(landingWanted()));
    if (stopLanding_) {
        // Stopped: every tile shows its first picture; hold there at the start.
        stopLanding_ = false;
        stoppedAtStart_ = true;
        gDVFmtPlaybackKeepRunning = 0;
        host_.postProgress(0.0f);
    }
    // Paused (or stopped), the scan holds where the landing ended; playing, it goes on at once.
    holdPending_ = true;
}

uint16_t DVStreamParser::landingWanted() const {
    // A DV4 file has channel 1 only, and shows it whatever the view.
    return isDV5() ? landingWantedChannels(delegate_) : 1;
}

void DVStreamParser::reportAfterFrame() {
    if (stoppedAtStart_) {
        // A stop's landing has just ended: the progress stays at the start.
        stoppedAtStart_ = false;
    } else if (keyFrameCount_ == 1 && gDVFmtPlaybackIFrameStop.load()) {
        // Stopped: the first key frame is on screen; hold there.
        gDVFmtPlaybackKeepRunning = 0;
        gDVFmtPlaybackIFrameStop = 0;
        host_.postProgress(0.0f);
    } else {
        postScanProgress();
    }
    if (!delegate_) return;
    const _SYSTEMTIME t = host_.frameTime();
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    delegate_->setSys_Time(t);
    delegate_->updateProcessingInfoWithServerTime(text, lastProgress_);
}

void DVStreamParser::dv4VideoHeader() {
    if (videoStreamLength_ != 0) {
        setVideoLen(clamp32(videoStreamLength_));
        deliverPendingVideo(true);
        setVideoLen(0);
        reportAfterFrame();
    }
    videoHeaderAt_ = window_.absPos();
    if (variant_ == DVVariant::DV4MPEG4) {
        // 00 00 01 B2 0F 01, then the seconds and microseconds the record keeps.
        uint8_t header[14];
        peek(header, sizeof header);
        std::memcpy(videoRecord_.get(), header + 6, 8);
        advance(sizeof header);
    } else {
        peek(videoRecord_.get(), 20);
        advance(20);
    }
    window_.setVideoFrameOffset();
    videoStreamLength_ = 0;
    state_ = ScanState::Video;
}

void DVStreamParser::dv5VideoHeader() {
    if (videoLen() != 0) {
        deliverPendingVideo(true);
        setVideoLen(0);
        payloadEnd_ = 0;
        reportAfterFrame();
    }
    // The new header, with the length of an extension block when one follows.
    const uint32_t h = static_cast<uint32_t>(videoHeaderLen_);
    uint8_t header[41 + 4];
    const uint32_t got = peek(header, h + 4);
    const uint64_t at = window_.absPos();
    const bool extension = (header[10] & 0x20) != 0;
    const uint32_t extLen = extension ? readLE32(header + h) : 0;
    const uint32_t len = readLE32(header + dv5VideoLenOffset(variant_));
    const uint64_t headerBytes = h + (extension ? 4 + static_cast<uint64_t>(extLen) : 0);
    const bool whole = got >= (extension ? h + 4 : h);
    if (!whole || len > kDVVideoPayloadRoom || extLen > kDV5MaxExtensionLength ||
        at + headerBytes + len > window_.fileSize()) {
        // Damaged or cut short: the unit is dropped and the scan goes on after its start code.
        player_log("Video unit at %" PRIu64 " dropped: payload %u bytes, extension %u bytes, file %" PRIu64
                   " bytes\n",
                   at, len, extLen, window_.fileSize());
        state_ = ScanState::None;
        advance(5);
        videoStreamLength_ += 5;
        return;
    }
    std::memcpy(videoRecord_.get(), header, h);
    advance(headerBytes);
    window_.setVideoFrameOffset();
    payloadStart_ = window_.absPos();
    payloadEnd_ = payloadStart_ + len;
    state_ = ScanState::Video;
}

int DVStreamParser::announceAudioFormat(int channel, uint8_t code) {
    int format = enAudioFormat_None;
    const char *name = nullptr;
    switch (code) {
    case 0x06:
        format = enAudioFormat_PCM;
        name = "enAudioFormat_PCM";
        break;
    case 0x09:
        format = enAudioFormat_G723;
        name = "enAudioFormat_G723";
        break;
    case 0x0C:
        format = enAudioFormat_ULAW;
        name = "enAudioFormat_ULAW";
        break;
    case 0x14:
        format = enAudioFormat_PCM16;
        name = "enAudioFormat_PCM16";
        break;
    case 0x18:
        format = enAudioFormat_PCM16_2;
        name = "enAudioFormat_PCM16_2";
        break;
    default:
        break;
    }
    if (name) player_log("currentAudioFormat = %s\n", name);
    host_.setAudioFormat(channel, format);
    return format;
}

void DVStreamParser::dv4AudioHeader() {
    const bool mpeg4 = variant_ == DVVariant::DV4MPEG4;
    setAudioLen(clamp32(audioCount_));
    if (!host_.audioFormatAnnounced(0)) {
        uint8_t b[7];
        peek(b, sizeof b);
        const int format = announceAudioFormat(0, mpeg4 ? b[5] : b[6]);
        if (delegate_) {
            delegate_->setICurrentSelectedAudioCH(1);
            delegate_->setAudioProcessorWithChannel(0, format);
        }
    }
    if (audioCount_ != 0 && gDVFmtPlaybackSpeed.load() == 0 && !gDVFmtPlaybackIsPauseNow.load() && !landing())
        handOffAudio();
    setAudioLen(0);
    if (mpeg4) {
        // 00 00 01 B2, the format pair, then 12 bytes the record keeps.
        uint8_t header[18];
        peek(header, sizeof header);
        std::memcpy(audioRecord_.get(), header + 6, 12);
        advance(sizeof header);
    } else {
        peek(audioRecord_.get(), 20);
        advance(20);
    }
    window_.setAudioFrameOffset();
    state_ = ScanState::Audio;
    audioCount_ = 0;
}

// The channel of the pending audio unit comes from the previous audio header, the format code
// of its announcement from the header being reached: that is how these files are read.
void DVStreamParser::dv5AudioHeader() {
    const int channel = audioChannel();
    const int selected = delegate_ ? delegate_->iCurrentSelectedAudioCH() : 0;
    const bool ours = validChannel(channel) && channel + 1 == selected;
    if (ours && !host_.audioFormatAnnounced(channel)) {
        uint8_t b[7];
        peek(b, sizeof b);
        const int format = announceAudioFormat(channel, b[6]);
        if (delegate_) delegate_->setAudioProcessorWithChannel(static_cast<unsigned>(channel), format);
    }
    if (audioLen() != 0) {
        if (ours && gDVFmtPlaybackSpeed.load() == 0 && !gDVFmtPlaybackIsPauseNow.load() && !landing())
            handOffAudio();
        setAudioLen(0);
    }
    const uint32_t a = static_cast<uint32_t>(audioHeaderLen_);
    uint8_t header[43];
    const uint32_t got = peek(header, a);
    const uint64_t at = window_.absPos();
    const uint32_t len = readLE32(header + 8);
    if (got < a || len > kDVAudioPayloadRoom || at + a + len > window_.fileSize()) {
        player_log("Audio unit at %" PRIu64 " dropped: payload %u bytes, file %" PRIu64 " bytes\n", at, len,
                   window_.fileSize());
        state_ = ScanState::None;
        advance(5);
        return;
    }
    std::memcpy(audioRecord_.get(), header, a);
    advance(a);
    window_.setAudioFrameOffset();
    advance(len);
    state_ = ScanState::Audio;
}

// ---- Stop, end of file ----

void DVStreamParser::stop() {
    gDVFmtPlaybackShowSeekLanding = 0;
    forgetMomentOnScreen();
    clearRecords();
    host_.resetStreams();
    gDVFmtPlaybackStopActionLaunched = 0;
    window_.initDataFeedControllerWhilePlaybackStopped();
    restartState();
    stoppedAtStart_ = false;
    if (isDV5()) {
        // Every tile of a grid shows its channel's first picture, not only the first channel's.
        gDVFmtPlaybackIFrameStop = 0;
        landing_.beginUnplanned();
        landingFrom_ = 0;
        stopLanding_ = true;
        gDVFmtPlaybackShowSeekLanding = 1;
    } else {
        stopLanding_ = false;
        gDVFmtPlaybackIFrameStop = 1;
    }
}

bool DVStreamParser::endOfFile() {
    // The last frame may end the landing: whether one holds here is decided by what it was.
    const bool holdingLanding = landing() && (gDVFmtPlaybackIsPauseNow.load() || stopLanding_);
    bool pending = isDV5() ? videoLen() != 0 : videoStreamLength_ != 0;
    // A DV4 frame has no length: the last one runs to the end of the file. When no frame
    // before it ended at a header, it is the file's first frame cut short (or not a frame at
    // all): nothing whole to show.
    if (pending && !isDV5() && state_ != ScanState::Audio && !wholeVideoSeen_) {
        player_log("The first frame is cut by the end of the file: dropped\n");
        pending = false;
    }
    gDVFmtPlaybackSpeed = 0;
    if (pending) {
        player_log("It's the last frame...\n");
        if (!isDV5()) setVideoLen(clamp32(videoStreamLength_));
        if (landing()) landing_.reachEnd(dvVideoRecordStampUs(videoLayout_, videoRecord_.get()));
        const bool landingFrame = landingMeetsPendingVideo();
        if (isDV5()) {
            const int channel = videoChannel();
            if (validChannel(channel) && delegate_ &&
                delegate_->checkNeedDecodeForMultiCHs(static_cast<uint8_t>(channel))) {
                handOffPendingVideo(landingFrame);
                player_log("finish decoding the last frame...\n\n");
            }
        } else {
            handOffPendingVideo(landingFrame);
        }
        player_log("videoStreamLength = %d\n", static_cast<int>(clamp32(videoStreamLength_)));
        player_log("%s.len = %d\n", variant_ == DVVariant::DV4MPEG4 ? "videoStreamMPEG4" : "videoStreamH264",
                   static_cast<int>(videoLen()));
    }
    // A close lets the parser out of the hand-off above: the file is being closed, not ended.
    if (gDVFmtPlaybackParserThreadForceExit.load()) return true;
    if (holdingLanding) {
        // A paused (or stopped) landing that meets the end holds there: the end is reported
        // when playing reaches it.
        setVideoLen(0);
        videoStreamLength_ = 0;
        finishLanding();
        return false;
    }
    // Frames stop flowing before the application hears of the end, so that whatever it does
    // then (play again, seek, close) is not undone here.
    gDVFmtPlaybackKeepRunning = 0;
    gDVFmtPlaybackShowSeekLanding = 0;
    gDVFmtPlaybackSpeed = 0;
    forgetMomentOnScreen();
    if (delegate_) delegate_->setDVFmtProcessingInfoAtEndOfProcessing();
    host_.postProgress(100.0f);
    clearRecords();
    host_.resetStreams();
    window_.initDataFeedControllerWhilePlaybackStopped();
    restartState();
    lastProgress_ = 100.0f;
    return true;
}

// ---- Seek ----

void DVStreamParser::restartAt(uint64_t offset) {
    clearRecords();
    host_.resetStreams();
    window_.initDataFeedControllerWhileSliderChanged(offset);
    restartState();
}

void DVStreamParser::seek() {
    gDVFmtPlaybackKeepRunning = 0;
    const uint32_t request = dvFmtTakeSeekRequest();
    const int32_t percent = std::clamp<int32_t>(gDVFmtPlaybackSliderPercentage.load(), 0, 100);
    const uint64_t size = window_.fileSize();
    uint64_t target = static_cast<uint64_t>(static_cast<double>(size) * 0.01 * percent);
    target = std::min(target, size);
    if (target == 0) {
        clearRecords();
        host_.resetStreams();
        window_.initDataFeedControllerWhilePlaybackStopped();
        host_.pause(std::chrono::microseconds(500000));
        restartState();
        landing_.beginUnplanned();
    } else if (variant_ == DVVariant::DV4H264) {
        seekDV4H264(target);
        landing_.beginUnplanned(target);
    } else if (variant_ == DVVariant::DV4MPEG4) {
        seekDV4MPEG4(target);
        landing_.beginUnplanned(target);
    } else {
        landDV5(target, 0);
    }
    host_.postProgress(static_cast<float>(percent));
    beginLanding(target, !gDVFmtPlaybackIsPauseNow.load());
    dvFmtAcknowledgeSeek(request);
}

void DVStreamParser::beginLanding(uint64_t place, bool flowing) {
    // Every channel shows its picture of the moment at once; paused, the scan then holds, and
    // playing, it plays on from there.
    landingFrom_ = place;
    holdPending_ = false;
    stopLanding_ = false;
    stoppedAtStart_ = false;
    gDVFmtPlaybackShowSeekLanding = 1;
    if (flowing) gDVFmtPlaybackKeepRunning = 1;
}

void DVStreamParser::forgetMomentOnScreen() {
    // What was on screen is of the past: a view change asked for meanwhile has nothing to land at.
    shownUs_ = 0;
    gDVFmtPlaybackLandOnScreen = 0;
}

void DVStreamParser::landOnScreen() {
    gDVFmtPlaybackLandOnScreen = 0;
    passedOverAtSpeed_ = false;
    // A DV4 file has one channel, whose pictures follow on from its tile whatever came before.
    if (!isDV5() || shownUs_ == 0) return;
    const bool flowing = gDVFmtPlaybackKeepRunning.load() != 0;
    gDVFmtPlaybackKeepRunning = 0;
    const uint64_t place = window_.absPos();
    landDV5(place, shownUs_);
    beginLanding(place, flowing);
}

template <typename Find> void DVStreamParser::scanBack(uint64_t target, Find find) {
    uint64_t end = target;
    for (;;) {
        window_.fillDataForSeekingWhileSliderChanged(end);
        const uint64_t from = window_.bufOffset();
        const uint64_t base = window_.absPos() - from;
        // `find` says from which buffer offset on it needs the bytes below this window again (a
        // unit whose header lies there).
        uint64_t keep = std::min<uint64_t>(from, kSeekOverlap);
        if (find(from, base, &keep) || base == 0 || target - base >= kSeekLandingMaxBackBytes) return;
        // A close or stop does not wait for the rest of a long search: the seek restarts with
        // what it has and the loop serves the request before anything is handed off.
        if (gDVFmtPlaybackParserThreadForceExit.load() || gDVFmtPlaybackStopActionLaunched.load()) return;
        end = std::min(base + keep, end - 1);
    }
}

// Backward scan in the current buffer, from buffer offset `from`, for an SPS type byte (0x27 or
// 0x67) preceded by 00 00 00 01. The scan never reads before the buffer; it gives up at offset
// 4. *at receives the offset found, or the offset where the scan gave up.
bool DVStreamParser::seekFindH264KeyFrame(uint64_t from, uint64_t *at) {
    const uint8_t *buf = window_.buffer(static_cast<int>(window_.curBuf()));
    for (uint64_t o = from;; --o) {
        if (o < 4 || !buf) {
            *at = o;
            return false;
        }
        if ((buf[o] | 0x40) == 0x67 && buf[o - 4] == 0 && buf[o - 3] == 0 && buf[o - 2] == 0 &&
            buf[o - 1] == 1) {
            *at = o;
            return true;
        }
        if (o == 4) {
            *at = o;
            return false;
        }
    }
}

void DVStreamParser::seekDV4H264(uint64_t target) {
    uint64_t unit = target;
    scanBack(target, [&](uint64_t from, uint64_t base, uint64_t *) {
        uint64_t at = 0;
        if (!seekFindH264KeyFrame(from, &at)) return false;
        // The unit starts 24 bytes before the SPS type byte (20-byte header, 4-byte start code);
        // never before the file.
        const uint64_t sps = base + at;
        unit = sps >= 24 ? sps - 24 : 0;
        return true;
    });
    // No key frame in reach: the scan starts at the place, never with a frame read before it.
    restartAt(unit);
}

void DVStreamParser::seekDV4MPEG4(uint64_t target) {
    uint64_t unit = target;
    scanBack(target, [&](uint64_t from, uint64_t base, uint64_t *) {
        const uint8_t *buf = window_.buffer(static_cast<int>(window_.curBuf()));
        if (!buf) return true;
        // An I-VOP: a byte of at most 0x3F after 00 00 01 B6.
        bool found = false;
        uint64_t o = from;
        for (;; --o) {
            if (o < 4) break;
            if (buf[o] <= 0x3F && buf[o - 4] == 0 && buf[o - 3] == 0 && buf[o - 2] == 1 &&
                buf[o - 1] == 0xB6) {
                found = true;
                break;
            }
            if (o == 4) break;
        }
        if (!found) return false;
        o -= 4; // to the start code
        if (o > 0) --o;
        // Back to the video header before it: B2 preceded by 00 00 01.
        uint64_t q = o;
        while (q >= 3) {
            if (buf[q] == 0xB2 && buf[q - 3] == 0 && buf[q - 2] == 0 && buf[q - 1] == 1) break;
            if (q == 3) break;
            --q;
        }
        unit = base + (q >= 3 ? q - 3 : 0);
        return true;
    });
    restartAt(unit);
}

// The DV5 video header whose payload holds the byte at buffer offset `payloadAt`: the nearest
// 00 00 00 01 1F before it, whose header, extension block and payload length place the byte
// inside the payload. The nearest header found is remembered in `cache`, so that the searches
// of one backward scan together read each byte at most once.
bool DVStreamParser::findDV5UnitHolding(uint64_t payloadAt, HeaderCache &cache, uint64_t *headerAt,
                                        uint64_t *payloadStart) const {
    const uint64_t h = static_cast<uint64_t>(videoHeaderLen_);
    const uint8_t *buf = window_.buffer(static_cast<int>(window_.curBuf()));
    if (payloadAt < h || !buf) return false;
    const uint64_t last = payloadAt - h; // the last offset a header can start at
    uint64_t o = 0;
    bool found = false;
    if (cache.valid && last <= cache.searchedFrom && (!cache.found || cache.header <= last)) {
        found = cache.found;
        o = cache.header;
    } else {
        for (uint64_t i = last + 1; i-- > 0;) {
            if (buf[i] == 0 && buf[i + 1] == 0 && buf[i + 2] == 0 && buf[i + 3] == 1 && buf[i + 4] == 0x1F) {
                found = true;
                o = i;
                break;
            }
        }
        cache.valid = true;
        cache.searchedFrom = last;
        cache.found = found;
        cache.header = o;
    }
    if (!found) return false;
    uint64_t start = o + h;
    if (buf[o + 10] & 0x20) {
        if (start + 4 > payloadAt) return false;
        const uint32_t extLen = readLE32(buf + start);
        if (extLen > kDV5MaxExtensionLength) return false;
        start += 4 + extLen;
    }
    const uint32_t len = readLE32(buf + o + dv5VideoLenOffset(variant_));
    if (len > kDVVideoPayloadRoom || start > payloadAt || payloadAt >= start + len) return false;
    *headerAt = o;
    *payloadStart = start;
    return true;
}

bool DVStreamParser::dv5VideoUnitAt(const uint8_t *buf, uint64_t len, uint64_t o, uint64_t *payload,
                                    uint32_t *payloadLen) const {
    const uint64_t h = static_cast<uint64_t>(videoHeaderLen_);
    if (o + h + 4 > len || buf[o] != 0 || buf[o + 1] != 0 || buf[o + 2] != 0 || buf[o + 3] != 1 ||
        buf[o + 4] != 0x1F)
        return false;
    uint64_t start = o + h;
    if (buf[o + 10] & 0x20) {
        const uint32_t extLen = readLE32(buf + start);
        if (extLen > kDV5MaxExtensionLength) return false;
        start += 4 + extLen;
    }
    const uint32_t n = readLE32(buf + o + dv5VideoLenOffset(variant_));
    // An elementary stream starts with a start code: a stray 00 00 00 01 1F has none behind it.
    if (n < 4 || n > kDVVideoPayloadRoom || start + 4 > len || buf[start] != 0 || buf[start + 1] != 0 ||
        (buf[start + 2] != 1 && (buf[start + 2] != 0 || buf[start + 3] != 1)))
        return false;
    *payload = start;
    *payloadLen = n;
    return true;
}

template <typename Visit> bool DVStreamParser::walkDV5Units(uint64_t from, uint64_t maxBytes, Visit visit) {
    const uint64_t size = window_.fileSize();
    const uint64_t h = static_cast<uint64_t>(videoHeaderLen_);
    const uint8_t *buf = nullptr;
    uint64_t base = 0;
    uint64_t len = 0;
    // The window that starts at `pos`.
    const auto load = [&](uint64_t pos) {
        window_.fillDataForSeekingWhileSliderChanged(pos + kBuf - 1);
        buf = window_.buffer(static_cast<int>(window_.curBuf()));
        base = window_.absPos() - window_.bufOffset();
        len = std::min<uint64_t>(kBuf, size - std::min(size, base));
    };
    load(from);
    for (uint64_t o = 0;;) {
        const uint64_t at = base + o;
        if (at >= size) return true;
        if (!buf || at - from > maxBytes) return false;
        // A header, its extension length and its payload's first bytes in one window.
        if (o != 0 && o + h + 8 + kKeyFrameLeadBytes > len && base + len < size) {
            load(at);
            o = 0;
            continue;
        }
        uint64_t payload = 0;
        uint32_t n = 0;
        if (!dv5VideoUnitAt(buf, len, o, &payload, &n)) {
            ++o;
            continue;
        }
        if (o != 0 && payload + kKeyFrameLeadBytes > len && base + len < size) {
            load(at); // a long extension block
            o = 0;
            continue;
        }
        bool key = false;
        const uint64_t lead = std::min<uint64_t>({payload + n, payload + kKeyFrameLeadBytes, len - 1});
        for (uint64_t i = payload + 4; i <= lead && !key; ++i)
            key = (buf[i] | 0x40) == 0x67 && buf[i - 1] == 1 && buf[i - 2] == 0 && buf[i - 3] == 0;
        if (!visit(base + o, base + payload, buf + o, key)) return false;
        o = payload + n;
        if (o >= len) {
            if (base + o >= size) return true;
            load(base + o);
            o = 0;
        }
    }
}

void DVStreamParser::landDV5(uint64_t place, uint64_t momentUs) {
    MomentSurvey survey(landingWanted(), momentUs);
    const uint64_t from = place - std::min(place, kLookBehindBytes);
    const bool ended =
        walkDV5Units(from, place - from + kSeekLandingMaxBytes,
                     [&](uint64_t header, uint64_t payload, const uint8_t *h, bool key) {
                         if (header >= place) survey.markPlace();
                         survey.look({dvVideoRecordChannel(videoSelector_, h),
                                      dvVideoRecordStampUs(videoLayout_, h), payload, header, key});
                         return !survey.lookDone();
                     });
    survey.finishLook(ended);
    if (survey.keysWanted()) keysBeforeDV5(place, survey);
    const LandingPlan plan = survey.plan();
    // No channel to land: the scan goes on from the place itself, never from before it.
    restartAt(plan.present ? plan.restart : place);
    landing_.begin(place, plan);
}

// The key frames before `target`, backwards, for the channels the survey has none for; each
// SPS found is offered with the unit that holds it.
void DVStreamParser::keysBeforeDV5(uint64_t target, MomentSurvey &survey) {
    scanBack(target, [&](uint64_t from, uint64_t base, uint64_t *keep) {
        const uint8_t *buf = window_.buffer(static_cast<int>(window_.curBuf()));
        if (!buf) return true;
        HeaderCache cache;
        uint64_t next = from;
        for (;;) {
            uint64_t at = 0;
            if (!seekFindH264KeyFrame(next, &at)) return false;
            uint64_t header = 0;
            uint64_t payload = 0;
            if (!findDV5UnitHolding(at - 4, cache, &header, &payload)) {
                // Not the start of a video payload (a stray start code, or a unit whose header
                // lies below this window): look further back.
                *keep = at + 1;
                next = at - 1;
                continue;
            }
            const int channel = dvVideoRecordChannel(videoSelector_, buf + header);
            if (!survey.keyBefore(channel, base + payload, base + header) || header < 5) return true;
            next = header - 1;
        }
    });
}
