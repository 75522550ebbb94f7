#include "app/engine_side/main_thread_poster.h"

#include <QMetaObject>

void QtMainThreadPoster::postToMainThread(std::function<void()> task) {
    if (!context_ || !task) return;
    {
        std::lock_guard<std::mutex> lock(queue_->mutex);
        queue_->tasks.push_back(std::move(task));
        if (queue_->drainPosted) return;
        queue_->drainPosted = true;
    }
    postDrain(queue_, context_);
}

void QtMainThreadPoster::dropQueued() {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->tasks.clear();
}

void QtMainThreadPoster::drain(const std::shared_ptr<Queue> &queue, QObject *context) {
    // What waits when the pass begins, one task at a time (a task may post more). Tasks posted
    // meanwhile get a pass of their own, after the GUI thread's other events, so that a steady
    // stream of pictures never starves painting and input.
    size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        count = queue->tasks.size();
    }
    for (; count > 0; --count) {
        std::function<void()> task;
        {
            std::lock_guard<std::mutex> lock(queue->mutex);
            // A task may have dropped the rest.
            if (queue->tasks.empty()) break;
            task = std::move(queue->tasks.front());
            queue->tasks.pop_front();
        }
        task();
    }
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        if (queue->tasks.empty()) {
            queue->drainPosted = false;
            return;
        }
    }
    postDrain(queue, context);
}

void QtMainThreadPoster::postDrain(const std::shared_ptr<Queue> &queue, QObject *context) {
    QMetaObject::invokeMethod(
        context, [queue, context] { drain(queue, context); }, Qt::QueuedConnection);
}
