// The DV unit scanner over bytes that are not units (zeros, random bytes) and over recordings,
// against reading the same warm file as `cat` does (128 KiB reads into one buffer) in this
// process, in the same run, in MB/s: neither side starts a process inside its timing.
// Usage: dv_scan_bench [MiB per junk file]   (default 256)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "bench_common/bench_delegates.h"
#include "bench_common/bench_read.h"
#include "common/mkrec_fixture.h"
#include "engines/dv_stream_parser.h"
#include "engines/engine_controls.h"
#include "engines/headless_delegate.h"
#include "platform/log.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

using benchutil::NullHost;

uint64_t fileSize(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    const long n = std::ftell(f);
    std::fclose(f);
    return n > 0 ? static_cast<uint64_t>(n) : 0;
}

// What `cat FILE > /dev/null` does, without its process start: the file read through in
// 128 KiB reads. MB/s, 0 when the file cannot be read.
double readSpeed(const std::string &path) {
    std::vector<char> block(128 << 10);
    const auto t0 = Clock::now();
    const uint64_t total = readThrough(path, block);
    if (total == 0) return 0;
    const double s = secondsSince(t0);
    return s > 0 ? static_cast<double>(total) / 1e6 / s : 0;
}

// Best of three.
double catSpeed(const std::string &path) {
    double best = 0;
    for (int rep = 0; rep < 3; ++rep)
        best = std::max(best, readSpeed(path));
    return best;
}

bool writeFile(const std::string &path, uint64_t bytes, bool random) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::vector<uint8_t> block(1 << 20, 0);
    std::mt19937 gen(7);
    for (uint64_t done = 0; done < bytes; done += block.size()) {
        if (random)
            for (uint8_t &b : block)
                b = static_cast<uint8_t>(gen());
        std::fwrite(block.data(), 1, static_cast<size_t>(std::min<uint64_t>(block.size(), bytes - done)), f);
    }
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char **argv) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    player_log_set_sink([](const std::string &) {});
    mkrec::TempDir dir;
    const std::string zeros = dir.file("zeros.dv4"), random = dir.file("random.dv4");
    if (!writeFile(zeros, mib << 20, false) || !writeFile(random, mib << 20, true)) {
        std::printf("cannot write the files\n");
        return 1;
    }
    const mkrec::Recording rec = mkrec::make(dir, "rec.dv4",
                                             {"--kind", "dv4-h264", "--size", "1920x1080", "--frames", "40",
                                              "--noise", "--video-mask", "0x1", "--audio-mask", "0x1"});
    // Plain pictures: payloads with many zero bytes for the byte scan.
    const mkrec::Recording mpeg4 = mkrec::make(dir, "pictures.dv4",
                                               {"--kind", "dv4-mpeg4", "--size", "1920x1080", "--frames",
                                                "250", "--video-mask", "0x1", "--audio-mask", "0x1"});
    // Payloads stepped over by their length.
    const mkrec::Recording dv5 = mkrec::make(dir, "rec.dv5",
                                             {"--kind", "dv5-nvr", "--size", "1920x1080", "--frames", "20",
                                              "--noise", "--video-mask", "0xf", "--audio-mask", "0x1"});
    for (const mkrec::Recording *r : {&rec, &mpeg4, &dv5}) {
        if (!r->ok()) {
            std::printf("mkrec failed: %s\n", r->output.c_str());
            return 1;
        }
    }
    struct Case {
        const char *name;
        std::string path;
        DVVariant variant;
    } cases[] = {
        {"zeros, DV4 H.264", zeros, DVVariant::DV4H264},
        {"zeros, DV4 MPEG-4", zeros, DVVariant::DV4MPEG4},
        {"zeros, DV5 NVR", zeros, DVVariant::DV5NVR},
        {"random bytes, DV4 H.264", random, DVVariant::DV4H264},
        {"random bytes, DV4 MPEG-4", random, DVVariant::DV4MPEG4},
        {"random bytes, DV5 NVR", random, DVVariant::DV5NVR},
        {"recording, DV4 H.264 1080p", rec.path, DVVariant::DV4H264},
        {"recording, DV4 MPEG-4 1080p", mpeg4.path, DVVariant::DV4MPEG4},
        {"recording, DV5 1080p 4 ch", dv5.path, DVVariant::DV5NVR},
    };
    std::printf("%-28s %8s %12s %12s %7s %9s\n", "file", "MB", "scan MB/s", "read MB/s", "ratio", "progress");
    for (const Case &c : cases) {
        catSpeed(c.path); // warm
        const double theirs = catSpeed(c.path);
        NullHost host;
        const double ours = benchutil::bestScanSpeed(c.path, c.variant, &host);
        const unsigned reports = host.progressReports;
        std::printf("%-28s %8.1f %12.1f %12.1f %7.2f %9u\n", c.name,
                    static_cast<double>(fileSize(c.path)) / 1e6, ours, theirs,
                    theirs > 0 ? ours / theirs : 0.0, reports);
    }
    return 0;
}
