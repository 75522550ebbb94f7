// How a recorder file reaches the player: the open panel, a path handed over directly (the
// command line, the desktop, a second launch), and stepping to the previous or next recorder
// file of the open file's folder. Every way ends in openFileDirectly on the GUI thread.
//
// The folder is read once per open into a snapshot of its listing; stepping walks that
// snapshot by index.
#pragma once

#include <QPointer>
#include <QString>

#include <string>
#include <vector>

class QFileDialog;
class VistrelAppDelegate;

class FileIntake {
  public:
    explicit FileIntake(VistrelAppDelegate &app);
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

  private:
    void openEntry(size_t index);

    VistrelAppDelegate &app_;
    QPointer<QFileDialog> openPanel_;
    // The folder's file-system name, as the listing's names are joined to it.
    std::string folder_;
    std::vector<std::string> folderListing_;
    bool folderListed_ = false;
};
