#include "app/image_named.h"

#include <QFile>

// The images are compiled into the static app library; registering them here makes sure the
// linker keeps them in every program that shows one.
static void registerAppImages() {
    Q_INIT_RESOURCE(app_images);
}

QString imageResourcePath(const QString &name) {
    return QStringLiteral(":/images/") + name;
}

QPixmap imageNamed(const QString &name) {
    static const bool registered = (registerAppImages(), true);
    (void)registered;
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) return QPixmap();
    const QString path = imageResourcePath(name);
    if (!QFile::exists(path)) return QPixmap();
    return QPixmap(path);
}
