// The settings panel's values in the user's settings store (QSettings of the application), and
// the user's documents folder under which the default folders lie.
#pragma once

#include <QSettings>
#include <QString>

#include <optional>

// Names the application for the desktop, which keeps its settings under these names
// (~/.config/Vistrel/recorderplayer.conf). Settings that earlier builds, which named no
// organisation, kept under Qt's "Unknown Organization" are taken over while the new store is
// empty, so that the user's chosen folders are not lost; the earlier file is left as it is.
void nameApplicationAndAdoptEarlierSettings();

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
