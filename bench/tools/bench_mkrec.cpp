// Times mkrec writing a 16-channel, 60-second 704x576 DV5 recording on 2 threads, and ffmpeg
// encoding the same number of frames of its test source with libx264 ultrafast on 2 threads.
// Exits 1 when mkrec takes 30 seconds or more.
#include <chrono>
#include <cstdio>

#include "common/mkrec_fixture.h"

namespace {
double timed(const std::vector<std::string> &argv, const std::string &log, int &status) {
    auto t0 = std::chrono::steady_clock::now();
    status = mkrec::runProgram(argv, log);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
} // namespace

int main() {
    mkrec::TempDir dir;
    int st = 0;
    double ours = timed({mkrec::mkrecPath(), "--kind", "dv5-nvr", "--size", "704x576", "--duration", "60",
                         "--video-mask", "0xffff", "--audio-mask", "0xffff", "--threads", "2", "--out",
                         dir.file("big.dv5")},
                        dir.file("mkrec.log"), st);
    if (st != 0) {
        std::printf("mkrec failed:\n%s\n", mkrec::readText(dir.file("mkrec.log")).c_str());
        return 1;
    }
    // 16 x 60 s x 25 fps = 24,000 frames.
    int fst = 0;
    double theirs = timed({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                           "testsrc2=size=704x576:rate=25:duration=960", "-c:v", "libx264", "-preset",
                           "ultrafast", "-threads", "2", "-f", "null", "-"},
                          dir.file("ffmpeg.log"), fst);
    std::printf("mkrec 16 x 60 s D1: %.2f s; ffmpeg, as many frames: %.2f s%s; ratio %.2f\n", ours, theirs,
                fst == 0 ? "" : " (failed)", theirs > 0 ? ours / theirs : 0.0);
    return ours < 30.0 ? 0 : 1;
}
