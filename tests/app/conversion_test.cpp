// Recordings of every kind converted through the sheet, the open panel and the channel panel,
// with the real engines feeding the conversion; FFmpeg's tools read what came out.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/OsdTextLayer.h"
#include "common/run_cmd.h"
#include "conversion_harness.h"
#include "snapshot_fixtures.h"

using namespace convtest;

namespace {

std::string run(const std::string &cmd) {
    std::string out;
    testutil::runCommand(cmd, &out);
    return out;
}

std::map<std::string, std::string> probe(const std::string &file, const char *stream) {
    std::map<std::string, std::string> m;
    std::istringstream in(
        run(std::string("ffprobe -v error -select_streams ") + stream +
            " -show_entries stream=codec_name,codec_tag_string,r_frame_rate,time_base,nb_frames,"
            "sample_rate,width,height -of default=noprint_wrappers=1 '" +
            file + "'"));
    for (std::string l; std::getline(in, l);) {
        const size_t eq = l.find('=');
        if (eq != std::string::npos) m[l.substr(0, eq)] = l.substr(eq + 1);
    }
    return m;
}

// The MD5 of every video packet of the AVI, copied without decoding (empty chunks have none).
std::vector<std::string> packetMd5s(const std::string &avi) {
    std::vector<std::string> out;
    std::istringstream in(
        run("ffmpeg -nostdin -v error -i '" + avi + "' -map 0:v -c copy -f framemd5 - 2>/dev/null"));
    for (std::string l; std::getline(in, l);) {
        if (l.empty() || l[0] == '#') continue;
        const size_t comma = l.rfind(',');
        size_t start = comma + 1;
        while (start < l.size() && l[start] == ' ')
            ++start;
        out.push_back(l.substr(start));
    }
    return out;
}

bool exists(const std::string &p) {
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

struct Kind {
    const char *name;
    std::vector<std::string> mkrec; // options after --kind
    const char *ext;
    uint32_t videoMask, audioMask;
    int channel;      // channel chosen on the panel (1-based), 0 = none shown
    int audioOnPanel; // audio channel chosen on the panel
    const char *tag;  // codec tag in the AVI
    bool audioOff;    // the settings leave the audio out
    bool mpeg4, dvr700;
};

void PrintTo(const Kind &k, std::ostream *os) {
    *os << k.name;
}

class ConversionEndToEnd : public ::testing::TestWithParam<Kind> {};

TEST_P(ConversionEndToEnd, FileBecomesAviWithSubtitlesThroughThePanels) {
    const Kind &k = GetParam();
    mkrec::TempDir dir;
    std::vector<std::string> args = k.mkrec;
    mkrec::Recording rec = mkrec::make(dir, std::string("rec.") + k.ext, args);
    ASSERT_TRUE(rec.ok()) << rec.output;
    const std::string folder = dir.file("AVI/out");
    // An earlier conversion of the same name is never touched.
    const std::string baseName = k.channel ? "rec_CH" + std::to_string(k.channel) : "rec";
    ASSERT_EQ(mkdir(dir.file("AVI").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    { std::ofstream(folder + "/" + baseName + ".avi.srt") << "earlier subtitles"; }

    Rig rig;
    rig.setSettings(folder, k.audioOff);
    // Something else plays: the sheet asks first, "NO, select the other file." opens the panel.
    rig.delegate->setAbsoluteFilePath("/elsewhere/playing.dv5");
    rig.delegate->setPlayerState(0);
    rig.conversion->openPlaybackFileAndConvertToAVI();
    ASSERT_EQ(rig.sheets.sheets.size(), 1u);
    EXPECT_EQ(rig.sheets.sheets[0].message, QString("Convert current file to AVI?"));
    EXPECT_EQ(rig.sheets.sheets[0].buttons, QStringList({"YES.", "NO, select the other file.", "Cancel."}));
    rig.sheets.answer(1001);
    ASSERT_TRUE(rig.choose(QString::fromStdString(rec.path)));

    if (k.channel) {
        ASSERT_TRUE(serveEventsUntil([&] { return rig.delegate->channelSelectionPanel()->isVisible(); }));
        EXPECT_FALSE(rig.started()) << "nothing starts before the channel is chosen";
        QComboBox *video = rig.delegate->channelSelectionPanel()->ui.videoChannelSelectionBtn;
        QComboBox *audio = rig.delegate->channelSelectionPanel()->ui.audioChannelSelectionBtn;
        EXPECT_EQ(video->count(), __builtin_popcount(k.videoMask));
        video->setCurrentText(QString::number(k.channel));
        if (k.audioOnPanel) audio->setCurrentText(QString::number(k.audioOnPanel));
        rig.delegate->channelSelectionPanel()->ui.channelSelectionOkBtn->click();
        EXPECT_FALSE(rig.delegate->channelSelectionPanel()->isVisible());
    }
    EXPECT_TRUE(rig.started());
    EXPECT_EQ(rig.state(), 1);
    EXPECT_EQ(rig.enabledButtons(), 0) << "buttons are locked while converting";
    EXPECT_FALSE(rig.delegate->window()->ui.aviConvertingIndicator->isHidden());
    EXPECT_EQ(rig.delegate->window()->ui.aviFrameRateLabel->text(), QString("FPS:30.00"));

    ASSERT_TRUE(rig.waitForSheet(2)) << "no result sheet";
    const std::string avi = folder + "/" + baseName + "_2.avi";
    EXPECT_EQ(rig.sheets.sheets[1].message, QString("AVI Conversion Complete"));
    EXPECT_EQ(rig.sheets.sheets[1].informative, QString::fromStdString("File directory: " + avi));
    EXPECT_EQ(rig.enabledButtons(), 0) << "buttons stay locked until the sheet is answered";
    EXPECT_EQ(rig.state(), 3);
    rig.sheets.answer(1000);
    EXPECT_EQ(rig.enabledButtons(), 5);
    EXPECT_TRUE(rig.delegate->window()->ui.aviConvertingIndicator->isHidden());
    EXPECT_EQ(mkrec::readText(folder + "/" + baseName + ".avi.srt"), "earlier subtitles");
    EXPECT_TRUE(exists(avi + ".srt"));
    EXPECT_FALSE(exists(avi + ".index"));
    EXPECT_FALSE(exists(avi + ".tmp"));

    // Video: the channel's frames, byte for byte, from its first key frame.
    const int channel0 = (k.channel ? k.channel : __builtin_ffs(int(k.videoMask))) - 1;
    std::vector<std::string> want;
    for (const mkrec::Unit *u : rec.manifest.video(channel0))
        if (!want.empty() || u->key) want.push_back(u->esMd5);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(packetMd5s(avi), want);
    auto v = probe(avi, "v:0");
    EXPECT_EQ(v["codec_tag_string"], k.tag);
    // The container's rate (an MPEG-4 stream's own header tells its encoder's rate instead).
    EXPECT_EQ(v["time_base"], "1/30");
    if (std::string(k.tag) == "H264") {
        EXPECT_EQ(v["r_frame_rate"], "30/1");
    }
    // Stated at 30 per second, padded with empty frames where the recording has fewer: the
    // AVI lasts about as long as the recording.
    const double seconds =
        double(rec.manifest.num("fps") > 0 ? want.size() : 0) / double(rec.manifest.num("fps"));
    const long frames = std::stol(v["nb_frames"].empty() ? "0" : v["nb_frames"]);
    EXPECT_GE(frames, long(want.size()));
    EXPECT_NEAR(frames / 30.0, seconds, 0.25) << frames << " frames";

    // Subtitles: one entry per recorder second, the channel and the recorder's date and time.
    const std::string srt = run("ffmpeg -nostdin -v error -i '" + avi + ".srt' -f srt - 2>&1");
    std::set<int> secondsSeen;
    {
        std::lock_guard<std::mutex> lock(rig.mutex);
        for (const Delivered::Video &d : rig.delivered.video)
            if (int(d.channel) == channel0) secondsSeen.insert(d.time.wSecond);
    }
    EXPECT_EQ(run("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 '" + avi + ".srt' | wc -l"),
              std::to_string(secondsSeen.size()) + "\n");
    // The first entry shows the first stored frame's time, also when that falls on second 0.
    const time_t firstSecond = static_cast<time_t>(rec.manifest.video(channel0)[0]->tUs / 1000000);
    struct tm first {};
    gmtime_r(&firstSecond, &first);
    char firstEntry[96];
    std::snprintf(firstEntry, sizeof firstEntry,
                  "1\n00:00:00,000 --> 00:00:01,000\n%04d/%02d/%02d %02d:%02d:%02d CH%d\n\n",
                  first.tm_year + 1900, first.tm_mon + 1, first.tm_mday, first.tm_hour, first.tm_min,
                  first.tm_sec, channel0 + 1);
    EXPECT_EQ(srt.substr(0, srt.find("\n\n") + 2), firstEntry);

    // Audio: present unless switched off, and exactly the PCM the engine delivered, from the
    // packet that followed the first stored frame on.
    const bool audioExpected = !k.audioOff && k.audioMask != 0;
    const std::string audioStreams =
        run("ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate -of csv=p=0 '" +
            avi + "'");
    if (!audioExpected) {
        EXPECT_EQ(audioStreams, "");
        return;
    }
    EXPECT_EQ(audioStreams, "pcm_s16le,8000\n");
    const std::string pcm = run("ffmpeg -nostdin -v error -i '" + avi + "' -map 0:a -f s16le - 2>/dev/null");
    std::string all;
    std::vector<size_t> starts;
    {
        std::lock_guard<std::mutex> lock(rig.mutex);
        for (const std::vector<char> &p : rig.delivered.pcm) {
            starts.push_back(all.size());
            all.append(p.begin(), p.end());
        }
    }
    ASSERT_FALSE(pcm.empty());
    EXPECT_GE(pcm.size(), all.size() * 8 / 10);
    const size_t from = all.size() - std::min(all.size(), pcm.size());
    EXPECT_TRUE(std::find(starts.begin(), starts.end(), from) != starts.end()) << "not a packet boundary";
    EXPECT_TRUE(all.compare(from, std::string::npos, pcm) == 0)
        << "the AVI's audio differs from what was delivered";
}

const Kind kKinds[] = {
    {"Dv4H264OnTheMinute",
     {"--kind", "dv4-h264", "--start", "2024-01-02T03:04:00"},
     "dv4",
     1,
     1,
     0,
     0,
     "H264",
     false,
     false,
     false},
    {"Dv4Mpeg4NoAudioSetting", {"--kind", "dv4-mpeg4"}, "dv4", 1, 1, 0, 0, "MP4V", true, true, false},
    {"Dv5NvrChannel3",
     {"--kind", "dv5-nvr", "--video-mask", "0xf", "--audio-mask", "0x5", "--audio", "g723"},
     "DV5",
     0xf,
     0x5,
     3,
     3,
     "H264",
     false,
     false,
     false},
    {"Dv5Dvr700", {"--kind", "dv5-dvr700"}, "dv5", 1, 1, 0, 0, "H264", false, false, true},
    {"AvcPcm16", {"--kind", "avc", "--audio", "pcm16"}, "avc", 1, 1, 0, 0, "H264", false, false, false},
    {"AvcMpeg4Channel2",
     {"--kind", "avc", "--video-mask", "0x3", "--codec", "h264,mpeg4", "--audio-mask", "0"},
     "AVC",
     0x3,
     0,
     2,
     0,
     "MP4V",
     false,
     false,
     false},
};

INSTANTIATE_TEST_SUITE_P(Kinds, ConversionEndToEnd, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind> &info) {
                             return std::string(info.param.name);
                         });

// Quitting while converting: the AVI under the target name is complete (FFmpeg reads it to
// its last frame), with nothing left beside it but its subtitles.
TEST(ConversionQuit, LeavesACompleteFileOrNone) {
    mkrec::TempDir dir;
    mkrec::Recording rec = mkrec::make(dir, "long.avc", {"--kind", "avc", "--duration", "6"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    const std::string avi = dir.file("long.avi");
    {
        Rig rig;
        rig.setSettings(dir.path(), false, "25");
        rig.conversion->openPlaybackFileAndConvertToAVI();
        ASSERT_TRUE(rig.choose(QString::fromStdString(rec.path)));
        EXPECT_EQ(rig.delegate->window()->ui.aviFrameRateLabel->text(), QString("FPS:25.00"));
        ASSERT_TRUE(serveEventsUntil([&] {
            std::lock_guard<std::mutex> lock(rig.mutex);
            return rig.delivered.video.size() > 30;
        }));
        EXPECT_FALSE(exists(avi)) << "the AVI appears only when finished";
    } // the rig goes as the application does when it quits
    ASSERT_TRUE(exists(avi));
    EXPECT_FALSE(exists(avi + ".tmp"));
    EXPECT_FALSE(exists(avi + ".index"));
    const std::vector<std::string> got = packetMd5s(avi);
    ASSERT_GT(got.size(), 30u);
    std::vector<std::string> want;
    for (const mkrec::Unit *u : rec.manifest.video(0))
        want.push_back(u->esMd5);
    ASSERT_LT(got.size(), want.size()) << "the conversion was meant to be cut short";
    want.resize(got.size());
    EXPECT_EQ(got, want);
    EXPECT_EQ(run("ffmpeg -nostdin -v error -xerror -i '" + avi + "' -f null - 2>&1"), "");
}

} // namespace

namespace {

// Stop while converting: the conversion ends at once with a complete, shorter file and the
// completion sheet; answering it gives the window back.
TEST(ConversionStop, EndsEarlyWithACompleteFile) {
    mkrec::TempDir dir;
    mkrec::Recording rec = mkrec::make(dir, "long.dv5", {"--kind", "dv5-nvr", "--duration", "8"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    const std::string avi = dir.file("long.avi");
    Rig rig;
    rig.setSettings(dir.path());
    rig.conversion->openPlaybackFileAndConvertToAVI();
    ASSERT_TRUE(rig.choose(QString::fromStdString(rec.path)));
    ASSERT_TRUE(serveEventsUntil([&] {
        std::lock_guard<std::mutex> lock(rig.mutex);
        return rig.delivered.video.size() > 30;
    }));
    EXPECT_TRUE(rig.delegate->window()->ui.stopBtn->isEnabled());
    rig.delegate->window()->ui.stopBtn->click();
    ASSERT_TRUE(rig.waitForSheet(1, 3000));
    EXPECT_EQ(rig.sheets.sheets[0].message, QString("AVI Conversion Complete"));
    EXPECT_EQ(rig.state(), 3);
    rig.sheets.answer(1000);
    EXPECT_EQ(rig.enabledButtons(), 5);
    const std::vector<std::string> got = packetMd5s(avi);
    std::vector<std::string> want;
    for (const mkrec::Unit *u : rec.manifest.video(0))
        want.push_back(u->esMd5);
    ASSERT_GT(got.size(), 30u);
    ASSERT_LT(got.size(), want.size()) << "Stop did not end the conversion early";
    want.resize(got.size());
    EXPECT_EQ(got, want);
    // Stop again has nothing to end.
    rig.delegate->window()->ui.stopBtn->click();
    EXPECT_EQ(rig.sheets.sheets.size(), 1u);
}

// A seek through the progress slider while converting moves nothing: the AVI holds every frame
// of the recording in order, and its subtitles count the recorder's seconds one by one.
TEST(ConversionSeek, TheAviKeepsTheWholeRecording) {
    for (const auto &[file, kind] : {std::pair("seek.dv5", "dv5-nvr"), std::pair("seek.avc", "avc")}) {
        SCOPED_TRACE(file);
        mkrec::TempDir dir;
        mkrec::Recording rec =
            mkrec::make(dir, file, {"--kind", kind, "--duration", "5", "--audio-mask", "0"});
        ASSERT_TRUE(rec.ok()) << rec.output;
        Rig rig;
        rig.setSettings(dir.path());
        rig.conversion->openPlaybackFileAndConvertToAVI();
        ASSERT_TRUE(rig.choose(QString::fromStdString(rec.path)));
        CustomizedProgressSlider *slider = rig.delegate->window()->ui.playbackProgressSlider;
        ASSERT_TRUE(serveEventsUntil([&] { return slider->floatValue() >= 20.0f; }));
        slider->setSliderDown(true);
        slider->setFloatValue(85.0f);
        slider->setSliderDown(false);
        EXPECT_LT(slider->floatValue(), 60.0f) << "the slider shows the conversion's progress";
        ASSERT_TRUE(rig.waitForSheet(1)) << "no result sheet";
        EXPECT_EQ(rig.sheets.sheets[0].message, QString("AVI Conversion Complete"));

        const std::string avi = dir.file("seek.avi");
        std::vector<std::string> want;
        for (const mkrec::Unit *u : rec.manifest.video(0))
            want.push_back(u->esMd5);
        EXPECT_EQ(packetMd5s(avi), want);
        std::istringstream srt(run("ffmpeg -nostdin -v error -i '" + avi + ".srt' -f srt - 2>&1"));
        std::vector<int> seconds; // of the day, as the entries show them
        for (std::string line; std::getline(srt, line);) {
            int y, mo, d, h, mi, sec;
            if (std::sscanf(line.c_str(), "%d/%d/%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec) == 6)
                seconds.push_back(h * 3600 + mi * 60 + sec);
        }
        ASSERT_EQ(seconds.size(), 5u);
        for (size_t i = 1; i < seconds.size(); ++i)
            EXPECT_EQ(seconds[i], seconds[i - 1] + 1) << "entry " << i + 1;
    }
}

} // namespace

namespace {

// A file handed over while a conversion runs, one that plays or one that does not, is refused
// with a sheet: the conversion ends complete. Files handed over while its result waits are not
// refused: once the result is answered, the last of them opens and plays.
class ConversionHandOver : public ::testing::TestWithParam<const char *> {};

TEST_P(ConversionHandOver, RefusedWhileConvertingOpenedAfterTheResult) {
    mkrec::TempDir dir;
    mkrec::Recording rec = mkrec::make(dir, "long.dv5", {"--kind", "dv5-nvr", "--duration", "8"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    std::ofstream(dir.file(GetParam())) << std::ifstream(rec.path).rdbuf();
    const QString handed = QString::fromStdString(dir.file(GetParam()));
    const QString refused("The file was not opened: an AVI conversion is running.");
    Rig rig;
    rig.setSettings(dir.file("out"));
    rig.conversion->openPlaybackFileAndConvertToAVI();
    ASSERT_TRUE(rig.choose(QString::fromStdString(rec.path)));
    rig.delegate->applicationOpenFile(handed);
    ASSERT_TRUE(rig.waitForSheet(1, 3000)) << "not refused";
    EXPECT_EQ(rig.sheets.sheets[0].message, refused);
    EXPECT_EQ(rig.sheets.sheets[0].informative, handed);
    ASSERT_TRUE(rig.waitForSheet(2));
    EXPECT_EQ(rig.sheets.sheets[1].message, QString("AVI Conversion Complete"));
    const std::string next = dir.file("next.dv5");
    std::ofstream(next) << std::ifstream(rec.path).rdbuf();
    rig.delegate->applicationOpenFile(handed);
    rig.delegate->applicationOpenFile(QString::fromStdString(next));
    serveEvents();
    EXPECT_EQ(rig.sheets.sheets.size(), 2u) << "refused after the conversion";
    EXPECT_EQ(rig.enabledButtons(), 0);
    EXPECT_EQ(rig.delegate->openFile().fileName(), QString("long"));
    const uint64_t shown = rig.delegate->engineSide()->picturesShown();
    rig.sheets.sheets[1].done(1000);
    EXPECT_EQ(rig.delegate->openFile().fileName(), QString("next"));
    EXPECT_GT(rig.delegate->window()->height(), rig.delegate->window()->minimumHeight());
    EXPECT_TRUE(serveEventsUntil([&] { return rig.delegate->engineSide()->picturesShown() > shown; }, 20000))
        << "no pictures of the file handed over";
}

INSTANTIATE_TEST_SUITE_P(Files, ConversionHandOver, ::testing::Values("copy.dv5", "copy.txt"));

} // namespace

namespace {

// What another program does to the AVI folder while a conversion runs (a shell command), what
// the result sheet then says, and what is left in `where`; {folder} is the AVI folder and
// {index}, {srt}, {tmp} the conversion's own files while it runs.
struct LookCase {
    const char *name, *meanwhile, *message, *informative, *where;
    std::set<std::string> left;
};

void PrintTo(const LookCase &c, std::ostream *os) {
    *os << c.name;
}

class ConversionLook : public ::testing::TestWithParam<LookCase> {};

// Through the window: the locked controls look locked and come back as they were, the window
// keeps its size while converting, the result sheet says what became of the files (another
// player's file is never touched nor named as removed), and "0%" is on screen at the end.
TEST_P(ConversionLook, LockedWindowAndWhatTheResultSays) {
    const LookCase &c = GetParam();
    mkrec::TempDir dir;
    // Long enough to be still converting when Stop is clicked, however slow the machine.
    mkrec::Recording rec = mkrec::make(dir, "long.dv5", {"--kind", "dv5-nvr", "--duration", "30"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    Rig rig;
    rig.setSettings(dir.file("AVI"));
    MainWindow *window = rig.delegate->window();
    rig.delegate->makeWindowKeyAndOrderFront();
    // A conversion leaves the on-screen text off: the enabled look is taken the same way.
    window->ui.osdEnableBtn->setChecked(false);
    const std::vector<QWidget *> controls = conversionWidgetsOf(*window).lockedButtons;
    ASSERT_EQ(controls.size(), 16u);
    const std::vector<QImage> enabled = Rig::looks(controls);
    rig.conversion->openPlaybackFileAndConvertToAVI();
    ASSERT_TRUE(rig.choose(QString::fromStdString(rec.path)));
    ASSERT_TRUE(serveEventsUntil(
        [&] {
            std::lock_guard<std::mutex> lock(rig.mutex);
            return rig.delivered.video.size() > 30;
        },
        30000));
    // A dimmed picture on a button that is mostly background: several times what the style's
    // own disabled picture of a light image changes (about 1).
    const std::vector<QImage> locked = Rig::looks(controls);
    for (size_t i = 0; i < controls.size(); ++i)
        EXPECT_GT(snapshotfixture::meanDifference(enabled[i], locked[i]), 5.0)
            << controls[i]->objectName().toStdString();
    const QSize kept = window->size();
    EXPECT_EQ(kept, QSize(680, 320));
    window->resize(980, 520);
    EXPECT_TRUE(serveEventsUntil([&] { return window->size() == kept; }, 3000)) << window->width();

    std::map<std::string, std::string> names = {{"{folder}", dir.file("AVI")}};
    for (const std::string &name : snapshotfixture::listFolder(dir.file("AVI")))
        if (name.size() > 6 && name.compare(name.size() - 6, 6, ".index") == 0)
            for (const auto &[key, suffix] :
                 {std::pair("{index}", "index"), {"{srt}", "srt.tmp"}, {"{tmp}", "tmp"}})
                names[key] = name.substr(0, name.size() - 5) + suffix;
    auto fill = [&](std::string text) {
        for (const auto &[key, value] : names)
            for (size_t at; (at = text.find(key)) != std::string::npos;)
                text.replace(at, key.size(), value);
        return text;
    };
    ASSERT_EQ(testutil::runCommand(fill(c.meanwhile)), 0);
    window->ui.stopBtn->click();
    ASSERT_TRUE(rig.waitForSheet(1));
    EXPECT_EQ(rig.sheets.sheets[0].message.toStdString(), c.message);
    EXPECT_EQ(rig.sheets.sheets[0].informative.toStdString(), fill(c.informative));
    EXPECT_EQ(snapshotfixture::listFolder(fill(c.where)), c.left);
    // A single file left is the other program's, as it wrote it.
    if (c.left.size() == 1) {
        EXPECT_EQ(mkrec::readText(fill(c.where) + "/" + *c.left.begin()), "other\n");
    }
    rig.sheets.answer(1000);
    serveEvents();
    EXPECT_EQ(rig.delegate->videoPaneLayout()->osdPercentage()->string(), QString("0%"));
    const std::vector<QImage> restored = Rig::looks(controls);
    for (size_t i = 0; i < controls.size(); ++i)
        EXPECT_EQ(snapshotfixture::meanDifference(enabled[i], restored[i]), 0.0)
            << controls[i]->objectName().toStdString();
}

const LookCase kLookCases[] = {
    {"Complete",
     "true",
     "AVI Conversion Complete",
     "File directory: {folder}/long.avi",
     "{folder}",
     {"long.avi", "long.avi.srt"}},
    {"OtherPlayerTakesTheAvi",
     "echo other > {folder}/long.avi",
     "AVI Conversion Failed",
     "Another file took the name {folder}/long.avi before the conversion could finish; that file was left as "
     "it is. The conversion removed its own files: {index}, {srt}, {tmp}.",
     "{folder}",
     {"long.avi"}},
    {"OtherPlayerTakesTheSubtitles",
     "echo other > {folder}/long.avi.srt",
     "AVI Conversion Failed",
     "Another file took the name {folder}/long.avi.srt before the conversion could finish; that file was "
     "left as it is. The conversion removed its own files: long.avi, {index}, {srt}.",
     "{folder}",
     {"long.avi.srt"}},
    {"FolderMovedAway",
     "mv {folder} {folder}-moved",
     "AVI Conversion Failed",
     "The AVI folder was moved or removed while converting: {folder}. The conversion removed its own files: "
     "{index}, {srt}, {tmp}.",
     "{folder}-moved",
     {}},
    {"FolderRemoved",
     "rm -r {folder}",
     "AVI Conversion Failed",
     "The AVI folder was moved or removed while converting: {folder}. No file of the conversion was left to "
     "remove.",
     "{folder}",
     {}},
};

INSTANTIATE_TEST_SUITE_P(Endings, ConversionLook, ::testing::ValuesIn(kLookCases),
                         [](const ::testing::TestParamInfo<LookCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
