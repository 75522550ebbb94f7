#pragma once
// Helpers for the AVI builder tests: temporary folders, files, commands, and a structural
// reader that checks the sizes and the index of a finished file against its chunks.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "avi/ANAVIFrameBuilder.h"
#include "common/run_cmd.h"
#include "recorderfile/audio_format.h"

namespace avitest {

using testutil::TempDir;

inline bool exists(const std::string &p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

inline std::vector<uint8_t> readFile(const std::string &p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string &p) {
    std::vector<uint8_t> d = readFile(p);
    return std::string(d.begin(), d.end());
}

inline void writeFile(const std::string &p, const std::string &content) {
    std::ofstream f(p, std::ios::binary);
    f << content;
}

inline uint32_t le32(const std::vector<uint8_t> &d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
}

inline std::string code(const std::vector<uint8_t> &d, size_t at) {
    return std::string(reinterpret_cast<const char *>(d.data() + at), 4);
}

// Runs a shell command, returns its standard output; *status gets the exit status.
inline std::string run(const std::string &cmd, int *status = nullptr) {
    std::string out;
    int st = testutil::runCommand(cmd, &out);
    if (status) *status = st;
    return out;
}

inline std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

inline _SYSTEMTIME recorderTime(int y, int mo, int d, int h, int mi, int s) {
    _SYSTEMTIME t{};
    t.wYear = uint16_t(y);
    t.wMonth = uint16_t(mo);
    t.wDay = uint16_t(d);
    t.wHour = uint16_t(h);
    t.wMinute = uint16_t(mi);
    t.wSecond = uint16_t(s);
    return t;
}

struct Chunk {
    std::string code;
    uint32_t offset; // of the chunk header in the file
    uint32_t size;
};

struct IndexRow {
    std::string code;
    uint32_t flags, offset, length;
};

struct AviLayout {
    std::vector<Chunk> chunks;
    std::vector<IndexRow> rows;
    uint32_t totalFrames = 0; // avih
    uint32_t videoLength = 0; // video strh
};

// Walks a finished file; every size must agree with what follows it and every index row with
// its chunk, in order. Failures are reported through gtest.
inline AviLayout walk(const std::vector<uint8_t> &d) {
    AviLayout out;
    EXPECT_GE(d.size(), 2056u);
    if (d.size() < 2056) return out;
    EXPECT_EQ(code(d, 0), "RIFF");
    EXPECT_EQ(le32(d, 4), d.size() - 8);
    EXPECT_EQ(code(d, 8), "AVI ");
    EXPECT_EQ(code(d, 2036), "LIST");
    EXPECT_EQ(code(d, 2044), "movi");
    out.totalFrames = le32(d, 48);
    out.videoLength = le32(d, 140);
    const size_t moviEnd = 2044 + size_t(le32(d, 2040));
    EXPECT_LE(moviEnd + 8, d.size());
    if (moviEnd + 8 > d.size()) return out;
    size_t at = 2048;
    while (at + 8 <= moviEnd) {
        Chunk c{code(d, at), uint32_t(at), le32(d, at + 4)};
        out.chunks.push_back(c);
        at += 8 + size_t(c.size) + (c.size & 1);
    }
    EXPECT_EQ(at, moviEnd) << "chunks overrun the movi list";
    EXPECT_EQ(code(d, moviEnd), "idx1");
    const uint32_t idxSize = le32(d, moviEnd + 4);
    EXPECT_EQ(moviEnd + 8 + idxSize, d.size());
    EXPECT_EQ(idxSize % 16, 0u);
    for (size_t r = moviEnd + 8; r + 16 <= d.size(); r += 16)
        out.rows.push_back({code(d, r), le32(d, r + 4), le32(d, r + 8), le32(d, r + 12)});
    EXPECT_EQ(out.rows.size(), out.chunks.size());
    for (size_t i = 0; i < out.rows.size() && i < out.chunks.size(); ++i) {
        EXPECT_EQ(out.rows[i].code, out.chunks[i].code) << "row " << i;
        EXPECT_EQ(out.rows[i].offset, out.chunks[i].offset) << "row " << i;
        EXPECT_EQ(out.rows[i].length, out.chunks[i].size) << "row " << i;
    }
    size_t video = 0;
    for (const Chunk &c : out.chunks)
        video += c.code == "00dc";
    EXPECT_EQ(out.totalFrames, video);
    EXPECT_EQ(out.videoLength, video);
    return out;
}

} // namespace avitest
