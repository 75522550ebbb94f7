// The player's main window, built from its interface document (MainWindow.ui).
#pragma once

#include <cstdint>

#include "app/content_border_window.h"
#include "ui_MainWindow.h"

class MainWindow : public ContentBorderWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget *parent = nullptr);

    // The object that receives the window's notices (it connects to `resized`).
    void setDelegate(QObject *delegate) { delegate_ = delegate; }
    QObject *delegate() const { return delegate_; }

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
};
