#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>

namespace panel {

// The picture at the top right of the window, RGB888.
inline constexpr QSize kPictureArtSize(80, 26);
inline constexpr const char* kPictureArtFamily = "IPAPGothic";

// Draws the picture. It is drawn once, when the programs are built (picture_art_gen), since
// drawing it at start would cost a font of its own before the window's first paint.
QImage drawPictureArt();

// The picture as drawn when the programs were built.
QPixmap pictureArt();

// The program's icon: a projector casting a beam.
QIcon programIcon();

}  // namespace panel
