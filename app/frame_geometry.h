// Frames with the origin at the bottom-left corner of the parent and y growing upwards are how
// the player's layout numbers are written; Qt places widgets from the top-left with y growing
// downwards. Every such frame is turned into widget geometry here, and nowhere else.
#pragma once

#include <QRect>
#include <QRectF>

class QWidget;

// The rectangle mirrored inside a parent of the given height. The mapping is its own inverse:
// it turns a bottom-up frame into top-down geometry and back.
QRectF flipFrameInParent(const QRectF &frame, qreal parentHeight);

// Widget geometry from a fractional rectangle: each edge rounded to the nearest pixel, so that
// adjoining frames stay adjoining.
QRect pixelAlignedRect(const QRectF &rect);

// Places `widget` at a bottom-up frame inside `parent` (the widget's own parent when null).
void setBottomUpFrame(QWidget *widget, const QRectF &frame, const QWidget *parent = nullptr);

// The widget's frame, bottom-up, inside its parent.
QRectF bottomUpFrame(const QWidget *widget);
