// The player's main window, built from its interface document (MainWindow.ui).
#pragma once

#include <QSize>

#include <cstdint>
#include <functional>

#include "app/content_border_window.h"
#include "ui_MainWindow.h"

class MainWindow : public ContentBorderWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget *parent = nullptr);

    // The object that receives the window's notices (it connects to `resized`).
    void setDelegate(QObject *delegate) { delegate_ = delegate; }
    QObject *delegate() const { return delegate_; }
    // Asked about each size the window is given by anyone but the application's own frame
    // changes (the user, the window manager, a caller of resize()): the window takes the
    // size it answers instead.
    void setWindowWillResize(std::function<QSize(const QSize &proposed)> answer) {
        windowWillResize_ = std::move(answer);
    }
    // The application's own change of the window's size, which is not asked about.
    void setFrameSize(const QSize &size);

    // The launch's finish of the window's controls: the two progress sliders with their bars,
    // the control strips with the volume at half, the status strip showing `stop`, and the
    // channel menus (count items; `list` holds count channel numbers, or is null for 1..count;
    // the grid menu's items are 4, 6, 9, 12 and 16 panes).
    void initCustomizedProgressSlider();
    void initControlPanel();
    void initStatusPane(const QPixmap &stop, const QPixmap &stopInFullScreen);
    void insertItemsToAudioChannelSwitchBtn(int count, const uint8_t *list);
    void insertItmesToVideoChannelSwitchBtn(int count);

    Ui::MainWindow ui;

  signals:
    // The window changed size (the video pane follows).
    void resized();

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    QObject *delegate_ = nullptr;
    std::function<QSize(const QSize &)> windowWillResize_;
    // The size the application last gave the window itself, and the last size refused.
    QSize ownSize_;
    QSize refusedSize_;
};
