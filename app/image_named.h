// The player's pictures, looked up by their file names ("play.png", "slidebar_dot.png", ...)
// in the resources built into the program.
#pragma once

#include <QPixmap>
#include <QString>

// The picture of that name; a null pixmap (size 0 x 0) when the resources have none.
QPixmap imageNamed(const QString &name);

// The resource path behind a name, for places that take a path (style sheets, icons).
QString imageResourcePath(const QString &name);
