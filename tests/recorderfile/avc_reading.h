// Test helper: reads a whole AVC recording the way the parser does (main
// header, then frame records until a short read), stripping prefixes and
// classifying every frame, and keeps what each step gave.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/mkrec_fixture.h"
#include "recorderfile/avc_format.h"
#include "recorderfile/avc_index.h"

namespace avcread {

constexpr unsigned long kFrameBuffer = 2073600;   // the parser's frame buffer
constexpr unsigned long kReaderBuffer = 0x200000; // the parser's file buffer

struct Frame {
    uint64_t offset = 0;
    int result = 0;
    HEADER_FRAME header{};
    unsigned long payloadLen = 0;
    int stripResult = 0;
    long stripped = 0;
    std::vector<uint8_t> es;
    int key = 0;
    uint32_t entryType = 0;
    unsigned short width = 0, height = 0; // after fix_width_hight
};

struct File {
    bool opened = false;
    int headerResult = -1;
    unsigned long headerLen = 0;
    HEADER_MAIN_EX main{};
    std::vector<Frame> frames;
    int endResult = -1; // the result that ended the reading
    uint64_t endPos = 0;
    ~File() { release_main_header(&main); }
};

// Reads path; stops at the first result 0 (or after maxFrames).
inline std::unique_ptr<File> readAll(const std::string &path, size_t maxFrames = 1000000,
                                     unsigned long frameBuffer = kFrameBuffer) {
    auto out = std::make_unique<File>();
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp) return out;
    BUFFER_FILE reader{};
    if (buffer_file_init(&reader, fp, kReaderBuffer) != 1) {
        std::fclose(fp);
        return out;
    }
    out->opened = true;
    out->headerResult = parse_main_header(&reader, &out->main, &out->headerLen);
    if (out->headerResult == 1) {
        std::unique_ptr<char[]> buf(new char[frameBuffer]);
        unsigned long pos = out->headerLen;
        while (out->frames.size() < maxFrames) {
            Frame f;
            f.offset = pos;
            f.result = get_avc_frame(&reader, &f.header, buf.get(), frameBuffer, &pos);
            if (f.result == AVC_READ_SHORT) {
                out->endResult = 0;
                break;
            }
            f.payloadLen = f.header.dwLength;
            char *es = nullptr;
            unsigned long esLen = 0;
            f.stripResult = fix_avc_frame(buf.get(), f.payloadLen, &es, &esLen, out->main.main.byVersion);
            f.stripped = es - buf.get();
            f.es.assign(es, es + esLen);
            f.width = f.header.wWidth;
            f.height = f.header.wHeight;
            fix_width_hight(es, esLen, f.header.byStreamType, &f.width, &f.height);
            f.key = check_i_frame(es, esLen, f.header.byStreamType);
            f.entryType = check_mapping_table_type(es, esLen, f.header.byStreamType);
            out->frames.push_back(std::move(f));
        }
    }
    out->endPos = reader.filePos;
    buffer_file_release(&reader);
    std::fclose(fp);
    return out;
}

// buildIndex's result for a total frame count the file cannot hold (a flipped
// header): the table is not allocated, as the parser refuses such a file.
constexpr int kTotalRefused = -2;

struct Built {
    int result = -1;
    unsigned long total = 0;
    unsigned long built = 0;
    std::vector<MAPPING_TABLE> table;
};

// Reads the main header of path and builds its index (writing idxPath when given).
inline Built buildIndex(const std::string &path, const std::string &idxPath,
                        unsigned long readerBuffer = kReaderBuffer) {
    Built b;
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (!fp) return b;
    BUFFER_FILE reader{};
    HEADER_MAIN_EX main{};
    unsigned long headerLen = 0;
    if (buffer_file_init(&reader, fp, readerBuffer) == 1 &&
        parse_main_header(&reader, &main, &headerLen) == 1) {
        b.total = main.main.dwTotalFrames;
        std::fseek(fp, 0, SEEK_END);
        const long size = std::ftell(fp);
        // A frame record takes at least 6 bytes.
        if (b.total > static_cast<unsigned long>(size) / 6 + 1) {
            b.result = kTotalRefused;
            release_main_header(&main);
            buffer_file_release(&reader);
            std::fclose(fp);
            return b;
        }
        b.table.assign(b.total ? b.total : 1, MAPPING_TABLE{0, 0});
        std::unique_ptr<char[]> buf(new char[kFrameBuffer]);
        b.result = build_mapping_table(&reader, headerLen, b.total, main.main.byVersion, buf.get(),
                                       kFrameBuffer, b.table.data(), &b.built,
                                       idxPath.empty() ? nullptr : idxPath.c_str(), nullptr, nullptr);
    }
    release_main_header(&main);
    buffer_file_release(&reader);
    std::fclose(fp);
    return b;
}

// Loads idxPath and asks whether it may be trusted for the recording at path.
// -1: could not load; else the check's answer.
inline int loadAndCheck(const std::string &path, const std::string &idxPath, unsigned long *count = nullptr) {
    FILE *idx = std::fopen(idxPath.c_str(), "rb");
    if (!idx) return -1;
    MAPPING_TABLE *table = nullptr;
    unsigned long n = 0;
    const int loaded = get_mapping_table(&table, idx, &n);
    std::fclose(idx);
    if (count) *count = n;
    if (loaded != 1) return -1;
    int trusted = -1;
    FILE *fp = std::fopen(path.c_str(), "rb");
    if (fp) {
        BUFFER_FILE reader{};
        HEADER_MAIN_EX main{};
        unsigned long headerLen = 0;
        if (buffer_file_init(&reader, fp, kReaderBuffer) == 1 &&
            parse_main_header(&reader, &main, &headerLen) == 1) {
            std::fseek(fp, 0, SEEK_END);
            const long size = std::ftell(fp);
            trusted = check_mapping_table(table, n, main.main.dwTotalFrames, headerLen,
                                          static_cast<uint64_t>(size), &reader);
        }
        release_main_header(&main);
        buffer_file_release(&reader);
        std::fclose(fp);
    }
    std::free(table);
    return trusted;
}

} // namespace avcread
