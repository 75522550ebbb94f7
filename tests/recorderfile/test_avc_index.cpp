// The frame index: ".idx" loading and writing, validation against the
// recording, key-entry searches and the build over a hand-made recording.
#include "recorderfile/avc_index.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/run_cmd.h"
#include "recorderfile/avc_format.h"
#include "recorderfile/byte_file.h"

namespace {

struct Entry {
    uint64_t offset;
    uint32_t type;
};

// The 36-byte record as the format lays it out; junk in the fields that are
// never read back proves the loader reads only bytes 8 to 15.
Bytes idxRecord(uint32_t offset, uint32_t type, bool junk = false) {
    Bytes b;
    b.u32(junk ? 0xDEADBEEF : 0).u32(junk ? 0x12345678 : 0).u32(offset).u32(type);
    b.fill(16, junk ? 0x5A : 0).u8(junk ? 1 : 0).u8(junk ? 2 : 0).u16(junk ? 3 : 0);
    return b;
}

Bytes idxBytes(const std::vector<Entry> &entries) {
    Bytes b;
    for (const Entry &e : entries)
        b.append(idxRecord(static_cast<uint32_t>(e.offset), e.type));
    return b;
}

using testutil::TempDir;

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Loaded {
    int result = -1;
    MAPPING_TABLE *table = nullptr;
    unsigned long count = 777;
    ~Loaded() { std::free(table); }
};

void load(const Bytes &bytes, Loaded &out) {
    ByteFile f(bytes.vec());
    out.result = get_mapping_table(&out.table, f.file(), &out.count);
}

} // namespace

TEST(IndexLoad, RecordsAndPartialFiles) {
    {
        Bytes b;
        for (uint32_t i = 0; i < 300; ++i)
            b.append(idxRecord(82 + i * 1000, i % 3 ? 0x1002 : 0x1001, true));
        Loaded l;
        load(b, l);
        ASSERT_EQ(l.result, 1);
        ASSERT_EQ(l.count, 300u) << "more records than one read of 128 takes";
        for (uint32_t i = 0; i < 300; ++i) {
            EXPECT_EQ(l.table[i].qwOffset, 82u + i * 1000);
            EXPECT_EQ(l.table[i].dwType, i % 3 ? 0x1002u : 0x1001u);
        }
    }
    {
        // 40 bytes: one record and the start of another, as an interrupted write leaves it.
        Bytes b = idxRecord(82, 0x1001);
        b.u32(0);
        Loaded l;
        MAPPING_TABLE sentinel{};
        l.table = &sentinel;
        load(b, l);
        EXPECT_EQ(l.result, 0);
        EXPECT_EQ(l.table, &sentinel) << "nothing stored";
        l.table = nullptr;
    }
    {
        Loaded l;
        EXPECT_EQ(get_mapping_table(&l.table, nullptr, &l.count), 0);
        EXPECT_EQ(l.table, nullptr);
    }
}

TEST(IndexSearch, NextAndLast) {
    const std::vector<uint32_t> types = {0x1001, 0x1002, 0x1002, 0x8001, 0x1002, 0x1002,
                                         0x8001, 0x1001, 0x1002, 0x0000, 0x1002, 0x8004};
    std::vector<MAPPING_TABLE> t;
    for (uint32_t ty : types)
        t.push_back({0, ty});
    const unsigned long n = t.size();
    unsigned long idx = 99;
    EXPECT_EQ(seek_i_index_next(t.data(), n, 5, &idx), 1);
    EXPECT_EQ(idx, 7u);
    EXPECT_EQ(seek_i_index_next(t.data(), n, 7, &idx), 1);
    EXPECT_EQ(idx, 7u) << "at or after";
    EXPECT_EQ(seek_i_index_next(t.data(), n, 8, &idx), 1);
    EXPECT_EQ(idx, 9u) << "type 0 is a key entry";
    idx = 99;
    EXPECT_EQ(seek_i_index_next(t.data(), n, 10, &idx), 0) << "audio entries are never key entries";
    EXPECT_EQ(idx, 0u);
    idx = 99;
    EXPECT_EQ(seek_i_index_next(t.data(), n, n, &idx), 0);
    EXPECT_EQ(idx, 0u);
    EXPECT_EQ(seek_i_index_next(t.data(), 5, 2, &idx), 0) << "count bounds the search";

    unsigned long num = 0;
    for (unsigned long from : {0ul, 1ul}) {
        EXPECT_EQ(seek_i_index_last(t.data(), n, from, &num), 1);
        EXPECT_EQ(num, 1u);
    }
    EXPECT_EQ(seek_i_index_last(t.data(), n, 7, &num), 1);
    EXPECT_EQ(num, 1u) << "index 6 down to the key entry at 0";
    seek_i_index_last(t.data(), n, 8, &num);
    EXPECT_EQ(num, 8u);
    seek_i_index_last(t.data(), n, 12, &num);
    EXPECT_EQ(num, 10u);
    seek_i_index_last(t.data(), n, 1000, &num);
    EXPECT_EQ(num, 10u) << "a start past the table is bounded by count";

    std::vector<MAPPING_TABLE> keysAt0And6(20, MAPPING_TABLE{0, 0x1002});
    keysAt0And6[0].dwType = 0x1001;
    keysAt0And6[6].dwType = 0x1001;
    seek_i_index_last(keysAt0And6.data(), 20, 10, &num);
    EXPECT_EQ(num, 7u);

    std::vector<MAPPING_TABLE> noKeys(10, MAPPING_TABLE{0, 0x8001});
    num = 0;
    EXPECT_EQ(seek_i_index_last(noKeys.data(), 10, 9, &num), 1);
    EXPECT_EQ(num, 1u) << "no key entry below: the first frame";
}

