// How long the window takes between an operator's action and the command's bytes reaching
// the serial port, and between received bytes and the decoded STATUS text, set against the
// time the line itself needs for the same bytes at 19200 baud (ten bits a byte). The goal is
// under 1% of the line time at the 99th percentile.
//
// The window is the real one (offscreen unless QT_QPA_PLATFORM names another platform) with
// the programs' own QTimer-backed timers. Each iteration starts from an idle window: reply
// window over, displays cleared, everything painted; that set-up is outside the timing.
//
// Counters (per repetition; the aggregate rows give their median over repetitions):
//   p50_us, p99_us     latency percentiles over the iterations of the repetition
//   line_us            the line time of the bytes concerned
//   p99_of_line_pct    p99_us as a percentage of line_us (goal < 1)
//   handler_p50_us     (where given) until the handler has returned, displays and timers done
//
// The "RealAdapter" cases replace the memory port by serial::ReconnectingPort on a
// pseudo-terminal that this program holds the other end of: a send is timed until the bytes
// can be read at the far end, a reply from the moment it is written at the far end until the
// receive handler returns. They show the whole way through Qt and the kernel, for context;
// the goal is set on the window's own share, the memory-port cases. "PtyBaseline" is the
// same measurement of a bare write() to the device: the kernel's and the measuring's share.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/form1.h"
#include "bench/support/stamping_port.h"
#include "link/reconnecting_port.h"
#include "panel/widgets.h"

namespace {

using bench::Clock;
using bench::microseconds;

constexpr int kIterations = 4000;
constexpr int kPtyIterations = 1500;
constexpr int kRepetitions = 5;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Samples {
    explicit Samples(benchmark::State& state) { us.reserve(state.max_iterations); }
    void add(Clock::duration d) { us.push_back(microseconds(d)); }

    void report(benchmark::State& state, std::size_t lineBytes) const {
        const double p99 = bench::quantile(us, 0.99);
        const double line = bench::lineMicroseconds(lineBytes);
        state.counters["p50_us"] = bench::quantile(us, 0.5);
        state.counters["p99_us"] = p99;
        state.counters["line_us"] = line;
        state.counters["p99_of_line_pct"] = 100.0 * p99 / line;
    }

    std::vector<double> us;
};

// The window of TR27KRSC on a given port, loaded, shown and idle. A warning fails the run.
struct Panel {
    explicit Panel(std::unique_ptr<serial::SerialPort> port) {
        form = std::make_unique<Form1>(models::kTR27K, std::move(port), timers,
                                       [this](const std::string& t) { warnings.push_back(t); });
        form->guarded([this] { form->Form_Load(); });
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            throw std::runtime_error("window not exposed");
        // Ctrl+J (Ctrl is bit 2) opens the data view, where the status keys are.
        form->guarded([this] { form->Form_KeyDown(Qt::Key_J, 2); });
        if (form->outerHeight() < 7000) throw std::runtime_error("data view not open");
        idle();
    }

    // Between two operator actions: the reply window has ended, Timer4 has cleared the
    // displays, and the window has painted.
    void idle() {
        form->Timer2_Timer();
        form->Timer4_Timer();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    QAbstractButton* button(std::string_view name) const {
        return qobject_cast<QAbstractButton*>(form->controls().find(name));
    }
    QPoint centreOf(std::string_view name) const {
        QWidget* w = form->controls().find(name);
        return w->mapTo(form.get(), w->rect().center());
    }

    // Fails the benchmark if anything went wrong; true when the run may report.
    bool ok(benchmark::State& state) const {
        if (!warnings.empty()) {
            state.SkipWithError(("warning: " + warnings.front()).c_str());
            return false;
        }
        return true;
    }

    QtTimerSource timers;
    std::vector<std::string> warnings;
    std::unique_ptr<Form1> form;
};

struct MemoryPanel : Panel {
    MemoryPanel() : MemoryPanel(new bench::MemoryPort) {}
    bench::MemoryPort* const port;

