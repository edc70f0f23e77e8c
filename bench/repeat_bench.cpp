// Auto-repeat of the hold keys against the projector simulator on a pseudo-terminal: the
// period the window achieves and its jitter at each repeat period the keys use, and whether
// every command sent reaches the projector exactly once. With --soak, an arrow key held at the
// fastest period for a long time, with the memory of both processes sampled as it runs.
//
// The window is the real one (offscreen unless QT_QPA_PLATFORM names another platform) with
// the programs' QTimer-backed timers and the real serial adapter; keys are held with the mouse
// on the window, as the operator holds them. The adapter is wrapped so that each command's
// hand-over to it is timed; the simulator's log gives the time (whole milliseconds) at which
// it read each command, and its counter how many it read.
//
//   bench_repeat [--rounds N] [--hold-scale X] [--no-baseline]
//                                                  the five periods, N rounds (default 3),
//                                                  each beside a bare QTimer at that period
//   bench_repeat --soak [SECONDS]                  the soak (default 600 s)
//   bench_repeat --replug [CYCLES] [--via raw|rfc2217]
//                                                  the device unplugged and plugged back
//                                                  CYCLES times (default 100), a key held
//                                                  between; directly or through ser2net
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/form1.h"
#include "bench/support/stamping_port.h"
#include "link/reconnecting_port.h"
#include "panel/widgets.h"
#include "tests/support/ser2net.h"
#include "tests/support/simulator.h"

namespace {

using namespace std::chrono_literals;
using bench::Clock;
using bench::quantile;

// Runs the event loop for `ms`, as the program's own loop runs: sleeping until a timer or the
// port has something.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident set of a process in KiB (VmRSS), 0 when it cannot be read.
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

// The simulator's log, read on from where the last read stopped.
class SimLog {
  public:
    explicit SimLog(std::string path) : path_(std::move(path)) {}

    // The times (ms since the simulator started) at which it read `command`, over the log
    // lines after the last "CTL garbled", the marker each hold begins with.
    std::vector<long> receivedSinceMarker(const std::string& command) {
        std::ifstream in(path_);
        in.seekg(offset_);
        std::vector<long> times;
        for (std::string line; std::getline(in, line);) {
            if (in.eof()) break;  // a line still being written
            offset_ += static_cast<std::streamoff>(line.size() + 1);
            std::istringstream fields(line);
            long t = 0;
            std::string kind, text;
            fields >> t >> kind;
            std::getline(fields, text);
            if (!text.empty() && text.front() == ' ') text.erase(0, 1);
            if (kind == "CTL" && text == "garbled")
                times.clear();
            else if (kind == "RX" && text == command)
                times.push_back(t);
        }
        return times;
    }

  private:
    std::string path_;
    std::streamoff offset_ = 0;
};

struct HoldResult {
    std::string name;
    int periodMs = 0;
    double heldSeconds = 0;
    long sent = 0;
    long counted = 0;  // by the simulator's counter
    long logged = 0;   // RX lines of the key's command in the simulator's log
    std::vector<Clock::time_point> sendTimes;
    std::vector<double> intervalsUs;  // between consecutive sends, as the window made them
    std::vector<double> simIntervalsMs;
    double simMeanMs = 0;
    double cpuPercent = 0;

