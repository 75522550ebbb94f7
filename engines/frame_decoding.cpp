#include "engines/frame_decoding.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "engines/run_loop_thread.h"
#include "platform/log.h"

uint64_t engineMonotonicNanoseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

_Decoder *engineOpenVideoDecoder(int channel, int codec) {
    _Decoder *decoder = new (std::nothrow) _Decoder();
    if (!decoder) return nullptr;
    const int result = Decoder_Init(decoder, codec, DECODER_FMT_RGBA);
    if (result != 1) {
        player_log("Decoder_Init failed for channel %d, codec %d: %d\n", channel, codec, result);
        delete decoder;
        return nullptr;
    }
    return decoder;
}

void engineCloseVideoDecoder(_Decoder *&decoder) {
    if (!decoder) return;
    Decoder_Deinit(decoder);
    delete decoder;
    decoder = nullptr;
}

size_t engineExpectedPictureBytes(int targetW, int targetH, const EnginePictureSize &last) {
    int w = 0, h = 0;
    if (targetW >= 1 && targetH >= 1) {
        w = targetW;
        h = targetH;
    } else if (targetW == 0 || targetH == 0) {
        w = last.width;
        h = last.height;
    }
    if (w <= 0 || h <= 0) return 0;
    return static_cast<size_t>(w) * static_cast<size_t>(h) * 4u;
}

namespace {

// One attempt at a picture into `work`, sized for the target the application asks for now.
int decodePicture(_Decoder *decoder, const uint8_t *payload, uint32_t length, int flags,
                  const std::function<void(int &w, int &h)> &targetSize, PictureBufferPool &pool,
                  std::vector<uint8_t> &work, EnginePictureSize &last, EngineDecodedFrame &f) {
    int targetW = 0, targetH = 0;
    if (targetSize) targetSize(targetW, targetH);
    // A picture beyond the largest size is refused by the decoder, as it always was.
    size_t bytes = engineExpectedPictureBytes(targetW, targetH, last);
    if (bytes == 0 || bytes > kEngineRawImageBufferSize)
        bytes = kEngineRawImageBufferSize;
    else
        bytes += kDecoderOutputSlack; // so that the scaler writes the picture in place
    if (work.size() != bytes) {
        pool.giveBack(std::move(work));
        work = pool.takeStorage(bytes);
    }
    int result = -1;
    if (work.empty()) {
        player_log("No memory for a picture of %zu bytes\n", bytes);
    } else {
        result = Decoder_Decode(decoder, payload, static_cast<int>(length), targetW, targetH, flags,
                                &f.streamW, &f.streamH, work.data(), work.size(), &f.outW, &f.outH);
    }
    if (result > 0) {
        last.width = f.outW;
        last.height = f.outH;
    } else if (result == -1) {
        // Perhaps a larger picture than the last one: the next attempt or frame gets the full size.
        last.width = 0;
        last.height = 0;
    }
    return result;
}

} // namespace

EngineDecodedFrame engineDecodeVideoFrame(_Decoder *decoder, const uint8_t *payload, uint32_t length,
                                          bool keyFrame, int flags,
                                          const std::function<void(int &w, int &h)> &targetSize,
                                          PictureBufferPool &pool, std::vector<uint8_t> &work,
                                          EnginePictureSize &last, bool picture) {
    EngineDecodedFrame f;
    for (int attempt = 1;; ++attempt) {
        f.result = picture ? decodePicture(decoder, payload, length, flags, targetSize, pool, work, last, f)
                           : Decoder_Decode(decoder, payload, static_cast<int>(length), 0, 0,
                                            flags | DECODER_FLAG_NO_PICTURE, nullptr, nullptr, nullptr, 0,
                                            nullptr, nullptr);
        if (f.result > 0 || !keyFrame || attempt >= kEngineKeyFrameDecodeAttempts) break;
    }
    f.firstFailure = f.result <= 0 && !last.failing;
    last.failing = f.result <= 0;
    return f;
}

void engineLabelDecodedPicture(EngineDelegate &delegate, const EngineDecodedFrame &frame,
                               std::atomic<int> *streamWidth, std::atomic<int> *streamHeight) {
    if (streamWidth) streamWidth->store(frame.streamW);
    if (streamHeight) streamHeight->store(frame.streamH);
    delegate.setImageRealWidth(frame.outW);
    delegate.setImageRealHeight(frame.outH);
}

VideoImageRef engineDeliverablePicture(EngineDelegate &delegate, PictureBufferPool &pool,
                                       const EngineDecodedFrame &frame, std::vector<uint8_t> &work,
                                       std::atomic<int> *streamWidth, std::atomic<int> *streamHeight) {
    engineLabelDecodedPicture(delegate, frame, streamWidth, streamHeight);
    VideoImageRef image = pool.pictureFromWorkBuffer(work, frame.outW, frame.outH, kDecoderOutputSlack);
    if (!image) player_log("Video context nil value...\n\n");
    return image;
}

uint64_t enginePacingDelayUs(uint64_t intervalUs, uint64_t elapsedUs, int speedShift) {
    const uint64_t step = intervalUs >> std::clamp(speedShift, 0, 4);
    const uint64_t wait = step > elapsedUs ? step - elapsedUs : 0;
    return wait > kEngineMaxPacingDelayUs ? 0 : wait;
}

void enginePacingSleep(uint64_t waitUs, const std::function<bool()> &interrupt) {
    if (waitUs == 0) return;
    RunLoopThread::interruptibleSleep(std::chrono::microseconds(waitUs), interrupt);
}
