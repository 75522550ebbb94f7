// Repaints the views of a video wall together, at most once per display frame. Each tile gets a
// new picture 25 times a second, so a 16-tile wall gets one every few milliseconds; repainting
// each on arrival costs one paint pass and one transfer to the window system per picture, while
// the screen shows one frame per refresh. A view marked here is repainted with the next frame,
// together with every other view marked before it: one pass, one transfer.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <vector>

class FrameRepaintCoalescer : public QObject {
    Q_OBJECT
  public:
    // `wall` is the view whose descendants are marked; its screen sets the frame rate.
    explicit FrameRepaintCoalescer(QWidget *wall);

    // `view` shows something new: it is repainted with the next frame.
    void markDirty(QWidget *view);
    // A repaint is due at the next frame.
    bool pending() const { return timer_.isActive(); }
    // Milliseconds between two frames of the wall's screen.
    int frameIntervalMs() const;

  private:
    void repaintDirty();

    QWidget *const wall_;
    QTimer timer_;
    std::vector<QPointer<QWidget>> dirty_;
};
