// A conversion to AVI through the real application (delegate, engines, conversion) on the
// offscreen platform, for a 16-channel D1 DV5 recording and a 4-channel 1080p AVC recording
// (channel 1 of each, chosen on the channel panel where the file has several), written as
// recorders write them (libx264 veryfast, an average bit rate, grain, a key frame a second,
// 25 frames/s, u-law audio on channel 1).
//
// What a conversion does: the engine reads the whole recording (every channel's records,
// interleaved) in blocks of about 2 MB and parses it; the converted channel's frames are
// decoded into RGBA pictures at the recording's size (they show in the window while it
// converts), and each compressed frame goes unchanged into the AVI file as a chunk with an
// index row, plus empty chunks where the frame rate is below the AVI's stated 30/s; the audio
// channel's packets are expanded to 16-bit PCM (also played) and follow as chunks; one
// subtitle entry is written per recorder second; at the end the header and index are written,
// both files flushed to the disk and renamed into place. All of it is paced at 1x.
//
// The anchor does that work and nothing more, in this process, with plain calls: it reads the
// same recording file from start to end in 2 MiB blocks, copies the converted channel's video
// and audio payloads out of them (their places are taken from the generator's list of units,
// so finding them costs the anchor nothing: the engine's parsing is part of the difference),
// decodes every frame with libavcodec as the engine's decoder does (two slice threads, the
// scaler's fast bilinear to RGBA at full size), expands the u-law with a table, and writes the
// same chunks, index rows and subtitle entries the same way (chunks by writev, index rows kept
// in memory and written once, a header block of the same size last, fsync, rename). Only the
// audio may differ by a packet: of the DV5 recording the conversion stores no chunk for the
// last audio packet (40 ms), which the DV parsers never hand off at the end of a file. It is
// not paced: pacing adds waiting, not work.
// What the conversion spends beyond the anchor is the application's own cost around that
// work: parsing, the threads' hand-offs and pacing, showing the pictures, playing the sound,
// the window's updates and logging. FFmpeg's own programs read none of these recording kinds,
// so an FFmpeg command could only start from a stream taken out of the recording beforehand,
// skipping the reading and parsing.
//
// A pair is one conversion and one anchor run, the order swapped from pair to pair so that a
// drifting load falls on both. For each recording it prints, at the minimum, median and
// maximum over the pairs:
//   - wall/x: the conversion's wall time against the recording's length (paced at 1x, so the
//     goal is at most 1.05);
//   - cpu conv/anchor: the processor time of the whole process during the conversion against
//     the anchor's;
// and the AVI sizes of both sides, which should match (the pairs' details go to stderr).
// Usage: conversion_bench [seconds of recording (default 10)] [pairs (default 5, at least 5)]
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/alerts.h"
#include "app/channel_selection_panel.h"
#include "app/conversion/avi_conversion.h"
#include "bench_common/bench_stats.h"
#include "common/mkrec_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(const timeval &tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

double processCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

struct Run {
    bool ok = false;
    double wall = 0, cpu = 0;
    uint64_t aviBytes = 0, srtBytes = 0;
};

// The sizes of the .avi and .srt files in `folder`, which is emptied for the next run.
void takeOutput(const std::string &folder, Run &run) {
    DIR *d = opendir(folder.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent *e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    for (const std::string &name : names) {
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) {
            const auto ends = [&name](const char *suffix) {
                const size_t n = std::strlen(suffix);
                return name.size() >= n && name.compare(name.size() - n, n, suffix) == 0;
            };
            if (ends(".avi")) run.aviBytes += static_cast<uint64_t>(st.st_size);
            if (ends(".srt")) run.srtBytes += static_cast<uint64_t>(st.st_size);
        }
        unlink(path.c_str());
    }
}

// ---- The conversion through the application -------------------------------------------------

// Sheets answered at once; the first answer ends the conversion's window state and the wait.
class AnsweringSheets : public AlertPresenter {
  public:
    void present(QWidget *, const Alert &alert, AlertCompletion done) override {
        result = alert.messageText;
        if (done) done(kAlertFirstButtonReturn);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    }
    QString result;
    QEventLoop loop;
};

