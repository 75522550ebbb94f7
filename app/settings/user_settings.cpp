#include "app/settings/user_settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include "app/logic/settings_defaults.h"

namespace sd = settings_defaults;

void nameApplicationAndAdoptEarlierSettings() {
    QCoreApplication::setOrganizationName(QStringLiteral("Vistrel"));
    QCoreApplication::setApplicationName(QStringLiteral("recorderplayer"));
    QSettings settings;
    if (!settings.allKeys().isEmpty()) return;
    const QSettings earlier(QStringLiteral("Unknown Organization"), QCoreApplication::applicationName());
    const QStringList keys = earlier.allKeys();
    if (keys.isEmpty()) return;
    for (const QString &key : keys)
        settings.setValue(key, earlier.value(key));
    settings.sync();
}

QString documentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

namespace {
std::optional<QString> stored(QSettings &settings, const char *key) {
    const QVariant value = settings.value(QString::fromLatin1(key));
    if (!value.isValid()) return std::nullopt;
    return value.toString();
}
} // namespace

StoredConfigSettings readConfigSettings(QSettings &settings) {
    return {stored(settings, sd::kKeyFilePathFieldStringValue),
            stored(settings, sd::kKeySnapshotFilePathFieldStringValue),
            stored(settings, sd::kKeyAVIConversionAudioDisabled)};
}

void writeConfigSettings(QSettings &settings, const QString &aviFolder, const QString &snapshotFolder,
                         int audioDisabledState) {
    settings.setValue(QString::fromLatin1(sd::kKeyAVIConversionAudioDisabled), audioDisabledState);
    settings.setValue(QString::fromLatin1(sd::kKeyFilePathFieldStringValue), aviFolder);
    settings.setValue(QString::fromLatin1(sd::kKeySnapshotFilePathFieldStringValue), snapshotFolder);
    settings.sync();
}
