#include "app/file_intake/file_intake.h"

#include <QFile>
#include <QFileDialog>

#include "app/logic/folder_stepping.h"
#include "app/open_file/open_file.h"
#include "platform/log.h"

FileIntake::FileIntake(QWidget *window, OpenFile &file, FileIntakePort &port)
    : window_(window), file_(file), port_(port) {}

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
    auto *panel = new QFileDialog(window_);
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    openPanel_ = panel;
    // The panel's path is the file's path as it stands: nothing in it is decoded again.
    QObject::connect(panel, &QFileDialog::fileSelected, panel, [this](const QString &file) {
        if (!file.isEmpty()) openFileDirectly(file);
    });
    panel->open();
}

void FileIntake::openFileDirectly(const QString &path) {
    file_.clearNames();
    const RecorderFilePath names = splitRecorderFilePath(QFile::encodeName(path).toStdString());
    auto decoded = [](const std::string &name) { return QFile::decodeName(QByteArray::fromStdString(name)); };
    file_.setPath(path);
    file_.setNames(decoded(names.fileName), decoded(names.fileExtension),
                   decoded(names.fileNameWithExtension), decoded(names.absoluteFileDir));
    folder_ = names.absoluteFileDir;
    recordFileLocationInFolder();
    port_.activateFilePlayback();
}

void FileIntake::recordFileLocationInFolder() {
    folderListing_.clear();
    const std::string path = QFile::encodeName(file_.path()).toStdString();
    const RecorderFilePath names = splitRecorderFilePath(path);
    folder_ = names.absoluteFileDir;
    folderListed_ = readFolderListing(folder_.empty() ? std::string("./") : folder_, folderListing_);
    if (!folderListed_) return;
    fileLocationInFolder_ = ::fileLocationInFolder(folderListing_, names.lastPathComponent);
}

void FileIntake::openEntry(size_t index) {
    if (index >= folderListing_.size()) return;
    const std::string path = joinFolderAndName(folder_, folderListing_[index]);
    openFileDirectly(QFile::decodeName(QByteArray::fromStdString(path)));
}

void FileIntake::openNextFile() {
    if (!folderListed_) return;
    const FolderStep step = ::openNextFile(folderListing_, fileLocationInFolder_);
    fileLocationInFolder_ = step.fileLocationInFolder;
    if (step.found) openEntry(step.entryIndex);
}

void FileIntake::openPreviousFile() {
    if (!folderListed_) return;
    const FolderStep step = ::openPreviousFile(folderListing_, fileLocationInFolder_);
    fileLocationInFolder_ = step.fileLocationInFolder;
    if (step.found) openEntry(step.entryIndex);
}
