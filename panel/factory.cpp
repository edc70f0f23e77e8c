#include "panel/factory.h"

#include <QLineEdit>
#include <QRadioButton>

#include "panel/accessibility.h"
#include "panel/art.h"
#include "panel/widgets.h"

namespace panel {

QWidget* ControlMap::find(std::string_view name) const {
    const auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

void ControlMap::add(std::string_view name, QWidget* widget) { byName_.emplace(name, widget); }

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void paint(QWidget* widget, std::uint32_t back, std::uint32_t text) {
    QPalette pal = widget->palette();
    if (back != kSystemButtonFace && back != kSystemWindow) {
        pal.setColor(QPalette::Window, colourFor(back));
        pal.setColor(QPalette::Button, colourFor(back));
        widget->setAutoFillBackground(true);
    }
    pal.setColor(QPalette::WindowText, colourFor(text));
    pal.setColor(QPalette::ButtonText, colourFor(text));
    pal.setColor(QPalette::Text, colourFor(text));
    widget->setPalette(pal);
}

QWidget* create(const ControlRow& row, QWidget* parent) {
    switch (row.kind) {
        case Kind::Button: {
            auto* button = new PanelButton(qs(row.caption), row.back, parent);
            paint(button, row.back, row.text);
            return button;
        }
        case Kind::Label:
            return new PanelLabel(row.back, row.text, row.align, row.border, parent);
        case Kind::Frame:
            return new PanelFrame(row.back, parent);
        case Kind::Option: {
            auto* option = new QRadioButton(qs(row.caption), parent);
            paint(option, row.back, row.text);
            option->setChecked(row.selectedAtStart);
            return option;
        }
        case Kind::TextBox: {
            auto* text = new QLineEdit(parent);
            paint(text, row.back, row.text);
            text->setFrame(true);
            return text;
        }
        case Kind::Picture: {
            auto* picture = new PanelPicture(parent);
            picture->setPixmap(pictureArt());
            picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return picture;
        }
    }
    return nullptr;
}

}  // namespace

ControlMap buildPanel(QWidget* form, const models::Model& model) {
    ControlMap controls;
    for (const ControlRow& row : layoutRows()) {
        const std::optional<PlacedControl> placed = place(row.name, model);
        if (!placed) continue;
        QWidget* parent = row.container == "Form1" ? form : controls.find(row.container);
        Q_ASSERT_X(parent, "buildPanel", "a container precedes its children");
        QWidget* widget = create(row, parent);
        widget->setObjectName(qs(row.name));
        widget->setGeometry(toPixels(placed->left), toPixels(placed->top),
                            toPixels(placed->width), toPixels(placed->height));
        widget->setFont(fontFor(row.font));
        if (auto* label = qobject_cast<PanelLabel*>(widget)) label->setText(std::string(row.caption));
        if (row.hiddenAtStart) widget->hide();
        controls.add(row.name, widget);
    }

    QWidget* previous = nullptr;
    for (std::string_view name : tabOrder()) {
        QWidget* widget = controls.find(name);
        if (!widget) continue;
        widget->setFocusPolicy(Qt::StrongFocus);
        if (previous) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
    describeControls(*form);
    return controls;
}

}  // namespace panel
