#include "panel/art.h"

#include <QIconEngine>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace panel {

namespace {

// A projector seen from the front-left: body, lens and a beam widening to the right. Drawn
// on a square of side `size`.
void drawProjector(QPainter& p, qreal size) {
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 48.0;
    QPainterPath beam;
    beam.moveTo(22 * u, 18 * u);
    beam.lineTo(47 * u, 4 * u);
    beam.lineTo(47 * u, 36 * u);
    beam.lineTo(22 * u, 26 * u);
    beam.closeSubpath();
    QLinearGradient light(22 * u, 0, 47 * u, 0);
    light.setColorAt(0, QColor(255, 244, 170, 230));
    light.setColorAt(1, QColor(255, 244, 170, 40));
    p.fillPath(beam, light);

    const QRectF body(2 * u, 14 * u, 28 * u, 20 * u);
    QLinearGradient shade(0, body.top(), 0, body.bottom());
    shade.setColorAt(0, QColor(92, 108, 140));
    shade.setColorAt(1, QColor(40, 50, 72));
    p.setPen(QPen(QColor(20, 26, 40), 1.2 * u));
    p.setBrush(shade);
    p.drawRoundedRect(body, 4 * u, 4 * u);
    p.setBrush(QColor(20, 26, 40));
    p.drawRect(QRectF(6 * u, 34 * u, 4 * u, 3 * u));
    p.drawRect(QRectF(22 * u, 34 * u, 4 * u, 3 * u));

    p.setBrush(QColor(210, 226, 255));
    p.drawEllipse(QPointF(22 * u, 24 * u), 6 * u, 6 * u);
    p.setBrush(QColor(60, 90, 160));
    p.drawEllipse(QPointF(22 * u, 24 * u), 3 * u, 3 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 220, 120));
    p.drawEllipse(QPointF(8 * u, 19 * u), 1.6 * u, 1.6 * u);
}

}  // namespace

QImage drawPictureArt() {
    QImage image(kPictureArtSize, QImage::Format_RGB888);
    QPainter p(&image);
    QLinearGradient back(0, 0, 0, 26);
    back.setColorAt(0, QColor(32, 52, 96));
    back.setColorAt(1, QColor(12, 22, 48));
    p.fillRect(image.rect(), back);
    p.save();
    p.translate(2, 1);
    drawProjector(p, 24);
    p.restore();
    QFont font(QString::fromLatin1(kPictureArtFamily));
    font.setPixelSize(15);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(font);
    p.setPen(QColor(235, 240, 255));
    p.drawText(QRect(28, 0, 52, 26), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("ORVA"));
    p.end();
    return image;
}

namespace {

// Draws the projector at whatever size is asked for, when it is asked for: the window system
// may never ask (offscreen), and start-up pays for no picture it does not show.
class ProjectorIconEngine : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->save();
        painter->translate(rect.topLeft());
        drawProjector(*painter, std::min(rect.width(), rect.height()));
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        paint(&p, pixmap.rect(), mode, state);
        return pixmap;
    }
    // The sizes a window frame and a task bar ask for; larger ones come from the installed
    // icon files.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48)};
    }
    QIconEngine* clone() const override { return new ProjectorIconEngine; }
};

}  // namespace

QIcon programIcon() { return QIcon(new ProjectorIconEngine); }

}  // namespace panel
