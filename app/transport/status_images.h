// The transport's status images, one table indexed by transport::StatusImage: the window's and
// the full-screen panel's, and the conversion's. A status view shows a state when it holds
// that very image (QPixmap::cacheKey identifies it).
#pragma once

#include <QPixmap>

#include <array>

#include "app/logic/transport_state.h"

struct TransportImages;

struct StatusImages {
    std::array<QPixmap, transport::kStatusImageCount> window;
    std::array<QPixmap, transport::kStatusImageCount> fullScreen;
    QPixmap aviConvert;

    // From the application's image files; release lets them go.
    void load();
    void release();
    const QPixmap &image(transport::StatusImage status, bool inFullScreen = false) const {
        return (inFullScreen ? fullScreen : window)[static_cast<size_t>(status)];
    }
    // The table as the transport controller reads it.
    TransportImages pointers() const;
};
