#include "link/reconnecting_port.h"

#include <QFileInfo>
#include <algorithm>
#include <memory>
#include <utility>

#include "engine/shown_text.h"
#include "link/line_settings.h"
#include "link/transport.h"
#include "link/transports.h"

namespace serial {

namespace {

[[noreturn]] void fail(const std::string& description) { throw SerialError(description); }

TimerSource& qtTimers() {
    static QtTimerSource source;
    return source;
}

std::string canonicalPath(const std::string& path) {
    const QString canonical = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical.toStdString();
}

// What a server said before it hung up, for the report: quoted, its line ends dropped, the
// rest shown as outside text is.
std::string serverSaid(std::string_view bytes) {
    while (!bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n')) bytes.remove_suffix(1);
    return bytes.empty() ? std::string()
                         : " (the server said \"" + engine::shownBytes(bytes) + "\")";
}

// The assignment with the serial ports listed at most once: listing them takes tens of
// milliseconds, and one open may need the list three times.
PortAssignment listingOnce(PortAssignment assignment) {
    if (!assignment.adapters) return assignment;
    auto listed = std::make_shared<std::optional<std::vector<Adapter>>>();
    assignment.adapters = [listed, find = std::move(assignment.adapters)] {
        if (!*listed) *listed = find();
        return **listed;
    };
    return assignment;
}

}  // namespace

ReconnectingPort::ReconnectingPort() : ReconnectingPort(Context{}) {}

ReconnectingPort::ReconnectingPort(Context context) : context_(std::move(context)) {
    TimerSource& timers = context_.timers ? *context_.timers : qtTimers();
    retryTimer_ = timers.createTimer();
    retryTimer_->setInterval(kRetryMs);
    retryTimer_->onTick = [this] {
        retryTimer_->setEnabled(false);
        attemptReopen();
    };
    deadlineTimer_ = timers.createTimer();
    deadlineTimer_->setInterval(kConnectTimeoutMs);
    deadlineTimer_->onTick = [this] {
        deadlineTimer_->setEnabled(false);
        onDeadline();
    };
    settleTimer_ = timers.createTimer();
    settleTimer_->setInterval(kSettleMs);
    settleTimer_->onTick = [this] {
        settleTimer_->setEnabled(false);
        becomeOpen();
    };
}

ReconnectingPort::~ReconnectingPort() {
    for (PanelTimer* t : {retryTimer_.get(), deadlineTimer_.get(), settleTimer_.get()}) {
        t->onTick = nullptr;
        t->setEnabled(false);
    }
    if (transport_) {
        transport_->close();
        transport_.reset();
    }
}

// ---------------------------------------------------------------------------------------
// Choosing and resolving the device

void ReconnectingPort::setDevice(std::string text) {
    if (portOpen()) fail("Port already open");
    stopAll();
    device_ = std::move(text);
}

void ReconnectingPort::setCommPort(int n) {
    if (portOpen()) fail("Port already open");
    if (n < 1 || n > 16) fail("Invalid port number " + std::to_string(n));
    stopAll();
    commPort_ = n;
}

std::string ReconnectingPort::devicePath() const {
    try {
        return resolve(context_.assignment).address.text;
    } catch (const SerialError&) {
        return device_.value_or("COM" + std::to_string(commPort_));
    }
}

ResolvedDevice ReconnectingPort::resolve(const PortAssignment& assignment) const {
    return resolveDevice(device_.value_or("COM" + std::to_string(commPort_)), assignment);
}

std::string ReconnectingPort::failedOpenText(const ResolvedDevice& resolved, const std::string& why,
                                             const PortAssignment& assignment) const {
    const std::vector<Adapter> adapters = assignment.adapters ? assignment.adapters() : std::vector<Adapter>{};
    if (resolved.assigned) {
        return why + "\n" +
               explainAssignment(resolved.portNumber, *resolved.assigned, assignment, adapters,
                                 context_.words.program);
    }
    return why + "\n" + describeAdapters(adapters);
}

// ---------------------------------------------------------------------------------------
// Opening and closing

void ReconnectingPort::setPortOpen(bool open) {
    if (!open) {
        stopAll();
        return;
    }
    if (portOpen()) fail("Port already open");
    stopAll();
    const PortAssignment assignment = listingOnce(context_.assignment);
    const ResolvedDevice resolved = resolve(assignment);
    const LineSettings settings = parseSettings(settings_);
    lostDescription_.clear();
    if (resolved.address.network()) {
        opened_ = Target{resolved.address, {}, {}};
        state_ = State::Connecting;
        try {
            connectNetwork();
        } catch (const SerialError&) {
            stopAll();
            throw;
        }
        return;
    }
    const QFileInfo info(QString::fromStdString(resolved.address.path));
    if (info.isDir()) {
        fail(failedOpenText(resolved, resolved.address.path + ": a folder, not a serial device", assignment));
    }
    std::unique_ptr<Transport> transport = makeTransport(resolved.address);
    try {
        transport->start(settings);
    } catch (const SerialError& e) {
        fail(failedOpenText(resolved, e.what(), assignment));
    }
    adopt(std::move(transport));
    connected_ = true;
    recordTarget(resolved.address, assignment);
    state_ = State::Open;
}

void ReconnectingPort::recordTarget(const DeviceAddress& address, const PortAssignment& assignment) {
    opened_ = Target{address, stableNameOf(address.path, assignment.stableNameFolder), {}};
    if (!opened_.stableName.empty() || !assignment.adapters) return;
    // Without a stable name the adapter is known again by its serial number. Listing the
    // ports is slow (tens of milliseconds), and never lists a pseudo-terminal.
    const std::string device = canonicalPath(address.path);
    if (device.starts_with("/dev/pts/")) return;
    for (const Adapter& adapter : assignment.adapters()) {
        if (canonicalPath(adapter.path) == device) opened_.serialNumber = adapter.serialNumber;
    }
}

std::unique_ptr<Transport> ReconnectingPort::makeTransport(const DeviceAddress& address) {
    return context_.transports ? context_.transports(address)
                               : openTransport(address, context_.words);
}

void ReconnectingPort::adopt(std::unique_ptr<Transport> transport) {
    transport_ = std::move(transport);
    // While one of these runs, the transport is inside its own notification.
    transport_->onConnected = [this] {
        const Notified inside(notifying_);
        onTransportConnected();
    };
    transport_->onReadyRead = [this] {
        const Notified inside(notifying_);
        onTransportReadyRead();
    };
    transport_->onFailed = [this](const std::string& description) {
        const Notified inside(notifying_);
        onTransportFailed(description);
    };
}

void ReconnectingPort::retire() {
    deadlineTimer_->setEnabled(false);
    settleTimer_->setEnabled(false);
    connected_ = false;
    if (!transport_) return;
    transport_->close();
    transport_->onConnected = nullptr;
    transport_->onReadyRead = nullptr;
    transport_->onFailed = nullptr;
    // Not destroyed inside one of its own notifications; anywhere else at once.
    if (notifying_ > 0) transport_.release()->deleteLater();
    else transport_.reset();
}

void ReconnectingPort::stopAll() {
    retryTimer_->setEnabled(false);
    retire();
    pending_.clear();
    received_.clear();
    state_ = State::Closed;
}

void ReconnectingPort::connectNetwork() {
    adopt(makeTransport(opened_.address));
    received_.clear();
    deadlineTimer_->setEnabled(true);
    transport_->start(parseSettings(settings_));
}

// ---------------------------------------------------------------------------------------
// Losing the port and reopening it

void ReconnectingPort::lose(const std::string& description, bool report) {
    retire();
    pending_.clear();
    received_.clear();
    state_ = State::Away;
    retryTimer_->setEnabled(true);
    if (!report) {
        lostDescription_.clear();
        return;
    }
    tell(description + "\n" + context_.words.afterLoss);
}

void ReconnectingPort::giveUp(const std::string& description) {
    stopAll();
    tell(description);
}

void ReconnectingPort::tell(std::string report) {
    lostDescription_ = std::move(report);
    // Reported from the event loop, not from inside the transport's notification.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (lostDescription_.empty()) return;
            const std::string report = std::exchange(lostDescription_, {});
            if (onLost) onLost(report);
        },
        Qt::QueuedConnection);
}

