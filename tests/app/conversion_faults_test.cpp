// Conversions that cannot write their file or cannot start, and the ways out of the flow
// before anything starts: each ends in a usable window, with no file left behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "common/run_cmd.h"
#include "conversion_harness.h"

using namespace convtest;

namespace {

std::set<std::string> listing(const std::string &folder) {
    std::set<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// After the result sheet is answered the window is as before the conversion.
void expectUsable(Rig &rig) {
    EXPECT_EQ(rig.enabledButtons(), 5);
    EXPECT_EQ(rig.state(), 3);
    EXPECT_EQ(rig.conversion->phase(), avitarget::ConversionPhase::Idle);
    EXPECT_TRUE(rig.delegate->window()->ui.aviConvertingIndicator->isHidden());
    EXPECT_FALSE(rig.conversion->isConverting());
}

class ConversionFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        folder = dir.file("AVI");
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    }
    mkrec::Recording make(const std::string &name, std::vector<std::string> args) {
        mkrec::Recording r = mkrec::make(dir, name, args);
        EXPECT_TRUE(r.ok()) << r.output;
        return r;
    }
    void convert(Rig &rig, const std::string &path, const std::string &aviFolder) {
        rig.setSettings(aviFolder);
        rig.conversion->openPlaybackFileAndConvertToAVI();
        ASSERT_TRUE(rig.choose(QString::fromStdString(path)));
    }
    mkrec::TempDir dir;
    std::string folder;
};

TEST_F(ConversionFaults, FolderPathIsAFile) {
    mkrec::Recording rec = make("a.dv4", {"--kind", "dv4-h264"});
    const std::string file = dir.file("not-a-folder");
    std::ofstream(file) << "data";
    Rig rig;
    convert(rig, rec.path, file);
    ASSERT_EQ(rig.sheets.sheets.size(), 1u);
    EXPECT_EQ(rig.sheets.sheets[0].message, QString("AVI Conversion Failed"));
    EXPECT_EQ(rig.sheets.sheets[0].informative,
              QString::fromStdString("The AVI folder is a file, not a folder: " + file));
    EXPECT_FALSE(rig.started());
    rig.sheets.answer(1000);
    expectUsable(rig);
    EXPECT_EQ(mkrec::readText(file), "data");
}

TEST_F(ConversionFaults, EngineThatCannotStartLeavesNoFile) {
    const std::string path = dir.file("damaged.avc");
    std::ofstream(path) << "this is no recording, only text that claims the extension";
    Rig rig;
    convert(rig, path, folder);
    ASSERT_TRUE(rig.waitForSheet(1));
    EXPECT_EQ(rig.sheets.sheets[0].message, QString("AVI Conversion Failed"));
    EXPECT_EQ(rig.sheets.sheets[0].informative,
              QString::fromStdString("The recording could not be read for conversion: " + path));
    EXPECT_EQ(listing(folder), std::set<std::string>()) << "partial files left";
    EXPECT_EQ(rig.enabledButtons(), 0);
    rig.sheets.answer(1000);
    expectUsable(rig);
    // Stop now has nothing to finish.
    rig.conversion->finishAVIConversionTask();
    EXPECT_EQ(rig.sheets.sheets.size(), 1u);
}

// A file that reaches the AVI size limit ends the conversion at once; what it holds is kept
// and plays, and the sheet says that the rest is missing.
TEST_F(ConversionFaults, SizeLimitKeepsAPlayableBeginning) {
    mkrec::Recording rec = make("long.dv4", {"--kind", "dv4-h264", "--duration", "20"});
    Rig rig;
    rig.conversion->maxAviSize = 20000;
    convert(rig, rec.path, folder);
    ASSERT_TRUE(rig.waitForSheet(1, 5000)) << "the conversion went on after the limit";
    const std::string avi = folder + "/long.avi";
    EXPECT_EQ(rig.sheets.sheets[0].message, QString("AVI Conversion Incomplete"));
    EXPECT_EQ(
        rig.sheets.sheets[0].informative,
        QString::fromStdString(
            "The AVI file reached its size limit of 4 GB; the rest of the recording is not in it: " + avi));
    rig.sheets.answer(1000);
    expectUsable(rig);
    EXPECT_EQ(listing(folder), (std::set<std::string>{"long.avi", "long.avi.srt"}));
    std::string err;
    testutil::runCommand("ffmpeg -nostdin -v error -xerror -i '" + avi + "' -f null - 2>&1", &err);
    EXPECT_EQ(err, "");
}

