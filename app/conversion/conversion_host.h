// The conversion's way into the rest of the player: the settings panel, the open file's facts,
// the engines, the pane and the window, as AVIConversion asks for them.
#pragma once

#include <memory>

#include "app/conversion/avi_conversion.h"
#include "app/playback/playback_activation.h"

class ColorSettingPanel;
class ConfigSettingPanel;
class EngineControl;
class VideoPane;

class PlayerConversionHost : public ConversionHost {
  public:
    // The panels are made at launch, after the host.
    PlayerConversionHost(const ActivationViews &views, PlaybackActivation &activation, VideoPane &pane,
                         EngineControl &engines, ActivationPort &port,
                         const std::unique_ptr<ColorSettingPanel> &colourPanel,
                         const std::unique_ptr<ConfigSettingPanel> &settingsPanel);
    void setConversion(AVIConversion *conversion) { conversion_ = conversion; }

    ConversionSettings conversionSettings() override;
    int playerState() override;
    void setPlayerState(int state) override;
    QString currentFilePath() override;
    void setConversionFile(const QString &path) override;
    void stopEngines() override;
    void prepareWindowForConversion() override;
    int checkTotalChannelsForAVIConversion() override;
    bool startEngineForConversion(int videoChannel1Based, int audioChannel1Based, int *vdoFmtIdx) override;
    void setUIInCaseOfUnsupportedFileForamt() override;
    void showAndEnableDeinterlace(bool enabled) override;

  private:
    ActivationViews v_;
    PlaybackActivation &activation_;
    OpenFile &file_;
    VideoPane &pane_;
    EngineControl &engines_;
    ActivationPort &port_;
    const std::unique_ptr<ColorSettingPanel> &colourPanel_;
    const std::unique_ptr<ConfigSettingPanel> &settingsPanel_;
    AVIConversion *conversion_ = nullptr;
};