TEST(IndexWriter, BlocksTemporaryNameAndLimits) {
    TempDir dir;
    std::string idx;
    for (unsigned long records : {300ul, 256ul, 1ul}) {
        idx = dir.file("rec" + std::to_string(records) + ".idx");
        MappingTableWriter w;
        ASSERT_EQ(w.open(idx), 1);
        std::vector<Entry> expect;
        for (unsigned long i = 0; i < records; ++i) {
            const Entry e{82 + i * 4096, i % 30 == 0 ? 0x1001u : 0x1002u};
            expect.push_back(e);
            ASSERT_EQ(w.append(e.offset, e.type), 1);
        }
        EXPECT_FALSE(exists(idx)) << "nothing under the real name before the build is complete";
        ASSERT_EQ(w.commit(), 1);
        EXPECT_FALSE(exists(idx + ".tmp"));
        const auto bytes = readAll(idx);
        EXPECT_EQ(bytes.size(), records * 36);
        EXPECT_EQ(bytes, idxBytes(expect).vec());
    }
    {
        // An abandoned build leaves the existing index alone and no temporary file.
        const auto before = readAll(idx);
        {
            MappingTableWriter w;
            ASSERT_EQ(w.open(idx), 1);
            w.append(82, 0x1001);
        }
        EXPECT_EQ(readAll(idx), before);
        EXPECT_FALSE(exists(idx + ".tmp"));
    }
    {
        // Offsets at 4 GiB do not fit the file's 32-bit field: no file at all.
        const std::string big = dir.file("big.idx");
        MappingTableWriter w;
        ASSERT_EQ(w.open(big), 1);
        EXPECT_EQ(w.append(0xFFFFFFF0ull, 0x1001), 1);
        EXPECT_EQ(w.append(0x100000000ull, 0x1002), 0);
        EXPECT_EQ(w.commit(), 0);
        EXPECT_FALSE(exists(big));
        EXPECT_FALSE(exists(big + ".tmp"));
    }
    {
        MappingTableWriter w;
        EXPECT_EQ(w.open(dir.file("no/such/folder.idx")), 0);
        EXPECT_EQ(w.append(82, 0), 0);
        EXPECT_EQ(w.commit(), 0);
    }
}

namespace {

// A small recording laid out by hand: a flags-0 main header (82 bytes) and
// frame records whose offsets the builder below records as it appends them.
struct Recording {
    Bytes bytes;
    std::vector<Entry> entries; // the index it should get
    unsigned long total = 0;

    Recording() {
        Bytes head;
        head.fill(48).u32(0).fill(6).u8(9).u8(0).fill(16).u32(0).u16(0); // 80 + trailing
        bytes = head;
    }
    void frame(uint32_t number, uint8_t type, const std::vector<uint8_t> &payload, uint32_t entryType) {
        entries.push_back({bytes.size(), entryType});
        bytes.u32(0x1 | 0x2 | 0x20 | 0x80)
            .u32(number)
            .u32(static_cast<uint32_t>(payload.size()))
            .u8(1)
            .u8(type);
        bytes.u16(0).raw(payload);
    }
    void setTotal(unsigned long t) {
        total = t;
        bytes.vec()[48] = static_cast<uint8_t>(t);
        bytes.vec()[49] = static_cast<uint8_t>(t >> 8);
        bytes.vec()[50] = static_cast<uint8_t>(t >> 16);
        bytes.vec()[51] = static_cast<uint8_t>(t >> 24);
    }
};

std::vector<uint8_t> withPrefix(const std::vector<uint8_t> &es) {
    // A version-9 1F 0F prefix without extend info: 44 bytes.
    Bytes b;
    b.u8(0).u8(0).u8(0).u8(1).u8(0x1F).u8(0x0F).fill(16, 0x11).u8(0).fill(21, 0x11).raw(es);
    return b.vec();
}

const std::vector<uint8_t> kSps = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0, 0, 0, 1, 0x65, 0x88};
const std::vector<uint8_t> kSlice = {0, 0, 0, 1, 0x41, 0x9A, 0x10, 0x20};

