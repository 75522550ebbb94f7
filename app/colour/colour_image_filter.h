// The colour controls that the channel tiles hold: every picture shown on a tile passes
// through them. They are rebuilt from the colour panel's values while the panel is open and
// kept, unchanged, after it closes; with the starting values (0, 1, 1) a picture passes
// through untouched and at no cost.
#pragma once

#include <QImage>

#include <array>
#include <mutex>

#include "app/logic/colour_filter.h"

class ColourFilter {
  public:
    // The controls the tiles hold (any thread).
    void setControls(const ColourControls &controls);
    ColourControls controls() const;

    // `picture` with the tiles' controls: the same image when they change nothing, else a new
    // one of the same size and format (any thread).
    QImage apply(const QImage &picture) const;
    static QImage apply(const QImage &picture, const ColourControls &controls);

    // For the tile at `tileIndex` (0 to 15): remembers the unadjusted picture, so that a still
    // picture can be adjusted again, and returns it adjusted. GUI thread.
    QImage filterTilePicture(int tileIndex, const QImage &picture);
    // The last unadjusted picture given for the tile; a null image when none.
    QImage tilePicture(int tileIndex) const;
    // Forgets the remembered pictures (a new file), or that of one tile.
    void clearTilePictures();
    void clearTilePicture(int tileIndex);

  private:
    mutable std::mutex mutex_;
    ColourControls controls_;
    std::array<QImage, 16> tilePictures_;
};
