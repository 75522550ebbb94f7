// Decoding, delivery and pacing of the frames that the DV parsers hand off.
#include <algorithm>
#include <chrono>

#include "engines/dv_format_playback.h"
#include "platform/log.h"

namespace {

// A frame's pacing ends early when the file is closed, when a jump is asked for (a seek, a stop, a
// landing at the moment on screen), which does not wait for it, and when the speed it was paced
// at changes.
bool pacingInterrupted(int speed) {
    return gDVFmtPlaybackParserThreadForceExit.load() != 0 || gDVFmtPlaybackSliderValueChanged.load() != 0 ||
           gDVFmtPlaybackStopActionLaunched.load() != 0 || gDVFmtPlaybackLandOnScreen.load() != 0 ||
           gDVFmtPlaybackSpeed.load() != speed;
}

void logDecodeFailure(DVVideoSelector selector, int result, const uint8_t *payload, uint32_t length) {
    const uint32_t shown = std::min<uint32_t>(length, 6);
    switch (selector) {
    case DVVideoSelector::DV5NVR:
        player_log("-->iRet2 = %d\n", result);
        for (uint32_t i = 0; i < shown; ++i)
            player_log("### pDV5VideoStreamH264->streamBuf[%u] = 0x%x\n", i, payload[i]);
        break;
    case DVVideoSelector::DV5DVR:
        for (uint32_t i = 0; i < shown; ++i)
            player_log("pDV5VideoStreamH264->streamBuf[%u]: 0x%x\n", i, payload[i]);
        player_log("iRet2 = %d\n", result);
        break;
    default:
        player_log("iRet2 = %d\n", result);
        break;
    }
}

} // namespace

void DVFormatPlayback::dv4VideoPlaybackForH264Selector(const void *record) {
    runVideoSelector(DVVideoSelector::DV4H264, record);
}
void DVFormatPlayback::dv4VideoPlaybackForMPEG4Selector(const void *record) {
    runVideoSelector(DVVideoSelector::DV4MPEG4, record);
}
void DVFormatPlayback::dv5VideoPlaybackForH264Selector(const void *record) {
    runVideoSelector(DVVideoSelector::DV5NVR, record);
}
void DVFormatPlayback::dv5DVRVideoPlaybackForH264Selector(const void *record) {
    runVideoSelector(DVVideoSelector::DV5DVR, record);
}
void DVFormatPlayback::dv4AudioPlaybackForH264Selector(const void *record) {
    runAudioSelector(DVAudioSelector::DV4H264, record);
}
void DVFormatPlayback::dv4AudioPlaybackForMPEG4Selector(const void *record) {
    runAudioSelector(DVAudioSelector::DV4MPEG4, record);
}
void DVFormatPlayback::dv5AudioPlaybackForH264Selector(const void *record) {
    runAudioSelector(DVAudioSelector::DV5NVR, record);
}
void DVFormatPlayback::dv5DVRAudioPlaybackForH264Selector(const void *record) {
    runAudioSelector(DVAudioSelector::DV5DVR, record);
}

