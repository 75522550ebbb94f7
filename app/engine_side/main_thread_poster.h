// Queues engine work to the GUI thread (QMetaObject::invokeMethod, queued). Work posted for a
// context object that is destroyed before the GUI thread gets to it is dropped, never run.
#pragma once

#include <QObject>
#include <QPointer>

#include "engines/engine_delegate.h"

class QtMainThreadPoster : public MainThreadPoster {
  public:
    // `context` must live on the GUI thread; its destruction cancels what is still queued.
    explicit QtMainThreadPoster(QObject *context) : context_(context) {}
    void postToMainThread(std::function<void()> task) override;

  private:
    QObject *const context_;
};
