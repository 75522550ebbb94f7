// The delegate's side of a conversion: its settings, its player state and file fields, its
// engines and panes, as AVIConversion asks for them.
#pragma once

#include "app/conversion/avi_conversion.h"

class VistrelAppDelegate;

class DelegateConversionHost : public ConversionHost {
  public:
    explicit DelegateConversionHost(VistrelAppDelegate &delegate) : d_(delegate) {}

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
    VistrelAppDelegate &d_;
};