void DVFormatPlayback::runVideoSelector(DVVideoSelector selector, const void *record) {
    EngineDelegate *delegate = appDelg_;
    if (!record || !delegate) return;
    // A frame handed off before a seek the parser has yet to serve is of the old place: shown
    // now, it would stand on screen for the new one (while paused, until the next seek).
    if (gDVFmtPlaybackSliderValueChanged.load()) return;
    const DVVideoRecordLayout &layout = dvVideoRecordLayout(selector);
    const uint8_t *bytes = static_cast<const uint8_t *>(record);
    const int ch = dvVideoRecordChannel(selector, record);
    if (ch < 0 || ch >= kEngineChannelCount) {
        player_log("Video frame of channel %d dropped: no such channel\n", ch);
        return;
    }
    const uint8_t *payload = bytes + layout.payload;
    const uint32_t length = dvRecordU32(record, layout.length);
    if (length > kDVVideoPayloadRoom) {
        player_log("Video frame of %u bytes dropped\n", length);
        return;
    }

    // Decoder flags: orientation, field coding, deinterlacing.
    int flags = delegate->videoFlipImageFlag() ? DECODER_FLAG_ROTATE180 : DECODER_FLAG_TOPDOWN;
    if (layout.fieldFlag >= 0) {
        if (bytes[layout.fieldFlag] == 1) {
            delegate->setDeinterlaceEnableBtnEnabled(true);
            flags |= DECODER_FLAG_FIELDS;
        } else {
            delegate->setDeinterlaceEnableBtnEnabled(false);
        }
    }
    if (delegate->videoDeinterlaceFlag()) flags |= DECODER_FLAG_DEINTERLACE;

    _Decoder *decoder = pFFMpegDecoderHandle[ch];
    if (!decoder) {
        player_log("No decoder for channel %d: frame dropped\n", ch);
        return;
    }
    // A key frame that fails is tried again a few times; any other frame is dropped at once.
    std::function<void(int &, int &)> targetSize;
    if (layout.targetSize) {
        targetSize = [delegate](int &w, int &h) {
            w = static_cast<int>(delegate->decoderTargetWidth());
            h = static_cast<int>(delegate->decoderTargetHeight());
        };
    }
    const LandingFrame use = landingUse_;
    const EngineDecodedFrame decoded =
        engineDecodeVideoFrame(decoder, payload, length, isIFrame != 0, flags, targetSize, picturePool_,
                               pRawImageBuffer, lastPicture_[ch], use != LandingFrame::DecodedOnly);
    if (decoded.result <= 0) {
        if (decoded.firstFailure) logDecodeFailure(selector, decoded.result, payload, length);
        return;
    }
    const uint64_t stamp = dvVideoRecordStampUs(layout, record);
    if (use == LandingFrame::DecodedOnly) {
        // The channel has landed: this frame only keeps its pictures whole for Play.
        prevFrameTimeSubCH[ch] = stamp;
        prevFrameAbsoluteTimeSubCH[ch] = engineMonotonicNanoseconds();
        return;
    }
    VideoImageRef image = engineDeliverablePicture(*delegate, picturePool_, decoded, pRawImageBuffer,
                                                   pImageWidthFromStream_, pImageHeightFromStream_);
    if (!image) return;

    // Pacing: the time-stamp step to this frame at the speed, less the time spent since the
    // channel's previous one was shown.
    const uint64_t now = engineMonotonicNanoseconds();
    currFrameAbsoluteTimeSubCH[ch] = now;
    currFrameTimeSubCH[ch] = stamp;
    if (prevFrameAbsoluteTimeSubCH[ch] == 0) prevFrameAbsoluteTimeSubCH[ch] = now;
    if (prevFrameTimeSubCH[ch] == 0) prevFrameTimeSubCH[ch] = stamp;

    ntpTime.dwTime[0] = 0;
    ntpTime.dwTime[1] = dvRecordU32(record, layout.dateSeconds);
    app_time::TransferNtp2Sys(&ntpTime, &sysTime);

    const uint64_t elapsedUs =
        now > prevFrameAbsoluteTimeSubCH[ch] ? (now - prevFrameAbsoluteTimeSubCH[ch]) / 1000u : 0;
    const uint64_t interval = stamp > prevFrameTimeSubCH[ch] ? stamp - prevFrameTimeSubCH[ch] : 0;
    const int read = gDVFmtPlaybackSpeed.load();
    const int speed = std::clamp<int>(read, 0, kDVFmtPlaybackMaxSpeed);
    // A landing's picture is shown at once; so is the first after key frames only, whose step
    // from the channel's last one spans the frames passed over.
    const bool afterKeysOnly =
        shownAtSpeedSubCH[ch] >= kDVFmtKeyFramesOnlySpeed && speed < kDVFmtKeyFramesOnlySpeed;
    shownAtSpeedSubCH[ch] = speed;
    const uint64_t wait =
        use == LandingFrame::Shown || afterKeysOnly ? 0 : enginePacingDelayUs(interval, elapsedUs, speed);

    delegate->videoUpdateTaskWithChannel(static_cast<unsigned>(ch), image, payload, length, isIFrame != 0,
                                         static_cast<unsigned>(std::min<uint64_t>(interval, UINT32_MAX)),
                                         sysTime);
    pictureShown_ = true;

    const std::function<bool()> interrupted = [read] { return pacingInterrupted(read); };
    if (pacer_)
        pacer_(std::chrono::microseconds(wait), interrupted);
    else
        enginePacingSleep(wait, interrupted);

    prevFrameTimeSubCH[ch] = currFrameTimeSubCH[ch];
    prevFrameAbsoluteTimeSubCH[ch] = engineMonotonicNanoseconds();
}

void DVFormatPlayback::runAudioSelector(DVAudioSelector selector, const void *record) {
    EngineDelegate *delegate = appDelg_;
    if (!record || !delegate) return;
    const DVAudioRecordLayout &layout = dvAudioRecordLayout(selector);
    const int ch = dvAudioRecordChannel(selector, record);
    if (ch < 0 || ch >= kEngineChannelCount) {
        player_log("Audio of channel %d dropped: no such channel\n", ch);
        return;
    }
    const uint32_t length = dvRecordU32(record, layout.length);
    if (length > kDVAudioPayloadRoom) {
        player_log("Audio payload of %u bytes dropped\n", length);
        return;
    }
    delegate->audioUpdateTaskWithBuffer(static_cast<const uint8_t *>(record) + layout.payload, length,
                                        audioCodec[ch], static_cast<unsigned>(ch));
}
