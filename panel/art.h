#pragma once

#include <QIcon>
#include <QPixmap>

namespace panel {

// The 80 x 26 picture at the top right of the window.
QPixmap pictureArt();

// The program's icon: a projector casting a beam.
QIcon programIcon();

}  // namespace panel