TEST_F(ConversionFaults, StopWhileTheChannelPanelWaitsCancels) {
    mkrec::Recording rec = make("multi.dv5", {"--kind", "dv5-nvr", "--video-mask", "0x3"});
    Rig rig;
    rig.delegate->makeWindowKeyAndOrderFront();
    rig.delegate->window()->move(100, 400); // room above the short window for the taller panel
    serveEvents();
    setPanelFoldStepDuration(20);
    ChannelSelectionPanel *panel = rig.delegate->channelSelectionPanel();
    const QSize full = panel->size();
    convert(rig, rec.path, folder);
    ASSERT_TRUE(panel->isVisible());
    // It unfolds to its full size, its bottom edge on the window's, centred across it.
    EXPECT_LT(panel->width(), full.width()) << "it starts folded";
    ASSERT_TRUE(serveEventsUntil([&] { return panel->size() == full; }));
    const QRect main = rig.delegate->window()->frameGeometry();
    EXPECT_EQ(panel->geometry().bottom(), main.bottom());
    EXPECT_EQ(panel->geometry().x(), main.x() + (main.width() - full.width()) / 2);
    EXPECT_EQ(rig.enabledButtons(), 0);
    rig.delegate->window()->ui.stopBtn->click();
    EXPECT_TRUE(panel->isVisible()) << "it folds away before it is hidden";
    EXPECT_TRUE(serveEventsUntil([&] { return !panel->isVisible(); }));
    setPanelFoldStepDuration(0);
    EXPECT_EQ(rig.sheets.sheets.size(), 0u) << "no result for a conversion that never started";
    EXPECT_FALSE(rig.started());
    expectUsable(rig);
    EXPECT_EQ(listing(folder), std::set<std::string>());
    // A late click on the panel's button starts nothing.
    rig.delegate->channelSelectionPanel()->ui.channelSelectionOkBtn->click();
    EXPECT_FALSE(rig.started());
}

TEST_F(ConversionFaults, OtherFileThenCancelKeepsPlaying) {
    Rig rig;
    rig.delegate->setPlayerState(0);
    rig.delegate->setAbsoluteFilePath("/recordings/playing.avc");
    rig.conversion->openPlaybackFileAndConvertToAVI();
    rig.sheets.answer(1001);
    ASSERT_TRUE(serveEventsUntil([&] { return rig.conversion->conversionOpenPanel() != nullptr; }));
    rig.conversion->conversionOpenPanel()->reject();
    serveEvents();
    EXPECT_EQ(rig.conversion->phase(), avitarget::ConversionPhase::Idle);
    EXPECT_EQ(rig.state(), 0) << "the file plays on, and Stop can end it";
    EXPECT_EQ(rig.enabledButtons(), 5);
    // "Cancel." changes nothing either; the button asks again.
    rig.conversion->openPlaybackFileAndConvertToAVI();
    rig.sheets.answer(1002);
    EXPECT_EQ(rig.conversion->phase(), avitarget::ConversionPhase::Idle);
    EXPECT_EQ(rig.state(), 0);
    EXPECT_EQ(rig.sheets.sheets.size(), 2u);
}