void ReconnectingPort::call(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const SerialError& e) {
        // A call that meets the loss fails with it, and that is the loss's one report.
        if (transport_ && transport_->gone() && transport_->permanent()) {
            stopAll();
            lostDescription_.clear();
            throw;
        }
        if (transport_ && transport_->gone()) {
            lose(e.what(), false);
            fail(std::string(e.what()) + "\n" + context_.words.afterLoss);
        }
        throw;
    }
}

std::vector<std::string> ReconnectingPort::reopenCandidates() const {
    // A USB adapter known by a stable name or a serial number is looked for by it alone: its
    // old path may by now lead to another adapter.
    if (!opened_.stableName.empty()) return {opened_.stableName};
    if (!opened_.serialNumber.empty()) {
        std::vector<std::string> paths;
        if (context_.assignment.adapters) {
            for (const Adapter& adapter : context_.assignment.adapters()) {
                if (adapter.serialNumber == opened_.serialNumber) paths.push_back(deviceTextOf(adapter));
            }
        }
        return paths;
    }
    return {opened_.address.path};
}

void ReconnectingPort::attemptReopen() {
    if (state_ != State::Away) return;
    try {
        if (opened_.address.network()) {
            connectNetwork();
            return;
        }
        const LineSettings settings = parseSettings(settings_);
        for (const std::string& path : reopenCandidates()) {
            DeviceAddress address = opened_.address;
            address.path = path;
            std::unique_ptr<Transport> transport = makeTransport(address);
            try {
                transport->start(settings);
            } catch (const SerialError&) {
                continue;
            }
            adopt(std::move(transport));
            connected_ = true;
            opened_.address.path = path;
            state_ = State::Open;
            if (onReady) onReady();
            return;
        }
    } catch (const SerialError&) {
        retire();
    }
    retryTimer_->setEnabled(true);
}