// Converts `path` (channel `channel` when the panel asks) into `folder` through the application.
Run convert(const std::string &path, const std::string &folder, int channel) {
    Run r;
    auto d = std::make_unique<VistrelAppDelegate>();
    d->applicationDidFinishLaunching();
    d->configSettingPanel()->filePathField()->setText(QString::fromStdString(folder));
    AnsweringSheets sheets;
    AVIConversion *conversion = d->aviConversion();
    AlertPresenter *previous = setAlertPresenter(&sheets);
    conversion->openPlaybackFileAndConvertToAVI();
    QCoreApplication::processEvents();
    QFileDialog *panel = conversion->conversionOpenPanel();
    if (!panel) {
        setAlertPresenter(previous);
        return r;
    }
    const double cpu0 = processCpuSeconds();
    const auto t0 = Clock::now();
    emit panel->fileSelected(QString::fromStdString(path));
    static_cast<QDialog *>(panel)->done(QDialog::Accepted);
    if (conversion->phase() == avitarget::ConversionPhase::WaitingForChannel) {
        d->channelSelectionPanel()->ui.videoChannelSelectionBtn->setCurrentText(QString::number(channel));
        d->channelSelectionPanel()->ui.channelSelectionOkBtn->click();
    }
    // The application's own event loop, as when a user converts: no polling of ours is timed.
    if (sheets.result.isEmpty()) sheets.loop.exec();
    r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    r.cpu = processCpuSeconds() - cpu0;
    r.ok = sheets.result == QStringLiteral("AVI Conversion Complete");
    if (!r.ok) fprintf(stderr, "conversion: %s\n", qPrintable(sheets.result));
    d.reset();
    setAlertPresenter(previous);
    takeOutput(folder, r);
    return r;
}

// ---- The anchor -----------------------------------------------------------------------------

constexpr size_t kReadBlock = 2u << 20;
constexpr uint32_t kHeaderBytes = 2048;
// Empty chunks keep five frames in every window of 1/6 s, summed in sixths of a microsecond.
constexpr uint64_t kWindowSixthsUs = 1000000;
constexpr uint32_t kFramesPerWindow = 5;

