#include "app/engine_side/main_thread_poster.h"

#include <QMetaObject>

void QtMainThreadPoster::postToMainThread(std::function<void()> task) {
    if (!context_ || !task) return;
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}
