// The window as built for each model: geometry, containers, start visibility, tab order,
// faces and colours, measured on the real widgets.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QFontInfo>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <QTest>
#include <functional>

#include "panel/art.h"
#include "tables/layout.h"
#include "tests/support/panel_fixture.h"

namespace {

class Window : public ::testing::TestWithParam<const models::Model*> {
protected:
    Window() : p(*GetParam()) { p.form->show(); }
    PanelFixture p;
};

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

TEST_P(Window, ControlsStandInTheirContainersAtTheirPixelPlaces) {
    const models::Model& model = *GetParam();
    for (const panel::ControlRow& row : panel::layoutRows()) {
        QWidget* w = p.control(row.name);
        const auto placed = panel::place(row.name, model);
        if (!placed) {
            EXPECT_EQ(w, nullptr) << row.name;
            continue;
        }
        ASSERT_NE(w, nullptr) << row.name;
        QWidget* container = row.container == "Form1" ? p.form.get() : p.control(row.container);
        EXPECT_EQ(w->parentWidget(), container) << row.name;
        EXPECT_EQ(w->geometry(),
                  QRect(panel::toPixels(placed->left), panel::toPixels(placed->top),
                        panel::toPixels(placed->width), panel::toPixels(placed->height)))
            << row.name;
        // The window's client area is cut by its height; its design size is what counts.
        const QRect room = container == p.form.get()
                               ? QRect(0, 0, panel::toPixels(panel::kClientWidth),
                                       panel::toPixels(panel::kClientHeight))
                               : container->rect();
        EXPECT_TRUE(room.contains(w->geometry())) << row.name << " leaves " << row.container;
    }
}

TEST_P(Window, TwipsBecomePixelsAtFifteenToOne) {
    EXPECT_EQ(panel::toPixels(9495), 633);
    EXPECT_EQ(panel::toPixels(5616), 374);
    EXPECT_EQ(panel::toPixels(5350), 357);
    EXPECT_EQ(panel::toPixels(9100), 607);
    EXPECT_EQ(p.form->width(), 633);
}

TEST_P(Window, OuterHeightCountsTheFrame) {
    const int frame = p.form->frameGeometry().height() - p.form->geometry().height();
    EXPECT_GT(frame, 0) << "the platform draws a frame";
    for (int twips : {5350, 6645, 7200, 9100}) {
        p.form->setOuterHeight(twips);
        EXPECT_EQ(p.form->frameGeometry().height(), panel::toPixels(twips)) << twips;
        EXPECT_EQ(p.form->height(), panel::toPixels(twips) - frame) << twips;
        EXPECT_EQ(p.form->width(), 633) << twips;
    }
}

TEST_P(Window, SettingsFrameAndDataKeyStartHidden) {
    const models::Model& model = *GetParam();
    EXPECT_EQ(p.form->windowTitle(), qs(model.caption));
    for (const panel::ControlRow& row : panel::layoutRows()) {
        QWidget* w = p.control(row.name);
        if (!w) continue;
        const bool inSettingsFrame = row.container == "Frame8" || row.container == "Frame13";
        EXPECT_EQ(w->isVisible(), !row.hiddenAtStart && !inSettingsFrame) << row.name;
    }
    // Frame8 lies over "COM" and covers it.
    EXPECT_TRUE(p.form->Frame8->geometry().contains(p.control("Command33")->geometry()));
}

TEST_P(Window, TabOrderRunsFromPowerOnThroughEveryFocusableControl) {
    const models::Model& model = *GetParam();
    std::vector<QString> expected;
    for (std::string_view name : panel::tabOrder()) {
        if (p.control(name)) expected.push_back(qs(name));
    }
    std::vector<QString> chain;
    QWidget* w = p.control("Command17");
    do {
        if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w->objectName());
        w = w->nextInFocusChain();
    } while (w != p.control("Command17") && chain.size() < 200);
    EXPECT_EQ(chain, expected) << model.name;
    EXPECT_EQ(p.control("Label22")->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(p.control("Frame1")->focusPolicy(), Qt::NoFocus);
}

TEST_P(Window, FacesResolveToTheGothicFamilies) {
    struct Case {
        const char* control;
        const char* family;
        double points;
        bool bold;
    };
    for (const Case& c : {Case{"Command1", "IPAGothic", 9, true},     // W
                          Case{"Command6", "IPAGothic", 9, false},    // G9
                          Case{"Label23", "IPAGothic", 8.25, false},  // G8
                          Case{"Command44", "IPAGothic", 8.25, true}, // G8B
                          Case{"Label26", "IPAGothic", 9.75, false},  // G10
                          Case{"Text1", "IPAGothic", 9.75, true},     // G10B
                          Case{"Command31", "IPAPGothic", 9, false},  // P9
                          Case{"Command17", "IPAPGothic", 9, true},   // P9B
                          Case{"Label11", "IPAPGothic", 9.75, true}}) {
        const QFontInfo info(p.control(c.control)->font());
        EXPECT_EQ(info.family(), c.family) << c.control;
        EXPECT_NEAR(info.pointSizeF(), c.points, 0.26) << c.control;
        EXPECT_EQ(info.bold(), c.bold) << c.control;
        EXPECT_FALSE(info.italic()) << c.control;
    }
}

TEST_P(Window, ButtonFacesAreFlatInTheirTableColour) {
    for (const panel::ControlRow& row : panel::layoutRows()) {
        auto* w = qobject_cast<panel::PanelButton*>(p.control(row.name));
        if (!w || row.back == panel::kSystemButtonFace || !w->isVisible()) continue;
        const QImage face = w->grab().toImage();
        const QColor want = panel::colourFor(row.back);
        // Just inside the bevel, left of any caption, at the top and bottom of the face.
        for (QPoint at : {QPoint(3, 3), QPoint(3, face.height() - 4)}) {
            EXPECT_EQ(face.pixelColor(at), want) << row.name << " at " << at.x() << "," << at.y();
        }
    }
}

TEST_P(Window, DisplayBoxesClipLongTextsInsteadOfGrowing) {
    const QRect before = p.form->Label12->geometry();
    p.form->Label12->setText(std::string(5000, 'W'));
    p.form->Label12->repaint();
    EXPECT_EQ(p.form->Label12->geometry(), before);
    const QImage shot = p.form->Label12->grab().toImage();
    EXPECT_EQ(shot.size(), before.size());
}

TEST_P(Window, PictureIsEightyByTwentySixAndTheIconIsDrawnAtEverySize) {
    const auto* picture = p.form->Image1;
    EXPECT_EQ(picture->pixmap().size(), QSize(80, 26));
    EXPECT_EQ(picture->pixmap().toImage().hasAlphaChannel(), false);
    // Drawn when the programs were built, as it is drawn now.
    EXPECT_EQ(picture->pixmap().toImage().convertToFormat(QImage::Format_RGB888), panel::drawPictureArt());
    // The icon is drawn when asked for: at each size a frame asks, with the lens in the
    // middle of the body and clear corners.
    const QIcon icon = p.form->windowIcon();
    for (int size : {16, 24, 32, 48, 64}) {
        const QImage image = icon.pixmap(size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size)) << size;
        EXPECT_EQ(qAlpha(image.pixel(size - 1, size - 1)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(size * 22 / 48, size / 2)), 255) << size;
    }
}

