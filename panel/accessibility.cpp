#include "panel/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tables/accessible_texts.h"
#include "panel/widgets.h"

namespace panel {

namespace {

// QAccessible's activation as its observers are told, so that a label's write asks no more
// than this when no assistive technology is there.
bool active = false;
void (*recorder)(QAccessibleEvent*) = nullptr;

void announce(QAccessibleEvent& event) {
    if (recorder) recorder(&event);
    else QAccessible::updateAccessibility(&event);
}

// Label texts are bytes and are drawn as Latin-1; they are told the same way.
QString latin1(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// Static text, the AT-SPI "label". Its name is the whole text, blanks included, and its text
// interface offers the same characters where they are drawn, so that a text-changed event can
// carry just the piece that came.
class PanelLabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit PanelLabelAccessible(PanelLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    PanelLabel& label() const { return *static_cast<PanelLabel*>(widget()); }

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? latin1(label().text()) : QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // Nothing is selected and there is no caret: the text is only read.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    void scrollToSubstring(int, int) override {}

    int characterCount() const override { return static_cast<int>(label().text().size()); }

    QString text(int start, int end) const override {
        const std::string& all = label().text();
        const std::size_t from = static_cast<std::size_t>(std::max(start, 0));
        const std::size_t to = end < 0 ? all.size() : std::min(all.size(), std::size_t(end));
        return from < to ? latin1(std::string_view(all).substr(from, to - from)) : QString();
    }

    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

    // Characters beyond the box are not drawn and have no place on the screen.
    QRect characterRect(int offset) const override {
        const PanelLabel::Drawn d = label().drawn();
        if (offset < 0 || offset >= d.shown.size()) return {};
        const QFontMetrics metrics = label().fontMetrics();
        const int x = lineStart(d, metrics) + metrics.horizontalAdvance(d.shown.left(offset));
        const QRect local(x, d.box.top(), metrics.horizontalAdvance(d.shown.at(offset)),
                          metrics.height());
        return QRect(label().mapToGlobal(local.topLeft()), local.size());
    }

    int offsetAtPoint(const QPoint& point) const override {
        const PanelLabel::Drawn d = label().drawn();
        const QFontMetrics metrics = label().fontMetrics();
        const QPoint local = label().mapFromGlobal(point);
        if (local.y() < d.box.top() || local.y() >= d.box.top() + metrics.height()) return -1;
        int x = lineStart(d, metrics);
        for (int i = 0; i < d.shown.size(); ++i) {
            const int next = x + metrics.horizontalAdvance(d.shown.at(i));
            if (local.x() >= x && local.x() < next) return i;
            x = next;
        }
        return -1;
    }

    // Notes a change of the text. The text as it stood before: `old` when the change replaced
    // it, its first `position` characters when the change appended to it.
    void noteReplaced(std::string&& old) {
        switch (pending_) {
            case Pending::Nothing: before_ = std::move(old); break;
            case Pending::Appended: before_ = std::move(old); before_.resize(appendedFrom_); break;
            case Pending::Replaced:
                return;  // `before_` is older still
        }
        pending_ = Pending::Replaced;
    }
    void noteAppended(std::size_t position) {
        if (pending_ != Pending::Nothing) return;
        pending_ = Pending::Appended;
        appendedFrom_ = position;
    }
    // Whether the noted changes are now to be told, and were not already due.
    bool due() {
        if (pending_ == Pending::Nothing || due_) return false;
        due_ = true;
        return true;
    }

    // Tells what changed since the first noted change: the name, then the text. Appends alone
    // are told as the one piece they added, so that no event carries the text again.
    void tell() {
        due_ = false;
        const std::string& now = label().text();
        const Pending pending = std::exchange(pending_, Pending::Nothing);
        const std::string before = std::move(before_);
        before_.clear();
        if (pending == Pending::Nothing || (pending == Pending::Replaced && before == now)) return;
        QAccessibleEvent renamed(&label(), QAccessible::NameChanged);
        announce(renamed);
        if (pending == Pending::Appended) {
            QAccessibleTextInsertEvent inserted(&label(), static_cast<int>(appendedFrom_),
                                                latin1(std::string_view(now).substr(appendedFrom_)));
            announce(inserted);
        } else {
            QAccessibleTextUpdateEvent replaced(&label(), 0, latin1(before), latin1(now));
            announce(replaced);
        }
    }

private:
    static int lineStart(const PanelLabel::Drawn& d, const QFontMetrics& metrics) {
        const int width = metrics.horizontalAdvance(d.shown);
        if (d.flags & Qt::AlignHCenter) return d.box.left() + (d.box.width() - width) / 2;
        if (d.flags & Qt::AlignRight) return d.box.right() + 1 - width;
        return d.box.left();
    }

    enum class Pending { Nothing, Appended, Replaced };
    Pending pending_ = Pending::Nothing;
    bool due_ = false;  // to be told at the next pass
    std::size_t appendedFrom_ = 0;
    std::string before_;
};

namespace {

// A group of controls. A frame that holds one label is titled by it ("POWER", "FAN SPEED");
// the others are named by accessibleTextRows().
class PanelFrameAccessible : public QAccessibleWidget {
public:
    explicit PanelFrameAccessible(PanelFrame* frame)
        : QAccessibleWidget(frame, QAccessible::Grouping) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            const auto labels = widget()->findChildren<PanelLabel*>(Qt::FindDirectChildrenOnly);
            if (labels.size() == 1) return latin1(labels.front()->text());
        }
        return QAccessibleWidget::text(t);
    }
};

// Asked by Qt for every object whose interface it makes, once for each class from the object's
// own up, until some factory answers: the common case is decided without comparing names.
QAccessibleInterface* createInterface(const QString& className, QObject* object) {
    const QMetaObject* type = object->metaObject();
    if (type == &PanelLabel::staticMetaObject)
        return new PanelLabelAccessible(static_cast<PanelLabel*>(object));
    if (type == &PanelFrame::staticMetaObject)
        return new PanelFrameAccessible(static_cast<PanelFrame*>(object));
    // The panel's window is a plain QWidget to Qt, which would make it a "filler"; a screen
    // reader looks for a window ("frame") to tell its caption.
    if (object->isWidgetType() && static_cast<QWidget*>(object)->isWindow() &&
        className == QLatin1String(QWidget::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

PanelLabelAccessible* interfaceOf(PanelLabel& label) {
    return dynamic_cast<PanelLabelAccessible*>(QAccessible::queryAccessibleInterface(&label));
}

void describe(QWidget& form) {
    for (const AccessibleTextRow& row : accessibleTextRows()) {
        auto* widget = form.findChild<QWidget*>(utf8(row.control));
        if (!widget) continue;
        if (!row.name.empty()) widget->setAccessibleName(utf8(row.name));
        if (!row.description.empty()) widget->setAccessibleDescription(utf8(row.description));
    }
}

// Windows whose controls wait for assistive technology to become active to be described.
std::vector<QPointer<QWidget>>& undescribed() {
    static std::vector<QPointer<QWidget>> forms;
    return forms;
}

struct ActivationObserver : QAccessible::ActivationObserver {
    void accessibilityActiveChanged(bool on) override {
        active = on;
        if (!on) return;
        for (const QPointer<QWidget>& form : std::exchange(undescribed(), {}))
            if (form) describe(*form);
    }
};

}  // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(createInterface);
        static ActivationObserver observer;
        QAccessible::installActivationObserver(&observer);
        active = QAccessible::isActive();
        return true;
    }();
    (void)installed;
}

bool accessibilityActive() { return active || recorder; }

void recordAnnouncements(void (*to)(QAccessibleEvent*)) { recorder = to; }

void describeControls(QWidget& form) {
    if (active) {
        describe(form);
        return;
    }
    std::erase_if(undescribed(), [](const QPointer<QWidget>& f) { return f.isNull(); });
    undescribed().emplace_back(&form);
}

namespace {

// Changes are told when the event loop comes round again, after the handler that made them:
// what the operator sees is not held up, and a label changed several times in one pass (a
// reply arriving in pieces) is told once, in the order the labels first changed. One
// zero-time timer serves every label of the pass: unlike a posted call, starting it does not
// wake the event loop from the handler's path. A label destroyed before that tells nothing.
std::vector<QPointer<PanelLabel>>& changedLabels() {
    static std::vector<QPointer<PanelLabel>> labels;
    return labels;
}

void tellChanged() {
    for (const QPointer<PanelLabel>& label : std::exchange(changedLabels(), {}))
        if (label)
            if (PanelLabelAccessible* iface = interfaceOf(*label)) iface->tell();
}

void tellLater(PanelLabel& label) {
    changedLabels().emplace_back(&label);
    if (changedLabels().size() > 1) return;
    static QPointer<QTimer> pass;
    if (!pass) {
        pass = new QTimer(qApp);
        pass->setSingleShot(true);
        pass->setInterval(0);
        QObject::connect(pass, &QTimer::timeout, &tellChanged);
    }
    pass->start();
}

}  // namespace

void announceReplaced(PanelLabel& label, std::string&& old, bool held) {
    PanelLabelAccessible* iface = interfaceOf(label);
    if (!iface) return;
    iface->noteReplaced(std::move(old));
    if (!held && iface->due()) tellLater(label);
}

void announceAppended(PanelLabel& label, std::size_t position, bool held) {
    PanelLabelAccessible* iface = interfaceOf(label);
    if (!iface) return;
    iface->noteAppended(position);
    if (!held && iface->due()) tellLater(label);
}

void announceHeld(PanelLabel& label) {
    PanelLabelAccessible* iface = interfaceOf(label);
    if (iface && iface->due()) tellLater(label);
}

}  // namespace panel