    double jitter(double q) const {
        std::vector<double> off;
        off.reserve(intervalsUs.size());
        for (double v : intervalsUs) off.push_back(std::abs(v - periodMs * 1000.0));
        return quantile(off, q);
    }
    double meanUs() const {
        double sum = 0;
        for (double v : intervalsUs) sum += v;
        return intervalsUs.empty() ? 0 : sum / double(intervalsUs.size());
    }
};

// Open file descriptors of this process.
long openDescriptors() {
    long n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

class Rig {
  public:
    // via: "" for the device itself, "raw" or "rfc2217" for ser2net in front of it.
    explicit Rig(const std::string& via = "")
        : dir_(std::filesystem::temp_directory_path() /
               ("projector-bench-" + std::to_string(::getpid()))),
          made_(std::filesystem::create_directories(dir_)),
          log_((dir_ / "sim.log").string()),
          sim_(sim_support::Simulator::Options{PROJECTOR_SIM_PATH,
                                               "TR27K",
                                               (dir_ / "projector").string(),
                                               {"--log", (dir_ / "sim.log").string()}}) {
        std::string device = (dir_ / "projector").string();
        if (!via.empty()) {
            ser2net_ = std::make_unique<sim_support::Ser2net>(device);
            device = via == "raw" ? ser2net_->rawAddress() : ser2net_->rfc2217Address();
        }
        qputenv("PROJECTOR_COM1", QByteArray::fromStdString(device));
        auto owned =
            std::make_unique<bench::StampingPort>(std::make_unique<serial::ReconnectingPort>());
        port_ = owned.get();
        form_ = std::make_unique<Form1>(models::kTR27K, std::move(owned), timers_,
                                        [this](const std::string& t) { warnings_.push_back(t); });
        form_->guarded([this] { form_->Form_Load(); });
        form_->show();
        runFor(via.empty() ? 0 : 500);
        if (!QTest::qWaitForWindowExposed(form_.get()) || !ready()) {
            throw std::runtime_error("the window did not come up with its port open" +
                                     (warnings_.empty() ? "" : ": " + warnings_.front()));
        }
        runFor(300);
    }
    ~Rig() {
        form_.reset();
        qunsetenv("PROJECTOR_COM1");
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // A key pressed and released again with the mouse, as for the "D.Zoom" release.
    void tap(std::string_view key) {
        QTest::mousePress(form_->windowHandle(), Qt::LeftButton, {}, centreOf(key));
        runFor(100);
        QTest::mouseRelease(form_->windowHandle(), Qt::LeftButton, {}, centreOf(key));
    }
    void click(std::string_view key) {
        qobject_cast<QAbstractButton*>(form_->controls().find(key))->click();
    }

    // Holds `key` for `heldMs`, then waits until the simulator has counted as many commands
    // as were sent (or five seconds have passed). `pressed` runs right after the press,
    // `released` right after the release, before anything is worked out.
    HoldResult hold(std::string name, std::string_view key, const std::string& command,
                    int periodMs, int heldMs, const std::function<void()>& pressed = {},
                    const std::function<void()>& released = {}) {
        runFor(1200);  // the last reply window and display hold are over
        const long before = sim_.commandCount();
        sim_.control("garbled");  // marks the start of this hold in the log
        port_->startRecording(std::size_t(heldMs / std::max(periodMs, 1)) * 3 / 2 + 64);

        const double cpu0 = cpuSeconds();
        const Clock::time_point t0 = Clock::now();
        QTest::mousePress(form_->windowHandle(), Qt::LeftButton, {}, centreOf(key));
        if (pressed) pressed();
        runFor(heldMs);
        QTest::mouseRelease(form_->windowHandle(), Qt::LeftButton, {}, centreOf(key));
        const Clock::time_point t1 = Clock::now();
        const double cpu1 = cpuSeconds();
        port_->stopRecording();
        if (released) released();

        HoldResult r;
        r.name = std::move(name);
        r.periodMs = periodMs;
        r.heldSeconds = std::chrono::duration<double>(t1 - t0).count();
        r.cpuPercent = 100.0 * (cpu1 - cpu0) / r.heldSeconds;
        r.sent = long(port_->sends.size()) + port_->unrecorded;
        r.sendTimes = port_->sends;
        for (std::size_t i = 1; i < port_->sends.size(); ++i) {
            r.intervalsUs.push_back(bench::microseconds(port_->sends[i] - port_->sends[i - 1]));
        }
        const auto limit = Clock::now() + 5s;
        do {
            r.counted = sim_.commandCount() - before;
            if (r.counted >= r.sent) break;
            runFor(20);
        } while (Clock::now() < limit);
        runFor(50);
        const std::vector<long> times = log_.receivedSinceMarker(command);
        r.logged = long(times.size());
        for (std::size_t i = 1; i < times.size(); ++i)
            r.simIntervalsMs.push_back(double(times[i] - times[i - 1]));
        if (times.size() > 1)
            r.simMeanMs = double(times.back() - times.front()) / double(times.size() - 1);
        return r;
    }

    const std::vector<std::string>& warnings() const { return warnings_; }
    pid_t simPid() const { return sim_.pid(); }
    sim_support::Simulator& sim() { return sim_; }
    bench::StampingPort& port() { return *port_; }
    bool ready() const { return static_cast<serial::ReconnectingPort*>(port_->inner())->ready(); }
    void press(std::string_view key) {
        QTest::mousePress(form_->windowHandle(), Qt::LeftButton, {}, centreOf(key));
    }
    void release(std::string_view key) {
        QTest::mouseRelease(form_->windowHandle(), Qt::LeftButton, {}, centreOf(key));
    }

  private:
    QPoint centreOf(std::string_view name) const {
        QWidget* w = form_->controls().find(name);
        return w->mapTo(form_.get(), w->rect().center());
    }

    std::filesystem::path dir_;
    bool made_;
    SimLog log_;
    sim_support::Simulator sim_;
    std::unique_ptr<sim_support::Ser2net> ser2net_;
    QtTimerSource timers_;
    bench::StampingPort* port_ = nullptr;
    std::vector<std::string> warnings_;
    std::unique_ptr<Form1> form_;
};

// What the platform's timer alone delivers at a period, with nothing else in the loop: a
// QTimer (Qt::PreciseTimer) left running, and one restarted from its own tick as the window's
// timers are when a handler enables them again.
HoldResult bareTimer(int periodMs, bool restartInTick, int forMs) {
    std::vector<Clock::time_point> ticks;
    ticks.reserve(std::size_t(forMs / periodMs) + 16);
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(periodMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ticks.push_back(Clock::now());
        if (restartInTick) timer.start();
    });
    const double cpu0 = cpuSeconds();
    const Clock::time_point t0 = Clock::now();
    ticks.push_back(t0);
    timer.start();
    runFor(forMs);
    timer.stop();
    HoldResult r;
    r.name = restartInTick ? "  QTimer alone, restarted" : "  QTimer alone, running";
    r.periodMs = periodMs;
    r.heldSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.cpuPercent = 100.0 * (cpuSeconds() - cpu0) / r.heldSeconds;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        r.intervalsUs.push_back(bench::microseconds(ticks[i] - ticks[i - 1]));
    return r;
}

// The hold of each period, with what sets it up. Each hold lasts long enough for at least
// 30 repeats and at least four seconds.
struct Case {
    const char* name;
    int periodMs;
    const char* key;
    const char* command;
    std::function<void(Rig&)> setUp;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> kCases = {
        {"arrow up after D.Zoom release", 5, "Command5", "C3C", [](Rig& r) { r.tap("Command48"); }},
        {"Brightness +", 50, "Command15", "C20", nullptr},
        {"arrow up after MENU ON", 200, "Command5", "C3C", [](Rig& r) { r.click("Command23"); }},
        {"VOL +", 250, "Command1", "C09", nullptr},
        {"SELECT", 500, "Command6", "C3F", nullptr},
    };
    return kCases;
}

void printHeader() {
    std::printf("%-31s %6s %6s | %8s %8s %8s %8s | %7s %7s | %5s %5s %6s | %6s %7s %6s | %5s\n",
                "hold", "period", "held", "p50", "p99", "mean", "max", "jit50", "jit99", "sim50",
                "sim99", "simavg", "sent", "counted", "logged", "cpu");
    std::printf("%-31s %6s %6s | %8s %8s %8s %8s | %7s %7s | %5s %5s %6s | %6s %7s %6s | %5s\n", "",
                "ms", "s", "ms", "ms", "ms", "ms", "ms", "ms", "ms", "ms", "ms", "", "", "", "%");
}

void printRow(const HoldResult& r, bool delivery = true) {
    if (!delivery) {
        const double maxUs = r.intervalsUs.empty()
                                 ? 0
                                 : *std::max_element(r.intervalsUs.begin(), r.intervalsUs.end());
        std::printf(
            "%-31s %6d %6.1f | %8.3f %8.3f %8.3f %8.3f | %7.3f %7.3f | %5s %5s %6s | %6s %7s %6s | "
            "%5.1f\n",
            r.name.c_str(), r.periodMs, r.heldSeconds, quantile(r.intervalsUs, 0.5) / 1000,
            quantile(r.intervalsUs, 0.99) / 1000, r.meanUs() / 1000, maxUs / 1000,
            r.jitter(0.5) / 1000, r.jitter(0.99) / 1000, "", "", "", "", "", "", r.cpuPercent);
        return;
    }
    const double maxUs =
        r.intervalsUs.empty() ? 0 : *std::max_element(r.intervalsUs.begin(), r.intervalsUs.end());
    std::printf(
        "%-31s %6d %6.1f | %8.3f %8.3f %8.3f %8.3f | %7.3f %7.3f | %5.0f %5.0f %6.2f | %6ld %7ld "
        "%6ld | %5.1f%s\n",
        r.name.c_str(), r.periodMs, r.heldSeconds, quantile(r.intervalsUs, 0.5) / 1000,
        quantile(r.intervalsUs, 0.99) / 1000, r.meanUs() / 1000, maxUs / 1000, r.jitter(0.5) / 1000,
        r.jitter(0.99) / 1000, quantile(r.simIntervalsMs, 0.5), quantile(r.simIntervalsMs, 0.99),
        r.simMeanMs, r.sent, r.counted, r.logged, r.cpuPercent,
        (r.sent == r.counted && r.sent == r.logged) ? "" : "  LOST OR DOUBLED");
}

double median(std::vector<double> v) {
    return quantile(std::move(v), 0.5);
}

int runPeriods(int rounds, double holdScale, bool baseline) {
    Rig rig;
    std::map<std::string, std::vector<HoldResult>> byCase;
    bool allDelivered = true;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("\nround %d of %d\n", round, rounds);
        printHeader();
        for (const Case& c : cases()) {
            if (c.setUp) c.setUp(rig);
            const int heldMs = int(holdScale * std::max(4000, 30 * c.periodMs));
            HoldResult r = rig.hold(c.name, c.key, c.command, c.periodMs, heldMs);
            printRow(r);
            std::fflush(stdout);
            allDelivered = allDelivered && r.sent == r.counted && r.sent == r.logged;
            byCase[c.name].push_back(std::move(r));
            if (!baseline) continue;
            const int bareMs = int(holdScale * std::max(2000, 12 * c.periodMs));
            for (bool restart : {true, false}) {
                HoldResult b = bareTimer(c.periodMs, restart, bareMs);
                printRow(b, false);
                byCase[std::string(c.name) + (restart ? "/restarted" : "/running")].push_back(
                    std::move(b));
            }
            std::fflush(stdout);
        }
    }
    std::printf(
        "\nmedian over %d rounds (window-side period p50/p99/mean, jitter |interval - period| "
        "p50/p99, simulator-side p50/mean)\n",
        rounds);
    std::printf("%-31s %6s | %8s %8s %8s | %7s %7s | %5s %6s | %7s %7s\n", "hold", "period", "p50",
                "p99", "mean", "jit50", "jit99", "sim50", "simavg", "sent", "counted");
    std::vector<std::pair<std::string, int>> rows;
    for (const Case& c : cases()) {
        rows.emplace_back(c.name, c.periodMs);
        if (!baseline) continue;
        rows.emplace_back(std::string(c.name) + "/restarted", c.periodMs);
        rows.emplace_back(std::string(c.name) + "/running", c.periodMs);
    }
    for (const auto& [key, periodMs] : rows) {
        const auto& rs = byCase[key];
        const bool bare = key.find('/') != std::string::npos;
        const std::string label = bare ? (key.ends_with("restarted") ? "  QTimer alone, restarted"
                                                                     : "  QTimer alone, running")
                                       : key;
        std::vector<double> p50, p99, mean, j50, j99, s50, savg;
        long sent = 0, counted = 0;
        for (const HoldResult& r : rs) {
            p50.push_back(quantile(r.intervalsUs, 0.5) / 1000);
            p99.push_back(quantile(r.intervalsUs, 0.99) / 1000);
            mean.push_back(r.meanUs() / 1000);
            j50.push_back(r.jitter(0.5) / 1000);
            j99.push_back(r.jitter(0.99) / 1000);
            s50.push_back(quantile(r.simIntervalsMs, 0.5));
            savg.push_back(r.simMeanMs);
            sent += r.sent;
            counted += r.counted;
        }
        if (bare) {
            std::printf("%-31s %6d | %8.3f %8.3f %8.3f | %7.3f %7.3f |\n", label.c_str(), periodMs,
                        median(p50), median(p99), median(mean), median(j50), median(j99));
            continue;
        }
        std::printf("%-31s %6d | %8.3f %8.3f %8.3f | %7.3f %7.3f | %5.0f %6.2f | %7ld %7ld\n",
                    label.c_str(), periodMs, median(p50), median(p99), median(mean), median(j50),
                    median(j99), median(s50), median(savg), sent, counted);
    }
    for (const std::string& w : rig.warnings()) std::printf("warning: %s\n", w.c_str());
    std::printf("\n%s\n", allDelivered && rig.warnings().empty()
                              ? "every command sent was counted once by the simulator"
                              : "COMMANDS LOST OR DOUBLED, OR WARNINGS");
    return allDelivered && rig.warnings().empty() ? 0 : 1;
}

int runSoak(int seconds) {
    Rig rig;
    rig.tap("Command48");  // D.Zoom release: the arrows repeat every 5 ms from here
    struct Sample {
        double t;
        long panelKiB;
        long simKiB;
        std::size_t heapBytes;
    };
    std::vector<Sample> samples;
    samples.reserve(std::size_t(seconds) / 10 + 4);
    Clock::time_point start;
    auto sample = [&] {
        samples.push_back({std::chrono::duration<double>(Clock::now() - start).count(),
                           residentKiB(::getpid()), residentKiB(rig.simPid()),
                           mallinfo2().uordblks});
        const Sample& s = samples.back();
        std::printf("%7.1f s  window process %7ld KiB (heap in use %8zu B)  simulator %6ld KiB\n",
                    s.t, s.panelKiB, s.heapBytes, s.simKiB);
        std::fflush(stdout);
    };
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    sampler.setInterval(10'000);
    QObject::connect(&sampler, &QTimer::timeout, sample);
    std::printf("soak: arrow up held %d s at the 5 ms repeat\n", seconds);
    HoldResult r = rig.hold(
        "soak: arrow up after D.Zoom", "Command5", "C3C", 5, seconds * 1000,
        [&] {
            start = Clock::now();
            sample();
            sampler.start();
        },
        [&] {
            sampler.stop();
            sample();
        });

    std::printf("\n");
    printHeader();
    printRow(r);
    // Least-squares slope of the window process's resident set over the samples after the
    // first minute (start-up growth of caches excluded when the soak is long enough).
    std::vector<Sample> tail;
    for (const Sample& s : samples)
        if (s.t >= (seconds >= 120 ? 60.0 : 0.0)) tail.push_back(s);
    double st = 0, sr = 0, stt = 0, str = 0;
    for (const Sample& s : tail) {
        st += s.t;
        sr += double(s.panelKiB);
        stt += s.t * s.t;
        str += s.t * double(s.panelKiB);
    }
    const double n = double(tail.size());
    const double slope = n > 1 ? (n * str - st * sr) / (n * stt - st * st) : 0;
    long lo = samples.front().panelKiB, hi = lo;
    for (const Sample& s : samples) {
        lo = std::min(lo, s.panelKiB);
        hi = std::max(hi, s.panelKiB);
    }
    std::printf(
        "\nwindow process RSS: first %ld KiB, last %ld KiB, min %ld, max %ld; slope %.2f KiB/min"
        " (samples from %s)\n",
        samples.front().panelKiB, samples.back().panelKiB, lo, hi, slope * 60,
        seconds >= 120 ? "60 s on" : "the start");
    std::printf("heap in use: first %zu B, last %zu B\n", samples.front().heapBytes,
                samples.back().heapBytes);
    std::printf("simulator RSS: first %ld KiB, last %ld KiB\n", samples.front().simKiB,
                samples.back().simKiB);
    // The longest gaps between sends, and when in the hold they came.
    std::vector<std::size_t> order(r.intervalsUs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    const std::size_t shown = std::min<std::size_t>(5, order.size());
    std::partial_sort(
        order.begin(), order.begin() + std::ptrdiff_t(shown), order.end(),
        [&](std::size_t a, std::size_t b) { return r.intervalsUs[a] > r.intervalsUs[b]; });
    long over = 0;
    for (double v : r.intervalsUs) over += v > 2 * 5000.0;
    std::printf("intervals over twice the period: %ld of %zu; longest:", over,
                r.intervalsUs.size());
    for (std::size_t k = 0; k < shown; ++k) {
        const std::size_t i = order[k];
        std::printf(" %.1f ms at %.1f s%s", r.intervalsUs[i] / 1000,
                    std::chrono::duration<double>(r.sendTimes[i + 1] - start).count(),
                    k + 1 < shown ? "," : "\n");
    }
    const bool ok = r.sent == r.counted && r.sent == r.logged && rig.warnings().empty();
    for (const std::string& w : rig.warnings()) std::printf("warning: %s\n", w.c_str());
    std::printf("%s: sent %ld, counted %ld, logged %ld\n", ok ? "nothing lost" : "LOST OR DOUBLED",
                r.sent, r.counted, r.logged);
    return ok ? 0 : 1;
}

// Runs the event loop until `done` or `limit` has passed; whether it was done.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        runFor(5);
    }
    return true;
}

int runReplug(int cycles, const std::string& via) {
    Rig rig(via);
    std::printf("replug: %d cycles, %s; per cycle \"+\" under Brightness held 400 ms at the 50 ms "
                "repeat, then the device hung up for 1.5 s and plugged back\n",
                cycles, via.empty() ? "the device itself" : ("ser2net, " + via).c_str());
    std::printf("%6s %8s %8s %9s %7s %9s\n", "cycle", "sent", "counted", "away-sent", "fds", "RSS KiB");
    long sentTotal = 0, countedBase = rig.sim().commandCount(), sentAway = 0;
    std::vector<double> backMs;
    std::vector<long> fds, rss;
    bool ok = true;
    for (int cycle = 1; cycle <= cycles && ok; ++cycle) {
        const long before = rig.port().outputs;
        rig.press("Command15");
        runFor(400);
        rig.release("Command15");
        const long sent = rig.port().outputs - before;
        sentTotal += sent;
        ok = runUntil([&] { return rig.sim().commandCount() - countedBase == sentTotal; }, 3s);
        runFor(600);  // the last reply is read before the device goes
        rig.sim().hangup();
        ok = ok && runUntil([&] { return rig.warnings().size() == std::size_t(cycle); }, 3s);
        const long atLoss = rig.port().outputs;
        runFor(1500);
        sentAway += rig.port().outputs - atLoss;
        const Clock::time_point plugged = Clock::now();
        rig.sim().plug();
        ok = ok && runUntil([&] { return rig.ready(); }, 3s);
        backMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - plugged).count());
        fds.push_back(openDescriptors());
        rss.push_back(residentKiB(::getpid()));
        if (cycle == 1 || cycle % 10 == 0 || !ok) {
            std::printf("%6d %8ld %8ld %9ld %7ld %9ld\n", cycle, sentTotal, rig.sim().commandCount() - countedBase,
                        sentAway, fds.back(), rss.back());
            std::fflush(stdout);
        }
    }
    const long counted = rig.sim().commandCount() - countedBase;
    std::printf("\nback after the plug: p50 %.0f ms, p99 %.0f ms, max %.0f ms\n", quantile(backMs, 0.5),
                quantile(backMs, 0.99), backMs.empty() ? 0 : *std::max_element(backMs.begin(), backMs.end()));
    std::printf("open descriptors: first %ld, last %ld, max %ld; RSS first %ld KiB, last %ld KiB, max %ld KiB\n",
                fds.front(), fds.back(), *std::max_element(fds.begin(), fds.end()), rss.front(), rss.back(),
                *std::max_element(rss.begin(), rss.end()));
    std::printf("warnings: %zu (one per unplug expected)\n", rig.warnings().size());
    ok = ok && sentAway == 0 && counted == sentTotal && rig.warnings().size() == std::size_t(cycles);
    std::printf("%s: sent %ld, counted %ld, sent while unplugged %ld\n", ok ? "nothing lost" : "FAILED", sentTotal,
                counted, sentAway);
    return ok ? 0 : 1;
}

