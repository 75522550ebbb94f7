#include "app/content_border_window.h"

#include <QLayout>
#include <QLinearGradient>
#include <QPainter>
#include <cmath>

ContentBorderWindow::ContentBorderWindow(QWidget *parent, Qt::WindowFlags flags) : QWidget(parent, flags) {}

void ContentBorderWindow::setContentBorderThickness(qreal thickness, Qt::Edge edge) {
    if (thickness < 0) thickness = 0;
    if (edge == Qt::BottomEdge)
        bottom_ = thickness;
    else if (edge == Qt::TopEdge)
        top_ = thickness;
    else
        return;
    if (QLayout *l = layout()) {
        QMargins m = l->contentsMargins();
        m.setTop(static_cast<int>(std::ceil(top_)));
        m.setBottom(static_cast<int>(std::ceil(bottom_)));
        l->setContentsMargins(m);
    }
    update();
}

qreal ContentBorderWindow::contentBorderThickness(Qt::Edge edge) const {
    if (edge == Qt::BottomEdge) return bottom_;
    if (edge == Qt::TopEdge) return top_;
    return 0;
}

void ContentBorderWindow::paintEvent(QPaintEvent *) {
    if (top_ <= 0 && bottom_ <= 0) return;
    QPainter painter(this);
    auto band = [&](const QRectF &r, bool separatorOnTop) {
        QLinearGradient gradient(r.topLeft(), r.bottomLeft());
        gradient.setColorAt(0.0, QColor(96, 99, 104));
        gradient.setColorAt(1.0, QColor(58, 60, 64));
        painter.fillRect(r, gradient);
        painter.setPen(QColor(30, 31, 34));
        const qreal y = separatorOnTop ? r.top() + 0.5 : r.bottom() - 0.5;
        painter.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    };
    if (bottom_ > 0) band(QRectF(0, height() - bottom_, width(), bottom_), true);
    if (top_ > 0) band(QRectF(0, 0, width(), top_), false);
}
