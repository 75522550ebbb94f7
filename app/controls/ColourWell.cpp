#include "app/controls/ColourWell.h"

#include <QColorDialog>
#include <QPainter>
#include <QPointer>

ColourWell::ColourWell(QWidget *parent) : QPushButton(parent) {
    setMinimumSize(44, 24);
    connect(this, &QPushButton::clicked, this, &ColourWell::openColourDialog);
}

void ColourWell::setColor(const QColor &colour) {
    color_ = colour;
    update();
}

void ColourWell::openColourDialog() {
    auto *dialog = new QColorDialog(color_, this);
    dialog->setOption(QColorDialog::ShowAlphaChannel);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<ColourWell> self(this);
    connect(dialog, &QColorDialog::colorSelected, this, [self](const QColor &chosen) {
        if (!self) return;
        self->setColor(chosen);
        emit self->colorChosen();
    });
    dialog->open();
}

void ColourWell::paintEvent(QPaintEvent *event) {
    QPushButton::paintEvent(event);
    QPainter painter(this);
    const QRect swatch = rect().adjusted(6, 5, -6, -5);
    painter.fillRect(swatch, color_);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
}
