// The engines as the window starts them (EngineSide), on a counting port instead of a window.
#include <gtest/gtest.h>

#include <QObject>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/engine_side/engine_side.h"
#include "app/logic/player_state.h"
#include "common/mkrec_fixture.h"
#include "common/thread_state.h"
#include "engines/engine_controls.h"
#include "qt_test_app.h"

namespace {

// Counts the end notices the window is given; everything else is dropped.
class CountingPort : public EngineSidePort {
  public:
    void upadatePlaybackServerTime(const QString &) override {}
    void upadatePlaybackServerTimeAndProgressForFileConversion(const QString &, float) override {}
    void upadatePlaybackProgress(float) override {}
    void applyDevChannelTitles(const std::array<std::optional<QString>, 16> &) override {}
    void showEndOfRecording() override { ++ends; }
    void showFileWithNothingToShow() override { ++ends; }
    void showStopStatusImages() override {}
    void checkNeedResizeImageViewOrNot() override {}
    void clearPicturesExcept(int) override {}
    void clearPicture(int) override {}
    void showPicture(int, const QImage &, const _SYSTEMTIME &) override {}
    float playbackVolume() override { return 0.0f; }
    void showServerTimeLabelText(const QString &) override {}
    void enableDeinterlaceButton(bool) override {}
    int ends = 0;
};

// Counts the end notices on the parser thread, before any is posted to the window.
class CountingSide : public EngineSide {
  public:
    using EngineSide::EngineSide;
    void setDVFmtProcessingInfoAtEndOfProcessing() override {
        parserTid = testutil::currentTid();
        ++ends;
        EngineSide::setDVFmtProcessingInfoAtEndOfProcessing();
    }
    std::atomic<int> ends{0};
    std::atomic<pid_t> parserTid{0};
};

// Sends the log lines to `sink` while it exists.
class LogHold {
  public:
    explicit LogHold(PlayerLogSink sink) : previous_(player_log_set_sink(std::move(sink))) {}
    ~LogHold() { player_log_set_sink(previous_); }

  private:
    PlayerLogSink previous_;
};

} // namespace

// A DV5 file of one byte ends as soon as its parser starts, perhaps before the start on the GUI
// thread has gone on: it must end once, whatever the start does after the parser's thread is
// running. Some rounds hold the start there (at the line it logs once that thread runs) until
// the parser has ended; the rest run as the machine schedules them.
TEST(EngineSideStart, AFileThatEndsAtOnceEndsOnce) {
    testApp();
    mkrec::TempDir dir;
    const struct {
        const char *kind;
        bool dvr700;
        const char *started; // the start's log line once the parser's thread runs
    } kinds[] = {{"dv5-nvr", false, "createNVR_DV5ParserThreadForH264...\n"},
                 {"dv5-dvr700", true, "createDVR_DV5ParserThreadForH264...\n"}};
    for (const auto &k : kinds) {
        SCOPED_TRACE(k.kind);
        const mkrec::Recording rec =
            mkrec::make(dir, std::string(k.kind) + ".dv5", {"--kind", k.kind, "--truncate", "1"});
        ASSERT_TRUE(rec.ok()) << rec.output;
        QObject context;
        CountingPort port;
        CountingSide side(port, &context);
        side.shared().setFilePath(rec.path);
        side.shared().playerState.store(kPlayerStatePlaying);
        side.setDvFmtVideoCodec(kDVFmtDV5);
        side.setIsDVRType700(k.dvr700);
        // The log is kept quiet; the line the start logs once the parser's thread runs holds the
        // start there while `hold` is set.
        const std::thread::id gui = std::this_thread::get_id();
        std::atomic<bool> hold{false}, held{false};
        LogHold quiet([&](const std::string &line) {
            if (!hold.load() || line != k.started || std::this_thread::get_id() != gui) return;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (side.ends.load() == 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            held = side.ends.load() > 0;
        });
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            hold = round < 3;
            held = false;
            side.ends = 0;
            port.ends = 0;
            ASSERT_TRUE(side.startDVFile());
            ASSERT_EQ(held.load(), hold.load()) << "the parser did not end while the start was held";
            ASSERT_TRUE(serveEventsUntil([&] { return port.ends > 0; }, 10000)) << "no end notice";
            // Ended and asleep with its frames held: only a request can make it end again.
            int asleep = 0;
            ASSERT_TRUE(serveEventsUntil(
                [&] {
                    const bool rests = gDVFmtPlaybackKeepRunning.load() == 0 &&
                                       testutil::threadState(side.parserTid.load()) == 'S';
                    asleep = rests ? asleep + 1 : 0;
                    return asleep >= 5;
                },
                10000))
                << "the parser does not rest";
            serveEvents();
            EXPECT_EQ(side.ends.load(), 1);
            EXPECT_EQ(port.ends, 1);
            side.stopEngines();
            if (::testing::Test::HasFailure()) break;
        }
        dvFmtResetControlFlags();
    }
}