INSTANTIATE_TEST_SUITE_P(Models, Window, ::testing::Values(&models::kTR27K, &models::kTR52),
                         [](const auto& info) { return std::string(info.param->name); });

}  // namespace

// The bevels, frames and cursor-pad lines are filled rectangles: they must cover exactly the
// pixels that one- and two-pixel pens would, and no others.
TEST(WindowEdges, AreThePixelsTheirPensWouldDraw) {
    PanelFixture p;
    p.form->show();
    auto background = [](QWidget* w) {
        QImage image(w->size(), QImage::Format_RGB32);
        w->render(&image, {}, {}, QWidget::DrawWindowBackground);
        return image;
    };
    auto blank = [](QWidget* w) {
        QImage image(w->size(), QImage::Format_RGB32);
        image.fill(w->palette().color(QPalette::Window));
        return image;
    };

    auto* button = static_cast<QAbstractButton*>(p.control("Command4"));  // STAND
    auto strokes = [](QPainter& q, const QRect& r, const QColor& topLeft,
                      const QColor& bottomRight) {
        q.setPen(topLeft);
        q.drawLine(r.topLeft(), r.topRight());
        q.drawLine(r.topLeft(), r.bottomLeft());
        q.setPen(bottomRight);
        q.drawLine(r.bottomLeft(), r.bottomRight());
        q.drawLine(r.topRight(), r.bottomRight());
    };
    for (const bool down : {false, true}) {
        button->setDown(down);
        const QImage face = background(button);
        QImage reference = blank(button);
        QPainter q(&reference);
        const QRect o = button->rect().adjusted(0, 0, -1, -1), i = o.adjusted(1, 1, -1, -1);
        strokes(q, o, down ? Qt::black : Qt::white, Qt::black);
        strokes(q, i, down ? QColor(128, 128, 128) : QColor(223, 223, 223), QColor(128, 128, 128));
        q.end();
        // The ring of the bevel; the caption lies inside it.
        int differing = 0;
        for (int y = 0; y < face.height(); ++y) {
            for (int x = 0; x < face.width(); ++x) {
                const bool ring = x < 2 || y < 2 || x >= face.width() - 2 || y >= face.height() - 2;
                differing += ring && face.pixel(x, y) != reference.pixel(x, y);
            }
        }
        EXPECT_EQ(differing, 0) << (down ? "sunken" : "raised");
    }

    QWidget* frame = p.control("Frame1");
    QImage reference = blank(frame);
    {
        QPainter q(&reference);
        const QRect r = frame->rect().adjusted(0, frame->fontMetrics().height() / 2, -2, -2);
        q.setPen(QColor(128, 128, 128));
        q.drawRect(r);
        q.setPen(Qt::white);
        q.drawRect(r.translated(1, 1));
    }
    EXPECT_EQ(background(frame), reference);

    reference = blank(p.form.get());
    {
        QPainter q(&reference);
        q.setPen(QPen(panel::colourFor(panel::kLineColour), panel::kLineWidthPx, Qt::SolidLine,
                      Qt::SquareCap));
        for (const panel::LineRow& line : panel::lineRows()) {
            q.drawLine(panel::toPixels(line.x1), panel::toPixels(line.y1), panel::toPixels(line.x2),
                       panel::toPixels(line.y2));
        }
    }
    EXPECT_EQ(background(p.form.get()), reference);
}

