// projectord's PJLink port, timed as a controller sees it, against bare Qt programs that do
// only the same hops (bench_bare_tcp):
//
//  - cache: "POWR ?" answered from the status cache, send to answer, against a QTcpServer
//    answering a fixed line. Goal: p50 and p99 within 1.2x the floor's.
//  - set: "AVMT 11" from the PJLink client's send to "C0D" and CR complete at the far end of
//    the projector's line (a pseudo-terminal this program holds), against a QTcpServer that
//    writes a fixed command to a QSerialPort for each line. Goal: the p99 over the floor's at
//    most 1 % of the line time of those 4 bytes at 19200 baud (2083 us).
//  - many: N connections (200) each asking "POWR ?" once a second for S seconds (60): the
//    answers' p99, the daemon's share of one core and its peak resident set.
//
// The measurements of a target and its floor go round in turn, so both see the same load.
//   bench_pjlink [--iterations N] [--rounds N] [--connections N] [--seconds N] [cache|set|many]...
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/simulator.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kLineTimeUs = 4 * 10 * 1e6 / 19200;  // "C0D" CR at 19200 baud, 8N1

double micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank =
        std::size_t(std::clamp<double>(std::ceil(q * double(v.size())), 1, double(v.size())));
    return v[rank - 1];
}

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(s);
    return ntohs(a.sin_port);
}

// A program of the benchmark's, ended with SIGTERM when it goes.
class Child {
  public:
    explicit Child(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
    ~Child() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// A blocking PJLink connection over 127.0.0.1, Nagle off as a controller's.
class Connection {
  public:
    explicit Connection(int port) {
        for (const Clock::time_point until = Clock::now() + 10s; fd_ < 0;) {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(std::uint16_t(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                fd_ = s;
            } else {
                ::close(s);
                if (Clock::now() > until)
                    throw std::runtime_error("nothing listens on " + std::to_string(port));
                std::this_thread::sleep_for(20ms);
            }
        }
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        greeting = line();
    }
    ~Connection() { ::close(fd_); }
    int fd() const { return fd_; }

    void send(std::string_view text) {
        if (::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != ssize_t(text.size()))
            throw std::runtime_error("send failed");
    }
    // The next line, its carriage return taken off.
    std::string line() {
        for (;;) {
            if (const std::size_t cr = buffer_.find('\r'); cr != std::string::npos) {
                std::string text = buffer_.substr(0, cr);
                buffer_.erase(0, cr + 1);
                return text;
            }
            if (!receive()) throw std::runtime_error("the connection closed");
        }
    }
    bool receive() {
        char chunk[512];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer_.append(chunk, std::size_t(n));
        return true;
    }
    bool hasLine() const { return buffer_.find('\r') != std::string::npos; }

    std::string greeting;

  private:
    int fd_ = -1;
    std::string buffer_;
};

// The projector's end of a line: a pseudo-terminal whose device the daemon (or the floor)
// opens; commands are answered as a projector in stand-by answers them.
class FarEnd {
  public:
    FarEnd() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        device = ::ptsname(fd_);
    }
    ~FarEnd() { ::close(fd_); }

    // Reads until `wanted` and a carriage return have come, answering every other command on
    // the way; the time `wanted` was complete.
    Clock::time_point awaitCommand(std::string_view wanted) {
        for (;;) {
            for (std::size_t cr; (cr = buffer_.find('\r')) != std::string::npos;) {
                const std::string command = buffer_.substr(0, cr);
                buffer_.erase(0, cr + 1);
                if (command == wanted) return Clock::now();
                answer(command);
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) throw std::runtime_error("nothing came on the line");
            char chunk[256];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0) buffer_.append(chunk, std::size_t(n));
        }
    }
    // Answers what comes until the line has been quiet for `quiet`.
    void serve(std::chrono::milliseconds quiet) {
        for (;;) {
            for (std::size_t cr; (cr = buffer_.find('\r')) != std::string::npos;) {
                answer(buffer_.substr(0, cr));
                buffer_.erase(0, cr + 1);
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(quiet.count())) <= 0) return;
            char chunk[256];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0) buffer_.append(chunk, std::size_t(n));
        }
    }
    void answer(const std::string& command) {
        std::string reply = "\x06";
        if (command == "CR0") reply = "80";
        if (command == "CR1") reply = "1";
        if (command == "CR3") reply = "01234";
        if (command == "CRA") reply = "FF";
        if (command == "CR9") reply = "TR27K";
        reply += '\r';
        if (::write(fd_, reply.data(), reply.size()) < 0) throw std::runtime_error("cannot answer");
    }

    std::string device;

  private:
    int fd_ = -1;
    std::string buffer_;
};

