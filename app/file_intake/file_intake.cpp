#include "app/file_intake/file_intake.h"

#include <QFile>
#include <QFileDialog>

#include "app/VistrelAppDelegate.h"
#include "app/logic/folder_stepping.h"
#include "app/main_window.h"
#include "platform/log.h"

FileIntake::FileIntake(VistrelAppDelegate &app) : app_(app) {}

FileIntake::~FileIntake() {
    if (openPanel_) delete openPanel_.data();
}

QFileDialog *FileIntake::openPanel() const {
    return openPanel_.data();
}

void FileIntake::openPlaybackFile() {
    if (openPanel_) {
        openPanel_->raise();
        openPanel_->activateWindow();
        return;
    }
    auto *panel = new QFileDialog(app_.window);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    openPanel_ = panel;
    // The panel's path is the file's path as it stands: nothing in it is decoded again.
    QObject::connect(panel, &QFileDialog::fileSelected, panel, [this](const QString &file) {
        if (!file.isEmpty()) app_.openFileDirectly(file);
    });
    panel->open();
}

void FileIntake::openFileDirectly(const QString &path) {
    app_.releaseFilePathObject();
    const RecorderFilePath names = splitRecorderFilePath(QFile::encodeName(path).toStdString());
    app_.setAbsoluteFilePath(path);
    app_.fileName = QFile::decodeName(QByteArray::fromStdString(names.fileName));
    app_.fileExtension = QFile::decodeName(QByteArray::fromStdString(names.fileExtension));
    app_.fileNameWithExtension = QFile::decodeName(QByteArray::fromStdString(names.fileNameWithExtension));
    app_.absoluteFileDir = QFile::decodeName(QByteArray::fromStdString(names.absoluteFileDir));
    folder_ = names.absoluteFileDir;
    recordFileLocationInFolder();
    app_.activateFilePlayback();
}

void FileIntake::recordFileLocationInFolder() {
    folderListing_.clear();
    const std::string path = app_.absoluteFilePath();
    const RecorderFilePath names = splitRecorderFilePath(path);
    folder_ = names.absoluteFileDir;
    folderListed_ = readFolderListing(folder_.empty() ? std::string("./") : folder_, folderListing_);
    if (!folderListed_) return;
    app_.setFileLocationInFolder(fileLocationInFolder(folderListing_, names.lastPathComponent));
}

void FileIntake::openEntry(size_t index) {
    if (index >= folderListing_.size()) return;
    const std::string path = joinFolderAndName(folder_, folderListing_[index]);
    app_.openFileDirectly(QFile::decodeName(QByteArray::fromStdString(path)));
}

void FileIntake::openNextFile() {
    if (!folderListed_) return;
    const FolderStep step = ::openNextFile(folderListing_, app_.fileLocationInFolder());
    app_.setFileLocationInFolder(step.fileLocationInFolder);
    if (step.found) openEntry(step.entryIndex);
}

void FileIntake::openPreviousFile() {
    if (!folderListed_) return;
    const FolderStep step = ::openPreviousFile(folderListing_, app_.fileLocationInFolder());
    app_.setFileLocationInFolder(step.fileLocationInFolder);
    if (step.found) openEntry(step.entryIndex);
}
