// The AVC index build on a warm recording of about 1 GB, against reading the same file with
// read(2) into a buffer as large as the parser's, in the same process (no process start on
// either side); and the time from opening the same recording without an index in the AVC
// engine to its first picture.
//
// The recording: mkrec writes 16 channels of D1 H.264 at a recorder's bit rate with G.723 audio;
// its records are then laid end to end, renumbered, until the file holds the asked size (mkrec
// itself would take many minutes for 1 GB). The index built from it is checked once against
// mkrec's expected index, shifted for each copy.
//
// Pairs run in turn, the order swapped every pair, so that load from other work hits both
// sides. Prints min / median / max of build / read (elapsed, and processor time, which load from
// other work does not stretch) and of the first picture.
// Usage: taskset -c 2,3 avc_index_bench [pairs (default 7)] [MiB (default 1024)]
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_common/bench_delegates.h"
#include "bench_common/bench_read.h"
#include "bench_common/bench_stats.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "recorderfile/avc_parse.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Processor time of the calling thread, in seconds: what the work cost whatever else ran.
double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Timed {
    double wall = -1, cpu = -1;
};

constexpr size_t kReadBuffer = 0x200000; // the parser's reader buffer

// The anchor: every byte of the file through read(2), as cat does.
Timed readWhole(const std::string &path, std::vector<char> &buffer) {
    const double c0 = threadCpu();
    const auto t0 = Clock::now();
    if (readThrough(path, buffer) == 0) return {};
    return {since(t0), threadCpu() - c0};
}

struct IndexWait {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool failed = false;
    double indexCpu = 0; // the index thread's processor time when it was done
    Clock::time_point doneAt;
};

int onParser(int code, HEADER_AVC *, char *, void *user) {
    auto *w = static_cast<IndexWait *>(user);
    if (code == AVC_CODE_INDEX_DONE || code == AVC_CODE_END_OF_DATA) {
        const double cpu = threadCpu(); // on the index thread, which started with the open
        std::lock_guard<std::mutex> lock(w->mutex);
        w->doneAt = Clock::now(); // not when this thread gets to run again
        w->indexCpu = cpu;
        w->done = true;
        w->failed = code != AVC_CODE_INDEX_DONE;
        w->cv.notify_all();
    }
    return 0;
}

// From avc_parse_open to the index being complete (its file written); the processor time is
// the open's and the index thread's.
Timed buildIndex(const std::string &path, const std::string &idx) {
    std::remove(idx.c_str());
    IndexWait w;
    const double c0 = threadCpu();
    const auto t0 = Clock::now();
    const int handle = avc_parse_open(path.c_str(), onParser, &w);
    const double openCpu = threadCpu() - c0;
    if (!handle) return {};
    Timed t;
    {
        std::unique_lock<std::mutex> lock(w.mutex);
        w.cv.wait(lock, [&] { return w.done; });
        if (!w.failed) t = {std::chrono::duration<double>(w.doneAt - t0).count(), openCpu + w.indexCpu};
    }
    avc_parse_close(handle);
    return t;
}

class FirstPicture : public benchutil::CountingDelegate {
  public:
    void videoUpdateTaskWithChannel(unsigned, VideoImageRef, const uint8_t *, unsigned, bool, unsigned,
                                    const _SYSTEMTIME &) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (!seen) {
            seen = true;
            at = Clock::now();
            cv.notify_all();
        }
    }
    std::mutex mutex;
    std::condition_variable cv;
    bool seen = false;
    Clock::time_point at;
};

// From the engine's open of a recording without an index to its first picture.
double firstPicture(const std::string &path, const std::string &idx) {
    std::remove(idx.c_str());
    FirstPicture delegate;
    AVCFormatPlayback engine;
    engine.setAppDelg(&delegate);
    engine.createAVCFmtVideoPlaybackThread();
    engine.createAVCFmtAudioPlaybackThread();
    const auto t0 = Clock::now();
    if (!engine.openAVCFileAndStartParser(path)) return -1;
    double s = -1;
    {
        std::unique_lock<std::mutex> lock(delegate.mutex);
        if (delegate.cv.wait_for(lock, std::chrono::seconds(60), [&] { return delegate.seen; }))
            s = std::chrono::duration<double>(delegate.at - t0).count();
    }
    engine.closeAVCFileAndStopParser();
    engine.cancelAllThreads();
    return s;
}

