#include "app/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPalette>

#include "app/VistrelAppDelegate.h"

namespace {
// The window's dark finish: the video is the brightest thing in it.
QPalette playerPalette(QPalette palette) {
    const QColor window(48, 50, 54), text(214, 226, 236), base(32, 34, 38), button(64, 67, 72);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(79, 160, 220));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, text.darker(170));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, text.darker(170));
    palette.setColor(QPalette::Disabled, QPalette::Text, text.darker(170));
    return palette;
}
} // namespace

MainWindow::MainWindow(QWidget *parent) : ContentBorderWindow(parent, Qt::Window) {
    ui.setupUi(this);
    setPalette(playerPalette(palette()));
    setAutoFillBackground(true);
    QFont timeFont = ui.serverTimeLabel->font();
    timeFont.setPixelSize(17);
    timeFont.setBold(true);
    ui.serverTimeLabel->setFont(timeFont);
    QPalette timePalette = ui.serverTimeLabel->palette();
    timePalette.setColor(QPalette::WindowText, QColor(159, 232, 255));
    ui.serverTimeLabel->setPalette(timePalette);
    for (QLabel *label : {ui.videoModeLabel, ui.aviProgressLabel, ui.aviFrameRateLabel}) {
        QFont f = label->font();
        f.setPixelSize(12);
        label->setFont(f);
    }
}

void MainWindow::resizeEvent(QResizeEvent *event) {
    ContentBorderWindow::resizeEvent(event);
    if (delegate_) delegate_->windowDidResize();
}

// Closing the main window ends the player: without it nothing of the player would be left on
// the screen to come back to.
void MainWindow::closeEvent(QCloseEvent *event) {
    event->accept();
    QCoreApplication::quit();
}
