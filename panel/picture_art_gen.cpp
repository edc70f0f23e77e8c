// Draws the picture at the top right of the window and writes it as a C++ header:
//   picture_art_gen OUTPUT
// Run when the programs are built, offscreen. The picture's face must be installed, so that
// what the programs show is the picture as designed; otherwise nothing is written and the
// build stops.
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <cstdio>

#include "panel/art.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: picture_art_gen OUTPUT\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString family = QFontInfo(QFont(QString::fromLatin1(panel::kPictureArtFamily))).family();
    if (family != QLatin1String(panel::kPictureArtFamily)) {
        std::fprintf(stderr,
                     "picture_art_gen: the face %s is not installed (Debian: fonts-ipafont-gothic); "
                     "the picture would be drawn in %s\n",
                     panel::kPictureArtFamily, qPrintable(family));
        return 1;
    }
    const QImage image = panel::drawPictureArt();
    QByteArray text =
        "// Made by picture_art_gen from panel::drawPictureArt(): the picture, RGB888, row by row.\n"
        "#pragma once\n\n"
        "inline constexpr unsigned char kPictureArtPixels[] = {";
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        text += "\n   ";
        for (int x = 0; x < image.width() * 3; ++x) text += ' ' + QByteArray::number(row[x]) + ',';
    }
    text += "\n};\n";
    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size()) {
        std::fprintf(stderr, "picture_art_gen: cannot write %s: %s\n", argv[1], qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