void quietHandler(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("propagateSizeHints"))) return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(QtWarningMsg, context, message)));
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    double holdScale = 1;
    int soak = 0;
    int replug = 0;
    std::string via;
    bool baseline = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc && argv[i + 1][0] != '-';
        if (arg == "--rounds" && hasValue)
            rounds = std::atoi(argv[++i]);
        else if (arg == "--hold-scale" && hasValue)
            holdScale = std::atof(argv[++i]);
        else if (arg == "--soak")
            soak = hasValue ? std::atoi(argv[++i]) : 600;
        else if (arg == "--replug")
            replug = hasValue ? std::atoi(argv[++i]) : 100;
        else if (arg == "--via" && hasValue)
            via = argv[++i];
        else if (arg == "--no-baseline")
            baseline = false;
        else {
            std::fprintf(
                stderr,
                "usage: %s [--rounds N] [--hold-scale X] [--no-baseline] | --soak [SECONDS] |\n"
                "       --replug [CYCLES] [--via raw|rfc2217]\n",
                argv[0]);
            return 2;
        }
    }
    qInstallMessageHandler(quietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    panel::chooseFaces();
    try {
        if (replug > 0) return runReplug(replug, via);
        return soak > 0 ? runSoak(soak) : runPeriods(rounds, holdScale, baseline);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_repeat: %s\n", e.what());
        return 1;
    }
}