  private:
    // The window owns the port from here on.
    explicit MemoryPanel(bench::MemoryPort* p)
        : Panel(std::unique_ptr<serial::SerialPort>(p)), port(p) {}
};

bool expectSent(benchmark::State& state, const bench::MemoryPort& port, long count,
                const std::string& bytes) {
    if (port.outputs != count || port.lastBytes != bytes) {
        state.SkipWithError(
            ("sent " + std::to_string(port.outputs) + " times, last \"" + port.lastBytes + "\"")
                .c_str());
        return false;
    }
    return true;
}

// "STATUS" clicked through the button's own signal: click() to the output() call.
void BM_ClickToOutput(benchmark::State& state) {
    MemoryPanel panel;
    QAbstractButton* key = panel.button("Command44");
    Samples toOutput(state), toReturn(state);
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        key->click();
        const Clock::time_point returned = Clock::now();
        const Clock::duration d = panel.port->lastOutput - t0;
        state.SetIterationTime(seconds(d));
        toOutput.add(d);
        toReturn.add(returned - t0);
        panel.idle();
    }
    if (!panel.ok(state) || !expectSent(state, *panel.port, state.iterations(), "CR0\r")) return;
    toOutput.report(state, 4);
    state.counters["handler_p50_us"] = bench::quantile(toReturn.us, 0.5);
}

// "STATUS" clicked with the mouse on the window: the release (which activates the button)
// to the output() call. The press is outside the timing.
void BM_MouseReleaseToOutput(benchmark::State& state) {
    MemoryPanel panel;
    QWindow* window = panel.form->windowHandle();
    const QPoint at = panel.centreOf("Command44");
    Samples samples(state);
    for (auto _ : state) {
        QTest::mousePress(window, Qt::LeftButton, {}, at);
        const Clock::time_point t0 = Clock::now();
        QTest::mouseRelease(window, Qt::LeftButton, {}, at);
        const Clock::duration d = panel.port->lastOutput - t0;
        state.SetIterationTime(seconds(d));
        samples.add(d);
        panel.idle();
    }
    if (!panel.ok(state) || !expectSent(state, *panel.port, state.iterations(), "CR0\r")) return;
    samples.report(state, 4);
}

// "+" under "VOL" pressed with the mouse on the window: the press to the first send. The
// release is outside the timing.
void BM_HoldPressToOutput(benchmark::State& state) {
    MemoryPanel panel;
    QWindow* window = panel.form->windowHandle();
    const QPoint at = panel.centreOf("Command1");
    Samples samples(state);
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        QTest::mousePress(window, Qt::LeftButton, {}, at);
        const Clock::duration d = panel.port->lastOutput - t0;
        state.SetIterationTime(seconds(d));
        samples.add(d);
        QTest::mouseRelease(window, Qt::LeftButton, {}, at);
        panel.idle();
    }
    if (!panel.ok(state) || !expectSent(state, *panel.port, state.iterations(), "C09\r")) return;
    samples.report(state, 4);
}

// A repeat tick of the held "+" under "VOL", from the timer's tick handler to the send.
void BM_RepeatTickToOutput(benchmark::State& state) {
    MemoryPanel panel;
    QWindow* window = panel.form->windowHandle();
    const QPoint at = panel.centreOf("Command1");
    QTest::mousePress(window, Qt::LeftButton, {}, at);
    PanelTimer& timer1 = panel.form->timer(1);
    // The ticks come from here alone: the real countdown is pushed out of the run's way.
    timer1.setInterval(24 * 3600 * 1000);
    Samples samples(state);
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        timer1.onTick();
        const Clock::duration d = panel.port->lastOutput - t0;
        state.SetIterationTime(seconds(d));
        samples.add(d);
        panel.form->Timer4_Timer();  // the display hold ends before the next tick
        QCoreApplication::processEvents();
    }
    QTest::mouseRelease(window, Qt::LeftButton, {}, at);
    if (!panel.ok(state) || !expectSent(state, *panel.port, state.iterations() + 1, "C09\r"))
        return;
    samples.report(state, 4);
}

