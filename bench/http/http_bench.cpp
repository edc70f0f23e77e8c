// projectord's HTTP port, measured against floors taken in the same run:
//   press   POST .../press/power-on to the command's last byte on the line, p50/p99, as a
//           share of the line time of those bytes; the floor is this program's own write of
//           the same bytes to the line.
//   metrics GET /metrics with 50 projectors configured, each with a full status cache, on a
//           kept-alive connection, p50/p99; the floor is a bare server of this program's
//           answering the same bytes.
// The projectors are pseudo-terminals this program answers itself, as a projector in stand-by
// does, so that nothing but projectord is measured.
//   bench_http [ROUNDS]
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// Projectors on pseudo-terminals: every command answered at once, as a projector in stand-by
// answers it; the time each C00 came whole is noted.
class Projectors {
  public:
    explicit Projectors(int count) {
        for (int i = 0; i < count; ++i) {
            int master = -1, slave = -1;
            char name[128];
            if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
                throw std::runtime_error("openpty");
            termios t{};
            ::tcgetattr(slave, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(slave, TCSANOW, &t);
            ::close(slave);  // projectord opens it by its name; the master keeps it alive
            ::fcntl(master, F_SETFL, O_NONBLOCK);
            lines_.push_back({master, name, {}});
        }
        thread_ = std::thread([this] { run(); });
    }
    ~Projectors() {
        stop_ = true;
        thread_.join();
        for (auto& l : lines_) ::close(l.master);
    }
    std::string device(int i) const { return lines_[std::size_t(i)].device; }
    Clock::time_point lastPowerOn() {
        std::lock_guard lock(mutex_);
        return powerOn_;
    }

  private:
    struct Line {
        int master;
        std::string device;
        std::string buffer;
    };

    void run() {
        static const std::map<std::string, std::string> kReplies{{"CR0", "80\r"},
                                                                 {"CR1", "1\r"},
                                                                 {"CR4", "11\r"},
                                                                 {"CR3", "01234\r"},
                                                                 {"CR6", "035.0  38.5 041.2\r"},
                                                                 {"CRA", "FF\r"},
                                                                 {"CR9", "TR27K BENCH\r"},
                                                                 {"CR PRESSURE", "512\r"},
                                                                 {"CR7", "01\r"}};
        std::vector<pollfd> fds;
        for (auto& l : lines_) fds.push_back({l.master, POLLIN, 0});
        while (!stop_) {
            if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (!(fds[i].revents & POLLIN)) continue;
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) continue;
                Line& l = lines_[i];
                l.buffer.append(buffer, std::size_t(n));
                for (std::size_t cr; (cr = l.buffer.find('\r')) != std::string::npos;) {
                    const std::string command = l.buffer.substr(0, cr);
                    l.buffer.erase(0, cr + 1);
                    if (command == "C00") {
                        std::lock_guard lock(mutex_);
                        powerOn_ = Clock::now();
                    }
                    const auto reply = kReplies.find(command);
                    const std::string bytes = reply == kReplies.end() ? "\x06\r" : reply->second;
                    (void)!::write(l.master, bytes.data(), bytes.size());
                }
            }
        }
    }

    std::vector<Line> lines_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    Clock::time_point powerOn_{};
};

int connectTo(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 200; ++i) {
        if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return s;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
}

