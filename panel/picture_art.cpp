#include "panel/art.h"
#include "panel/picture_art_pixels.h"

namespace panel {

static_assert(sizeof kPictureArtPixels == 3 * kPictureArtSize.width() * kPictureArtSize.height());

QPixmap pictureArt() {
    const QImage image(kPictureArtPixels, kPictureArtSize.width(), kPictureArtSize.height(),
                       3 * kPictureArtSize.width(), QImage::Format_RGB888);
    return QPixmap::fromImage(image);
}

}  // namespace panel
