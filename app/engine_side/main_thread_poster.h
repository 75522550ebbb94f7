// Queues engine work to the GUI thread. Work posted for a context object that is destroyed
// before the GUI thread gets to it is dropped, never run.
#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "engines/engine_delegate.h"

class QtMainThreadPoster : public MainThreadPoster {
  public:
    // `context` must live on the GUI thread; its destruction cancels what is still queued.
    explicit QtMainThreadPoster(QObject *context) : context_(context) {}
    // Tasks run on the GUI thread in the order they were posted. Every picture brings a few of
    // them (the picture, the time, the progress) from each channel: they wait in one queue, and
    // only a task posted to an empty queue wakes the GUI thread, which then runs what waits.
    void postToMainThread(std::function<void()> task) override;
    // What waits is dropped, never run: what a stopped engine had queued is out of date.
    void dropQueued();

  private:
    struct Queue {
        std::mutex mutex;
        std::deque<std::function<void()>> tasks;
        bool drainPosted = false;
    };
    static void drain(const std::shared_ptr<Queue> &queue, QObject *context);
    static void postDrain(const std::shared_ptr<Queue> &queue, QObject *context);

    QObject *const context_;
    const std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
};
