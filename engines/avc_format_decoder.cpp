#include "engines/avc_format_decoder.h"

#include <algorithm>
#include <climits>

#include "platform/log.h"

namespace {

// Channel byte 1..16 names channels 0..15; 0 is taken as the first channel. -1 for any other.
int channelOf(const HEADER_AVC *header) {
    const int byte = header->frameHeader.byChannel;
    if (byte > kEngineChannelCount) return -1;
    return byte == 0 ? 0 : byte - 1;
}

uint64_t absDiff(uint64_t a, uint64_t b) {
    return a > b ? a - b : b - a;
}

} // namespace

int avcPacingShiftAtStatus(int status) {
    switch (status) {
    case kAVCFmtPlaybackFastForward2x:
    case kAVCFmtPlaybackRewind2x:
        return 1;
    case kAVCFmtPlaybackFastForward4x:
    case kAVCFmtPlaybackRewind4x:
        return 2;
    case kAVCFmtPlaybackFastForward8x:
    case kAVCFmtPlaybackRewind8x:
        return 3;
    case kAVCFmtPlaybackFastForward16x:
    case kAVCFmtPlaybackRewind16x:
        return 4;
    default:
        return 0;
    }
}

AVCFormatDecoder::~AVCFormatDecoder() {
    deinitVideoDecoderWithExceptCH(0);
}

void AVCFormatDecoder::zeroTimeSlots(int channel) {
    prevFrameTimeSubCH_[channel] = 0;
    currFrameTimeSubCH_[channel] = 0;
    prevFrameAbsoluteTimeSubCH_[channel] = 0;
    currFrameAbsoluteTimeSubCH_[channel] = 0;
    prevAudioDataTimeSubCH_[channel] = 0;
    currAudioDataTimeSubCH_[channel] = 0;
    prevAudioDataAbsoluteTimeSubCH_[channel] = 0;
    currAudioDataAbsoluteTimeSubCH_[channel] = 0;
}

bool AVCFormatDecoder::initVideoDecoderWithThreadIndex(int channel, int videoCodec) {
    if (channel < 0 || channel >= kEngineChannelCount) return false;
    zeroTimeSlots(channel);
    engineCloseVideoDecoder(pFFMpegDecoderHandle_[channel]);
    lastPicture_[channel] = EnginePictureSize{};
    pFFMpegDecoderHandle_[channel] = engineOpenVideoDecoder(channel, videoCodec);
    return pFFMpegDecoderHandle_[channel] != nullptr;
}

void AVCFormatDecoder::deinitVideoDecoderWithExceptCH(unsigned channel1Based) {
    for (int ch = 0; ch < kEngineChannelCount; ++ch) {
        if (channel1Based != 0 && static_cast<unsigned>(ch) == channel1Based - 1) continue;
        zeroTimeSlots(ch);
        engineCloseVideoDecoder(pFFMpegDecoderHandle_[ch]);
        lastPicture_[ch] = EnginePictureSize{};
    }
}

bool AVCFormatDecoder::hasVideoDecoder(int channel) const {
    return channel >= 0 && channel < kEngineChannelCount && pFFMpegDecoderHandle_[channel] != nullptr;
}

void AVCFormatDecoder::resetTime() {
    for (int ch = 0; ch < kEngineChannelCount; ++ch)
        zeroTimeSlots(ch);
}

unsigned AVCFormatDecoder::freshPacing() {
    const unsigned epoch = pacingEpoch_.load();
    if (epoch != pacingEpochSeen_) {
        resetTime();
        pacingEpochSeen_ = epoch;
    }
    return epoch;
}

void AVCFormatDecoder::allocRawImageBuffer() {
    pRawImageBuffer_ = picturePool_.takeStorage(kEngineRawImageBufferSize);
}

void AVCFormatDecoder::deallocRawImageBuffer() {
    if (pRawImageBuffer_.empty()) return;
    pRawImageBuffer_ = std::vector<uint8_t>();
    player_log("release pRawImageBuffer...\n");
}

void AVCFormatDecoder::setServerSystemTime(const HEADER_AVC *header) {
    const _SYSTEMTIME &shown = header->frameHeader.stDisplayTime;
    sysTime_ = _SYSTEMTIME{};
    sysTime_.wYear = shown.wYear;
    sysTime_.wMonth = shown.wMonth;
    sysTime_.wDay = shown.wDay;
    sysTime_.wHour = shown.wHour;
    sysTime_.wMinute = shown.wMinute;
    sysTime_.wSecond = shown.wSecond;
}