struct Options {
    int iterations = 4000;  // per round and target
    int rounds = 5;
    int connections = 200;
    int seconds = 60;
    std::set<std::string> parts;
};

void report(const char* what, const std::vector<double>& target, const std::vector<double>& floor) {
    const double p50 = quantile(target, 0.5), p99 = quantile(target, 0.99);
    const double f50 = quantile(floor, 0.5), f99 = quantile(floor, 0.99);
    std::printf(
        "%-28s p50 %7.1f us  p99 %7.1f us   floor p50 %7.1f us  p99 %7.1f us   x%.2f / x%.2f\n",
        what, p50, p99, f50, f99, p50 / f50, p99 / f99);
}

void cacheBench(const Options& o, const std::string& directory) {
    const std::string link = directory + "/cache-device";
    sim_support::Simulator sim({PROJECTOR_SIM_PATH, "TR27K", link, {}});
    const int port = freePort(), floorPort = freePort();
    Child daemon({PROJECTORD_PATH, "--port", link, "--pjlink", std::to_string(port), "--listen",
                  "127.0.0.1", "--poll", "3600"});
    Child floor({BENCH_BARE_TCP_PATH, "answer", std::to_string(floorPort)});
    Connection target(port), bare(floorPort);
    // The first answer comes once the first poll has filled the cache.
    target.send("%1POWR ?\r");
    if (target.line() != "%1POWR=0") throw std::runtime_error("POWR ? is not answered 0");
    std::vector<double> targetUs, floorUs;
    const auto measure = [](Connection& c, int n, std::vector<double>* into) {
        for (int i = 0; i < n; ++i) {
            const Clock::time_point t0 = Clock::now();
            c.send("%1POWR ?\r");
            const std::string answer = c.line();
            const Clock::time_point t1 = Clock::now();
            if (answer != "%1POWR=0") throw std::runtime_error("answered " + answer);
            if (into) into->push_back(micros(t1 - t0));
        }
    };
    measure(target, 1000, nullptr);
    measure(bare, 1000, nullptr);
    for (int r = 0; r < o.rounds; ++r) {
        measure(target, o.iterations, &targetUs);
        measure(bare, o.iterations, &floorUs);
    }
    report("POWR ? from the cache", targetUs, floorUs);
}

void setBench(const Options& o) {
    FarEnd line, floorLine;
    const int port = freePort(), floorPort = freePort();
    Child daemon({PROJECTORD_PATH, "--port", line.device, "--pjlink", std::to_string(port),
                  "--listen", "127.0.0.1", "--poll", "3600"});
    Child floor({BENCH_BARE_TCP_PATH, "relay", std::to_string(floorPort), floorLine.device});
    Connection target(port), bare(floorPort);
    line.serve(500ms);  // the first poll
    std::vector<double> targetUs, floorUs;
    const auto measure = [](Connection& c, FarEnd& end, int n, std::vector<double>* into) {
        for (int i = 0; i < n; ++i) {
            const Clock::time_point t0 = Clock::now();
            c.send("%1AVMT 11\r");
            const Clock::time_point t1 = end.awaitCommand("C0D");
            end.answer("C0D");
            const std::string answer = c.line();
            if (answer != "%1AVMT=OK") throw std::runtime_error("answered " + answer);
            if (into) into->push_back(micros(t1 - t0));
        }
    };
    measure(target, line, 500, nullptr);
    measure(bare, floorLine, 500, nullptr);
    for (int r = 0; r < o.rounds; ++r) {
        measure(target, line, o.iterations / 2, &targetUs);
        measure(bare, floorLine, o.iterations / 2, &floorUs);
    }
    report("AVMT 11 to C0D on the line", targetUs, floorUs);
    const double over = quantile(targetUs, 0.99) - quantile(floorUs, 0.99);
    std::printf("%-28s p99 over the floor %.1f us = %.2f %% of the line time (%.0f us)\n", "", over,
                100 * over / kLineTimeUs, kLineTimeUs);
}

long ticksOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

long peakRssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    }
    return 0;
}

void manyBench(const Options& o, const std::string& directory) {
    const std::string link = directory + "/many-device";
    sim_support::Simulator sim({PROJECTOR_SIM_PATH, "TR27K", link, {}});
    const int port = freePort();
    Child daemon({PROJECTORD_PATH, "--port", link, "--pjlink", std::to_string(port), "--listen",
                  "127.0.0.1", "--max-connections", std::to_string(o.connections + 8)});
    std::vector<std::unique_ptr<Connection>> connections;
    for (int i = 0; i < o.connections; ++i)
        connections.push_back(std::make_unique<Connection>(port));
    const long ticks0 = ticksOf(daemon.pid());
    const Clock::time_point start = Clock::now(), end = start + std::chrono::seconds(o.seconds);
    // Each connection asks once a second, the connections spread evenly over the second.
    std::vector<Clock::time_point> due(connections.size()), sent(connections.size());
    std::vector<bool> waiting(connections.size(), false);
    for (std::size_t i = 0; i < due.size(); ++i)
        due[i] = start + std::chrono::microseconds(1s) * i / due.size();
    std::vector<double> us;
    std::vector<std::string> wrong;
    for (Clock::time_point now = start; now < end || std::ranges::count(waiting, true) > 0;
         now = Clock::now()) {
        Clock::time_point next = end;
        for (std::size_t i = 0; i < connections.size(); ++i) {
            if (!waiting[i] && due[i] <= now && now < end) {
                sent[i] = Clock::now();
                connections[i]->send("%1POWR ?\r");
                waiting[i] = true;
                due[i] += 1s;
            }
            if (!waiting[i]) next = std::min(next, due[i]);
        }
        std::vector<pollfd> fds;
        for (std::size_t i = 0; i < connections.size(); ++i) {
            if (waiting[i]) fds.push_back({connections[i]->fd(), POLLIN, 0});
        }
        const int timeout = int(
            std::max<long>(0, std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
        if (::poll(fds.data(), fds.size(), fds.empty() ? timeout : std::min(timeout, 1000)) < 0)
            continue;
        for (std::size_t i = 0, f = 0; i < connections.size(); ++i) {
            if (!waiting[i]) continue;
            if ((fds[f++].revents & POLLIN) == 0) continue;
            connections[i]->receive();
            if (!connections[i]->hasLine()) continue;
            const std::string answer = connections[i]->line();
            us.push_back(micros(Clock::now() - sent[i]));
            if (answer != "%1POWR=0") wrong.push_back(answer);
            waiting[i] = false;
        }
    }
    const double cpu = double(ticksOf(daemon.pid()) - ticks0) / double(::sysconf(_SC_CLK_TCK)) /
                       std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "%d connections, POWR ? each second, %d s: %zu answers, %zu wrong; p50 %.1f us  p99 %.1f "
        "us  max %.1f us;"
        " CPU %.2f %% of one core; peak RSS %ld KiB\n",
        o.connections, o.seconds, us.size(), wrong.size(), quantile(us, 0.5), quantile(us, 0.99),
        quantile(us, 1.0), 100 * cpu, peakRssKiB(daemon.pid()));
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
        if (a == "--iterations")
            o.iterations = value();
        else if (a == "--rounds")
            o.rounds = value();
        else if (a == "--connections")
            o.connections = value();
        else if (a == "--seconds")
            o.seconds = value();
        else if (a == "cache" || a == "set" || a == "many")
            o.parts.insert(a);
        else {
            std::fprintf(stderr,
                         "usage: bench_pjlink [--iterations N] [--rounds N] [--connections N] "
                         "[--seconds N] [cache|set|many]...\n");
            return 64;
        }
    }
    if (o.parts.empty()) o.parts = {"cache", "set", "many"};
    ::signal(SIGPIPE, SIG_IGN);
    const std::string directory =
        std::filesystem::temp_directory_path() / ("bench-pjlink-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    try {
        if (o.parts.contains("cache")) cacheBench(o, directory);
        if (o.parts.contains("set")) setBench(o);
        if (o.parts.contains("many")) manyBench(o, directory);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pjlink: %s\n", e.what());
        std::filesystem::remove_all(directory);
        return 1;
    }
    std::filesystem::remove_all(directory);
    return 0;
}
