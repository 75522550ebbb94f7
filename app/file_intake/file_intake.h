// How a recorder file reaches the player: the open panel, a path handed over directly (the
// command line, the desktop, a second launch), and stepping to the previous or next recorder
// file of the open file's folder. Every way ends in openFileDirectly on the GUI thread.
//
// The folder is read once per open into a snapshot of its listing; stepping walks that
// snapshot by index.
#pragma once

#include <QPointer>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class OpenFile;
class QFileDialog;
class QWidget;

// The one call file intake makes on the rest of the player.
class FileIntakePort {
  public:
    virtual ~FileIntakePort() = default;
    // The open file's path and names are set: play it.
    virtual void activateFilePlayback() = 0;
};

class FileIntake {
  public:
    // The open panel is a sheet of `window`.
    FileIntake(QWidget *window, OpenFile &file, FileIntakePort &port);
    ~FileIntake();
    FileIntake(const FileIntake &) = delete;
    FileIntake &operator=(const FileIntake &) = delete;

    // Shows the open panel without blocking; the chosen file is opened when the panel closes.
    void openPlaybackFile();
    // Records the path and its names, notes where the file stands in its folder and plays it.
    void openFileDirectly(const QString &path);
    // Reads the open file's folder and its position in it.
    void recordFileLocationInFolder();
    void openPreviousFile();
    void openNextFile();

    // The open panel while it is shown (for tests); null otherwise.
    QFileDialog *openPanel() const;
    // The folder listing taken at the last open; empty when the folder could not be read.
    const std::vector<std::string> &folderListing() const { return folderListing_; }
    bool folderListed() const { return folderListed_; }
    // Where the open file stands in the listing.
    int32_t fileLocationInFolder() const { return fileLocationInFolder_; }

  private:
    void openEntry(size_t index);

    QWidget *window_;
    OpenFile &file_;
    FileIntakePort &port_;
    int32_t fileLocationInFolder_ = 0;
    QPointer<QFileDialog> openPanel_;
    // The folder's file-system name, as the listing's names are joined to it.
    std::string folder_;
    std::vector<std::string> folderListing_;
    bool folderListed_ = false;
};