// The reply "00" CR to "CR0" arriving as one receive event, until the receive handler has
// returned with " Power ON" in STATUS.
void BM_ReceiveToStatus(benchmark::State& state) {
    MemoryPanel panel;
    QAbstractButton* key = panel.button("Command44");
    const std::string reply = "00\r";
    Samples samples(state);
    for (auto _ : state) {
        key->click();
        QCoreApplication::processEvents();
        const Clock::time_point t0 = Clock::now();
        panel.port->receive(reply);
        const Clock::duration d = Clock::now() - t0;
        state.SetIterationTime(seconds(d));
        samples.add(d);
        if (panel.form->Label22->text() != " Power ON") {
            state.SkipWithError(("STATUS reads \"" + panel.form->Label22->text() + "\"").c_str());
            break;
        }
        panel.idle();
    }
    if (!panel.ok(state)) return;
    samples.report(state, reply.size());
}

// ---------------------------------------------------------------------------------------
// The real adapter on a pseudo-terminal.

// The window on the real adapter, whose far end this program holds: the master side of a
// pseudo-terminal, or the accepted connection of a TCP server on 127.0.0.1 that COM1 names
// (socket:// or rfc2217://). A thread waits on the far end and notes when bytes arrive there,
// so the arrival is timed by the kernel's wake-up and not by how often the window's thread
// looks.
struct FarEndPanel {
    // TcpBaseline: the window on a pseudo-terminal, and beside it a plain TCP connection on
    // 127.0.0.1 whose client end is slave() and whose server end is watched.
    enum class Kind { Pty, RawTcp, Rfc2217, TcpBaseline };

