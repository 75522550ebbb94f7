#include "app/ConfigSettingPanel.h"

#include <QFileDialog>
#include <QPointer>
#include <QSettings>

#include <exception>

#include "app/logic/settings_defaults.h"
#include "app/panel_fold.h"
#include "app/settings/user_settings.h"
#include "platform/log.h"

namespace sd = settings_defaults;

ConfigSettingPanel::ConfigSettingPanel(QWidget *foldAnchor, QWidget *parent)
    : ContentBorderWindow(parent, Qt::Tool | Qt::FramelessWindowHint), foldAnchor_(foldAnchor) {
    ui.setupUi(this);
    awakeFromNib();
    initSnapshotFileTypeSetting();

    QSettings settings;
    const StoredConfigSettings stored = readConfigSettings(settings);
    const bool audioDisabled = sd::audioDisabledFromStored(
        stored.audioDisabled ? std::optional<std::string>(stored.audioDisabled->toStdString())
                             : std::nullopt);
    ui.audioDisabledCheckBtnForAVIConversion->setChecked(audioDisabled);
    setAudioDisabledWhileAVIConversion(audioDisabled);

    const std::string documents = documentsFolder().toStdString();
    auto startFolder = [](const std::optional<QString> &value, QLineEdit *field, const std::string &def) {
        const std::optional<std::string> text =
            value ? std::optional<std::string>(value->toStdString()) : std::nullopt;
        field->setText(QString::fromStdString(sd::folderAtStart(text, field->text().toStdString(), def)));
    };
    startFolder(stored.aviFolder, ui.filePathField, sd::defaultAviFolder(documents));
    startFolder(stored.snapshotFolder, ui.snapshotFilePathField, sd::defaultSnapshotFolder(documents));
    setFrameRate(sd::kDefaultFrameRate);
    ui.frameRateField->setText(QStringLiteral("30"));

    // The typed frame rate is the rate; text that is no number reads as 0, which a conversion
    // takes as 30.
    connect(ui.frameRateField, &QLineEdit::textChanged, this, [this](const QString &text) {
        setFrameRate(static_cast<float>(sd::leadingNumber(text.toStdString())));
    });
    connect(ui.audioDisabledCheckBtnForAVIConversion, &QCheckBox::toggled, this,
            &ConfigSettingPanel::aviAudioOptionChecked);
    connect(ui.snapshotFileTypeBtn, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { snapshotFileTypeIndex_ = index; });
    connect(ui.setFilePathBtn, &QPushButton::clicked, this, &ConfigSettingPanel::setFilePath);
    connect(ui.setSnapshotFilePathBtn, &QPushButton::clicked, this, &ConfigSettingPanel::setSnapshotFilePath);
    connect(ui.closeBtn, &QPushButton::clicked, this, &ConfigSettingPanel::closeConfigSettingPanel);
}

void ConfigSettingPanel::awakeFromNib() {
    setContentBorderThickness(26.0, Qt::BottomEdge);
}

void ConfigSettingPanel::initSnapshotFileTypeSetting() {
    ui.snapshotFileTypeBtn->clear();
    insertSnapshotFileTypeItem(0, tr("JPEG"), 0);
    insertSnapshotFileTypeItem(1, tr("PNG"), 1);
    insertSnapshotFileTypeItem(2, tr("TIFF"), 2);
    ui.snapshotFileTypeBtn->setCurrentIndex(sd::kDefaultSnapshotTypeIndex);
    snapshotFileTypeIndex_ = ui.snapshotFileTypeBtn->currentIndex();
}

void ConfigSettingPanel::insertSnapshotFileTypeItem(int index, const QString &itemName, int) {
    try {
        ui.snapshotFileTypeBtn->insertItem(index < 0 ? ui.snapshotFileTypeBtn->count() : index, itemName);
    } catch (const std::exception &e) {
        player_log("Exception, Failed to insert quality item, name=%s, reason=%s\n",
                   itemName.toUtf8().constData(), e.what());
    }
}

void ConfigSettingPanel::chooseFolderInto(QLineEdit *field) {
    auto *dialog = new QFileDialog(this);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (!field->text().isEmpty()) dialog->setDirectory(field->text());
    QPointer<QLineEdit> target(field);
    connect(dialog, &QFileDialog::fileSelected, this, [target](const QString &folder) {
        if (target && !folder.isEmpty()) target->setText(folder);
    });
    dialog->open();
}

void ConfigSettingPanel::setFilePath() {
    chooseFolderInto(ui.filePathField);
}
void ConfigSettingPanel::setSnapshotFilePath() {
    chooseFolderInto(ui.snapshotFilePathField);
}

void ConfigSettingPanel::aviAudioOptionChecked(bool checked) {
    setAudioDisabledWhileAVIConversion(checked);
}

void ConfigSettingPanel::closeConfigSettingPanel() {
    foldPanel(this, foldAnchor_.data());

    QSettings settings;
    writeConfigSettings(settings, ui.filePathField->text(), ui.snapshotFilePathField->text(),
                        ui.audioDisabledCheckBtnForAVIConversion->isChecked() ? 1 : 0);

    const sd::FrameRateSetting capped =
        sd::capFrameRate(frameRate(), ui.frameRateField->text().toStdString());
    if (capped.frameRate != frameRate() || capped.fieldText != ui.frameRateField->text().toStdString()) {
        ui.frameRateField->setText(QString::fromStdString(capped.fieldText));
        setFrameRate(capped.frameRate);
    }
}