void putLE32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// G.711 u-law to 16-bit linear.
int16_t ulawToLinear(uint8_t code) {
    code = static_cast<uint8_t>(~code);
    const int exponent = (code >> 4) & 7;
    const int magnitude = (((code & 0x0F) << 3) + 0x84) << exponent;
    return static_cast<int16_t>((code & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
}

// The recording read front to back in blocks; payloads are copied out of the blocks in file order.
class SequentialReader {
  public:
    explicit SequentialReader(int fd) : fd_(fd), block_(kReadBlock) {}
    // Copies [offset, offset + length) into `out`; offsets never go backwards.
    bool take(uint64_t offset, uint64_t length, std::vector<uint8_t> &out) {
        out.resize(length);
        uint64_t done = 0;
        while (done < length) {
            const uint64_t at = offset + done;
            while (at >= start_ + size_)
                if (!next()) return false;
            if (at < start_) return false;
            const uint64_t n = std::min<uint64_t>(length - done, start_ + size_ - at);
            std::memcpy(out.data() + done, block_.data() + (at - start_), n);
            done += n;
        }
        return true;
    }
    // Reads what is left of the file.
    void finish() {
        while (next()) {
        }
    }

  private:
    bool next() {
        start_ += size_;
        const ssize_t n = read(fd_, block_.data(), block_.size());
        size_ = n > 0 ? static_cast<uint64_t>(n) : 0;
        return size_ > 0;
    }
    int fd_;
    std::vector<uint8_t> block_;
    uint64_t start_ = 0, size_ = 0;
};

// One file written as the AVI builder writes: unbuffered calls, created exclusively under a
// temporary name, flushed and renamed into place at the end.
class OutFile {
  public:
    bool create(const std::string &path) {
        tmp_ = path + ".tmp";
        path_ = path;
        fd_ = open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        return fd_ >= 0;
    }
    bool writev(iovec *iov, int count) {
        size_t want = 0;
        for (int i = 0; i < count; ++i)
            want += iov[i].iov_len;
        return ::writev(fd_, iov, count) == static_cast<ssize_t>(want);
    }
    bool write(const void *data, size_t length) {
        iovec iov{const_cast<void *>(data), length};
        return writev(&iov, 1);
    }
    bool pwrite(const void *data, size_t length, off_t at) {
        return ::pwrite(fd_, data, length, at) == static_cast<ssize_t>(length);
    }
    bool finish() {
        bool ok = fsync(fd_) == 0;
        ok = close(fd_) == 0 && ok;
        fd_ = -1;
        return ok && rename(tmp_.c_str(), path_.c_str()) == 0;
    }
    ~OutFile() {
        if (fd_ >= 0) close(fd_);
    }

  private:
    int fd_ = -1;
    std::string tmp_, path_;
};

struct AnchorInput {
    std::string path;
    std::vector<const mkrec::Unit *> units; // the converted video and audio channels, file order
    int videoChannel = 0;                   // 0-based
};

class AviWriter {
  public:
    bool start(const std::string &avi) {
        static const uint8_t reserved[kHeaderBytes] = {};
        static const uint8_t bom[4] = {0xEF, 0xBB, 0xBF, '\n'};
        return avi_.create(avi) && srt_.create(avi + ".srt") && avi_.write(reserved, sizeof reserved) &&
               srt_.write(bom, sizeof bom);
    }
    bool video(const std::vector<uint8_t> &frame, bool key, uint32_t intervalUs, int64_t timeUs,
               int channel) {
        if (rows_.empty() && !key) return true;
        if (!chunk("00dc", frame.data(), static_cast<uint32_t>(frame.size()), key ? 0x10 : 0)) return false;
        window_ += uint64_t{intervalUs} * 6;
        if (window_ != 0) ++framesInWindow_;
        if (window_ >= kWindowSixthsUs) {
            for (uint32_t i = framesInWindow_; i < kFramesPerWindow; ++i)
                if (!chunk("00dc", nullptr, 0, 0)) return false;
            window_ -= kWindowSixthsUs;
            framesInWindow_ = 0;
        }
        const time_t t = static_cast<time_t>(timeUs / 1000000);
        tm c{};
        gmtime_r(&t, &c);
        if (c.tm_sec == lastSecond_) return true;
        lastSecond_ = c.tm_sec;
        ++entries_;
        char text[128];
        const int n =
            snprintf(text, sizeof text,
                     "%u\n%02u:%02u:%02u,000 --> %02u:%02u:%02u,000\n%04d/%02d/%02d %02d:%02d:%02d CH%d\n\n",
                     entries_, (entries_ - 1) / 3600, (entries_ - 1) / 60 % 60, (entries_ - 1) % 60,
                     entries_ / 3600, entries_ / 60 % 60, entries_ % 60, c.tm_year + 1900, c.tm_mon + 1,
                     c.tm_mday, c.tm_hour, c.tm_min, c.tm_sec, channel + 1);
        return n > 0 && srt_.write(text, static_cast<size_t>(n));
    }
    bool audio(const std::vector<uint8_t> &pcm) {
        if (rows_.empty()) return true; // audio before the first video chunk is dropped
        return chunk("01wb", pcm.data(), static_cast<uint32_t>(pcm.size()), 0);
    }
    bool finish(int width, int height) {
        const uint32_t indexBytes = static_cast<uint32_t>(rows_.size());
        std::vector<uint8_t> index(8);
        std::memcpy(index.data(), "idx1", 4);
        putLE32(index.data() + 4, indexBytes);
        index.insert(index.end(), rows_.begin(), rows_.end());
        std::vector<uint8_t> header(kHeaderBytes, 0);
        std::memcpy(header.data(), "RIFF", 4);
        putLE32(header.data() + 4, kHeaderBytes - 8 + moviBytes_ + 8 + indexBytes);
        std::memcpy(header.data() + 8, "AVI LIST", 8);
        putLE32(header.data() + 64, static_cast<uint32_t>(width));
        putLE32(header.data() + 68, static_cast<uint32_t>(height));
        std::memcpy(header.data() + 2036, "LIST", 4);
        putLE32(header.data() + 2040, moviBytes_ + 4);
        std::memcpy(header.data() + 2044, "movi", 4);
        return avi_.write(index.data(), index.size()) && avi_.pwrite(header.data(), header.size(), 0) &&
               avi_.finish() && srt_.finish();
    }

  private:
    bool chunk(const char *code, const uint8_t *data, uint32_t length, uint32_t flags) {
        uint8_t head[8];
        std::memcpy(head, code, 4);
        putLE32(head + 4, length);
        uint8_t pad = 0;
        iovec iov[3];
        int n = 0;
        iov[n++] = {head, sizeof head};
        if (length > 0) iov[n++] = {const_cast<uint8_t *>(data), length};
        if (length & 1) iov[n++] = {&pad, 1};
        if (!avi_.writev(iov, n)) return false;
        uint8_t row[16];
        std::memcpy(row, code, 4);
        putLE32(row + 4, flags);
        putLE32(row + 8, moviBytes_ + kHeaderBytes);
        putLE32(row + 12, length);
        rows_.insert(rows_.end(), row, row + sizeof row);
        moviBytes_ += 8 + length + (length & 1);
        return true;
    }

    OutFile avi_, srt_;
    std::vector<uint8_t> rows_;
    uint32_t moviBytes_ = 0;
    uint64_t window_ = 0; // in sixths of a microsecond
    uint32_t framesInWindow_ = 0;
    unsigned entries_ = 0;
    int lastSecond_ = 0; // as the builder starts
};

// Reads, decodes and writes what the conversion does (see the top of the file), timed.
Run anchor(const AnchorInput &in, const std::string &folder) {
    Run r;
    int16_t ulaw[256];
    for (int i = 0; i < 256; ++i)
        ulaw[i] = ulawToLinear(static_cast<uint8_t>(i));
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVFrame *frame = av_frame_alloc();
    if (!codec || !frame) return r;

    const double cpu0 = processCpuSeconds();
    const auto t0 = Clock::now();
    const int fd = open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
    AVCodecContext *context = avcodec_alloc_context3(codec);
    bool ok = fd >= 0 && context;
    if (ok) {
        context->thread_count = 2;
        context->thread_type = FF_THREAD_SLICE;
        ok = avcodec_open2(context, codec, nullptr) >= 0;
    }
    SwsContext *scaler = nullptr;
    std::vector<uint8_t> picture, payload, pcm;
    int width = 0, height = 0;
    int64_t previousUs = -1;
    AviWriter avi;
    ok = ok && avi.start(folder + "/anchor.avi");
    SequentialReader reader(fd);
    AVPacket *packet = av_packet_alloc();
    ok = ok && packet;
    for (size_t i = 0; ok && i < in.units.size(); ++i) {
        const mkrec::Unit &u = *in.units[i];
        ok = reader.take(u.esOffset, u.esLen, payload);
        if (!ok) break;
        if (!u.video) {
            pcm.resize(payload.size() * 2);
            for (size_t k = 0; k < payload.size(); ++k) {
                const int16_t s = ulaw[payload[k]];
                pcm[2 * k] = static_cast<uint8_t>(s);
                pcm[2 * k + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
            }
            ok = avi.audio(pcm);
            continue;
        }
        packet->data = payload.data();
        packet->size = static_cast<int>(payload.size());
        if (avcodec_send_packet(context, packet) >= 0) {
            while (avcodec_receive_frame(context, frame) >= 0) {
                if (!scaler)
                    scaler = sws_getContext(
                        frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                        frame->height, AV_PIX_FMT_RGBA, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
                width = frame->width;
                height = frame->height;
                picture.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
                uint8_t *dst[4] = {picture.data(), nullptr, nullptr, nullptr};
                int stride[4] = {width * 4, 0, 0, 0};
                if (scaler) sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, dst, stride);
                av_frame_unref(frame);
            }
        }
        const uint32_t interval = previousUs >= 0 && u.tUs > previousUs ? uint32_t(u.tUs - previousUs) : 0;
        previousUs = u.tUs;
        ok = avi.video(payload, u.key, interval, u.tUs, in.videoChannel);
    }
    if (ok) reader.finish();
    ok = ok && avi.finish(width, height);
    av_packet_free(&packet);
    sws_freeContext(scaler);
    avcodec_free_context(&context);
    if (fd >= 0) close(fd);
    r.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    r.cpu = processCpuSeconds() - cpu0;
    r.ok = ok;
    av_frame_free(&frame);
    if (!ok) fprintf(stderr, "anchor: %s\n", std::strerror(errno));
    takeOutput(folder, r);
    return r;
}

} // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication application(argc, argv);
    const int duration = argc > 1 ? std::max(2, atoi(argv[1])) : 10;
    const int pairs = argc > 2 ? std::max(5, atoi(argv[2])) : 5;
    mkrec::TempDir dir;
    QCoreApplication::setOrganizationName(QStringLiteral("vistrel-bench"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir.file("settings")));

    struct Case {
        const char *name, *file;
        std::vector<std::string> args;
        int channel; // 1-based
    };
    const std::string secs = std::to_string(duration);
    const std::vector<std::string> recorderLike{"--gop",   "25", "--fps",   "25",   "--preset",   "veryfast",
                                                "--grain", "3",  "--audio", "ulaw", "--duration", secs};
    std::vector<Case> cases{
        {"DV5 16 x D1, channel 1",
         "d1.dv5",
         {"--kind", "dv5-nvr", "--size", "704x576", "--video-mask", "0xffff", "--audio-mask", "0x1",
          "--bitrate", "1800"},
         1},
        {"AVC 4 x 1080p, channel 1",
         "hd.avc",
         {"--kind", "avc", "--size", "1920x1080", "--video-mask", "0xf", "--audio-mask", "0x1", "--bitrate",
          "4500"},
         1},
    };
    for (Case &c : cases)
        c.args.insert(c.args.end(), recorderLike.begin(), recorderLike.end());

    std::vector<std::string> rows;
    for (const Case &c : cases) {
        fprintf(stderr, "writing %s...\n", c.file);
        mkrec::Recording rec = mkrec::make(dir, c.file, c.args);
        if (!rec.ok()) {
            fprintf(stderr, "cannot make %s: %s\n", c.file, rec.output.c_str());
            continue;
        }
        const std::vector<const mkrec::Unit *> video = rec.manifest.video(c.channel - 1);
        const int fps = static_cast<int>(rec.manifest.num("fps"));
        if (video.empty() || fps <= 0) continue;
        // From the first frame's time to the end of the last one's.
        const double length = static_cast<double>(video.back()->tUs - video.front()->tUs) * 1e-6 + 1.0 / fps;
        // Every conversion opens an AVC recording whose index is there already, as all but the
        // first opening of a recording do: building it is not part of converting.
        if (!rec.expectedIdxPath.empty() && rec.path.size() > 4 &&
            rec.path.compare(rec.path.size() - 4, 4, ".avc") == 0) {
            std::ifstream from(rec.expectedIdxPath, std::ios::binary);
            std::ofstream to(rec.path.substr(0, rec.path.size() - 4) + ".idx", std::ios::binary);
            if (from) to << from.rdbuf();
        }

        AnchorInput in;
        in.path = rec.path;
        in.videoChannel = c.channel - 1;
        for (const mkrec::Unit &u : rec.manifest.units)
            if (u.channel == c.channel - 1) in.units.push_back(&u);

        const std::string out = dir.file(std::string(c.file) + ".out");
        mkdir(out.c_str(), 0755);
        std::vector<double> wallX, cpuRatio, convCpu, anchorCpu;
        Run lastConv, lastAnchor;
        for (int p = 0; p < pairs; ++p) {
            Run conv, base;
            if (p % 2 == 0) {
                conv = convert(rec.path, out, c.channel);
                base = anchor(in, out);
            } else {
                base = anchor(in, out);
                conv = convert(rec.path, out, c.channel);
            }
            fprintf(
                stderr,
                "  %s pair %d: conversion %.2f s wall %.3f s cpu, AVI %llu bytes; anchor %.3f s wall %.3f s "
                "cpu, AVI %llu bytes\n",
                c.file, p + 1, conv.wall, conv.cpu, static_cast<unsigned long long>(conv.aviBytes), base.wall,
                base.cpu, static_cast<unsigned long long>(base.aviBytes));
            if (!conv.ok || !base.ok || base.cpu <= 0) continue;
            wallX.push_back(conv.wall / length);
            cpuRatio.push_back(conv.cpu / base.cpu);
            convCpu.push_back(conv.cpu);
            anchorCpu.push_back(base.cpu);
            lastConv = conv;
            lastAnchor = base;
        }
        const Spread w = spread(wallX), q = spread(cpuRatio);
        char row[256];
        snprintf(row, sizeof row,
                 "%-25s %6.2f %2zu  %5.3f %5.3f %5.3f  %6.2f %6.2f  %5.2f %5.2f %5.2f  %7.2f %7.2f", c.name,
                 length, cpuRatio.size(), w.min, w.median, w.max, spread(convCpu).median,
                 spread(anchorCpu).median, q.min, q.median, q.max,
                 static_cast<double>(lastConv.aviBytes) / 1e6,
                 static_cast<double>(lastAnchor.aviBytes) / 1e6);
        rows.push_back(row);
        if (lastConv.srtBytes != lastAnchor.srtBytes)
            fprintf(stderr, "  %s: subtitle files of %llu and %llu bytes\n", c.file,
                    static_cast<unsigned long long>(lastConv.srtBytes),
                    static_cast<unsigned long long>(lastAnchor.srtBytes));
    }
    printf("%-25s %6s %2s  %-17s  %-13s  %-17s  %-15s\n", "", "", "", "conversion wall/x", "cpu s median",
           "cpu conv/anchor", "AVI MB");
    printf("%-25s %6s %2s  %5s %5s %5s  %6s %6s  %5s %5s %5s  %7s %7s\n", "recording", "len s", "n", "min",
           "med", "max", "conv", "anchor", "min", "med", "max", "conv", "anchor");
    for (const std::string &row : rows)
        printf("%s\n", row.c_str());
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        printf("load average at the end: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}
