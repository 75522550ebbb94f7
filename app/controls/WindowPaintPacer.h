// Paces a window's paint passes to its screen's frames. A video wall gets a new picture every
// few milliseconds (16 tiles at 25 pictures a second), and the progress, time and text around it
// change with every frame of the file; each change painted on its own costs one paint pass and
// one transfer to the window system, while the screen shows one frame per refresh. The pacer lets
// a pass through when the last one is at least a frame old, and otherwise holds it until the
// frame is over, so that everything that changed in between is painted in that one pass.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class WindowPaintPacer : public QObject {
    Q_OBJECT
  public:
    // Paces `window` (a top-level widget) from now on; a frame of `frameIntervalMs`, or of the
    // window's screen when 0.
    explicit WindowPaintPacer(QWidget *window, int frameIntervalMs = 0);

    // A held paint pass waits for the end of the frame.
    bool holding() const { return timer_.isActive(); }
    // Paints at once what waits for a pass, so that the screen shows the widgets as they are now
    // (a screenshot compared with the widgets' own drawing).
    void paintNow();
    // Milliseconds between two frames.
    int frameIntervalMs() const;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void release();

    const QPointer<QWidget> window_;
    const int fixedIntervalMs_;
    QElapsedTimer sinceLastPass_;
    QTimer timer_;
    bool releasing_ = false;
};
