// Conversions through the application itself: the real delegate with its engines, activation and
// window; sheets that the test answers; the settings in a store of the test's own; and a record
// of what the engines handed to the conversion.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/alerts.h"
#include "app/channel_selection_panel.h"
#include "app/controls/AMIndeterminateProgressIndicatorCell.h"
#include "app/controls/CustomizedButton.h"
#include "app/conversion/avi_conversion.h"
#include "app/main_window.h"
#include "app/panel_fold.h"
#include "common/mkrec_fixture.h"
#include "qt_test_app.h"

namespace convtest {

struct Sheet {
    QString message, informative;
    QStringList buttons;
    std::function<void(int)> done;
};

// The application's alert sheets, recorded for the test to answer.
class RecordingSheets : public AlertPresenter {
  public:
    void present(QWidget *, const Alert &alert, AlertCompletion done) override {
        sheets.push_back({alert.messageText, alert.informativeText, alert.buttons, std::move(done)});
    }
    // Answers the last sheet with the button code.
    void answer(int code) {
        ASSERT_FALSE(sheets.empty());
        auto done = sheets.back().done;
        if (done) done(code);
    }
    std::vector<Sheet> sheets;
};

// What the engines handed to the conversion while it ran.
struct Delivered {
    struct Video {
        unsigned channel;
        std::string md5;
        bool key;
        _SYSTEMTIME time;
    };
    std::vector<Video> video;
    std::vector<std::vector<char>> pcm; // one entry per packet copied for the AVI
};

// The real application, its conversion answering to the test.
struct Rig {
    // realSheets: the window shows its sheets (default: the test answers them).
    explicit Rig(bool realSheets = false) {
        testApp();
        // The settings the panel loads and stores live in a store of this rig's own.
        QCoreApplication::setOrganizationName(QStringLiteral("vistrel-tests"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(settingsDir.path()));
        QSettings().clear();
        setPanelFoldStepDuration(0); // the tests that watch the fold set their own
        delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        conversion = delegate->aviConversion();
        if (!realSheets) previousSheets = setAlertPresenter(&sheets);
        conversion->otherFileDelayMs = 50;
        conversion->onVideoTaken = [this](unsigned channel, const uint8_t *frame, unsigned length, bool key,
                                          const _SYSTEMTIME &time) {
            std::string md5 = mkrec::md5Hex(frame, length);
            std::lock_guard<std::mutex> lock(mutex);
            delivered.video.push_back({channel, std::move(md5), key, time});
        };
        conversion->onAudioTaken = [this](const char *pcm, int length) {
            std::lock_guard<std::mutex> lock(mutex);
            delivered.pcm.emplace_back(pcm, pcm + length);
        };
    }
    ~Rig() {
        // As quitting does: the delegate ends a running conversion, then its engines.
        delegate.reset();
        setAlertPresenter(previousSheets);
    }
    // The settings panel's AVI folder, frame rate field and audio switch.
    void setSettings(const std::string &aviFolder, bool audioOff = false, const QString &frameRate = "30") {
        ConfigSettingPanel *panel = delegate->configSettingPanel();
        ASSERT_NE(panel, nullptr);
        panel->filePathField()->setText(QString::fromStdString(aviFolder));
        panel->frameRateField()->setText(frameRate);
        panel->audioDisabledCheckBtnForAVIConversion()->setChecked(audioOff);
    }
    int state() const { return delegate->playerState(); }
    // An engine was started for the conversion.
    bool started() const { return delegate->playbackIsActivated(); }
    // How many of the locked buttons are enabled.
    int enabledButtons() const {
        int n = 0;
        for (QWidget *b : {static_cast<QWidget *>(delegate->window()->ui.openFileBtn),
                           static_cast<QWidget *>(delegate->window()->ui.aviConversionBtn),
                           static_cast<QWidget *>(delegate->window()->ui.playActionBtn),
                           static_cast<QWidget *>(delegate->window()->ui.fastForwardBtn),
                           static_cast<QWidget *>(delegate->window()->ui.audioChannelSwitchBtn)})
            n += b->isEnabled();
        return n;
    }
    // How each of `controls` looks now.
    static std::vector<QImage> looks(const std::vector<QWidget *> &controls) {
        std::vector<QImage> out;
        for (QWidget *c : controls)
            out.push_back(c->grab().toImage());
        return out;
    }
    // The conversion's open panel takes `path`.
    bool choose(const QString &path) {
        if (!serveEventsUntil([&] { return conversion->conversionOpenPanel() != nullptr; }, 3000))
            return false;
        QFileDialog *panel = conversion->conversionOpenPanel();
        // As the panel does when the user picks the file (its own listing runs in the
        // background and is not what is tested here).
        emit panel->fileSelected(path);
        static_cast<QDialog *>(panel)->done(QDialog::Accepted);
        return serveEventsUntil(
            [&] { return conversion->phase() != avitarget::ConversionPhase::ChoosingFile; }, 3000);
    }
    bool waitForSheet(size_t count, int ms = 30000) {
        return serveEventsUntil([&] { return sheets.sheets.size() >= count; }, ms);
    }

    mkrec::TempDir settingsDir;
    std::unique_ptr<VistrelAppDelegate> delegate;
    RecordingSheets sheets;
    AlertPresenter *previousSheets = nullptr;
    AVIConversion *conversion = nullptr;
    std::mutex mutex;
    Delivered delivered;
};

} // namespace convtest