TEST_F(ConversionFaults, UnsupportedExtensionLeavesThePlayerIdle) {
    const std::string path = dir.file("notes.txt");
    std::ofstream(path) << "text";
    Rig rig;
    convert(rig, path, folder);
    serveEvents();
    EXPECT_EQ(rig.delegate->window()->ui.serverTimeLabel->text(), QString("Unsupported format!"));
    EXPECT_FALSE(rig.started());
    EXPECT_EQ(rig.sheets.sheets.size(), 0u);
    expectUsable(rig);
    EXPECT_EQ(listing(folder), std::set<std::string>());
}

// The application's own wiring: the conversion button of an idle window opens the panel; a
// file of no recording kind ends as "Unsupported format!" with the window usable.
TEST_F(ConversionFaults, DelegateButtonAndUnsupportedFile) {
    testApp();
    const std::string path = dir.file("notes.txt");
    std::ofstream(path) << "text";
    // The AVI folder by default lies in the user's documents: here, in the test's folder.
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", dir.path().c_str(), 1);
    VistrelAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    delegate.setPlayerState(3);
    delegate.window()->ui.aviConversionBtn->click();
    AVIConversion *conversion = delegate.aviConversion();
    ASSERT_TRUE(serveEventsUntil([&] { return conversion->conversionOpenPanel() != nullptr; }));
    emit conversion->conversionOpenPanel()->fileSelected(QString::fromStdString(path));
    serveEvents();
    EXPECT_EQ(delegate.window()->ui.serverTimeLabel->text(), QString("Unsupported format!"));
    EXPECT_EQ(delegate.playerState(), 3);
    EXPECT_TRUE(delegate.window()->ui.aviConversionBtn->isEnabled());
    EXPECT_TRUE(delegate.window()->ui.openFileBtn->isEnabled());
    EXPECT_EQ(delegate.openFile().fileNameWithExtension(), QString("notes.txt"));
    EXPECT_EQ(delegate.aviFrameBuilder(), nullptr);
    EXPECT_TRUE(listing(dir.file("Documents/Vistrel/AVI")).empty());
    setenv("HOME", home.c_str(), 1);
}

// Converts `path` and answers the result sheet: a failure naming the file, nothing written.
void expectNothingConverted(Rig &rig, const std::string &path, const std::string &folder,
                            size_t sheetsBefore) {
    rig.setSettings(folder);
    rig.conversion->openPlaybackFileAndConvertToAVI();
    ASSERT_TRUE(rig.choose(QString::fromStdString(path)));
    // A DV5 header that names no channel asks for one; the user takes what the panel offers.
    if (rig.conversion->phase() == avitarget::ConversionPhase::WaitingForChannel)
        rig.delegate->channelSelectionPanel()->ui.channelSelectionOkBtn->click();
    ASSERT_TRUE(rig.waitForSheet(sheetsBefore + 1));
    const Sheet &sheet = rig.sheets.sheets.back();
    EXPECT_EQ(sheet.message, QString("AVI Conversion Failed"));
    EXPECT_TRUE(sheet.informative.endsWith(QString::fromStdString(path))) << sheet.informative.toStdString();
    rig.sheets.answer(1000);
    expectUsable(rig);
    EXPECT_EQ(listing(folder), std::set<std::string>()) << "a file was left";
}

