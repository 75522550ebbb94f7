// The colour panel's values on the channel tiles: while the panel is open every shown picture
// takes them, and with nothing playing the still pictures are adjusted again as they move.
// GUI thread.
#pragma once

#include <QImage>

#include <array>
#include <memory>

#include "app/colour/colour_image_filter.h"
#include "app/logic/engine_shared.h"

class ColorSettingPanel;
class CustomizedVideoView;
class OpenFile;
class QWidget;

class TileColour {
  public:
    // The panel is made at launch, after this.
    TileColour(const OpenFile &file, const EngineShared &shared,
               const std::unique_ptr<ColorSettingPanel> &panel);

    // The tiles whose still pictures are adjusted again (made with the video pane).
    void setTiles(const std::array<CustomizedVideoView *, 16> &tiles) { tiles_ = tiles; }
    ColourFilter &filter() { return filter_; }

    // The picture to show on tile `tileIndex`, adjusted (the picture itself when the controls
    // change nothing). While the panel is open the controls follow its values.
    QImage colourFilteredPicture(int tileIndex, const QImage &picture);
    // The tiles take the panel's current values.
    void applyColorFilterToImageView(const QImage &picture);
    // With the panel open and nothing playing, the shown pictures are adjusted again.
    void windowDidUpdate();
    // Unfolds the panel over `window`; values moved while it was closed reach the still pictures.
    void showColorSettingPanel(QWidget *window);

  private:
    const OpenFile &file_;
    const EngineShared &shared_;
    const std::unique_ptr<ColorSettingPanel> &panel_;
    std::array<CustomizedVideoView *, 16> tiles_{};
    ColourFilter filter_;
};
