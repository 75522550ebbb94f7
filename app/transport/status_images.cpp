#include "app/transport/status_images.h"

#include "app/image_named.h"
#include "app/transport/transport_controller.h"

using transport::StatusImage;

void StatusImages::load() {
    const std::pair<StatusImage, const char *> names[] = {
        {StatusImage::Play, "play"},
        {StatusImage::Pause, "pause"},
        {StatusImage::Stop, "stop"},
        {StatusImage::Fwd2x, "fast_forward_2x"},
        {StatusImage::Fwd4x, "fast_forward_4x"},
        {StatusImage::Fwd8x, "fast_forward_8x"},
        {StatusImage::Fwd16x, "fast_forward_16x"},
        {StatusImage::Rwd1x, "fast_rewind_1x"},
        {StatusImage::Rwd2x, "fast_rewind_2x"},
        {StatusImage::Rwd4x, "fast_rewind_4x"},
        {StatusImage::Rwd8x, "fast_rewind_8x"},
        {StatusImage::Rwd16x, "fast_rewind_16x"},
    };
    aviConvert = imageNamed("avi_convert_status.png");
    for (const auto &[status, name] : names) {
        window[static_cast<size_t>(status)] = imageNamed(QStringLiteral("%1.png").arg(QLatin1String(name)));
        fullScreen[static_cast<size_t>(status)] =
            imageNamed(QStringLiteral("%1_full.png").arg(QLatin1String(name)));
    }
}

void StatusImages::release() {
    *this = StatusImages();
}

TransportImages StatusImages::pointers() const {
    TransportImages images;
    for (int i = 1; i < transport::kStatusImageCount; ++i) {
        images.window[static_cast<size_t>(i)] = &window[static_cast<size_t>(i)];
        images.fullScreen[static_cast<size_t>(i)] = &fullScreen[static_cast<size_t>(i)];
    }
    return images;
}