// Files with nothing to convert in them, as they reach the conversion's open panel: each is
// refused or ends without a frame, with the failure sheet and no file.
TEST_F(ConversionFaults, HostileFilesConvertNothing) {
    const std::string dv4 = make("real.dv4", {"--kind", "dv4-h264"}).path;
    const mkrec::Recording dv5 = make("real.dv5", {"--kind", "dv5-nvr"}),
                           avc = make("real.avc", {"--kind", "avc"});
    const std::string d = dir.file("hostile");
    ASSERT_EQ(
        testutil::runCommand(
            "mkdir '" + d + "' && cd '" + d +
            "' && mkfifo fifo.dv4 && mkdir folder.dv4 && ln -s /dev/zero device.dv4 && for e in dv4 dv5; do "
            "ln -s loop-b.$e loop-a.$e && ln -s loop-a.$e loop-b.$e && ln -s missing.$e dangling.$e && "
            ": > empty.$e && yes junk | head -c 5000 > junk.$e && cp junk.$e unreadable.$e && chmod 0 "
            "unreadable.$e; done && head -c 12 '" +
            dv4 + "' > headercut.dv4 && head -c 400 '" + dv5.path + "' > headercut.dv5 && { head -c " +
            dv5.manifest.get("header_len") + " '" + dv5.path +
            "'; head -c 200000 /dev/zero; } > zeros.dv5 && { head -c " + avc.manifest.get("header_len") +
            " '" + avc.path + "'; head -c 200000 /dev/zero; } > zeros.avc"),
        0);
    for (const std::string name : {"socket.dv4", "socket.dv5"}) {
        sockaddr_un addr{AF_UNIX, {}};
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s/%s", d.c_str(), name.c_str());
        ASSERT_EQ(bind(socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    }
    Rig rig;
    for (const std::string name :
         {"fifo.dv4", "folder.dv4", "device.dv4", "socket.dv4", "loop-a.dv4", "dangling.dv4", "empty.dv4",
          "unreadable.dv4", "junk.dv4", "headercut.dv4", "socket.dv5", "loop-a.dv5", "dangling.dv5",
          "empty.dv5", "unreadable.dv5", "junk.dv5", "headercut.dv5", "zeros.dv5", "zeros.avc"}) {
        SCOPED_TRACE(name);
        expectNothingConverted(rig, d + "/" + name, folder, rig.sheets.sheets.size());
    }
}

// A DV4 file cut inside its first frame has no whole frame to convert; one cut later keeps
// the frames before the cut.
TEST_F(ConversionFaults, Dv4CutInItsFirstFrameConvertsNothing) {
    mkrec::Recording dv4 = make("real.dv4", {"--kind", "dv4-h264", "--audio-mask", "0"});
    const mkrec::Unit &first = dv4.manifest.units.at(0);
    ASSERT_GT(first.payloadOffset + first.payloadLen, 1025u) << "the first frame must reach past the cuts";
    Rig rig;
    for (uint64_t cut : {1023u, 1024u, 1025u, 0u}) {
        const std::string path = dir.file("cut" + std::to_string(cut) + ".dv4");
        const uint64_t size = cut ? cut : dv4.manifest.units.at(3).payloadOffset + 100;
        ASSERT_EQ(testutil::runCommand("head -c " + std::to_string(size) + " '" + dv4.path + "' > " + path),
                  0);
        if (cut) {
            SCOPED_TRACE(cut);
            expectNothingConverted(rig, path, folder, rig.sheets.sheets.size());
        }
    }
    convert(rig, dir.file("cut0.dv4"), folder);
    ASSERT_TRUE(rig.waitForSheet(4));
    EXPECT_EQ(rig.sheets.sheets.back().message, QString("AVI Conversion Complete"));
    EXPECT_EQ(listing(folder), (std::set<std::string>{"cut0.avi", "cut0.avi.srt"}));
}

// The converting indicator moves one spoke per tick, only while it is shown.
TEST(ConversionIndicator, AdvancesOnlyWhileShown) {
    testApp();
    VistrelAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    AMIndeterminateProgressIndicatorCell *cell = delegate.window()->ui.aviConvertingIndicator->cell();
    ASSERT_NE(cell, nullptr);
    delegate.animateAVIConvertingIndicator();
    EXPECT_EQ(cell->doubleValue(), 0.0) << "hidden";
    delegate.window()->ui.aviConvertingIndicator->setVisible(true);
    for (int i = 0; i < 11; ++i)
        delegate.animateAVIConvertingIndicator();
    EXPECT_NEAR(cell->doubleValue(), 11.0 / 12.0, 1e-9);
    delegate.animateAVIConvertingIndicator();
    EXPECT_NEAR(cell->doubleValue(), 0.0, 1e-9) << "a full turn starts again";
}

// ---- Faults that need a process of their own: a folder the user cannot write, a full disk.

// Runs in a child: converts CONV_REC into CONV_FOLDER under the limits of CONV_MODE and
// prints what the user saw.
TEST(ConversionFaultChild, DISABLED_Run) {
    const char *mode = std::getenv("CONV_MODE");
    const char *recording = std::getenv("CONV_REC");
    const char *aviFolder = std::getenv("CONV_FOLDER");
    ASSERT_TRUE(mode && recording && aviFolder);
    if (std::string(mode) == "unwritable" && geteuid() == 0) {
        // The folder's permissions bind only a user without root's override. A container that
        // maps no other user cannot run this case: say so rather than prove nothing.
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
            std::printf("RESULT skip=cannot become another user: %s\n", std::strerror(errno));
            std::fflush(stdout);
            return;
        }
    }
    if (std::string(mode) == "full") {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {16384, 16384};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    Rig rig;
    rig.setSettings(aviFolder);
    rig.conversion->openPlaybackFileAndConvertToAVI();
    ASSERT_TRUE(rig.choose(QString::fromLocal8Bit(recording)));
    ASSERT_TRUE(rig.waitForSheet(1));
    const Sheet sheet = rig.sheets.sheets[0];
    rig.sheets.answer(1000);
    std::printf("RESULT message=%s\nRESULT informative=%s\nRESULT buttons=%d state=%d started=%d\n",
                qPrintable(sheet.message), qPrintable(sheet.informative), rig.enabledButtons(), rig.state(),
                int(rig.started()));
    std::fflush(stdout);
}

std::map<std::string, std::string> runChild(const std::string &mode, const std::string &rec,
                                            const std::string &aviFolder) {
    std::string out;
    testutil::runCommand(
        "CONV_MODE=" + mode + " CONV_REC='" + rec + "' CONV_FOLDER='" + aviFolder + "' /proc/" +
            std::to_string(getpid()) +
            "/exe --gtest_also_run_disabled_tests --gtest_filter=ConversionFaultChild.DISABLED_Run 2>&1",
        &out);
    std::map<std::string, std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("RESULT ", 0) != 0) continue;
        const size_t eq = line.find('=');
        result[line.substr(7, eq - 7)] = line.substr(eq + 1);
    }
    if (result.empty()) ADD_FAILURE() << out;
    return result;
}