void putLE32(std::vector<uint8_t> &b, uint64_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Lays the base recording's records end to end until the file holds `bytes`; the main header's
// total and every record's number follow. Returns the index the copies should get.
bool tile(const mkrec::Recording &base, const std::string &out, uint64_t bytes,
          std::vector<uint8_t> &expected, uint64_t *units) {
    std::vector<uint8_t> file = mkrec::readFile(base.path);
    std::vector<uint8_t> baseIdx = mkrec::readFile(base.expectedIdxPath);
    const uint64_t header = static_cast<uint64_t>(base.manifest.num("header_len"));
    const auto &us = base.manifest.units;
    if (file.size() <= header || us.empty() || baseIdx.size() != us.size() * 36) return false;
    const uint64_t body = file.size() - header;
    const uint64_t copies = std::max<uint64_t>(1, (bytes - header) / body);
    *units = copies * us.size();
    if (*units > 0xFFFFFFFFull || header + copies * body > 0xFFFFFFFFull) return false;
    putLE32(file, 48, static_cast<uint32_t>(*units));
    std::ofstream f(out, std::ios::binary);
    f.write(reinterpret_cast<const char *>(file.data()), static_cast<std::streamsize>(header));
    expected.clear();
    expected.reserve(*units * 36);
    uint32_t number = 1;
    for (uint64_t c = 0; c < copies; ++c) {
        for (const mkrec::Unit &u : us) // every record carries its number right after its flags
            putLE32(file, u.offset + 4, number++);
        f.write(reinterpret_cast<const char *>(file.data() + header), static_cast<std::streamsize>(body));
        for (size_t i = 0; i < us.size(); ++i) {
            std::vector<uint8_t> rec(baseIdx.begin() + static_cast<long>(i * 36),
                                     baseIdx.begin() + static_cast<long>(i * 36 + 36));
            putLE32(rec, 8, static_cast<uint32_t>(us[i].offset + c * body));
            expected.insert(expected.end(), rec.begin(), rec.end());
        }
    }
    return static_cast<bool>(f.flush());
}

} // namespace

int main(int argc, char **argv) {
    const int pairs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    const uint64_t mib = argc > 2 ? std::max(16, atoi(argv[2])) : 1024;
    mkrec::TempDir dir;
    const mkrec::Recording base = mkrec::make(
        dir, "base.avc",
        {"--kind", "avc", "--size", "704x576", "--duration", "10", "--video-mask", "0xffff", "--audio-mask",
         "0xffff", "--audio", "g723", "--bitrate", "1500", "--grain", "3", "--threads", "2"});
    if (!base.ok()) {
        fprintf(stderr, "mkrec failed: %s\n", base.output.c_str());
        return 1;
    }
    const std::string path = dir.file("big.avc");
    const std::string idx = dir.file("big.idx");
    std::vector<uint8_t> expected;
    uint64_t units = 0;
    if (!tile(base, path, mib << 20, expected, &units)) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::vector<char> buffer(kReadBuffer);
    const double warm = readWhole(path, buffer).wall; // into the page cache
    const uint64_t size = std::filesystem::file_size(path);
    printf("recording: %.0f MiB, %llu records (16 x D1 H.264 1.5 Mbit/s + G.723), first read %.3f s\n",
           static_cast<double>(size) / (1 << 20), static_cast<unsigned long long>(units), warm);

    // The index is right, once, before anything is timed.
    if (buildIndex(path, idx).wall < 0 || mkrec::readFile(idx) != expected) {
        fprintf(stderr, "the index built differs from the expected one\n");
        return 1;
    }

    std::vector<double> ratio, cpuRatio, cat, build, first;
    for (int i = 0; i < pairs; ++i) {
        readWhole(path, buffer); // still warm, whatever the machine's other work evicted
        Timed r, b;
        if (i % 2 == 0) {
            r = readWhole(path, buffer);
            b = buildIndex(path, idx);
        } else {
            b = buildIndex(path, idx);
            r = readWhole(path, buffer);
        }
        const double f = firstPicture(path, idx);
        if (r.wall <= 0 || b.wall <= 0 || f <= 0) {
            fprintf(stderr, "run %d failed\n", i);
            return 1;
        }
        printf("pair %d: read %.1f ms (cpu %.1f), build %.1f ms (cpu %.1f): %.3f (cpu %.3f); first picture "
               "%.1f ms\n",
               i + 1, r.wall * 1e3, r.cpu * 1e3, b.wall * 1e3, b.cpu * 1e3, b.wall / r.wall, b.cpu / r.cpu,
               f * 1e3);
        cat.push_back(r.wall * 1e3);
        build.push_back(b.wall * 1e3);
        ratio.push_back(b.wall / r.wall);
        cpuRatio.push_back(b.cpu / r.cpu);
        first.push_back(f * 1e3);
    }
    std::remove(idx.c_str());
    const Spread s[] = {spread(ratio), spread(cpuRatio), spread(cat), spread(build), spread(first)};
    const char *names[] = {"build / read", "  processor time", "read ms", "build ms", "first picture ms"};
    printf("%-18s %9s %9s %9s   (%d pairs)\n", "", "min", "median", "max", pairs);
    for (int k = 0; k < 5; ++k)
        printf("%-18s %9.3f %9.3f %9.3f\n", names[k], s[k].min, s[k].median, s[k].max);
    return 0;
}
