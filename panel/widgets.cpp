#include "panel/widgets.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>
#include <utility>

#include "panel/accessibility.h"

namespace panel {

namespace {

constexpr auto kGothic = "ＭＳ ゴシック";
constexpr auto kPGothic = "ＭＳ Ｐゴシック";

// Draws a classic two-pixel bevel: raised for a button at rest, sunken while it is down.
void drawBevel(QPainter& p, const QRect& r, bool sunken) {
    const QColor light(255, 255, 255), midLight(223, 223, 223), dark(128, 128, 128),
        shadow(0, 0, 0);
    const QRect o = r.adjusted(0, 0, -1, -1);
    const QRect i = o.adjusted(1, 1, -1, -1);
    auto edge = [&p](const QRect& q, const QColor& topLeft, const QColor& bottomRight) {
        p.setPen(topLeft);
        p.drawLine(q.topLeft(), q.topRight());
        p.drawLine(q.topLeft(), q.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(q.bottomLeft(), q.bottomRight());
        p.drawLine(q.topRight(), q.bottomRight());
    };
    if (sunken) {
        edge(o, shadow, shadow);
        edge(i, dark, dark);
    } else {
        edge(o, light, shadow);
        edge(i, midLight, dark);
    }
}

struct Faces {
    QString gothic = QString::fromUtf8(kGothic);
    QString pGothic = QString::fromUtf8(kPGothic);
};

Faces& faces() {
    static Faces chosen;
    return chosen;
}

}  // namespace

void chooseFaces() {
    // Each face is asked for by its own name where it is installed; elsewhere the IPA face
    // of the same design stands in. Deciding once here spares every font of the layout a
    // failed lookup followed by a substitution.
    auto choose = [](const char* face, const char* standIn) {
        const QString name = QString::fromUtf8(face);
        return QFontDatabase::hasFamily(name) ? name : QString::fromLatin1(standIn);
    };
    faces() = {choose(kGothic, "IPAGothic"), choose(kPGothic, "IPAPGothic")};
}

QFont fontFor(FontCode code) {
    struct Face {
        bool proportional;
        double points;
        bool bold;
    };
    Face face{false, 9, true};
    switch (code) {
        case FontCode::W: face = {false, 9, true}; break;
        case FontCode::G9: face = {false, 9, false}; break;
        case FontCode::G8: face = {false, 8.25, false}; break;
        case FontCode::G8B: face = {false, 8.25, true}; break;
        case FontCode::G10: face = {false, 9.75, false}; break;
        case FontCode::G10B: face = {false, 9.75, true}; break;
        case FontCode::P9: face = {true, 9, false}; break;
        case FontCode::P9B: face = {true, 9, true}; break;
        case FontCode::P10B: face = {true, 9.75, true}; break;
    }
    QFont font(face.proportional ? faces().pGothic : faces().gothic);
    font.setPointSizeF(face.points);
    font.setBold(face.bold);
    return font;
}

QColor colourFor(std::uint32_t rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb & 0xFFFFFF)); }

// ---------------------------------------------------------------------------------------

PanelButton::PanelButton(const QString& caption, std::uint32_t back, QWidget* parent)
    : QPushButton(caption, parent), back_(back) {
    setAutoDefault(false);
}

