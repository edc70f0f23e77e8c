#include "app/window_frame.h"

#include <QGuiApplication>

#ifdef PANEL_HAS_XCB
#include <QAbstractNativeEventFilter>
#include <QMetaObject>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <xcb/xcb.h>

class WindowFrame::XWatch : public QAbstractNativeEventFilter {
public:
    XWatch(QWidget* window, std::function<void()> changed)
        : window_(window), changed_(std::move(changed)) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (!x11) return;
        connection_ = x11->connection();
        static constexpr char kName[] = "_NET_FRAME_EXTENTS";
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, sizeof kName - 1, kName), nullptr);
        if (reply) {
            extents_ = reply->atom;
            std::free(reply);
        }
        qGuiApp->installNativeEventFilter(this);
    }
    ~XWatch() override {
        if (connection_) qGuiApp->removeNativeEventFilter(this);
    }

    bool active() const { return connection_ && extents_ != XCB_ATOM_NONE; }

    // The window manager's record, or nothing when it has none (yet). Once read it is kept
    // until the window manager announces a new one, so that moving the window costs no
    // round trip to the X server.
    std::optional<QMargins> read() const {
        if (!active() || !window_) return std::nullopt;
        if (known_) return known_;
        const auto id = static_cast<xcb_window_t>(window_->winId());
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, id, extents_, XCB_ATOM_CARDINAL, 0, 4),
            nullptr);
        if (!reply) return std::nullopt;
        std::optional<QMargins> frame;
        if (reply->type == XCB_ATOM_CARDINAL && reply->format == 32 &&
            xcb_get_property_value_length(reply) == 16) {
            // left, right, top, bottom
            const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
            frame = QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
        }
        std::free(reply);
        known_ = frame;
        return frame;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t" || !window_) return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->atom == extents_ && notify->window == xcb_window_t(window_->winId())) {
            known_.reset();
            // Out of the event dispatch before the window is resized or moved.
            QMetaObject::invokeMethod(window_, changed_, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QPointer<QWidget> window_;
    std::function<void()> changed_;
    xcb_connection_t* connection_ = nullptr;
    xcb_atom_t extents_ = XCB_ATOM_NONE;
    mutable std::optional<QMargins> known_;
};

#else

class WindowFrame::XWatch {};

#endif

WindowFrame::WindowFrame(QWidget* window, std::function<void()> changed)
    : QObject(window), window_(window) {
#ifdef PANEL_HAS_XCB
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        xwatch_ = std::make_unique<XWatch>(window, std::move(changed));
#else
    (void)changed;
#endif
}

WindowFrame::~WindowFrame() = default;

QMargins WindowFrame::current() const {
#ifdef PANEL_HAS_XCB
    // Under X only the window manager's record counts: until it is there, nothing is known.
    if (xwatch_ && xwatch_->active()) return xwatch_->read().value_or(QMargins());
#endif
    return qtFrame();
}

QMargins WindowFrame::qtFrame() const {
    if (!window_) return {};
    const QRect outer = window_->frameGeometry();
    const QRect inner = window_->geometry();
    const QMargins m(inner.left() - outer.left(), inner.top() - outer.top(),
                     outer.right() - inner.right(), outer.bottom() - inner.bottom());
    // Negative offsets belong to a window caught between two parents.
    const bool sane = m.left() >= 0 && m.top() >= 0 && m.right() >= 0 && m.bottom() >= 0;
    return sane ? m : QMargins();
}
