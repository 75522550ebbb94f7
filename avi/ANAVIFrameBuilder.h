#pragma once
// Writes one conversion into an AVI file: the recorder's compressed video frames unchanged as
// "00dc" chunks, the decoded audio as PCM "01wb" chunks, an "idx1" index, and a subtitle file
// (path + ".srt") with one entry per change of the recorder second.
//
// While recording, the chunks go to path + ".TOKEN.tmp" behind 2048 reserved bytes, the index
// rows to path + ".TOKEN.index" and the subtitles to path + ".TOKEN.srt.tmp", TOKEN being
// random to the run and the files created exclusively; the header is written when the
// recording stops, and the finished files appear at their names only through the final
// renames, so a failed or killed conversion never leaves a file there. The builder deletes
// only files it created in this run, and only while the name still holds the very file it
// created (found through the folder it created them in, wherever that folder has gone):
// temporaries a killed run left behind stay under their own names and do not keep a later
// conversion from the same name.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recorderfile/recorder_time.h"

// Video stream codes by format index: 0 H.264, 1 MPEG-4 Part 2, 2 Motion JPEG.
extern const char VDO_FMT[3][8];

enum class AviResult {
    Ok,
    SizeLimitReached, // the file was finished at the 32-bit size limit; what came later is not in it
    TargetExists,     // something is at the AVI path, its ".srt", or one of ".tmp", ".index" and
                      // ".srt.tmp" beside it (or a live conversion of this process uses the
                      // name); nothing was touched
    IoError,          // a file operation failed; nothing is left at the AVI path or beside it
    NameTaken,        // another file appeared at the AVI path or its ".srt" while recording: it
                      // is left as it is, and this run's files are removed
    FolderGone,       // the folder was moved away or removed while recording: this run's files
                      // are removed from it, wherever it went
    NoVideo,          // stopped before any video frame was stored: nothing is left either
    NotRecording,     // stop without a running recording: nothing done
    AlreadyRecording, // start while recording: nothing done
};

const char *aviResultText(AviResult r);

class ANAVIFrameBuilder {
  public:
    // Largest RIFF size written by default: the whole file stays below 4 GiB, which also suits
    // file systems limited to 4 GiB - 1 per file.
    static constexpr uint32_t kDefaultMaxRiffSize = 0xFFFFFFFFu - 8u;

    ANAVIFrameBuilder();
    // A recording that was never stopped is abandoned and its files are removed.
    ~ANAVIFrameBuilder();
    ANAVIFrameBuilder(const ANAVIFrameBuilder &) = delete;
    ANAVIFrameBuilder &operator=(const ANAVIFrameBuilder &) = delete;

    // Frame rate chosen in the settings; shown by the application, not written into the file.
    void setFps(double fps);
    double fps() const;

    // 0 H.264, 1 MPEG-4 Part 2, 2 Motion JPEG; may change while recording, the value held at
    // stop goes into the header. Other values are refused (false) and change nothing.
    bool setVdoFmtIdx(int idx);
    int vdoFmtIdx() const;

    // Largest RIFF size the file may reach (at most the format's 32 bits); takes effect for the
    // chunks appended after the call.
    void setMaxRiffSize(uint32_t bytes);

    AviResult startRecordingToFile(const std::string &aviPath);

    // Appends one compressed frame. Returns 0 when no subtitle entry was added (or nothing was
    // stored), 1 after an odd-numbered entry, 2 after an even-numbered one.
    int videoDataWrappingForAVIConversion(const char *frame, int length, int imageWidth, int imageHeight,
                                          bool isIFrame, uint32_t interval, _SYSTEMTIME sysTime,
                                          uint32_t currChannel);

    // Appends one PCM packet (enAudioFormat of its source); dropped until the first video chunk.
    void audioDataWrappingForAVIConversion(const char *pcm, int length, unsigned short numberOfChannels,
                                           int audioFormat);

    // Finishes the file. Ok or SizeLimitReached: the AVI file and its ".srt" are complete;
    // NoVideo: no video frame was stored and no file is left.
    AviResult stopRecording(bool withAudio);

    // Any thread, while recording: the errno of the first failed file operation (0 while all is
    // well), and whether the size limit has ended what the file takes.
    int lastErrno() const;
    bool sizeLimitReached() const;

    // After a stop that left no file: the name that another file took (NameTaken), and the
    // files of this run that were removed, by the paths they had when they were created (the
    // AVI path itself when the finished file was already in place).
    std::string takenPath() const;
    std::vector<std::string> removedFiles() const;

    // Looks for the first separator 00 00 00 01 01 lying wholly inside the frame; when found its
    // position is stored in *part1DataLen, else *part1DataLen is left as it was.
    static void handleSpecialCaseSeperatorWithBuf(const uint8_t *frame, uint32_t *part1DataLen,
                                                  uint32_t dataLen);

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
    std::atomic<double> fps_{0.0};
    std::atomic<int> vdoFmtIdx_{0};
};