// Frame numbers that are out of order, 0 and far out of range: the index
// follows positions in the file.
Recording mixedRecording() {
    Recording r;
    r.frame(1, 8, withPrefix(kSps), 0x1001);
    r.frame(0, 6, std::vector<uint8_t>(160, 0x7F), 0x8001);
    r.frame(9999, 8, withPrefix(kSlice), 0x1002);
    r.frame(3, 2, {0xFF, 0xD8, 0xFF, 0xD9}, 0);
    r.frame(2, 9, std::vector<uint8_t>(60, 0x33), 0x8004);
    r.frame(6, 1, {0, 0, 1, 0xB6, 0x10, 0x55}, 0x1001);
    r.frame(7, 1, {0, 0, 1, 0xB6, 0x50, 0x55}, 0x1002);
    r.frame(8, 3, {1, 2, 3}, 0x8000);
    r.frame(9, 10, std::vector<uint8_t>(32, 0), 0x8008);
    r.frame(10, 11, std::vector<uint8_t>(32, 0), 0x8010);
    r.frame(11, 7, std::vector<uint8_t>(16, 0x80), 0x8002);
    r.frame(12, 8, std::vector<uint8_t>(3000, 0x44), 0x1002); // too large for the buffer below
    r.frame(13, 8, kSps, 0x1001);
    r.setTotal(13);
    return r;
}

struct Build {
    int result = -1;
    unsigned long built = 0;
    std::vector<MAPPING_TABLE> table;
    uint64_t readerPos = 0;
};

Build build(const Recording &r, const std::string &idxPath, unsigned long stopAfter = 0) {
    ByteFile f(r.bytes.vec(), 100);
    EXPECT_TRUE(f.ok());
    Build b;
    b.table.assign(r.total, MAPPING_TABLE{0xEEEE, 0xEEEE});
    std::vector<char> frame(2048);
    struct Stop {
        unsigned long after;
        unsigned long calls = 0;
    } stop{stopAfter};
    auto progress = [](void *user, unsigned long built) -> int {
        auto *s = static_cast<Stop *>(user);
        ++s->calls;
        EXPECT_EQ(built, s->calls);
        return s->after && built >= s->after;
    };
    b.result = build_mapping_table(f.reader(), 82, r.total, 9, frame.data(), frame.size(), b.table.data(),
                                   &b.built, idxPath.empty() ? nullptr : idxPath.c_str(), progress, &stop);
    b.readerPos = f.reader()->filePos;
    return b;
}

} // namespace

TEST(IndexBuild, ByPositionStoppedAndOverfull) {
    TempDir dir;
    {
        const Recording r = mixedRecording();
        const Build b = build(r, "");
        ASSERT_EQ(b.result, 1);
        ASSERT_EQ(b.built, r.entries.size());
        EXPECT_EQ(b.readerPos, 82u) << "the reader goes back to the first frame record";
        for (size_t i = 0; i < r.entries.size(); ++i) {
            EXPECT_EQ(b.table[i].qwOffset, r.entries[i].offset) << "entry " << i;
            EXPECT_EQ(b.table[i].dwType, r.entries[i].type) << "entry " << i;
        }
    }
    {
        const std::string idx = dir.file("stopped.idx");
        const Build b = build(mixedRecording(), idx, 4);
        EXPECT_EQ(b.result, 0);
        EXPECT_EQ(b.built, 4u);
        EXPECT_FALSE(exists(idx)) << "a build that was stopped leaves no index";
        EXPECT_FALSE(exists(idx + ".tmp"));
    }
    {
        // More records than the header's total: the table is never overrun.
        Recording r = mixedRecording();
        r.setTotal(5);
        const std::string idx = dir.file("more.idx");
        const Build b = build(r, idx);
        EXPECT_EQ(b.result, 1);
        EXPECT_EQ(b.built, 5u);
        EXPECT_EQ(readAll(idx), idxBytes(std::vector<Entry>(r.entries.begin(), r.entries.begin() + 5)).vec());
    }
}

