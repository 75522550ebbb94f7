// A conversion to AVI through the real application (delegate, engines, conversion) on the
// offscreen platform, for a 16-channel D1 DV5 recording (one channel converted, chosen on the
// channel panel) and a 4-channel 1080p AVC recording (channel 1):
//   - wall time of the conversion against the recording's duration (a conversion is paced at
//     1x, so the goal is at most 1.05);
//   - processor time of the whole process during the conversion against FFmpeg copying the same
//     channel's stream (taken out of the recording beforehand) into an AVI file, in the same run.
// Usage: conversion_bench [seconds of recording (default 60)]
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/alerts.h"
#include "app/channel_selection_panel.h"
#include "app/conversion/avi_conversion.h"
#include "common/mkrec_fixture.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(const timeval &tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

double processCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

// Sheets answered at once; the first answer ends the conversion's window state.
class AnsweringSheets : public AlertPresenter {
  public:
    void present(QWidget *, const Alert &alert, AlertCompletion done) override {
        result = alert.messageText;
        if (done) done(kAlertFirstButtonReturn);
    }
    QString result;
};

struct Converted {
    bool ok = false;
    QString result;
    double wall = 0, cpu = 0;
};

// Converts `path` (channel `channel` when the panel asks) into `folder` through the application.
Converted convert(const std::string &path, const std::string &folder, int channel) {
    Converted c;
    auto d = std::make_unique<VistrelAppDelegate>();
    d->applicationDidFinishLaunching();
    d->configSettingPanel()->filePathField()->setText(QString::fromStdString(folder));
    AnsweringSheets sheets;
    AVIConversion *conversion = d->aviConversion();
    AlertPresenter *previous = setAlertPresenter(&sheets);
    conversion->openPlaybackFileAndConvertToAVI();
    QCoreApplication::processEvents();
    QFileDialog *panel = conversion->conversionOpenPanel();
    if (!panel) {
        setAlertPresenter(previous);
        return c;
    }
    const double cpu0 = processCpuSeconds();
    const auto t0 = Clock::now();
    emit panel->fileSelected(QString::fromStdString(path));
    static_cast<QDialog *>(panel)->done(QDialog::Accepted);
    if (conversion->phase() == avitarget::ConversionPhase::WaitingForChannel) {
        d->channelSelectionPanel()->ui.videoChannelSelectionBtn->setCurrentText(QString::number(channel));
        d->channelSelectionPanel()->ui.channelSelectionOkBtn->click();
    }
    while (sheets.result.isEmpty()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    c.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    c.cpu = processCpuSeconds() - cpu0;
    c.result = sheets.result;
    c.ok = sheets.result == QStringLiteral("AVI Conversion Complete");
    d.reset();
    setAlertPresenter(previous);
    return c;
}

// The channel's compressed frames from its first key frame, as one elementary stream file.
bool extractChannel(const mkrec::Recording &rec, int channel0, const std::string &out) {
    const std::vector<uint8_t> bytes = mkrec::readFile(rec.path);
    std::ofstream f(out, std::ios::binary);
    bool started = false;
    for (const mkrec::Unit *u : rec.manifest.video(channel0)) {
        started = started || u->key;
        if (!started || u->esOffset + u->esLen > bytes.size()) continue;
        f.write(reinterpret_cast<const char *>(bytes.data() + u->esOffset),
                static_cast<std::streamsize>(u->esLen));
    }
    return started && f.good();
}

// FFmpeg copies the stream into an AVI file: its processor and wall time.
bool ffmpegCopy(const std::string &es, const std::string &avi, int fps, double *cpu, double *wall) {
    const std::string rate = std::to_string(fps);
    std::vector<std::string> args{"ffmpeg",     "-nostdin", "-v", "error", "-y", "-f",   "h264",
                                  "-framerate", rate,       "-i", es,      "-c", "copy", avi};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid) return false;
    *wall = std::chrono::duration<double>(Clock::now() - t0).count();
    *cpu = seconds(ru.ru_utime) + seconds(ru.ru_stime);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    QApplication application(argc, argv);
    const int duration = argc > 1 ? std::max(2, atoi(argv[1])) : 60;
    mkrec::TempDir dir;
    QCoreApplication::setOrganizationName(QStringLiteral("vistrel-bench"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir.file("settings")));

    struct Case {
        const char *name, *file;
        std::vector<std::string> args;
        int channel; // 1-based
    };
    const std::string secs = std::to_string(duration);
    const std::vector<Case> cases{
        {"DV5 16 x D1, channel 1",
         "d1.dv5",
         {"--kind", "dv5-nvr", "--size", "704x576", "--video-mask", "0xffff", "--audio-mask", "0x1",
          "--duration", secs},
         1},
        {"AVC 4 x 1080p, channel 1",
         "hd.avc",
         {"--kind", "avc", "--size", "1920x1080", "--video-mask", "0xf", "--audio-mask", "0x1", "--duration",
          secs},
         1},
    };
    printf("%-26s %8s %9s %7s %9s %10s %10s %8s\n", "recording", "length s", "wall s", "wall/x", "cpu s",
           "ffmpeg cpu", "ffmpeg wall", "cpu/ff");
    for (const Case &c : cases) {
        fprintf(stderr, "writing %s...\n", c.file);
        mkrec::Recording rec = mkrec::make(dir, c.file, c.args);
        if (!rec.ok()) {
            fprintf(stderr, "cannot make %s: %s\n", c.file, rec.output.c_str());
            continue;
        }
        const std::vector<const mkrec::Unit *> units = rec.manifest.video(c.channel - 1);
        const int fps = static_cast<int>(rec.manifest.num("fps"));
        if (units.empty() || fps <= 0) continue;
        // From the first frame's time to the end of the last one's.
        const double length = static_cast<double>(units.back()->tUs - units.front()->tUs) * 1e-6 + 1.0 / fps;

        const std::string es = dir.file(std::string(c.file) + ".es");
        double ffCpu = 0, ffWall = 0;
        const bool ffOk = extractChannel(rec, c.channel - 1, es) &&
                          ffmpegCopy(es, dir.file(std::string(c.file) + ".ffmpeg.avi"), fps, &ffCpu, &ffWall);
        const std::string out = dir.file(std::string(c.file) + ".out");
        mkdir(out.c_str(), 0755);
        const Converted ours = convert(rec.path, out, c.channel);
        if (!ours.ok) fprintf(stderr, "%s: %s\n", c.name, qPrintable(ours.result));
        printf("%-26s %8.2f %9.2f %7.3f %9.2f %10.3f %10.3f %8.1f\n", c.name, length, ours.wall,
               ours.wall / length, ours.cpu, ffOk ? ffCpu : 0.0, ffOk ? ffWall : 0.0,
               ffOk && ffCpu > 0 ? ours.cpu / ffCpu : 0.0);
    }
    return 0;
}
