#pragma once

#include <QObject>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/device_address.h"
#include "link/port_assignment.h"
#include "link/program_words.h"
#include "link/serial_port.h"
#include "link/timers.h"

namespace serial {

class Transport;

// The port the panel holds: "COMn" by its port number, or one device text given by
// setDevice() (the command-line tool), resolved when the port opens. It owns the open
// transport, a local serial device or a TCP connection, raw or RFC 2217, and keeps it
// connected: a port that is lost is reported once through onLost, then reopened quietly
// about once a second until it is back, another port is chosen (setCommPort, setDevice) or it
// is closed. It never writes on its own: what the operator sent before a loss is not
// replayed. Once back, the line settings in force are applied again.
//
// A network port opens asynchronously: it reads as open at once, and bytes written before
// the server has answered wait (bounded) and go out once it has. A connection counts as made
// once it has stood for kSettleMs, since a serial server that cannot open its device accepts
// and then hangs up at once. A connection that fails, or is not made within
// kConnectTimeoutMs, is reported through onLost like a lost port, and retried the same way;
// one that would fail the same way every time (a server that refuses RFC 2217) is reported
// and the port closed.
class ReconnectingPort final : public QObject, public SerialPort {
public:
    using TransportFactory = std::function<std::unique_ptr<Transport>(const DeviceAddress& address)>;

    // What the port takes from its surroundings; tests replace each part.
    struct Context {
        TimerSource* timers = nullptr;  // QTimer-backed when null; must outlive the port
        PortAssignment assignment = PortAssignment::system();
        TransportFactory transports;  // the real transports when empty
        ProgramWords words;           // how the messages speak of the program
    };

    static constexpr int kRetryMs = 1000;
    static constexpr int kConnectTimeoutMs = 3000;
    static constexpr int kSettleMs = 300;
    // Bytes a network port keeps for the line while the server has not answered yet.
    static constexpr std::size_t kPendingLimit = 4096;

    // Why the line settings of `address`, a raw TCP port, cannot be chosen: they are the
    // server's. One line.
    static std::string fixedSettingsText(const DeviceAddress& address, const ProgramWords& words);

    ReconnectingPort();
    explicit ReconnectingPort(Context context);
    ~ReconnectingPort() override;

    // From now on the port opens this device text instead of "COMn"; "COMn" itself is
    // assigned as for the port number. Set only while the port is closed.
    void setDevice(std::string text);

    void setCommPort(int n) override;
    int commPort() const override { return commPort_; }
    void setSettings(const std::string& settings) override;
    std::string settings() const override { return settings_; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return state_ == State::Connecting || state_ == State::Open; }
    void output(const std::string& bytes) override;
    std::string input() override;
    int commEvent() const override { return commEvent_; }
    // The device text of the port: as assigned to COMn, or as given to setDevice().
    std::string devicePath() const override;

    // Whether bytes written now go out at once (open, and for a network port connected).
    bool ready() const { return state_ == State::Open; }
    // Whether a lost port is being reopened.
    bool reconnecting() const { return state_ == State::Away; }
    // The device opened last, as it was reached (for a USB adapter, possibly under a
    // different name than the one assigned); "" before the first open.
    const std::string& openedDevice() const { return opened_.address.path.empty() ? opened_.address.text : opened_.address.path; }

private:
    enum class State {
        Closed,
        Connecting,  // network: opened by the operator, the server has not answered yet
        Open,
        Away,  // lost, or never connected: reopened quietly
    };

    // What a lost port reopens: the address, and for a local device the names it can be
    // found under again.
    struct Target {
        DeviceAddress address;
        std::string stableName;    // the /dev/serial/by-id name of a USB adapter
        std::string serialNumber;  // when it had no stable name
    };

    ResolvedDevice resolve(const PortAssignment& assignment) const;
    std::string failedOpenText(const ResolvedDevice& resolved, const std::string& why,
                               const PortAssignment& assignment) const;

    std::unique_ptr<Transport> makeTransport(const DeviceAddress& address);
    void adopt(std::unique_ptr<Transport> transport);
    void retire();
    void stopAll();
    void openLocal(const DeviceAddress& address);
    void recordTarget(const DeviceAddress& address, const PortAssignment& assignment);
    std::vector<std::string> reopenCandidates() const;
    void connectNetwork();
    void attemptReopen();
    void becomeOpen();

    void onTransportConnected();
    void onTransportReadyRead();
    void onTransportFailed(const std::string& description);
    void onDeadline();
    void lose(const std::string& description, bool report = true);
    void giveUp(const std::string& description);
    void tell(std::string report);
    void call(const std::function<void()>& operation);
    std::string awayText() const;

    struct Notified {
        explicit Notified(int& depth) : depth_(depth) { ++depth_; }
        ~Notified() { --depth_; }
        int& depth_;
    };

    Context context_;
    std::unique_ptr<PanelTimer> retryTimer_, deadlineTimer_, settleTimer_;
    int commPort_ = 1;
    std::optional<std::string> device_;  // set by setDevice()
    std::string settings_ = "9600,N,8,1";
    int commEvent_ = 0;

    State state_ = State::Closed;
    std::unique_ptr<Transport> transport_;
    bool connected_ = false;      // the transport has reported its connection
    Target opened_;               // the device to reach again
    std::string pending_;         // written while connecting
    std::string received_;        // arrived before the connection counted as made
    std::string lostDescription_; // why the port went away, until reported
    int notifying_ = 0;           // depth of transport notifications being handled
};

}  // namespace serial