// One response on a kept-alive connection: its status and body.
std::pair<int, std::string> exchange(int s, const std::string& request) {
    (void)!::write(s, request.data(), request.size());
    std::string got;
    char buffer[65536];
    while (true) {
        const std::size_t end = got.find("\r\n\r\n");
        if (end != std::string::npos) {
            const std::size_t at = got.find("Content-Length: ");
            const std::size_t length = std::stoul(got.substr(at + 16));
            if (got.size() >= end + 4 + length)
                return {std::stoi(got.substr(9, 3)), got.substr(end + 4, length)};
        }
        const ssize_t n = ::read(s, buffer, sizeof buffer);
        if (n <= 0) throw std::runtime_error("the connection closed");
        got.append(buffer, std::size_t(n));
    }
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

pid_t startDaemon(const std::string& config) {
    std::vector<std::string> args{PROJECTORD_PATH, "--config", config};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("spawn");
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stopDaemon(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

std::string writeConfig(const Projectors& projectors, int count, int port) {
    char path[] = "/tmp/bench-http-XXXXXX";
    const int fd = ::mkstemp(path);
    std::string text = "http = " + std::to_string(port) + "\n";
    for (int i = 0; i < count; ++i)
        text += "[p" + std::to_string(i) + "]\nport = " + projectors.device(i) + "\npoll = 86400\n";
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
    return path;
}

// A bare server answering every request on a connection with the same bytes.
class FloorServer {
  public:
    explicit FloorServer(std::string response) : response_(std::move(response)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t size = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
        ::listen(listen_, 4);
        thread_ = std::thread([this] {
            const int c = ::accept(listen_, nullptr, nullptr);
            int one = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::string got;
            char buffer[4096];
            while (true) {
                const ssize_t n = ::read(c, buffer, sizeof buffer);
                if (n <= 0) break;
                got.append(buffer, std::size_t(n));
                for (std::size_t end; (end = got.find("\r\n\r\n")) != std::string::npos;) {
                    got.erase(0, end + 4);
                    (void)!::write(c, response_.data(), response_.size());
                }
            }
            ::close(c);
        });
    }
    ~FloorServer() {
        thread_.join();
        ::close(listen_);
    }
    int port() const { return port_; }

  private:
    std::string response_;
    int listen_ = -1, port_ = 0;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
    ::signal(SIGPIPE, SIG_IGN);

    // --- press to the line -----------------------------------------------------------------
    {
        Projectors projectors(1);
        const int port = freePort();
        const std::string config = writeConfig(projectors, 1, port);
        const pid_t daemon = startDaemon(config);
        const int s = connectTo(port);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the first poll goes by
        const std::string request =
            "POST /api/v1/projectors/p0/press/power-on HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        std::vector<double> press, floor, roundTrip;
        for (int i = 0; i < rounds; ++i) {
            const Clock::time_point before = Clock::now();
            const auto [status, body] = exchange(s, request);
            if (status != 200)
                throw std::runtime_error("the press failed: " + std::to_string(status) + " " +
                                         body);
            press.push_back(ms(projectors.lastPowerOn() - before));
            roundTrip.push_back(ms(Clock::now() - before));
        }
        ::close(s);
        stopDaemon(daemon);
        ::unlink(config.c_str());
        // The floor: this program writing the same bytes to a line of its own.
        int master = -1, slave = -1;
        ::openpty(&master, &slave, nullptr, nullptr, nullptr);
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        for (int i = 0; i < rounds; ++i) {
            const Clock::time_point before = Clock::now();
            (void)!::write(slave, "C00\r", 4);
            char buffer[8];
            std::size_t got = 0;
            while (got < 4)
                got += std::size_t(std::max<ssize_t>(0, ::read(master, buffer, sizeof buffer)));
            floor.push_back(ms(Clock::now() - before));
        }
        ::close(master);
        ::close(slave);
        const double lineMs = 4 * 10 * 1000.0 / 19200;  // "C00" CR at 19200 baud, 8N1
        std::printf(
            "press to the line (%d rounds): p50 %.3f ms, p99 %.3f ms = %.1f %% of the line time "
            "(%.2f ms); floor p50 %.3f ms, p99 %.3f ms = %.1f %%\n",
            rounds, percentile(press, 0.5), percentile(press, 0.99),
            100 * percentile(press, 0.99) / lineMs, lineMs, percentile(floor, 0.5),
            percentile(floor, 0.99), 100 * percentile(floor, 0.99) / lineMs);
        std::printf("press answered (its reply included): p50 %.3f ms, p99 %.3f ms\n",
                    percentile(roundTrip, 0.5), percentile(roundTrip, 0.99));
    }

    // --- /metrics with 50 projectors -------------------------------------------------------
    {
        constexpr int kProjectors = 50;
        Projectors projectors(kProjectors);
        const int port = freePort();
        const std::string config = writeConfig(projectors, kProjectors, port);
        const pid_t daemon = startDaemon(config);
        const int s = connectTo(port);
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        // Every projector's cache full: its lamp hours are in the metrics.
        std::string body;
        for (int i = 0; i < 200; ++i) {
            body = exchange(s, request).second;
            std::size_t lamps = 0;
            for (std::size_t at = 0;
                 (at = body.find("projector_lamp_seconds{", at)) != std::string::npos; ++at)
                ++lamps;
            if (lamps == kProjectors) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::vector<double> metrics, floor;
        for (int i = 0; i < rounds; ++i) {
            const Clock::time_point before = Clock::now();
            body = exchange(s, request).second;
            metrics.push_back(ms(Clock::now() - before));
        }
        ::close(s);
        long rssKiB = 0;
        std::ifstream status("/proc/" + std::to_string(daemon) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0) rssKiB = std::stol(line.substr(6));
        stopDaemon(daemon);
        ::unlink(config.c_str());
        {
            FloorServer bare("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nContent-Type: text/plain; version=0.0.4\r\n\r\n" + body);
            const int f = connectTo(bare.port());
            for (int i = 0; i < rounds; ++i) {
                const Clock::time_point before = Clock::now();
                exchange(f, request);
                floor.push_back(ms(Clock::now() - before));
            }
            ::close(f);
        }
        std::printf(
            "/metrics, %d projectors, %zu bytes (%d rounds): p50 %.3f ms, p99 %.3f ms; "
            "floor p50 %.3f ms, p99 %.3f ms; projectord RSS %ld KiB\n",
            kProjectors, body.size(), rounds, percentile(metrics, 0.5), percentile(metrics, 0.99),
            percentile(floor, 0.5), percentile(floor, 0.99), rssKiB);
    }
    return 0;
}
