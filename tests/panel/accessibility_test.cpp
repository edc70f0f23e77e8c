// The window as assistive technology reads it, walked through Qt's accessibility interfaces in
// process: every control has a role and a name, a label's name is its text and a button's its
// caption, a listener can tell every button apart, and the displays announce their changes.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <vector>

#include "panel/accessibility.h"
#include "tables/accessible_texts.h"
#include "tables/layout.h"
#include "tests/support/panel_fixture.h"

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// What a display told, as the platform bridge receives it.
struct Told {
    QObject* object;
    QAccessible::Event type;
    int position = 0;
    QString removed;
    QString inserted;
    bool operator==(const Told&) const = default;
};

void PrintTo(const Told& t, std::ostream* out) {
    *out << (t.object ? t.object->objectName().toStdString() : "?") << " event " << int(t.type)
         << " at " << t.position << " -\"" << t.removed.toStdString() << "\" +\""
         << t.inserted.toStdString() << "\"";
}

std::vector<Told>* told = nullptr;
std::set<QObject*> displays;

void record(QAccessibleEvent* event) {
    if (!told || !displays.contains(event->object())) return;
    Told t{event->object(), event->type(), 0, {}, {}};
    if (event->type() == QAccessible::TextInserted) {
        const auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
        t.position = e->changePosition();
        t.inserted = e->textInserted();
    } else if (event->type() == QAccessible::TextUpdated) {
        const auto* e = static_cast<QAccessibleTextUpdateEvent*>(event);
        t.position = e->changePosition();
        t.removed = e->textRemoved();
        t.inserted = e->textInserted();
    }
    told->push_back(t);
}

// Records what the three displays announce, as if assistive technology were active.
struct Listener {
    explicit Listener(const PanelFixture& p) {
        displays = {p.form->Label11, p.form->Label12, p.form->Label22};
        told = &events;
        panel::recordAnnouncements(record);
    }
    ~Listener() {
        panel::recordAnnouncements(nullptr);
        told = nullptr;
        displays.clear();
    }
    std::vector<Told> events;
};

QAccessible::Role roleOf(panel::Kind kind) {
    switch (kind) {
        case panel::Kind::Button: return QAccessible::PushButton;
        case panel::Kind::Label: return QAccessible::StaticText;
        case panel::Kind::Frame: return QAccessible::Grouping;
        case panel::Kind::Option: return QAccessible::RadioButton;
        case panel::Kind::TextBox: return QAccessible::EditableText;
        case panel::Kind::Picture: return QAccessible::Graphic;
    }
    return QAccessible::NoRole;
}

class Accessibility : public ::testing::TestWithParam<const models::Model*> {};

// Assistive technology switched on for one test (the offscreen platform has no bridge that
// would tell QAccessible's observers).
struct Activated {
    Activated() { QAccessible::setActive(true); }
    ~Activated() { QAccessible::setActive(false); }
};

TEST_P(Accessibility, EveryControlIsReachedWithARoleANameAndWhatTellsItApart) {
    const models::Model& model = *GetParam();
    PanelFixture p(model);
    const Activated activated;
    p.form->show();
    // Texts with leading and inner blanks in the displays.
    p.click("Command44");
    p.port->receive("00\r");
    ASSERT_EQ(p.status(), " Power ON");

    std::map<QString, QAccessibleInterface*> reached;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* parent) {
        for (int i = 0; i < parent->childCount(); ++i) {
            QAccessibleInterface* child = parent->child(i);
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(child->parent()->object(), parent->object());
            reached[child->object()->objectName()] = child;
            walk(child);
        }
    };
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(p.form.get());
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), qs(model.caption));
    walk(window);

    // Controls of one group with one caption, by group and caption: what tells them apart.
    std::map<std::pair<QString, QString>, std::vector<QString>> alike;
    for (const panel::ControlRow& row : panel::layoutRows()) {
        if (!panel::place(row.name, model)) continue;
        const auto it = reached.find(qs(row.name));
        ASSERT_NE(it, reached.end()) << row.name << " is not in the tree";
        QAccessibleInterface* control = it->second;
        const QString name = control->text(QAccessible::Name);
        const QString description = control->text(QAccessible::Description);
        EXPECT_EQ(control->role(), roleOf(row.kind)) << row.name;
        if (row.kind == panel::Kind::Label) {
            const auto* label = qobject_cast<panel::PanelLabel*>(control->object());
            EXPECT_EQ(name, QString::fromLatin1(label->text())) << row.name;
        }
        if (row.kind == panel::Kind::Button || row.kind == panel::Kind::Option) {
            EXPECT_EQ(name, qs(row.caption)) << row.name;
            alike[{control->parent()->text(QAccessible::Name), name}].push_back(description);
        }
        // An empty display still says what it is.
        if (!control->state().invisible) {
            EXPECT_FALSE(name.isEmpty() && description.isEmpty()) << row.name << " is silent";
        }
    }
    // Where a group has one caption twice ("+" and "-" on the window, "RGB" among the input
    // sources), each control says what it does, and no two say the same.
    for (const auto& [groupAndCaption, descriptions] : alike) {
        if (descriptions.size() < 2) continue;
        const std::set<QString> distinct(descriptions.begin(), descriptions.end());
        EXPECT_TRUE(distinct.size() == descriptions.size() && !distinct.contains(QString()))
            << "\"" << groupAndCaption.second.toStdString() << "\" in \""
            << groupAndCaption.first.toStdString() << "\" cannot be told apart";
    }
    for (const panel::AccessibleTextRow& row : panel::accessibleTextRows()) {
        EXPECT_TRUE(panel::place(row.control, models::kTR27K) ||
                    panel::place(row.control, models::kTR52))
            << row.control << " is no control";
    }
}

