// The settings panel: the AVI and snapshot folders, the snapshot type, the AVI frame rate and
// whether conversions keep the audio. Its controls are the live settings, which the snapshot
// and conversion code read whenever they need them, open or not. The two folders and the
// audio switch are stored in the user's settings when the panel's own close control closes it
// (ConfigSettingPanel.ui). A frameless tool window that unfolds over the main window.
#pragma once

#include <QPointer>

#include "app/content_border_window.h"
#include "ui_ConfigSettingPanel.h"

class ConfigSettingPanel : public ContentBorderWindow {
    Q_OBJECT
  public:
    // Loads the panel's controls and the stored settings (QSettings of the application).
    // The panel unfolds over and folds back onto `foldAnchor` (the main window).
    explicit ConfigSettingPanel(QWidget *foldAnchor = nullptr, QWidget *parent = nullptr);

    void awakeFromNib();
    // The snapshot type menu: JPEG, PNG, TIFF, with JPEG chosen.
    void initSnapshotFileTypeSetting();
    // index -1 puts the item at the end; `value` is not used.
    void insertSnapshotFileTypeItem(int index, const QString &itemName, int itemValue);
    // Folder dialogs, as sheets on the panel, for the AVI and the snapshot folder.
    void setFilePath();
    void setSnapshotFilePath();
    // The panel's close control: folds the panel away, stores the settings, caps the rate.
    void closeConfigSettingPanel();
    void aviAudioOptionChecked(bool checked);

    // The live settings.
    QWidget *backgroundView() const { return ui.backgroundView; }
    QLineEdit *filePathField() const { return ui.filePathField; }
    QLineEdit *frameRateField() const { return ui.frameRateField; }
    QLineEdit *snapshotFilePathField() const { return ui.snapshotFilePathField; }
    QCheckBox *audioDisabledCheckBtnForAVIConversion() const {
        return ui.audioDisabledCheckBtnForAVIConversion;
    }
    QComboBox *snapshotFileTypeBtn() const { return ui.snapshotFileTypeBtn; }
    bool audioDisabledWhileAVIConversion() const { return audioDisabledWhileAVIConversion_; }
    void setAudioDisabledWhileAVIConversion(bool disabled) { audioDisabledWhileAVIConversion_ = disabled; }
    float frameRate() const { return frameRate_; }
    void setFrameRate(float rate) { frameRate_ = rate; }
    // The index of the chosen snapshot type (0 JPEG, 1 PNG, 2 TIFF).
    int snapshotFileTypeIndex() const { return snapshotFileTypeIndex_; }

    Ui::ConfigSettingPanel ui;

  private:
    void chooseFolderInto(QLineEdit *field);

    bool audioDisabledWhileAVIConversion_ = false;
    float frameRate_ = 30.0f;
    int snapshotFileTypeIndex_ = 0;
    QPointer<QWidget> foldAnchor_;
};