    explicit FarEndPanel(Kind kind = Kind::Pty) {
        std::string device;
        int listener = -1;
        if (kind == Kind::Pty || kind == Kind::TcpBaseline) {
            char name[256] = {};
            if (openpty(&master, &slave_, name, nullptr, nullptr) != 0)
                throw std::runtime_error("openpty");
            device = name;
        } else {
            listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                listen(listener, 1) != 0 ||
                getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
                throw std::runtime_error("no listening socket on 127.0.0.1");
            device = (kind == Kind::RawTcp ? "socket://127.0.0.1:" : "rfc2217://127.0.0.1:") +
                     std::to_string(ntohs(address.sin_port));
        }
        if (kind == Kind::TcpBaseline) {
            ptyMaster_ = std::exchange(master, -1);
            close(std::exchange(slave_, -1));
            const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            slave_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int on = 1;
            if (server < 0 || slave_ < 0 || bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                listen(server, 1) != 0 || getsockname(server, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
                connect(slave_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                (master = accept4(server, nullptr, nullptr, SOCK_CLOEXEC)) < 0)
                throw std::runtime_error("no TCP connection on 127.0.0.1");
            close(server);
            setsockopt(slave_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
        if (pipe(stop_) != 0) throw std::runtime_error("pipe");
        qputenv("PROJECTOR_COM1", QByteArray::fromStdString(device));
        auto owned =
            std::make_unique<bench::StampingPort>(std::make_unique<serial::ReconnectingPort>());
        port = owned.get();
        reconnecting_ = static_cast<serial::ReconnectingPort*>(owned->inner());
        panel = std::make_unique<Panel>(std::move(owned));
        qunsetenv("PROJECTOR_COM1");
        if (listener >= 0) {
            // The window connects from its event loop.
            const auto limit = Clock::now() + std::chrono::seconds(3);
            while ((master = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) < 0 && Clock::now() < limit)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            close(listener);
            if (master < 0) throw std::runtime_error("the window did not connect");
            const int on = 1;
            setsockopt(master, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            while (!reconnecting_->ready() && Clock::now() < limit + std::chrono::seconds(1))
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        watcher_ = std::thread([this] { watch(); });
        if (listener >= 0) {
            // What the connection starts with (the Telnet negotiation) is not a command.
            const auto settle = Clock::now() + std::chrono::milliseconds(200);
            while (Clock::now() < settle) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            take();
        }
    }
    ~FarEndPanel() {
        panel.reset();
        (void)!write(stop_[1], "x", 1);
        watcher_.join();
        for (int fd : {master, slave_, ptyMaster_, stop_[0], stop_[1]})
            if (fd >= 0) close(fd);
    }

    // Runs the window's event loop until bytes have arrived at the far end; their arrival.
    Clock::time_point runUntilArrived() {
        const auto limit = Clock::now() + std::chrono::seconds(2);
        while (!arrived_.load(std::memory_order_acquire)) {
            if (Clock::now() > limit) throw std::runtime_error("nothing arrived at the far end");
            // As the program's own loop does: sleep until there is something to do.
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return Clock::time_point(Clock::duration(arrivedAt_.load()));
    }

    // What arrived at the far end since the last take.
    std::string take() {
        std::lock_guard lock(mutex_);
        arrived_.store(false);
        return std::exchange(received_, {});
    }

    bool ready() const { return reconnecting_->ready(); }
    int slave() const { return slave_; }

    int master = -1;
    bench::StampingPort* port = nullptr;
    std::unique_ptr<Panel> panel;

  private:
    void watch() {
        pollfd fds[2] = {{master, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) continue;
            const auto now = Clock::now();
            if (fds[1].revents) return;
            char buffer[256];
            std::lock_guard lock(mutex_);
            ssize_t n = 0;
            while ((n = read(master, buffer, sizeof buffer)) > 0) received_.append(buffer, std::size_t(n));
            if (n == 0) fds[0].fd = -1;  // the window hung up; nothing more to watch
            if (!arrived_.load()) arrivedAt_.store(now.time_since_epoch().count());
            arrived_.store(true, std::memory_order_release);
            dispatcher_->wakeUp();
        }
    }

    serial::ReconnectingPort* reconnecting_ = nullptr;
    int slave_ = -1;
    int ptyMaster_ = -1;
    int stop_[2] = {-1, -1};
    QAbstractEventDispatcher* dispatcher_ = QAbstractEventDispatcher::instance();
    std::thread watcher_;
    std::mutex mutex_;
    std::string received_;
    std::atomic<bool> arrived_{false};
    std::atomic<Clock::rep> arrivedAt_{0};
};

void clickToFarEnd(benchmark::State& state, FarEndPanel::Kind kind) {
    FarEndPanel pty(kind);
    if (!pty.ready()) {
        state.SkipWithError("port not open");
        return;
    }
    QAbstractButton* key = pty.panel->button("Command44");
    Samples samples(state);
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        key->click();
        const Clock::duration d = pty.runUntilArrived() - t0;
        state.SetIterationTime(seconds(d));
        samples.add(d);
        if (const std::string got = pty.take(); got != "CR0\r") {
            state.SkipWithError(("the line carried \"" + got + "\"").c_str());
            break;
        }
        pty.panel->idle();
    }
    if (!pty.panel->ok(state)) return;
    samples.report(state, 4);
}

void BM_RealAdapter_ClickToLine(benchmark::State& state) { clickToFarEnd(state, FarEndPanel::Kind::Pty); }
void BM_RawTcp_ClickToServer(benchmark::State& state) { clickToFarEnd(state, FarEndPanel::Kind::RawTcp); }
void BM_Rfc2217_ClickToServer(benchmark::State& state) { clickToFarEnd(state, FarEndPanel::Kind::Rfc2217); }

void BM_RealAdapter_LineToStatus(benchmark::State& state) {
    FarEndPanel pty;
    if (!pty.port->portOpen()) {
        state.SkipWithError("port not open");
        return;
    }
    QAbstractButton* key = pty.panel->button("Command44");
    Form1& form = *pty.panel->form;
    const std::string reply = "00\r";
    Samples samples(state);
    for (auto _ : state) {
        key->click();
        pty.runUntilArrived();
        pty.take();
        QCoreApplication::processEvents();
        const Clock::time_point t0 = Clock::now();
        if (write(pty.master, reply.data(), reply.size()) != ssize_t(reply.size())) {
            state.SkipWithError("write to the pseudo-terminal failed");
            break;
        }
        const auto limit = t0 + std::chrono::seconds(2);
        while (form.Label22->text() != " Power ON" && Clock::now() < limit) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        if (form.Label22->text() != " Power ON") {
            state.SkipWithError(("STATUS reads \"" + form.Label22->text() + "\"").c_str());
            break;
        }
        const Clock::duration d = pty.port->lastCommDone - t0;
        state.SetIterationTime(seconds(d));
        samples.add(d);
        pty.panel->idle();
    }
    if (!pty.panel->ok(state)) return;
    samples.report(state, reply.size());
}

// The same measurement without the window: the bytes written straight to the device by
// this thread, timed until the far end has them. What the kernel and the measuring take.
void writeToFarEnd(benchmark::State& state, FarEndPanel::Kind kind) {
    FarEndPanel pty(kind);
    const std::string command = "CR0\r";
    Samples samples(state);
    for (auto _ : state) {
        const Clock::time_point t0 = Clock::now();
        if (write(pty.slave(), command.data(), command.size()) != ssize_t(command.size())) {
            state.SkipWithError("write to the pseudo-terminal failed");
            break;
        }
        const Clock::duration d = pty.runUntilArrived() - t0;
        state.SetIterationTime(seconds(d));
        samples.add(d);
        if (const std::string got = pty.take(); got != command) {
            state.SkipWithError(("the line carried \"" + got + "\"").c_str());
            break;
        }
        pty.panel->idle();
    }
    samples.report(state, command.size());
}

void BM_PtyBaseline_WriteToLine(benchmark::State& state) { writeToFarEnd(state, FarEndPanel::Kind::Pty); }
// The same for a bare send() on a TCP connection over 127.0.0.1.
void BM_TcpBaseline_WriteToServer(benchmark::State& state) {
    writeToFarEnd(state, FarEndPanel::Kind::TcpBaseline);
}

#define LATENCY(name, iterations)     \
    BENCHMARK(name)                   \
        ->UseManualTime()             \
        ->Iterations(iterations)      \
        ->Repetitions(kRepetitions)   \
        ->DisplayAggregatesOnly(true) \
        ->Unit(benchmark::kMicrosecond)

LATENCY(BM_ClickToOutput, kIterations);
LATENCY(BM_MouseReleaseToOutput, kIterations);
LATENCY(BM_HoldPressToOutput, kIterations);
LATENCY(BM_RepeatTickToOutput, kIterations);
LATENCY(BM_ReceiveToStatus, kIterations);
LATENCY(BM_RealAdapter_ClickToLine, kPtyIterations);
LATENCY(BM_RealAdapter_LineToStatus, kPtyIterations);
LATENCY(BM_PtyBaseline_WriteToLine, kPtyIterations);
LATENCY(BM_RawTcp_ClickToServer, kPtyIterations);
LATENCY(BM_TcpBaseline_WriteToServer, kPtyIterations);
LATENCY(BM_Rfc2217_ClickToServer, kPtyIterations);

// The offscreen platform says this on every resize of a fixed-size window; everything else
// is shown.
void quietHandler(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("propagateSizeHints"))) return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(QtWarningMsg, context, message)));
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(quietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    panel::chooseFaces();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
