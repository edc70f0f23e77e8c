#include "panel/factory.h"

#include <QLineEdit>
#include <QRadioButton>
#include <vector>

#include "panel/accessibility.h"
#include "panel/art.h"
#include "panel/widgets.h"

namespace panel {

QWidget* ControlMap::find(std::string_view name) const {
    if (QWidget* widget = built(name)) return widget;
    if (!holdsBack()) return nullptr;
    buildHeldBack();
    return built(name);
}

QWidget* ControlMap::built(std::string_view name) const {
    const auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

void ControlMap::add(std::string_view name, QWidget* widget) { byName_.emplace(name, widget); }

void ControlMap::buildHeldBack() const {
    // The map is not const where it lives; only its lookups are.
    if (auto build = std::exchange(buildHeldBack_, {})) build(const_cast<ControlMap&>(*this));
}

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

// Creates the rows of the layout that are held back (`heldBack`) or not, and returns their
// names. A row is held back when it is a control of the window whose top lies at or below the
// window's start height, or when its container is.
std::vector<std::string_view> createRows(ControlMap& controls, QWidget* form,
                                         const models::Model& model, bool heldBack) {
    std::vector<std::string_view> made;
    std::vector<std::string_view> held;  // every held-back container, for its children
    for (const ControlRow& row : layoutRows()) {
        const std::optional<PlacedControl> placed = place(row.name, model);
        if (!placed) continue;
        const bool onForm = row.container == "Form1";
        const bool late = onForm ? placed->top >= kStartOuterHeight
                                 : std::find(held.begin(), held.end(), row.container) != held.end();
        if (late) held.push_back(row.name);
        if (late != heldBack) continue;
        QWidget* parent = onForm ? form : controls.built(row.container);
        Q_ASSERT_X(parent, "buildPanel", "a container precedes its children");
        QWidget* widget = create(row, parent);
        widget->setObjectName(qs(row.name));
        widget->setGeometry(toPixels(placed->left), toPixels(placed->top), toPixels(placed->width),
                            toPixels(placed->height));
        widget->setFont(fontFor(row.font));
        if (auto* label = qobject_cast<PanelLabel*>(widget)) label->setText(std::string(row.caption));
        if (row.hiddenAtStart) widget->hide();
        // Made under a window already shown, it is shown as the window's own controls were.
        else if (parent->isVisible()) widget->show();
        controls.add(row.name, widget);
        made.push_back(row.name);
    }
    return made;
}

void orderTabs(const ControlMap& controls) {
    QWidget* previous = nullptr;
    for (std::string_view name : tabOrder()) {
        QWidget* widget = controls.built(name);
        if (!widget) continue;
        widget->setFocusPolicy(Qt::StrongFocus);
        if (previous) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void finish(const ControlMap& controls, QWidget* form, const std::vector<std::string_view>& made,
            const ControlBuilt& built) {
    orderTabs(controls);
    describeControls(*form);
    if (!built) return;
    for (std::string_view name : made) built(name, controls.built(name));
}

}  // namespace

ControlMap buildPanel(QWidget* form, const models::Model& model, ControlBuilt built) {
    ControlMap controls;
    finish(controls, form, createRows(controls, form, model, false), built);
    controls.holdBack([form, &model, built](ControlMap& all) {
        finish(all, form, createRows(all, form, model, true), built);
    });
    return controls;
}

}  // namespace panel
