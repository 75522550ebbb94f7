#include "app/controls/CustomizedView.h"

#include <QMouseEvent>

CustomizedView::CustomizedView(QWidget *parent) : LayerView(parent) {
    // Mouse moves without a pressed button reach the view only with tracking on.
    setMouseTracking(true);
}

void CustomizedView::reportPointerOver(QWidget *child) {
    if (!child) return;
    QList<QWidget *> widgets = child->findChildren<QWidget *>();
    widgets.prepend(child);
    for (QWidget *w : widgets) {
        // Without tracking a move over the widget is dropped before any filter sees it.
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
}

bool CustomizedView::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonPress)
        emit pointerActivity();
    return LayerView::eventFilter(watched, event);
}

void CustomizedView::mousePressEvent(QMouseEvent *event) {
    emit pointerActivity();
    event->accept();
}

void CustomizedView::mouseMoveEvent(QMouseEvent *event) {
    emit pointerActivity();
    event->accept();
}
