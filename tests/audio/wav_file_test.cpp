#include "audio/an_wav_file.h"
#include "common/run_cmd.h"
#include "platform/log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using testutil::runCommand;
using testutil::TempDir;

namespace {

struct LogCapture {
    std::string text;
    LogCapture() {
        player_log_set_sink([this](const std::string &line) { text += line; });
    }
    ~LogCapture() { player_log_set_sink(nullptr); }
};

void put16(std::string &s, uint16_t v) {
    s += char(v & 0xff);
    s += char(v >> 8);
}
void put32(std::string &s, uint32_t v) {
    put16(s, uint16_t(v));
    put16(s, uint16_t(v >> 16));
}

// A WAVE file assembled by hand, chunk by chunk.
std::string wave(uint32_t fmtLen, uint16_t tag, uint16_t channels, uint32_t rate, uint16_t align,
                 uint16_t bits, const std::string &chunksAfterFmt) {
    std::string fmt;
    put16(fmt, tag);
    put16(fmt, channels);
    put32(fmt, rate);
    put32(fmt, rate * align);
    put16(fmt, align);
    put16(fmt, bits);
    fmt.resize(fmtLen, '\0');
    std::string body = "WAVEfmt ";
    put32(body, fmtLen);
    body += fmt + chunksAfterFmt;
    std::string out = "RIFF";
    put32(out, uint32_t(body.size()));
    return out + body;
}

std::string chunk(const std::string &id, const std::string &data, uint32_t declared = UINT32_MAX) {
    std::string c = id;
    put32(c, declared == UINT32_MAX ? uint32_t(data.size()) : declared);
    c += data;
    if (data.size() & 1) c += '\0';
    return c;
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(WavFile, CanonicalFileLoadsAndLogsItsFormat) {
    TempDir dir;
    std::string data;
    for (int i = 0; i < 100; ++i)
        put16(data, uint16_t(i * 300));
    writeFile(dir.file("a.wav"), wave(16, 1, 1, 8000, 2, 16, chunk("data", data)));
    LogCapture log;
    ANWAVFile w;
    ASSERT_TRUE(w.loadFromFile(dir.file("a.wav")));
    EXPECT_EQ(w.nChannels(), 1);
    EXPECT_EQ(w.nSamplesPerSec(), 8000);
    EXPECT_EQ(w.nAvgBytesPerSec(), 16000);
    EXPECT_EQ(w.nBlockAlign(), 2);
    EXPECT_EQ(w.wBitsPerSample(), 16);
    EXPECT_EQ(std::string(w.samples().begin(), w.samples().end()), data);
    EXPECT_NE(
        log.text.find("Samples per Second: 8000\n\t\t  nAvgBytesPerSec: 16000\n\t\t  nBlockAlign: 2\n\t\t  "
                      "wBitsPerSample: 16\n"),
        std::string::npos)
        << log.text;
}

TEST(WavFile, RefusesWhatItCannotPlay) {
    TempDir dir;
    struct Case {
        std::string bytes, message;
    } cases[] = {
        {wave(18, 1, 1, 8000, 2, 16, chunk("data", "ab")), "ERROR, invalid format length"},
        {wave(16, 7, 1, 8000, 1, 8, chunk("data", "ab")), "Unsupported format: 7"},
        {wave(16, 1, 3, 8000, 6, 16, chunk("data", "ab")), "Only support mono or sterio audio not 3"},
        {wave(16, 1, 0, 8000, 0, 16, chunk("data", "ab")), "Invalid WAVE format"},
        {wave(16, 1, 2, 0, 4, 16, chunk("data", "ab")), "Invalid WAVE format"},
        {wave(16, 1, 2, 8000, 3, 16, chunk("data", "ab")), "Invalid WAVE format"},
        {"RIFX" + wave(16, 1, 1, 8000, 2, 16, chunk("data", "ab")).substr(4), "Not a WAVE file"},
        {wave(16, 1, 1, 8000, 2, 16, chunk("LIST", "xyz")), "No data chunk"},
        {wave(16, 1, 1, 8000, 2, 16, "").substr(0, 30), "Truncated WAVE header"},
    };
    for (const auto &c : cases) {
        writeFile(dir.file("bad.wav"), c.bytes);
        LogCapture log;
        ANWAVFile w;
        EXPECT_FALSE(w.loadFromFile(dir.file("bad.wav"))) << c.message;
        EXPECT_NE(log.text.find(c.message), std::string::npos)
            << "expected '" << c.message << "', got " << log.text;
    }
    ANWAVFile w;
    EXPECT_FALSE(w.loadFromFile(dir.file("missing.wav")));
}

TEST(WavFile, SkipsOtherChunksAndClampsTheDataLength) {
    TempDir dir;
    // An odd-sized chunk before the data must be skipped with its pad byte.
    std::string bytes = wave(16, 1, 1, 8000, 1, 8, chunk("LIST", "odd") + chunk("data", "0123456789", 1000));
    writeFile(dir.file("c.wav"), bytes);
    ANWAVFile w;
    ASSERT_TRUE(w.loadFromFile(dir.file("c.wav")));
    EXPECT_EQ(std::string(w.samples().begin(), w.samples().end()), "0123456789");
    EXPECT_EQ(w.dataForNumberSamples(4).size(), 4u);
    EXPECT_EQ(w.dataForNumberSamples(1 << 30).size(), 10u);
    EXPECT_TRUE(w.dataForNumberSamples(-3).empty());
}

TEST(WavFile, NumberOfSamples) {
    TempDir dir;
    // 100,000 mono 8-bit frames at 8000 per second.
    writeFile(dir.file("n.wav"), wave(16, 1, 1, 8000, 1, 8, chunk("data", std::string(100000, 'x'))));
    ANWAVFile w;
    EXPECT_EQ(w.numberOfSamples(2.5f), 0); // nothing loaded: no division by zero
    EXPECT_TRUE(w.dataForNumberSamples(10).empty());
    ASSERT_TRUE(w.loadFromFile(dir.file("n.wav")));
    EXPECT_EQ(w.numberOfSamples(2.5f), 20000);
    EXPECT_EQ(w.numberOfSamples(12.0f), 96000);
    EXPECT_EQ(w.numberOfSamples(12.5f), 100000); // past 12 whole seconds: everything
    EXPECT_EQ(w.numberOfSamples(20.0f), 100000);
}

TEST(WavFile, LittleEndianReadersGiveShortDataAtTheEnd) {
    TempDir dir;
    writeFile(dir.file("b"), std::string("\x34\x12\x78\x56\x34\x12"
                                         "ABCDx",
                                         11));
    FILE *fp = fopen(dir.file("b").c_str(), "rb");
    ASSERT_TRUE(fp);
    EXPECT_EQ(ANWAVFile::nextShort(fp), 0x1234);
    EXPECT_EQ(ANWAVFile::nextInt(fp), 0x12345678u);
    EXPECT_EQ(ANWAVFile::nextFourBytes(fp), "ABCD");
    EXPECT_EQ(ANWAVFile::nextInt(fp), uint32_t('x'));
    EXPECT_TRUE(feof(fp));
    fclose(fp);
}

// Files written by ffmpeg, checked against what ffprobe and ffmpeg read from them.
TEST(WavFileOracle, FfmpegFilesMatchFfprobeAndFfmpeg) {
    if (!testutil::haveTool("ffmpeg") || !testutil::haveTool("ffprobe"))
        GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    struct Case {
        int channels;
        const char *codec, *raw;
        bool bitexact;
    } cases[] = {{1, "pcm_s16le", "s16le", false},
                 {2, "pcm_s16le", "s16le", true},
                 {1, "pcm_u8", "u8", true},
                 {2, "pcm_u8", "u8", false}};
    for (const auto &c : cases) {
        std::string wav = dir.file("t.wav"), raw = dir.file("t.raw");
        std::string flags = c.bitexact ? " -fflags +bitexact -flags:a +bitexact" : "";
        ASSERT_EQ(
            runCommand("ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:sample_rate=11025:duration=0.7' "
                       "-ac " +
                       std::to_string(c.channels) + " -c:a " + c.codec + flags + " " + wav),
            0);
        ASSERT_EQ(runCommand("ffmpeg -v error -y -i " + wav + " -f " + c.raw + " -c:a copy " + raw), 0);
        std::string probe;
        ASSERT_EQ(runCommand("ffprobe -v error -select_streams a:0 -show_entries "
                             "stream=sample_rate,channels,bits_per_sample,block_align -of default=nw=1 " +
                                 wav,
                             &probe),
                  0);
        ANWAVFile w;
        ASSERT_TRUE(w.loadFromFile(wav)) << c.codec;
        EXPECT_NE(probe.find("sample_rate=" + std::to_string(w.nSamplesPerSec())), std::string::npos)
            << probe;
        EXPECT_NE(probe.find("channels=" + std::to_string(w.nChannels())), std::string::npos) << probe;
        EXPECT_NE(probe.find("bits_per_sample=" + std::to_string(w.wBitsPerSample())), std::string::npos)
            << probe;
        EXPECT_EQ(w.nChannels(), c.channels);
        std::string expected = readFile(raw);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(std::string(w.samples().begin(), w.samples().end()) == expected)
            << c.codec << " samples differ";
    }
    // u-law (format length 18) and 24-bit (extensible, 40) are refused by their length.
    for (const char *codec : {"pcm_mulaw", "pcm_s24le"}) {
        std::string wav = dir.file(std::string(codec) + ".wav");
        ASSERT_EQ(runCommand("ffmpeg -v error -y -f lavfi -i 'sine=duration=0.1' -c:a " + std::string(codec) +
                             " " + wav),
                  0);
        LogCapture log;
        ANWAVFile w;
        EXPECT_FALSE(w.loadFromFile(wav)) << codec;
        EXPECT_NE(log.text.find("ERROR, invalid format length"), std::string::npos)
            << codec << ": " << log.text;
    }
}
