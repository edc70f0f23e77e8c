#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <string>
#include <string_view>

#include "tables/layout.h"

namespace panel {

// Twips to logical pixels, to the nearest pixel.
constexpr int toPixels(int twips) {
    return (twips >= 0 ? twips + kTwipsPerPixel / 2 : twips - kTwipsPerPixel / 2) /
           kTwipsPerPixel;
}

// Chooses the two Gothic faces of the layout, or the IPA faces where they are missing. Call
// right after the application object exists, before fontFor.
void chooseFaces();

QFont fontFor(FontCode code);
QColor colourFor(std::uint32_t rgb);

// A push button that paints its face in one flat colour (or the system face when the colour
// is kSystemButtonFace). A hold key reacts to the mouse alone: a press of any mouse button
// starts the hold and the release of that same button ends it; its click does nothing.
class PanelButton : public QPushButton {
    Q_OBJECT
public:
    PanelButton(const QString& caption, std::uint32_t back, QWidget* parent);

    void setHoldKey(bool hold) { holdKey_ = hold; }
    bool isHeld() const { return heldButton_ != Qt::NoButton; }

    // Ends a hold whose release will not come (the window lost the mouse).
    void cancelHold();

signals:
    void holdPressed();
    void holdReleased();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    std::uint32_t back_;
    bool holdKey_ = false;
    Qt::MouseButton heldButton_ = Qt::NoButton;
};

// A static text on an opaque background. The text is kept as bytes (the panel's texts are
// ASCII) and drawn on one line, cut off where the box ends: never wrapped, never scrolled.
// Only what can be visible is laid out, so a long text costs nothing to show.
class PanelLabel : public QFrame {
    Q_OBJECT
public:
    PanelLabel(std::uint32_t back, std::uint32_t text, Align align, bool border, QWidget* parent);

    // When assistive technology is told of a write: after the handler (Now), or once a later
    // write is told or announceHeld() is called (Held: a reply still arriving, so that a
    // listener hears it once, not once per byte). The accessible name is the text at all times.
    enum class Announce { Now, Held };

    const std::string& text() const { return text_; }
    void setText(std::string text, Announce announce = Announce::Now);
    void appendText(std::string_view more, Announce announce = Announce::Now);
    // Tells the held writes, as their net change, after the handler.
    void announceHeld();

    // Changes with every write other than appendText, so a writer that appends can tell
    // whether the text is still the one it wrote.
    unsigned generation() const { return generation_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    friend class PanelLabelAccessible;

    // What is drawn: the visible start of the text, the box it is drawn in and the flags.
    struct Drawn {
        QString shown;
        QRect box;
        int flags;
    };
    Drawn drawn() const;

    std::string text_;
    Align align_;
    unsigned generation_ = 0;
};

// A group box with an etched border and no title.
class PanelFrame : public QFrame {
    Q_OBJECT
public:
    PanelFrame(std::uint32_t back, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The fixed picture; its only use is as the target of a double-click.
class PanelPicture : public QLabel {
    Q_OBJECT
public:
    explicit PanelPicture(QWidget* parent);

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace panel
