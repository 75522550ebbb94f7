// The player's main window, built from its interface document (MainWindow.ui).
#pragma once

#include "app/content_border_window.h"
#include "ui_MainWindow.h"

class VistrelAppDelegate;

class MainWindow : public ContentBorderWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget *parent = nullptr);

    // Receives the window's notices (resizing).
    void setDelegate(VistrelAppDelegate *delegate) { delegate_ = delegate; }
    VistrelAppDelegate *delegate() const { return delegate_; }

    Ui::MainWindow ui;

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    VistrelAppDelegate *delegate_ = nullptr;
};