void PanelButton::paintEvent(QPaintEvent* event) {
    if (back_ == kSystemButtonFace) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter p(this);
    const QRect r = rect();
    const bool sunken = isDown();
    p.fillRect(r, colourFor(back_));
    drawBevel(p, r, sunken);
    const QRect textRect = r.adjusted(2, 2, -2, -2).translated(sunken ? 1 : 0, sunken ? 1 : 0);
    p.setPen(palette().color(QPalette::ButtonText));
    p.setFont(font());
    // A caption too wide for the face breaks at its blanks, as a classic button does.
    p.drawText(textRect, Qt::AlignCenter | Qt::TextWordWrap, text());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = r.adjusted(4, 4, -4, -4);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

void PanelButton::mousePressEvent(QMouseEvent* event) {
    if (!holdKey_) {
        QPushButton::mousePressEvent(event);
        return;
    }
    event->accept();
    if (heldButton_ != Qt::NoButton) return;  // one hold at a time; a second button is ignored
    heldButton_ = event->button();
    setDown(true);
    emit holdPressed();
}

void PanelButton::mouseReleaseEvent(QMouseEvent* event) {
    if (!holdKey_) {
        // QAbstractButton repaints the released face synchronously, flush to the screen
        // included, before it emits clicked(); with updates off the face is painted on the
        // next pass of the event loop instead, after the click's command has gone out.
        QPointer<PanelButton> self(this);
        setUpdatesEnabled(false);
        QPushButton::mouseReleaseEvent(event);
        if (self) setUpdatesEnabled(true);
        return;
    }
    event->accept();
    if (event->button() != heldButton_) return;
    heldButton_ = Qt::NoButton;
    setDown(false);
    emit holdReleased();
}

void PanelButton::mouseMoveEvent(QMouseEvent* event) {
    // A hold key stays down wherever the pointer goes until its button comes up.
    if (!holdKey_) QPushButton::mouseMoveEvent(event);
    else event->accept();
}

void PanelButton::cancelHold() {
    if (heldButton_ == Qt::NoButton) return;
    heldButton_ = Qt::NoButton;
    setDown(false);
    emit holdReleased();
}

// ---------------------------------------------------------------------------------------

PanelLabel::PanelLabel(std::uint32_t back, std::uint32_t text, Align align, bool border,
                       QWidget* parent)
    : QFrame(parent), align_(align) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colourFor(back));
    pal.setColor(QPalette::WindowText, colourFor(text));
    setPalette(pal);
    setFocusPolicy(Qt::NoFocus);
    if (border) {
        setFrameShape(QFrame::Panel);
        setFrameShadow(QFrame::Sunken);
        setLineWidth(1);
    }
}

void PanelLabel::setText(std::string text, Announce announce) {
    if (text == text_) return;
    std::string old = std::exchange(text_, std::move(text));
    ++generation_;
    update();
    if (accessibilityActive()) announceReplaced(*this, std::move(old), announce == Announce::Held);
}

void PanelLabel::appendText(std::string_view more, Announce announce) {
    if (more.empty()) return;
    const bool wasVisible =
        text_.size() < static_cast<std::size_t>(std::max(1, contentsRect().width()));
    text_.append(more);
    if (wasVisible) update();
    if (accessibilityActive()) {
        announceAppended(*this, text_.size() - more.size(), announce == Announce::Held);
    }
}

void PanelLabel::announceHeld() {
    if (accessibilityActive()) panel::announceHeld(*this);
}

PanelLabel::Drawn PanelLabel::drawn() const {
    // No glyph is narrower than one pixel, so no more characters than the box is wide can
    // ever be seen.
    const QRect box = contentsRect().adjusted(1, 0, -1, 0);
    const std::size_t visible = std::min(text_.size(), static_cast<std::size_t>(box.width() + 1));
    int flags = Qt::AlignTop | Qt::TextSingleLine;
    switch (align_) {
        case Align::Left: flags |= Qt::AlignLeft; break;
        case Align::Center: flags |= Qt::AlignHCenter; break;
        case Align::Right: flags |= Qt::AlignRight; break;
    }
    return {QString::fromLatin1(text_.data(), static_cast<qsizetype>(visible)), box, flags};
}

void PanelLabel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (text_.empty()) return;
    const Drawn d = drawn();
    QPainter p(this);
    p.setClipRect(contentsRect());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(d.box, d.flags, d.shown);
}

// ---------------------------------------------------------------------------------------

PanelFrame::PanelFrame(std::uint32_t back, QWidget* parent) : QFrame(parent) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colourFor(back));
    setPalette(pal);
    setFocusPolicy(Qt::NoFocus);
}

void PanelFrame::paintEvent(QPaintEvent*) {
    // An etched rectangle, starting half a line down as a group box without a title does.
    QPainter p(this);
    const int top = fontMetrics().height() / 2;
    const QRect r = rect().adjusted(0, top, -2, -2);
    p.setPen(QColor(128, 128, 128));
    p.drawRect(r);
    p.setPen(QColor(255, 255, 255));
    p.drawRect(r.translated(1, 1));
}

// ---------------------------------------------------------------------------------------

PanelPicture::PanelPicture(QWidget* parent) : QLabel(parent) { setFocusPolicy(Qt::NoFocus); }

void PanelPicture::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    emit doubleClicked();
}

}  // namespace panel
