#include "app/frame_geometry.h"

#include <QWidget>
#include <cmath>

QRectF flipFrameInParent(const QRectF &frame, qreal parentHeight) {
    return QRectF(frame.x(), parentHeight - frame.y() - frame.height(), frame.width(), frame.height());
}

QRect pixelAlignedRect(const QRectF &rect) {
    const int left = static_cast<int>(std::lround(rect.left()));
    const int top = static_cast<int>(std::lround(rect.top()));
    const int right = static_cast<int>(std::lround(rect.left() + rect.width()));
    const int bottom = static_cast<int>(std::lround(rect.top() + rect.height()));
    return QRect(left, top, right - left, bottom - top);
}

void setBottomUpFrame(QWidget *widget, const QRectF &frame, const QWidget *parent) {
    if (!widget) return;
    if (!parent) parent = widget->parentWidget();
    const qreal parentHeight = parent ? parent->height() : frame.y() + frame.height();
    widget->setGeometry(pixelAlignedRect(flipFrameInParent(frame, parentHeight)));
}

QRectF bottomUpFrame(const QWidget *widget) {
    if (!widget) return QRectF();
    const QWidget *parent = widget->parentWidget();
    const qreal parentHeight = parent ? parent->height() : widget->height();
    return flipFrameInParent(QRectF(widget->geometry()), parentHeight);
}