namespace {

int check(const Recording &r, std::vector<Entry> entries, unsigned long total, size_t fileSize = 0) {
    std::vector<MAPPING_TABLE> t;
    for (const Entry &e : entries)
        t.push_back({e.offset, e.type});
    ByteFile f(r.bytes.vec(), 64);
    const int result =
        check_mapping_table(t.data(), t.size(), total, 82, fileSize ? fileSize : r.bytes.size(), f.reader());
    EXPECT_EQ(f.reader()->filePos, 82u);
    return result;
}

} // namespace

TEST(IndexCheck, TrustedOnlyWhenItFits) {
    const Recording r = mixedRecording();
    const auto &e = r.entries;
    EXPECT_EQ(check(r, e, r.total), 1);

    auto without = [&](size_t n) { return std::vector<Entry>(e.begin(), e.begin() + static_cast<long>(n)); };
    EXPECT_EQ(check(r, without(12), r.total), 0) << "an interrupted build: a complete record follows";
    EXPECT_EQ(check(r, {}, r.total), 0) << "no entries";
    EXPECT_EQ(check(r, e, r.total - 1), 0) << "more entries than frames";

    auto changed = e;
    changed[0].offset = 80;
    EXPECT_EQ(check(r, changed, r.total), 0) << "first offset is not the header length";
    changed = e;
    changed[5].offset = changed[4].offset;
    EXPECT_EQ(check(r, changed, r.total), 0) << "offsets not strictly increasing";
    changed = e;
    changed[12].offset = r.bytes.size() + 10;
    EXPECT_EQ(check(r, changed, r.total), 0) << "offset outside the file";
    changed = e;
    changed[7].offset += 1;
    EXPECT_EQ(check(r, changed, r.total), 0) << "records do not follow each other";

    // The index of another recording with the same frame count: one payload
    // 40 bytes longer moves every later record.
    Recording other;
    const Recording same = mixedRecording();
    for (size_t i = 0; i < same.entries.size(); ++i) {
        const size_t start = same.entries[i].offset;
        const size_t end = i + 1 < same.entries.size() ? same.entries[i + 1].offset : same.bytes.size();
        Bytes rec;
        rec.raw(std::vector<uint8_t>(same.bytes.vec().begin() + static_cast<long>(start),
                                     same.bytes.vec().begin() + static_cast<long>(end)));
        other.entries.push_back({other.bytes.size(), same.entries[i].type});
        if (i == 1) { // the u-law record: 160 bytes become 200
            rec.vec()[8] = 200;
            rec.fill(40, 0x7F);
        }
        other.bytes.append(rec);
    }
    other.setTotal(same.total);
    EXPECT_EQ(check(other, other.entries, other.total), 1);
    EXPECT_EQ(check(other, e, other.total), 0) << "stale index of a different recording";
    changed = e;
    changed[3].type = 0x4242;
    EXPECT_EQ(check(r, changed, r.total), 0) << "not an entry type";

    // A truncated recording: the index of its complete records is trusted,
    // whether the data ends right after the last one or inside the next.
    auto cutAt = [](size_t size) {
        Recording c = mixedRecording();
        c.bytes.vec().resize(size);
        return c;
    };
    EXPECT_EQ(check(cutAt(e[9].offset), without(9), r.total), 1);
    EXPECT_EQ(check(cutAt(e[9].offset), without(8), r.total), 0);
    EXPECT_EQ(check(cutAt(e[9].offset + 20), without(9), r.total), 1);
    EXPECT_EQ(check(cutAt(e[9].offset + 5), without(9), r.total), 1);
    EXPECT_EQ(check(cutAt(e[9].offset - 1), without(9), r.total), 0) << "the last indexed record is cut";
}

TEST(IndexCheck, ManyRecordsSampled) {
    Recording r;
    for (uint32_t i = 0; i < 500; ++i)
        r.frame(i + 1, 6, std::vector<uint8_t>(10 + i % 7, 0x7F), 0x8001);
    r.setTotal(500);
    EXPECT_EQ(check(r, r.entries, r.total), 1);

    // Records 250 to 260 are 3 bytes off in the middle of an otherwise
    // fitting index.
    auto shifted = r.entries;
    for (size_t i = 250; i <= 260; ++i)
        shifted[i].offset += 3;
    EXPECT_EQ(check(r, shifted, r.total), 0);
}
