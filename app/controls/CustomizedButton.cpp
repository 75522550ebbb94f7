#include "app/controls/CustomizedButton.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "platform/log.h"

void ImageButton::paintEvent(QPaintEvent *event) {
    if (isEnabled() || icon().isNull()) {
        QPushButton::paintEvent(event);
        return;
    }
    // The style's own disabled picture barely differs from a light one: the enabled picture,
    // faded into the button, is drawn instead.
    QStyleOptionButton option;
    initStyleOption(&option);
    const qreal ratio = devicePixelRatioF();
    const QPixmap normal =
        icon().pixmap(option.iconSize, ratio, QIcon::Normal, isChecked() ? QIcon::On : QIcon::Off);
    QPixmap faded(normal.size());
    faded.setDevicePixelRatio(normal.devicePixelRatio());
    faded.fill(Qt::transparent);
    {
        QPainter p(&faded);
        p.setOpacity(kDisabledOpacity);
        p.drawPixmap(0, 0, normal);
    }
    QIcon dimmed;
    for (QIcon::State state : {QIcon::Off, QIcon::On})
        dimmed.addPixmap(faded, QIcon::Disabled, state);
    option.icon = dimmed;
    QStylePainter painter(this);
    painter.drawControl(QStyle::CE_PushButton, option);
}

PressAndHoldButton::PressAndHoldButton(QWidget *parent) : ImageButton(parent) {}

void PressAndHoldButton::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        logDown();
        setBtnPressed(1);
        logPressed();
    }
    QPushButton::mousePressEvent(event);
}

void PressAndHoldButton::mouseReleaseEvent(QMouseEvent *event) {
    // The stock button sends its click (when released inside) before the press is over.
    QPushButton::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && btnPressed() != 0) mouseUp();
}

void PressAndHoldButton::mouseUp() {
    logUp();
    setBtnPressed(0);
}

// A hidden or disabled button no longer receives the release; its press ends here instead.
void PressAndHoldButton::hideEvent(QHideEvent *event) {
    if (btnPressed() != 0) mouseUp();
    QPushButton::hideEvent(event);
}

void PressAndHoldButton::changeEvent(QEvent *event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled() && btnPressed() != 0) mouseUp();
    QPushButton::changeEvent(event);
}

void CustomizedButton1::logDown() {
    player_log("btn1 down\n");
}
void CustomizedButton1::logUp() {
    player_log("btn1 up\n");
}

void CustomizedButton2::logDown() {
    player_log("btn2 down\n");
}
void CustomizedButton2::logPressed() {
    player_log("btnPressed = %d", btnPressed());
}
void CustomizedButton2::logUp() {
    player_log("btn2 up\n");
}
