#include "app/panel_fold.h"

#include <QPointer>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>
#include <QWidget>

#include <atomic>

namespace {
std::atomic<int> gStepDuration{150};
constexpr int kStripWidth = 6;
const char kRunningFold[] = "panelFoldAnimation";
const char kFullSize[] = "panelFullSize";

// The panel's full size: its current size unless a fold or unfold has it part-way.
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

// Anchor: bottom edge on the main window's bottom edge, centred across it.
QRect frameAt(const QRect &main, const QSize &full, int width, int height) {
    const int x0 = main.x() + (main.width() - full.width()) / 2;
    const int bottom = main.y() + main.height();
    return QRect(x0, bottom - height, width, height);
}

// Runs the steps from the panel's current geometry, or sets the last at once without
// animations.
void run(QWidget *panel, const std::vector<QRect> &steps, std::function<void()> done) {
    stopRunningFold(panel);
    if (gStepDuration.load() <= 0) {
        panel->setGeometry(steps.back());
        if (done) done();
        return;
    }
    auto *group = new QSequentialAnimationGroup(panel);
    for (const QRect &step : steps) {
        auto *animation = new QPropertyAnimation(panel, "geometry", group);
        animation->setDuration(gStepDuration.load());
        animation->setEndValue(step);
        group->addAnimation(animation);
    }
    panel->setProperty(kRunningFold, QVariant::fromValue<QObject *>(group));
    QPointer<QWidget> guard(panel);
    QObject::connect(group, &QAbstractAnimation::finished, panel, [guard, group, done] {
        if (group->property("cancelled").toBool()) return;
        if (guard) guard->setProperty(kRunningFold, QVariant());
        group->deleteLater();
        if (done) done();
    });
    group->start();
}
} // namespace

void setPanelFoldStepDuration(int milliseconds) { gStepDuration.store(milliseconds); }
int panelFoldStepDuration() { return gStepDuration.load(); }

void unfoldPanel(QWidget *panel, const QWidget *mainWindow) {
    if (!panel) return;
    const QSize full = fullSizeOf(panel);
    panel->setProperty(kFullSize, full);
    const QRect main = mainWindow ? mainWindow->frameGeometry() : QRect(panel->pos(), full);
    stopRunningFold(panel);
    // A window cannot be 0 x 0: the unfold starts from one pixel.
    panel->setGeometry(frameAt(main, full, 1, 1));
    panel->show();
    panel->raise();
    panel->activateWindow();
    QPointer<QWidget> guard(panel);
    run(panel, {frameAt(main, full, kStripWidth, full.height()), frameAt(main, full, full.width(), full.height())},
        [guard] {
            if (guard) guard->setProperty(kFullSize, QVariant());
        });
}

void foldPanel(QWidget *panel, QWidget *mainWindow, std::function<void()> done) {
    if (!panel) return;
    const QSize full = fullSizeOf(panel);
    panel->setProperty(kFullSize, full);
    const QRect main = mainWindow ? mainWindow->frameGeometry() : panel->frameGeometry();
    QPointer<QWidget> guard(panel);
    QPointer<QWidget> mainGuard(mainWindow);
    run(panel, {frameAt(main, full, kStripWidth, full.height()), frameAt(main, full, 1, 1)},
        [guard, mainGuard, main, full, done] {
            if (guard) {
                guard->hide();
                guard->setGeometry(frameAt(main, full, full.width(), full.height()));
                guard->setProperty(kFullSize, QVariant());
            }
            if (mainGuard) mainGuard->activateWindow();
            if (done) done();
        });
}