TEST_F(ConversionFaults, FolderTheUserCannotWrite) {
    mkrec::Recording rec = make("a.dv4", {"--kind", "dv4-h264"});
    // The child may run as another user: it must reach the recording.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(rec.path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    auto r = runChild("unwritable", rec.path, folder);
    if (r.count("skip")) GTEST_SKIP() << r["skip"];
    EXPECT_EQ(r["message"], "AVI Conversion Failed");
    EXPECT_EQ(r["informative"], "The AVI folder cannot be written to: " + folder);
    EXPECT_EQ(r["buttons"], "5 state=3 started=0");
    EXPECT_EQ(listing(folder), std::set<std::string>());
}

TEST_F(ConversionFaults, FullDiskRemovesThePartialFiles) {
    // Larger than the child's 16 KiB file size limit.
    mkrec::Recording rec = make("big.avc", {"--kind", "avc", "--size", "352x288"});
    auto r = runChild("full", rec.path, folder);
    EXPECT_EQ(r["message"], "AVI Conversion Failed");
    EXPECT_EQ(r["informative"],
              "The disk is full: the AVI file could not be written and was removed: " + folder + "/big.avi");
    EXPECT_EQ(r["buttons"], "5 state=3 started=1");
    EXPECT_EQ(listing(folder), std::set<std::string>()) << "partial files left";
}

} // namespace
