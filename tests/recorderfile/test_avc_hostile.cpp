// Hostile paths and sizes through the AVC parser: non-regular files, a header that claims far
// more records than the file holds, and index files that cannot belong to the recording.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/watchdog.h"
#include "recorderfile/avc_index.h"
#include "recorderfile/parse_session.h"

namespace {

using parsetest::Session;
using Clock = std::chrono::steady_clock;

// Peak resident memory of this process so far, in KiB.
long peakRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

bool extendTo(const std::string &path, uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    const bool ok = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

uint64_t sizeOf(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

const std::vector<std::string> kSmall = {"--kind", "avc", "--frames", "12", "--gop", "4", "--size", "64x48"};

} // namespace

// A FIFO where a recording or its index should be: refused at once, never a wait.
TEST(AvcHostile, FifosAreRefusedWithoutWaiting) {
    mkrec::TempDir dir;
    const std::string fifo = dir.file("x.avc");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    {
        testutil::Watchdog dog(5, "avc_parse_open of a FIFO");
        Session s;
        EXPECT_EQ(s.open(fifo), 0);
    }

    const mkrec::Recording rec = mkrec::make(dir, "rec.avc", kSmall);
    ASSERT_TRUE(rec.ok()) << rec.output;
    ASSERT_EQ(mkfifo(dir.file("rec.idx").c_str(), 0600), 0);
    testutil::Watchdog dog(20, "playing beside a FIFO index");
    Session s;
    ASSERT_NE(s.open(rec.path), 0);
    ASSERT_TRUE(s.waitTerminal());
    EXPECT_EQ(s.frames().size(), rec.manifest.units.size()) << "the index was built instead";
    s.close();
    EXPECT_EQ(sizeOf(dir.file("rec.idx")), rec.manifest.units.size() * 36);
}

// A header claiming 100,000,000 records over a 4 GiB file of zeros (sparse: no disk used):
// six zero bytes are a legal empty record, so only the run rule stops the build. Memory and
// the ".idx" follow the records really there.
TEST(AvcHostile, ClaimedRecordCountDrivesNeitherMemoryNorDisk) {
    struct Case {
        const char *name;
        bool keepFrames;
    };
    for (const Case &c : {Case{"frames, then zeros", true}, Case{"header, then zeros", false}}) {
        SCOPED_TRACE(c.name);
        mkrec::TempDir dir;
        std::vector<std::string> args = kSmall;
        args.insert(args.end(), {"--total-frames", "100000000"});
        const mkrec::Recording rec = mkrec::make(dir, "big.avc", args);
        ASSERT_TRUE(rec.ok()) << rec.output;
        const size_t frames = c.keepFrames ? rec.manifest.units.size() : 0;
        if (!c.keepFrames) {
            ASSERT_EQ(::truncate(rec.path.c_str(), static_cast<off_t>(rec.manifest.units[0].offset)), 0);
        }
        ASSERT_TRUE(extendTo(rec.path, 4ull << 30));

        const long before = peakRssKiB();
        const auto t0 = Clock::now();
        testutil::Watchdog dog(20, "indexing a claimed 100,000,000 records");
        Session s;
        ASSERT_NE(s.open(rec.path), 0);
        ASSERT_TRUE(s.waitCode(AVC_CODE_INDEX_DONE, 15000));
        ASSERT_TRUE(s.waitCode(AVC_CODE_END_OF_DATA, 15000)) << "the reader must stop at the zeros too";
        const double ms = msSince(t0);
        s.close();
        // Empty records before the run is known to be one are passed on as they are read.
        size_t withPayload = 0;
        for (const parsetest::Event &e : s.frames())
            withPayload += e.length > 0;
        EXPECT_EQ(withPayload, frames);
        EXPECT_LT(s.frames().size(), frames + AVC_MAX_EMPTY_RECORD_RUN);
        EXPECT_EQ(sizeOf(dir.file("big.idx")), frames * 36);
        EXPECT_LT(peakRssKiB() - before, 64 * 1024) << "peak memory grew with the claim";
        EXPECT_LT(ms, 5000);
    }
}

// Index files that cannot describe the recording are refused without being loaded, and
// rebuilt: a huge sparse one, one of the right size but zeros, and a forged one that lists
// every six bytes of a run of zeros as a record.
TEST(AvcHostile, ImpossibleIndexesAreRefusedInMilliseconds) {
    struct Case {
        const char *name;
        uint64_t sparseSize; // 0: written below
        bool forgedEmptyRecords;
    };
    const Case cases[] = {
        {"1.8 GB sparse", 1800000000ull - 1800000000ull % 36, false},
        {"zeros of a plausible size", 0, false},
        {"every six zero bytes a record", 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        mkrec::TempDir dir;
        std::vector<std::string> args = kSmall;
        // The forged index needs a claim large enough for its records to pass the size check.
        if (c.forgedEmptyRecords) args.insert(args.end(), {"--total-frames", "100000000"});
        const mkrec::Recording rec = mkrec::make(dir, "rec.avc", args);
        ASSERT_TRUE(rec.ok()) << rec.output;
        const size_t frames = rec.manifest.units.size();
        const std::string idx = dir.file("rec.idx");
        std::vector<uint8_t> bytes;
        if (c.forgedEmptyRecords) {
            // Zeros behind the recording's frames, and an index that lists them as records.
            const uint64_t end = sizeOf(rec.path);
            ASSERT_TRUE(extendTo(rec.path, 4ull << 30));
            std::vector<uint64_t> offsets;
            for (const auto &u : rec.manifest.units)
                offsets.push_back(u.offset);
            for (uint64_t at = end; at < end + 6 * 8192; at += 6)
                offsets.push_back(at);
            for (uint64_t at : offsets) {
                uint8_t row[36] = {};
                for (int k = 0; k < 4; ++k)
                    row[8 + k] = static_cast<uint8_t>(at >> (8 * k));
                bytes.insert(bytes.end(), row, row + 36);
            }
        } else if (c.sparseSize == 0) {
            bytes.assign(frames * 36, 0);
        }
        {
            std::ofstream out(idx, std::ios::binary);
            out.write(reinterpret_cast<const char *>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
        }
        if (c.sparseSize) {
            ASSERT_TRUE(extendTo(idx, c.sparseSize));
        }

        const long before = peakRssKiB();
        const auto t0 = Clock::now();
        testutil::Watchdog dog(10, "opening beside an impossible index");
        Session s;
        ASSERT_NE(s.open(rec.path), 0);
        const double openMs = msSince(t0);
        EXPECT_LT(openMs, 200) << "the index was read before it was refused";
        EXPECT_LT(peakRssKiB() - before, 32 * 1024);
        ASSERT_TRUE(s.waitTerminal());
        EXPECT_FALSE(s.indexCodes().empty()) << "refused indexes are rebuilt";
        size_t withPayload = 0;
        for (const parsetest::Event &e : s.frames())
            withPayload += e.length > 0;
        EXPECT_EQ(withPayload, frames);
        s.close();
        EXPECT_EQ(sizeOf(idx), frames * 36) << "the rebuilt index replaced it";
    }
}
