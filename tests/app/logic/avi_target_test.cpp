// The AVI target name, the folder checks and the conversion flow's steps.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <set>
#include <sys/stat.h>

#include "app/logic/avi_target.h"
#include "common/run_cmd.h"

using namespace avitarget;

namespace {

TEST(AviTargetName, FirstNameWhoseWholeFamilyIsFree) {
    struct Case {
        const char *what;
        std::set<std::string> taken;
        const char *want;
    };
    const Case cases[] = {
        {"nothing there", {}, "/f/rec.avi"},
        {"AVI there", {"/f/rec.avi"}, "/f/rec_2.avi"},
        {"only its subtitle left", {"/f/rec.avi.srt"}, "/f/rec_2.avi"},
        {"only an index left", {"/f/rec.avi.index"}, "/f/rec_2.avi"},
        {"only a temporary left", {"/f/rec.avi.tmp"}, "/f/rec_2.avi"},
        {"only temporary subtitles left", {"/f/rec.avi.srt.tmp"}, "/f/rec_2.avi"},
        {"second taken by its subtitle", {"/f/rec.avi", "/f/rec_2.avi.srt"}, "/f/rec_3.avi"},
        {"a gap is used", {"/f/rec.avi", "/f/rec_3.avi"}, "/f/rec_2.avi"},
        {"other names do not count",
         {"/f/rec.AVI", "/f/rec.srt", "/f/rec_1.avi", "/f/rec.avi.srt2"},
         "/f/rec.avi"},
    };
    for (const Case &c : cases) {
        const auto exists = [&](const std::string &p) { return c.taken.count(p) != 0; };
        EXPECT_EQ(chooseFreeAviPath("/f", "rec", exists), c.want) << c.what;
        EXPECT_EQ(chooseFreeAviPath("/f/", "rec", exists), c.want) << c.what << " (trailing slash)";
    }
    // Every name taken: none is offered rather than one that overwrites.
    EXPECT_EQ(chooseFreeAviPath(
                  "/f", "rec", [](const std::string &) { return true; }, 50),
              "");
    EXPECT_EQ(chooseFreeAviPath("/", "rec", [](const std::string &) { return false; }), "/rec.avi");
}

TEST(AviTargetName, RealFolderWithLeftoversAndDanglingLink) {
    testutil::TempDir dir;
    std::ofstream(dir.file("rec.avi")) << "earlier";
    std::ofstream(dir.file("rec_2.avi.index")) << "";
    ASSERT_EQ(::symlink("/nonexistent/target", dir.file("rec_3.avi.srt").c_str()), 0);
    EXPECT_EQ(chooseFreeAviPath(dir.path(), "rec"), dir.file("rec_4.avi"));
}

TEST(AviTargetName, BaseNameAndRate) {
    EXPECT_EQ(aviBaseName("front", 0), "front");
    EXPECT_EQ(aviBaseName("front", 12), "front_CH12");
    struct Rate {
        const char *text;
        double value, want;
    };
    for (const Rate &r : {Rate{"", 25.0, 30.0}, Rate{"0", 0.0, 30.0}, Rate{"25", 25.0, 25.0},
                          Rate{"x", -3.0, 30.0}, Rate{"60", 60.0, 60.0}, Rate{"nan", NAN, 30.0}})
        EXPECT_EQ(aviFrameRate(r.text, r.value), r.want) << r.text;
}

TEST(AviTargetFolder, MadeCheckedAndClassified) {
    testutil::TempDir dir;
    int err = -1;
    // Missing with parents: made.
    EXPECT_EQ(prepareAviFolder(dir.file("a/b/c"), &err), FolderStatus::Ready);
    EXPECT_EQ(err, 0);
    struct stat st;
    EXPECT_TRUE(::stat(dir.file("a/b/c").c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    // A file where the folder should be, or along its path.
    std::ofstream(dir.file("file")) << "x";
    EXPECT_EQ(prepareAviFolder(dir.file("file"), &err), FolderStatus::NotAFolder);
    EXPECT_EQ(prepareAviFolder(dir.file("file/sub"), &err), FolderStatus::NotAFolder);
    EXPECT_EQ(prepareAviFolder("", &err), FolderStatus::CannotCreate);
    EXPECT_EQ(failureForFolder(FolderStatus::NotAFolder), ConversionFailure::FolderIsFile);
    EXPECT_EQ(failureForFolder(FolderStatus::NotWritable), ConversionFailure::FolderNotWritable);
    EXPECT_EQ(failureForFolder(FolderStatus::CannotCreate), ConversionFailure::FolderCannotCreate);
    EXPECT_EQ(failureForErrno(ENOSPC), ConversionFailure::DiskFull);
    EXPECT_EQ(failureForErrno(EFBIG), ConversionFailure::DiskFull);
    EXPECT_EQ(failureForErrno(EACCES), ConversionFailure::FolderNotWritable);
    EXPECT_EQ(failureForErrno(EIO), ConversionFailure::WriteError);
}

// Runs events through the flow from Idle; returns the phases and every action, in order.
struct Trace {
    ConversionPhase phase = ConversionPhase::Idle;
    std::vector<ConversionAction> actions;
};

Trace run(const std::vector<ConversionEvent> &events, bool playing) {
    Trace t;
    for (ConversionEvent e : events) {
        ConversionStep s = conversionStep(t.phase, e, playing);
        t.phase = s.next;
        t.actions.insert(t.actions.end(), s.actions.begin(), s.actions.end());
    }
    return t;
}

TEST(ConversionFlow, EveryPathEndsWhereTheUserExpects) {
    using E = ConversionEvent;
    using A = ConversionAction;
    using P = ConversionPhase;
    struct Case {
        const char *what;
        bool playing;
        std::vector<E> events;
        P end;
        std::vector<A> actions;
    };
    const Case cases[] = {
        {"idle: open panel, one channel, end of file, OK",
         false,
         {E::ConvertButton, E::FileChosen, E::ProbeOneChannel, E::Started, E::Stop, E::ResultAnswered},
         P::Idle,
         {A::ShowOpenPanel, A::ActivateChosenFile, A::StartConversion, A::FinishConversion,
          A::RestoreWindow}},
        {"playing: YES converts the open file",
         true,
         {E::ConvertButton, E::QueryYes, E::ProbeOneChannel, E::Started},
         P::Converting,
         {A::ShowQuerySheet, A::ActivateCurrentFile, A::StartConversion}},
        {"playing: Cancel changes nothing",
         true,
         {E::ConvertButton, E::QueryCancel},
         P::Idle,
         {A::ShowQuerySheet}},
        {"playing: NO then Cancel leaves the file playing, nothing activated",
         true,
         {E::ConvertButton, E::QueryOtherFile, E::FileCancelled},
         P::Idle,
         {A::ShowQuerySheet, A::ShowOpenPanelLater}},
        {"several channels: panel, choice, start",
         false,
         {E::ConvertButton, E::FileChosen, E::ProbeSeveralChannels, E::ChannelChosen, E::Started},
         P::Converting,
         {A::ShowOpenPanel, A::ActivateChosenFile, A::ShowChannelPanel, A::CloseChannelPanel,
          A::StartConversion}},
        {"Stop while the panel waits: no finish, no result sheet",
         false,
         {E::ConvertButton, E::FileChosen, E::ProbeSeveralChannels, E::Stop, E::ChannelChosen},
         P::Idle,
         {A::ShowOpenPanel, A::ActivateChosenFile, A::ShowChannelPanel, A::CloseChannelPanel,
          A::RestoreWindow}},
        {"unsupported extension: idle, no conversion",
         false,
         {E::ConvertButton, E::FileChosen, E::ProbeUnsupported, E::Stop},
         P::Idle,
         {A::ShowOpenPanel, A::ActivateChosenFile, A::ShowUnsupported}},
        {"folder unusable: failure sheet, then the window back",
         false,
         {E::ConvertButton, E::FileChosen, E::FolderFailed, E::ResultAnswered},
         P::Idle,
         {A::ShowOpenPanel, A::ActivateChosenFile, A::ShowFailure, A::RestoreWindow}},
        {"engine cannot start: failure sheet, Stop does nothing more",
         false,
         {E::ConvertButton, E::FileChosen, E::ProbeOneChannel, E::StartFailed, E::Stop},
         P::ShowingResult,
         {A::ShowOpenPanel, A::ActivateChosenFile, A::StartConversion, A::ShowFailure}},
        {"write failure mid-way finishes once",
         false,
         {E::ConvertButton, E::FileChosen, E::ProbeOneChannel, E::Started, E::WriteFailed, E::Stop,
          E::WriteFailed},
         P::ShowingResult,
         {A::ShowOpenPanel, A::ActivateChosenFile, A::StartConversion, A::FinishConversion}},
        {"button while converting does nothing",
         false,
         {E::ConvertButton, E::FileChosen, E::ProbeOneChannel, E::Started, E::ConvertButton},
         P::Converting,
         {A::ShowOpenPanel, A::ActivateChosenFile, A::StartConversion}},
        {"Stop with no conversion does nothing", true, {E::Stop, E::ResultAnswered}, P::Idle, {}},
    };
    for (const Case &c : cases) {
        Trace t = run(c.events, c.playing);
        EXPECT_EQ(phaseName(t.phase), std::string(phaseName(c.end))) << c.what;
        EXPECT_EQ(t.actions, c.actions) << c.what;
    }
}

} // namespace
