// Drives the player under a virtual X server for panels_screenshots.sh: plays RECORDING in its
// grid, opens the colour panel (saturation at 0, so the tiles turn grey) and then the settings
// panel, each over the playing grid. For each panel it writes WORKDIR/<name>.geometry (the
// panel's and the first tile's frames on screen: x y width height), creates WORKDIR/<name>.ready
// and waits for the script to create WORKDIR/<name>.grabbed.
//   app_panels_screenshot RECORDING WORKDIR
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSlider>
#include <QTextStream>

#include <cstdio>
#include <set>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/main_window.h"

namespace {

bool serveUntil(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Until `panel` has unfolded to its full frame and the tile has shown two pictures made since.
bool settle(const QWidget *panel, const CustomizedVideoView *tile) {
    std::set<qint64> shown{tile->contents().cacheKey()};
    return serveUntil(
        [&] {
            shown.insert(tile->contents().cacheKey());
            return panel->isVisible() && !panel->property("panelFoldAnimation").isValid() &&
                   panel->size() == panel->property("panelFullSize").toSize() && shown.size() >= 3;
        },
        20000);
}

QString frame(const QWidget *w) {
    const QPoint at = w->mapToGlobal(QPoint(0, 0));
    return QStringLiteral("%1 %2 %3 %4").arg(at.x()).arg(at.y()).arg(w->width()).arg(w->height());
}

// Publishes the frames of `panel` and the first tile, then waits for the grab.
bool handOver(const QString &workdir, const QString &name, const QWidget *panel, const QWidget *tile) {
    QFile geometry(workdir + "/" + name + ".geometry");
    if (!geometry.open(QIODevice::WriteOnly)) return false;
    QTextStream(&geometry) << frame(panel) << "\n" << frame(tile) << "\n";
    geometry.close();
    QFile ready(workdir + "/" + name + ".ready");
    if (!ready.open(QIODevice::WriteOnly)) return false;
    ready.close();
    return serveUntil([&] { return QFile::exists(workdir + "/" + name + ".grabbed"); }, 60000);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: app_panels_screenshot RECORDING WORKDIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QString recording = QString::fromLocal8Bit(argv[1]);
    const QString workdir = QString::fromLocal8Bit(argv[2]);
    VistrelAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    delegate.makeWindowKeyAndOrderFront();
    delegate.window()->move(0, 0);
    delegate.openFileDirectly(recording);
    CustomizedVideoView *tile = delegate.videoPaneLayout()->videoView()[0];
    if (!serveUntil([&] { return tile && tile->isVisible() && !tile->contents().isNull(); }, 10000)) {
        std::fprintf(stderr, "panels screenshot: no picture on the first tile\n");
        return 1;
    }

    delegate.window()->ui.colorAdjustBtn->click();
    delegate.colorSettingPanel()->ui.saturationSlider->setValue(0);
    if (!settle(delegate.colorSettingPanel(), tile)) {
        std::fprintf(stderr, "panels screenshot: the colour panel did not unfold over new pictures\n");
        return 1;
    }
    if (!handOver(workdir, "colour", delegate.colorSettingPanel(), tile)) return 1;

    delegate.colorSettingPanel()->ui.closeBtn->click();
    delegate.window()->ui.configSettingBtn->click();
    if (!settle(delegate.configSettingPanel(), tile)) {
        std::fprintf(stderr, "panels screenshot: the settings panel did not unfold over new pictures\n");
        return 1;
    }
    if (!handOver(workdir, "settings", delegate.configSettingPanel(), tile)) return 1;
    return 0;
}