INSTANTIATE_TEST_SUITE_P(BothModels, Accessibility,
                         ::testing::Values(&models::kTR27K, &models::kTR52),
                         [](const auto& info) { return std::string(info.param->name); });

TEST(AccessibilityEvents, DisplaysAnnounceTheirChangesOncePerPassAndAppendedPiecesOnly) {
    PanelFixture p;
    p.form->show();
    Listener listener(p);
    QObject* txd = p.form->Label11;
    QObject* rxd = p.form->Label12;
    QObject* status = p.form->Label22;

    p.click("Command44");
    p.port->receive("0");
    EXPECT_TRUE(listener.events.empty()) << "told before the handler is done";
    QCoreApplication::processEvents();
    // The rest of the reply in two receive events of one pass; STATUS decoded.
    p.port->receive("0");
    p.port->receive("\r");
    QCoreApplication::processEvents();
    // A second reply in the same window: the piece it adds.
    p.port->receive("1\r");
    QCoreApplication::processEvents();
    // Timer4 clears the three, then STATUS is written and cleared again in one pass.
    p.clock.advance(1000);
    p.form->Label22->setText(" Stand by");
    p.form->Label22->setText("");
    QCoreApplication::processEvents();

    using enum QAccessible::Event;
    const std::vector<Told> expected = {
        {txd, NameChanged, 0, "", ""},
        {txd, TextUpdated, 0, "", " C R 0 CR "},
        {rxd, NameChanged, 0, "", ""},
        {rxd, TextUpdated, 0, "", " 0 0 CR "},
        {status, NameChanged, 0, "", ""},
        {status, TextUpdated, 0, "", " Power ON"},
        {rxd, NameChanged, 0, "", ""},
        {rxd, TextInserted, 8, "", "1 CR "},
        {txd, NameChanged, 0, "", ""},
        {txd, TextUpdated, 0, " C R 0 CR ", ""},
        {rxd, NameChanged, 0, "", ""},
        {rxd, TextUpdated, 0, " 0 0 CR 1 CR ", ""},
        {status, NameChanged, 0, "", ""},
        {status, TextUpdated, 0, " Power ON", ""},
    };
    EXPECT_EQ(listener.events, expected);

    // A window closed before the event loop comes round takes its announcements with it.
    p.form->Label22->setText(" Stand by");
    p.form.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(listener.events.size(), expected.size());
}

// A reply without a carriage return is heard once, when its window ends, not once per byte;
// meanwhile RXD's name is its text, as automation reads it.
TEST(AccessibilityEvents, ReplyThatDoesNotEndIsAnnouncedOnceItsWindowEnds) {
    PanelFixture p;
    p.form->sendCommand("CR9");  // STATUS shows the reply as it comes
    QCoreApplication::processEvents();
    Listener listener(p);
    for (const char byte : std::string("01234")) {
        p.port->receive(std::string(1, byte));
        QCoreApplication::processEvents();
        EXPECT_EQ(QAccessible::queryAccessibleInterface(p.form->Label12)->text(QAccessible::Name),
                  QString::fromLatin1(p.rxd()));
    }
    p.clock.advance(499);
    QCoreApplication::processEvents();
    EXPECT_TRUE(listener.events.empty());
    p.clock.advance(1);
    QCoreApplication::processEvents();
    using enum QAccessible::Event;
    const QString shown = " 0 1 2 3 4 ";
    EXPECT_EQ(listener.events, (std::vector<Told>{{p.form->Label12, NameChanged, 0, "", ""},
                                                   {p.form->Label12, TextUpdated, 0, "", shown},
                                                   {p.form->Label22, NameChanged, 0, "", ""},
                                                   {p.form->Label22, TextUpdated, 0, "", shown}}));
}

}  // namespace
