#include "app/panel_fold.h"

#include <QGuiApplication>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QSequentialAnimationGroup>
#include <QWidget>

#include <algorithm>

namespace {
int gStepDuration = 150;
constexpr int kStripWidth = 6;
const char kRunningFold[] = "panelFoldAnimation";
const char kFullSize[] = "panelFullSize";

// The panel's full size: its size when it first unfolds or folds (the panels are not
// resizable), kept so that a fold or unfold part-way, or a late report of a folded frame,
// never changes it.
QSize fullSizeOf(QWidget *panel) {
    const QVariant stored = panel->property(kFullSize);
    return stored.isValid() ? stored.toSize() : panel->size();
}

void stopRunningFold(QWidget *panel) {
    auto *running = panel->property(kRunningFold).value<QObject *>();
    if (running) {
        running->setProperty("cancelled", true);
        delete running;
    }
    panel->setProperty(kRunningFold, QVariant());
}

// Where the panel's left and bottom edges go: the bottom edge on the main window's bottom edge,
// centred across it, unless that puts part of the whole panel off the screen (a short window
// near the top of the screen, a tall panel): then moved just inside the screen's available area.
struct Anchor {
    int x0 = 0;
    int bottom = 0;
};

Anchor anchorOf(const QRect &main, const QSize &full, const QWidget *mainWindow) {
    Anchor a{main.x() + (main.width() - full.width()) / 2, main.y() + main.height()};
    const QScreen *screen = mainWindow ? mainWindow->screen() : QGuiApplication::primaryScreen();
    if (!screen) return a;
    const QRect area = screen->availableGeometry();
    // Right and bottom first, so that a panel larger than the screen keeps its top-left corner on it.
    a.x0 = std::max(std::min(a.x0, area.x() + area.width() - full.width()), area.x());
    a.bottom = std::max(std::min(a.bottom, area.y() + area.height()), area.y() + full.height());
    return a;
}

QRect frameAt(const Anchor &a, int width, int height) {
    return QRect(a.x0, a.bottom - height, width, height);
}

// Runs the steps from the panel's current geometry; without animations only `done` runs.
void run(QWidget *panel, const std::vector<QRect> &steps, std::function<void()> done) {
    stopRunningFold(panel);
    if (gStepDuration <= 0) {
        if (done) done();
        return;
    }
    auto *group = new QSequentialAnimationGroup(panel);
    for (const QRect &step : steps) {
        auto *animation = new QPropertyAnimation(panel, "geometry", group);
        animation->setDuration(gStepDuration);
        animation->setEndValue(step);
        group->addAnimation(animation);
    }
    panel->setProperty(kRunningFold, QVariant::fromValue<QObject *>(group));
    QPointer<QWidget> guard(panel);
    QPointer<QSequentialAnimationGroup> self(group);
    // Queued: the group reports its end before its last step has set its last frame.
    auto finish = [guard, self, done] {
        if (!self || self->property("cancelled").toBool()) return;
        if (guard) guard->setProperty(kRunningFold, QVariant());
        self->deleteLater();
        if (done) done();
    };
    QObject::connect(group, &QAbstractAnimation::finished, panel, finish, Qt::QueuedConnection);
    group->start();
}
} // namespace

void setPanelFoldStepDuration(int milliseconds) {
    gStepDuration = milliseconds;
}
int panelFoldStepDuration() {
    return gStepDuration;
}

void unfoldPanel(QWidget *panel, const QWidget *mainWindow) {
    if (!panel) return;
    const QSize full = fullSizeOf(panel);
    panel->setProperty(kFullSize, full);
    const QRect main = mainWindow ? mainWindow->frameGeometry() : QRect(panel->pos(), full);
    stopRunningFold(panel);
    const Anchor at = anchorOf(main, full, mainWindow);
    const QRect strip = frameAt(at, kStripWidth, full.height());
    const QRect whole = frameAt(at, full.width(), full.height());
    // A window cannot be 0 x 0: an animated unfold starts from one pixel; without animation
    // the panel appears at its full frame.
    panel->setGeometry(gStepDuration > 0 ? frameAt(at, 1, 1) : whole);
    panel->show();
    panel->raise();
    panel->activateWindow();
    run(panel, {strip, whole}, {});
}

void foldPanel(QWidget *panel, QWidget *mainWindow, std::function<void()> done) {
    if (!panel) return;
    const QSize full = fullSizeOf(panel);
    panel->setProperty(kFullSize, full);
    const QRect main = mainWindow ? mainWindow->frameGeometry() : panel->frameGeometry();
    const Anchor at = anchorOf(main, full, mainWindow);
    QPointer<QWidget> guard(panel);
    QPointer<QWidget> mainGuard(mainWindow);
    run(panel, {frameAt(at, kStripWidth, full.height()), frameAt(at, 1, 1)},
        [guard, mainGuard, at, full, done] {
            if (guard) {
                guard->hide();
                // The next unfold takes the full size from here too: the window system may still
                // report the last folded frame after this.
                guard->setGeometry(frameAt(at, full.width(), full.height()));
            }
            if (mainGuard) mainGuard->activateWindow();
            if (done) done();
        });
}
