// The buffered file reader, on its own and against plain fread/fseeko.
#include "platform/buffer_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A temporary file with the given bytes, positioned at its start.
FILE *fileWith(const std::vector<char> &bytes) {
    FILE *f = std::tmpfile();
    if (f && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    if (f) std::rewind(f);
    return f;
}

std::vector<char> countingBytes(size_t n) {
    std::vector<char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<char>(i);
    return v;
}

void expectBytes(const char *got, size_t from, size_t n) {
    for (size_t i = 0; i < n; ++i)
        ASSERT_EQ(static_cast<unsigned char>(got[i]), static_cast<unsigned char>(from + i)) << "byte " << i;
}

TEST(BufferFile, SmallBufferOverTwentyBytes) {
    FILE *f = fileWith(countingBytes(20));
    BUFFER_FILE r;
    ASSERT_EQ(buffer_file_init(&r, f, 8), 1);
    EXPECT_EQ(r.valid, 0u) << "nothing is read before the first pop";
    char out[16] = {};

    ASSERT_EQ(buffer_file_pop(&r, out, 5), 1);
    expectBytes(out, 0, 5);
    EXPECT_EQ(r.filePos, 5u);

    ASSERT_EQ(buffer_file_pop(&r, out, 5), 1);
    expectBytes(out, 5, 5);
    EXPECT_EQ(r.filePos, 10u);
    EXPECT_EQ(r.readPos, 2u);
    EXPECT_EQ(r.valid, 8u);

    // A pop of nothing changes nothing.
    ASSERT_EQ(buffer_file_pop(&r, out, 0), 1);
    EXPECT_EQ(r.filePos, 10u);
    EXPECT_EQ(r.readPos, 2u);

    ASSERT_EQ(buffer_file_pop(&r, out, 10), 1);
    expectBytes(out, 10, 10);
    EXPECT_EQ(r.valid, 4u);
    EXPECT_EQ(r.readPos, 4u);
    EXPECT_EQ(r.filePos, 20u);

    EXPECT_EQ(buffer_file_pop(&r, out, 1), 0);
    EXPECT_EQ(r.filePos, 20u);

    ASSERT_EQ(buffer_file_set(&r, 12), 1);
    ASSERT_EQ(buffer_file_pop(&r, out, 4), 1);
    expectBytes(out, 12, 4);
    EXPECT_EQ(r.filePos, 16u);

    buffer_file_release(&r);
    EXPECT_EQ(r.buffer, nullptr);
    EXPECT_EQ(r.stream, nullptr);
    std::fclose(f);
}

TEST(BufferFile, EndOfFileInsideARequest) {
    FILE *f = fileWith(countingBytes(10));
    BUFFER_FILE r;
    ASSERT_EQ(buffer_file_init(&r, f, 4), 1);
    char out[32];
    std::memset(out, 0x55, sizeof out);
    EXPECT_EQ(buffer_file_pop(&r, out, 14), 0);
    expectBytes(out, 0, 10);
    EXPECT_EQ(static_cast<unsigned char>(out[10]), 0x55) << "nothing written past what the file had";
    EXPECT_EQ(r.filePos, 10u);
    EXPECT_EQ(r.valid, 0u);
    EXPECT_EQ(r.readPos, 0u);
    EXPECT_EQ(buffer_file_pop(&r, out, 1), 0);
    EXPECT_EQ(buffer_file_pop(&r, out, 0), 0) << "an empty buffer refills first, even for nothing";
    buffer_file_release(&r);
    std::fclose(f);
}

TEST(BufferFile, EmptyFileAndUnusableRecords) {
    FILE *f = fileWith({});
    BUFFER_FILE r;
    ASSERT_EQ(buffer_file_init(&r, f, 64), 1);
    char out[4];
    EXPECT_EQ(buffer_file_pop(&r, out, 1), 0);
    EXPECT_FALSE(buffer_file_push(&r));
    buffer_file_release(&r);

    EXPECT_EQ(buffer_file_init(nullptr, f, 64), 0);
    EXPECT_EQ(buffer_file_init(&r, f, 0), 0);
    EXPECT_EQ(r.buffer, nullptr);
    EXPECT_EQ(buffer_file_pop(&r, out, 1), 0);
    EXPECT_FALSE(buffer_file_push(&r));

    BUFFER_FILE zero{};
    EXPECT_EQ(buffer_file_pop(&zero, out, 1), 0);
    EXPECT_FALSE(buffer_file_push(&zero));
    EXPECT_EQ(buffer_file_set(&zero, 0), 0);
    std::fclose(f);
}

TEST(BufferFile, FailedSeekLeavesTheRecordAlone) {
    FILE *f = fileWith(countingBytes(30));
    BUFFER_FILE r;
    ASSERT_EQ(buffer_file_init(&r, f, 8), 1);
    char out[8];
    ASSERT_EQ(buffer_file_pop(&r, out, 3), 1);
    const BUFFER_FILE before = r;
    EXPECT_EQ(buffer_file_set(&r, UINT64_MAX), 0);
    EXPECT_EQ(std::memcmp(&before, &r, sizeof r), 0);
    ASSERT_EQ(buffer_file_pop(&r, out, 6), 1);
    expectBytes(out, 3, 6);
    buffer_file_release(&r);
    std::fclose(f);
}

// Random pops and seeks must deliver exactly what fread/fseeko deliver on a
// second stream over the same file, for buffer sizes below, around and above
// the request sizes, including reads across refills and past the end.
TEST(BufferFile, MatchesPlainStdioOnRandomSequences) {
    std::mt19937 rng(20240611);
    std::vector<char> bytes(40000);
    for (char &c : bytes)
        c = static_cast<char>(rng());
    FILE *f = fileWith(bytes);
    ASSERT_NE(f, nullptr);
    // A second open file with a position of its own.
    const std::string path = "/proc/self/fd/" + std::to_string(fileno(f));
    FILE *ref = std::fopen(path.c_str(), "rb");
    ASSERT_NE(ref, nullptr);

    for (unsigned long capacity : {1UL, 7UL, 64UL, 1000UL, 4096UL, 65536UL}) {
        BUFFER_FILE r;
        std::rewind(f);
        ASSERT_EQ(buffer_file_init(&r, f, capacity), 1);
        ASSERT_EQ(fseeko(ref, 0, SEEK_SET), 0);
        uint64_t refPos = 0;
        std::vector<char> got, want;
        for (int step = 0; step < 3000; ++step) {
            const unsigned op = rng() % 10;
            if (op == 0) {
                const uint64_t to = rng() % (bytes.size() + 100); // sometimes past the end
                ASSERT_EQ(buffer_file_set(&r, to), 1);
                ASSERT_EQ(fseeko(ref, static_cast<off_t>(to), SEEK_SET), 0);
                refPos = to;
                continue;
            }
            const unsigned long n = op < 6 ? rng() % 8 : op < 9 ? rng() % 700 : rng() % 9000;
            got.assign(n + 1, 'X');
            want.assign(n + 1, 'X');
            // An empty buffer refills first, so even a pop of nothing fails at the end.
            const bool expectOk = n == 0 && r.valid == 0 ? refPos < bytes.size() : refPos + n <= bytes.size();
            const size_t have = std::fread(want.data(), 1, n, ref);
            refPos += have;
            const int result = buffer_file_pop(&r, got.data(), n);
            ASSERT_EQ(result, expectOk ? 1 : 0) << "capacity " << capacity << " step " << step << " n " << n;
            ASSERT_EQ(std::memcmp(got.data(), want.data(), have), 0)
                << "capacity " << capacity << " step " << step;
            ASSERT_EQ(got[have], 'X') << "wrote past the delivered bytes";
            ASSERT_EQ(r.filePos, refPos);
            ASSERT_LE(r.readPos, r.valid);
            ASSERT_LE(r.valid, r.capacity);
        }
        buffer_file_release(&r);
    }
    std::fclose(ref);
    std::fclose(f);
}

// Skipping ends where popping ends, with the same result, and a peek shows the bytes a pop
// would deliver next, in place, only when they are all buffered (it never refills). Two readers over two
// streams of one file, one popping and one peeking and skipping, stay in step across refills and the end.
TEST(BufferFile, PeekAndSkipKeepStepWithPop) {
    std::mt19937 rng(20261207);
    const std::vector<char> bytes = countingBytes(20000);
    FILE *f = fileWith(bytes);
    ASSERT_NE(f, nullptr);
    FILE *g = std::fopen(("/proc/self/fd/" + std::to_string(fileno(f))).c_str(), "rb");
    ASSERT_NE(g, nullptr);
    for (unsigned long capacity : {1UL, 7UL, 64UL, 4096UL}) {
        BUFFER_FILE popper, skipper;
        std::rewind(f);
        std::rewind(g);
        ASSERT_EQ(buffer_file_init(&popper, f, capacity), 1);
        ASSERT_EQ(buffer_file_init(&skipper, g, capacity), 1);
        std::vector<char> got;
        for (int step = 0; step < 2000; ++step) {
            const unsigned long n = rng() % 3 ? rng() % 40 : rng() % 9000;
            char *seen = buffer_file_peek(&skipper, n);
            EXPECT_EQ(seen != nullptr, n <= skipper.valid - skipper.readPos);
            got.assign(n + 1, 0);
            const int popped = buffer_file_pop(&popper, got.data(), n);
            if (seen && n > 0) { // popping nothing from an empty buffer still refills first
                ASSERT_EQ(popped, 1) << "capacity " << capacity << " step " << step;
                ASSERT_EQ(std::memcmp(seen, got.data(), n), 0) << "capacity " << capacity << " step " << step;
            }
            ASSERT_EQ(buffer_file_skip(&skipper, n), popped) << "capacity " << capacity << " step " << step;
            ASSERT_EQ(skipper.filePos, popper.filePos);
            ASSERT_EQ(skipper.readPos, popper.readPos);
            ASSERT_EQ(skipper.valid, popper.valid);
            if (rng() % 50 == 0) {
                const uint64_t to = rng() % (bytes.size() + 10);
                ASSERT_EQ(buffer_file_set(&popper, to), 1);
                ASSERT_EQ(buffer_file_set(&skipper, to), 1);
            }
        }
        buffer_file_release(&popper);
        buffer_file_release(&skipper);
    }
    std::fclose(g);
    std::fclose(f);
}

TEST(BufferFile, OffsetsBeyondFourGiB) {
    FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const uint64_t fourGiB = 1ULL << 32;
    const char marker[8] = {'B', 'E', 'Y', 'O', 'N', 'D', '4', 'G'};
    if (ftruncate(fileno(f), static_cast<off_t>(fourGiB + 4096)) != 0 ||
        pwrite(fileno(f), marker, sizeof marker, static_cast<off_t>(fourGiB + 100)) != 8) {
        std::fclose(f);
        GTEST_SKIP() << "no sparse files here";
    }
    BUFFER_FILE r;
    ASSERT_EQ(buffer_file_init(&r, f, 64), 1);
    char out[16];
    ASSERT_EQ(buffer_file_set(&r, fourGiB + 100), 1);
    ASSERT_EQ(buffer_file_pop(&r, out, 8), 1);
    EXPECT_EQ(std::memcmp(out, marker, 8), 0);
    EXPECT_EQ(r.filePos, fourGiB + 108);

    // Counting across the 4 GiB line while reading forward.
    ASSERT_EQ(buffer_file_set(&r, fourGiB - 4), 1);
    for (int i = 0; i < 14; ++i)
        ASSERT_EQ(buffer_file_pop(&r, out, 8), 1);
    EXPECT_EQ(r.filePos, fourGiB + 108);
    EXPECT_EQ(std::memcmp(out, marker, 8), 0) << "the 14th read lands on the marker";
    buffer_file_release(&r);
    std::fclose(f);
}

} // namespace
