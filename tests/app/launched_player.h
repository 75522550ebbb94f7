// The player as the app tests launch it: the real delegate, its window shown, the engines'
// last pictures kept for comparison; and the recorder times of a generated recording's frames.
#pragma once

#include <QString>

#include <ctime>
#include <memory>
#include <set>

#include "app/VistrelAppDelegate.h"
#include "app/engine_side/engine_side.h"
#include "app/panel_fold.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"
#include "qt_test_app.h"

// A launched player whose window is shown, as a user sees it. With `instantPanelFolds` the
// panels open and close without their animation.
struct LaunchedPlayer {
    explicit LaunchedPlayer(bool instantPanelFolds = false) {
        testApp();
        if (instantPanelFolds) setPanelFoldStepDuration(0);
        dvFmtResetControlFlags();
        delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        delegate->makeWindowKeyAndOrderFront();
        delegate->engineSide()->setKeepLastDelivered(true);
        serveEvents();
    }
    ~LaunchedPlayer() {
        delegate.reset();
        dvFmtResetControlFlags();
    }
    LaunchedPlayer(const LaunchedPlayer &) = delete;
    LaunchedPlayer &operator=(const LaunchedPlayer &) = delete;
    VistrelAppDelegate &d() { return *delegate; }

    std::unique_ptr<VistrelAppDelegate> delegate;
};

// The recorder times of a recording's frames, in UTC and local time, each written with
// `format` (year, month, day, hour, minute, second).
inline std::set<QString> manifestFrameTimes(const mkrec::Manifest &manifest, const char *format) {
    std::set<QString> times;
    for (const mkrec::Unit *u : manifest.video()) {
        const time_t seconds = static_cast<time_t>(u->tUs / 1000000);
        struct tm parts[2];
        gmtime_r(&seconds, &parts[0]);
        localtime_r(&seconds, &parts[1]);
        for (const struct tm &t : parts)
            times.insert(QString::asprintf(format, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                                           t.tm_min, t.tm_sec));
    }
    return times;
}