// The controls below the window's start height are not built at start; whatever first reaches
// them builds them, shown and working as the others: the window growing, the keyboard moving
// on from the last control built, or assistive technology starting.
TEST(HeldBackControls, AreBuiltByWhateverFirstReachesThem) {
    struct Trigger {
        const char* what;
        std::function<void(PanelFixture&)> reach;
    };
    const Trigger triggers[] = {
        {"Ctrl+J", [](PanelFixture& p) { QTest::keyClick(p.control("Command6"), Qt::Key_J, Qt::ControlModifier); }},
        {"Tab",
         [](PanelFixture& p) {
             p.control("Command35")->setFocus();
             QTest::keyClick(p.control("Command35"), Qt::Key_Tab);
             EXPECT_EQ(p.form->focusWidget(), p.form->controls().built("Command44"));
         }},
        {"assistive technology",
         [](PanelFixture&) {
             QAccessible::setActive(true);
             QAccessible::setActive(false);
         }},
    };
    for (const Trigger& t : triggers) {
        SCOPED_TRACE(t.what);
        PanelFixture p;
        p.form->show();
        const panel::ControlMap& controls = p.form->controls();
        EXPECT_EQ(controls.built("Text1"), nullptr);
        EXPECT_EQ(controls.built("Command44"), nullptr);
        t.reach(p);
        QWidget* status = controls.built("Command44");
        if (!status) {
            ADD_FAILURE() << "not built";
            continue;
        }
        EXPECT_TRUE(status->isVisible());
        EXPECT_NE(controls.built("Text1"), nullptr);
        p.clearTraffic();
        static_cast<QAbstractButton*>(status)->click();
        EXPECT_EQ(p.port->written, "CR0\r");
    }
}
