// The settings panel's values in the user's settings store (QSettings of the application), and
// the user's documents folder under which the default folders lie.
#pragma once

#include <QSettings>
#include <QString>

#include <optional>

// The user's documents folder (the home folder when the desktop names none).
QString documentsFolder();

struct StoredConfigSettings {
    std::optional<QString> aviFolder;
    std::optional<QString> snapshotFolder;
    std::optional<QString> audioDisabled; // the check button's state, as text
};

StoredConfigSettings readConfigSettings(QSettings &settings);
// Stores the three values and writes them out at once.
void writeConfigSettings(QSettings &settings, const QString &aviFolder, const QString &snapshotFolder,
                         int audioDisabledState);