void ReconnectingPort::onTransportConnected() {
    deadlineTimer_->setEnabled(false);
    connected_ = true;
    settleTimer_->setEnabled(true);
}

void ReconnectingPort::becomeOpen() {
    if (!transport_ || !connected_) return;
    state_ = State::Open;
    if (!pending_.empty()) {
        const std::string bytes = std::exchange(pending_, {});
        try {
            transport_->write(bytes);
        } catch (const SerialError& e) {
            lose(e.what());
            return;
        }
    }
    if (!received_.empty()) {
        commEvent_ = kEventReceive;
        if (onComm) onComm();
    }
    if (state_ == State::Open && onReady) onReady();
}

void ReconnectingPort::onTransportReadyRead() {
    if (state_ == State::Open) {
        commEvent_ = kEventReceive;
        if (onComm) onComm();
        return;
    }
    // Before the connection counts as made: kept, bounded, for the operator or for the
    // report of a server that hangs up at once.
    const std::string data = transport_->readAll();
    const std::size_t room = kPendingLimit - std::min(received_.size(), kPendingLimit);
    received_.append(data, 0, std::min(room, data.size()));
}

void ReconnectingPort::onTransportFailed(const std::string& description) {
    if (transport_->permanent() && state_ != State::Closed) {
        giveUp(description);
        return;
    }
    switch (state_) {
        case State::Open:
            lose(description);
            break;
        case State::Connecting:
            lose(description + serverSaid(received_));
            break;
        case State::Away:
            // An attempt to reopen failed: quietly, and again later.
            retire();
            retryTimer_->setEnabled(true);
            break;
        case State::Closed:
            retire();
            break;
    }
}

void ReconnectingPort::onDeadline() {
    if (connected_) return;
    const std::string description = opened_.address.text + ": the server did not answer within " +
                                    std::to_string(kConnectTimeoutMs / 1000) + " s";
    if (state_ == State::Connecting) {
        lose(description);
    } else {
        retire();
        if (state_ == State::Away) retryTimer_->setEnabled(true);
    }
}

// ---------------------------------------------------------------------------------------
// Settings, output, input

void ReconnectingPort::setSettings(const std::string& settings) {
    const LineSettings parsed = parseSettings(settings);
    if (state_ != State::Closed && opened_.address.kind == DeviceAddress::Kind::Socket && settings != settings_) {
        fail(fixedSettingsText(opened_.address, context_.words));
    }
    // An attempt to reopen takes them too: its connection may be on the way, and starts with
    // the settings it holds.
    if (transport_) call([&] { transport_->applySettings(parsed); });
    settings_ = settings;
}

std::string ReconnectingPort::fixedSettingsText(const DeviceAddress& address,
                                                const ProgramWords& words) {
    return address.text +
           ": the line settings of a raw TCP port are those set on the server. "
           "Use an rfc2217:// address of the server to choose them from " +
           words.program + ".";
}

std::string ReconnectingPort::awayText() const {
    return opened_.address.text + ": the port is disconnected; the command was not sent. " +
           context_.words.afterLoss;
}

void ReconnectingPort::output(const std::string& bytes) {
    switch (state_) {
        case State::Closed:
            // A port lost and closed since says why, once: by this failure or by onLost,
            // whichever comes first.
            if (!lostDescription_.empty()) fail(std::exchange(lostDescription_, {}));
            fail("Port is not open");
        case State::Away:
            if (!lostDescription_.empty()) fail(std::exchange(lostDescription_, {}));
            fail(awayText());
        case State::Connecting:
            if (pending_.size() + bytes.size() > kPendingLimit) {
                fail(opened_.address.text + ": the server has not answered yet; the command was not sent.");
            }
            pending_ += bytes;
            return;
        case State::Open:
            call([&] { transport_->write(bytes); });
            return;
    }
}

std::string ReconnectingPort::input() {
    std::string all = std::exchange(received_, {});
    if (transport_ && state_ == State::Open) all += transport_->readAll();
    return all;
}

}  // namespace serial