bool AVCFormatDecoder::avcVideoDecodeSelector(const AVCVideoHandOff &frame) {
    EngineDelegate *delegate = appDelg_;
    if (!delegate || !frame.header || !frame.bitstream) return false;
    const HEADER_FRAME &fh = frame.header->frameHeader;
    const int ch = channelOf(frame.header);
    if (ch < 0) return false;
    const bool isI = fh.byIsKeyFrame != 0;
    const uint32_t length = fh.dwLength;
    const uint8_t *payload = reinterpret_cast<const uint8_t *>(frame.bitstream);

    int flags = delegate->videoFlipImageFlag() ? DECODER_FLAG_ROTATE180 : DECODER_FLAG_TOPDOWN;
    if (fh.byFieldCoded == 1) {
        delegate->setDeinterlaceEnableBtnEnabled(true);
        flags |= DECODER_FLAG_FIELDS;
    } else {
        delegate->setDeinterlaceEnableBtnEnabled(false);
    }
    if (delegate->videoDeinterlaceFlag()) flags |= DECODER_FLAG_DEINTERLACE;

    _Decoder *decoder = pFFMpegDecoderHandle_[ch];
    if (!decoder) {
        player_log("No decoder for channel %d: frame dropped\n", ch);
        return false;
    }
    const EngineDecodedFrame decoded = engineDecodeVideoFrame(
        decoder, payload, length, isI, flags,
        [delegate](int &w, int &h) {
            w = static_cast<int>(delegate->decoderTargetWidth());
            h = static_cast<int>(delegate->decoderTargetHeight());
        },
        picturePool_, pRawImageBuffer_, lastPicture_[ch], frame.use != LandingFrame::DecodedOnly);
    if (decoded.result < 1) {
        if (decoded.firstFailure) {
            player_log("isIFrame = %d\n", isI ? 1 : 0);
            player_log("iRet2 = %d\n", decoded.result);
        }
        return false;
    }
    const unsigned epoch = freshPacing();
    if (frame.use == LandingFrame::DecodedOnly) {
        // The channel has landed: this frame only keeps its pictures whole for Play.
        prevFrameTimeSubCH_[ch] = fh.dwTimeStamp;
        prevFrameAbsoluteTimeSubCH_[ch] = engineMonotonicNanoseconds();
        return false;
    }
    VideoImageRef image = engineDeliverablePicture(*delegate, picturePool_, decoded, pRawImageBuffer_,
                                                   pImageWidthFromStream_, pImageHeightFromStream_);
    if (!image) return false;

    // Pacing: the time-stamp step to this frame (either way: rewinding goes back in time) at the
    // speed, less the time spent since the channel's previous frame was shown.
    const uint64_t now = engineMonotonicNanoseconds();
    currFrameAbsoluteTimeSubCH_[ch] = now;
    currFrameTimeSubCH_[ch] = fh.dwTimeStamp;
    if (prevFrameAbsoluteTimeSubCH_[ch] == 0) prevFrameAbsoluteTimeSubCH_[ch] = now;
    if (prevFrameTimeSubCH_[ch] == 0) prevFrameTimeSubCH_[ch] = fh.dwTimeStamp;

    setServerSystemTime(frame.header);

    // The time spent is counted in microseconds: cut to whole milliseconds, every frame would
    // sleep up to 1 ms too long, and 1x would fall behind the recording by about 1 % at 25 fps.
    const uint64_t elapsedUs = absDiff(now, prevFrameAbsoluteTimeSubCH_[ch]) / 1000u;
    const uint64_t dtMs = absDiff(currFrameTimeSubCH_[ch], prevFrameTimeSubCH_[ch]);
    const uint64_t interval = dtMs * 1000u;
    // A landing's picture is shown at once.
    const uint64_t wait =
        frame.use == LandingFrame::Shown
            ? 0
            : enginePacingDelayUs(interval, elapsedUs,
                                  avcPacingShiftAtStatus(delegate->enAVCFmtPlaybackStatus()));

    delegate->videoUpdateTaskWithChannel(static_cast<unsigned>(ch), image, payload, length, isI,
                                         static_cast<unsigned>(std::min<uint64_t>(interval, UINT_MAX)),
                                         sysTime_);
    shownUs_ = fh.dwTimeStamp * uint64_t{1000};
    shownNumber_ = fh.dwFrameNo;

    enginePacingSleep(wait,
                      [this, epoch] { return pacingInterrupted_.load() || pacingEpoch_.load() != epoch; });

    prevFrameTimeSubCH_[ch] = currFrameTimeSubCH_[ch];
    prevFrameAbsoluteTimeSubCH_[ch] = engineMonotonicNanoseconds();
    return true;
}

void AVCFormatDecoder::avcAudioDecodeSelector(const AVCAudioHandOff &frame) {
    EngineDelegate *delegate = appDelg_;
    if (!delegate || !frame.header || !frame.bitstream) return;
    const HEADER_FRAME &fh = frame.header->frameHeader;
    const int ch = channelOf(frame.header);
    if (ch < 0) return;
    const unsigned epoch = freshPacing();

    const uint64_t now = engineMonotonicNanoseconds();
    currAudioDataAbsoluteTimeSubCH_[ch] = now;
    currAudioDataTimeSubCH_[ch] = fh.dwTimeStamp;
    if (prevAudioDataAbsoluteTimeSubCH_[ch] == 0) prevAudioDataAbsoluteTimeSubCH_[ch] = now;
    if (prevAudioDataTimeSubCH_[ch] == 0) prevAudioDataTimeSubCH_[ch] = fh.dwTimeStamp;

    // Milliseconds since the previous packet's sleep ended, rounded to the nearest.
    const uint64_t elapsedMs = (now + 500000u - prevAudioDataAbsoluteTimeSubCH_[ch]) / 1000000u;
    const uint64_t curr = currAudioDataTimeSubCH_[ch], prev = prevAudioDataTimeSubCH_[ch];
    uint64_t wait = 0;
    if (curr > prev && curr - prev > elapsedMs) wait = (curr - prev - elapsedMs) * 1000u;
    if (wait > kEngineMaxPacingDelayUs) wait = 0;

    delegate->audioUpdateTaskWithBuffer(reinterpret_cast<const uint8_t *>(frame.bitstream), fh.dwLength,
                                        frame.audioFormat, static_cast<unsigned>(ch));

    enginePacingSleep(wait,
                      [this, epoch] { return pacingInterrupted_.load() || pacingEpoch_.load() != epoch; });

    prevAudioDataTimeSubCH_[ch] = currAudioDataTimeSubCH_[ch];
    prevAudioDataAbsoluteTimeSubCH_[ch] = engineMonotonicNanoseconds();
}
