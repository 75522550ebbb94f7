#include "app/controls/CustomizedView.h"

#include <QMouseEvent>

CustomizedView::CustomizedView(QWidget *parent) : LayerView(parent) {
    // Mouse moves without a pressed button reach the view only with tracking on.
    setMouseTracking(true);
}

void CustomizedView::mousePressEvent(QMouseEvent *event) {
    emit pointerActivity();
    event->accept();
}

void CustomizedView::mouseMoveEvent(QMouseEvent *event) {
    emit pointerActivity();
    event->accept();
}
