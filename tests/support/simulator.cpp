#include "tests/support/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace sim_support {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

int msUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

speed_t speedOf(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            throw std::runtime_error("unsupported baud rate " + std::to_string(baud));
    }
}

}  // namespace

Simulator::Simulator(Options options) : options_(std::move(options)) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) fail("socketpair");
    socket_ = fds[0];

    std::vector<std::string> args = {options_.binary, "--model", options_.model,
                                     "--exit-on-stdin-eof"};
    if (!options_.link.empty()) {
        args.push_back("--link");
        args.push_back(options_.link);
    }
    args.insert(args.end(), options_.args.begin(), options_.args.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const int rc =
        posix_spawn(&pid_, options_.binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(socket_);
        errno = rc;
        fail("cannot start " + options_.binary);
    }

    auto path = readLine(Clock::now() + options_.startTimeout);
    if (!path || path->empty() || path->front() != '/') {
        stop();
        close(socket_);
        throw std::runtime_error("projector-sim printed no device path" +
                                 (path ? ": " + *path : std::string()));
    }
    devicePath_ = *path;
}

Simulator::~Simulator() {
    stop();
    if (socket_ >= 0) close(socket_);
    if (!options_.link.empty()) unlink(options_.link.c_str());
}

int Simulator::stop() {
    if (exitStatus_) return *exitStatus_;
    if (pid_ <= 0) return -1;
    int status = 0;
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + 5s;
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    if (done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    exitStatus_ = status;
    return status;
}

void Simulator::sendLine(std::string_view line) {
    std::string text(line);
    text += '\n';
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t n = send(socket_, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("projector-sim control");
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::optional<std::string> Simulator::readLine(Clock::time_point deadline) {
    for (;;) {
        if (auto end = buffer_.find('\n'); end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        pollfd fd{socket_, POLLIN, 0};
        const int ready = poll(&fd, 1, msUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char chunk[1024];
        const ssize_t n = recv(socket_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;  // the child has gone
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> Simulator::control(std::string_view line,
                                            std::chrono::milliseconds timeout) {
    sendLine(line);
    const auto deadline = Clock::now() + timeout;
    const std::string ok = "OK " + std::string(line);
    const std::string err = "ERR " + std::string(line);
    std::vector<std::string> before;
    for (;;) {
        auto reply = readLine(deadline);
        if (!reply) {
            throw std::runtime_error("projector-sim did not acknowledge \"" + std::string(line) +
                                     "\"");
        }
        if (*reply == ok) return before;
        if (reply->starts_with(err)) throw std::runtime_error("projector-sim: " + *reply);
        before.push_back(*reply);
    }
}

namespace {

long numberAfter(const std::vector<std::string>& lines, std::string_view prefix) {
    for (const auto& line : lines) {
        if (line.starts_with(prefix)) return std::stol(line.substr(prefix.size()));
    }
    throw std::runtime_error("projector-sim gave no \"" + std::string(prefix) + "\" line");
}

}  // namespace

long Simulator::commandCount() {
    return numberAfter(control("count"), "COUNT ");
}

long Simulator::garbledBytes() {
    return numberAfter(control("garbled"), "GARBLED ");
}

long Simulator::bytesReceived() {
    return numberAfter(control("received"), "RECEIVED ");
}

bool Simulator::waitForClient(bool open, std::chrono::milliseconds timeout) {
    const std::string wanted = open ? "CLIENT open" : "CLIENT closed";
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto lines = control("client");
        if (std::find(lines.begin(), lines.end(), wanted) != lines.end()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
}

void Simulator::hangup() {
    control("hangup");
}

std::string Simulator::plug() {
    for (const auto& line : control("plug")) {
        if (line.starts_with("PATH ")) {
            devicePath_ = line.substr(5);
            return devicePath_;
        }
    }
    throw std::runtime_error("projector-sim gave no PATH after plug");
}

SerialClient::SerialClient(const std::string& path, int baud) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) fail("open " + path);
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        close(fd_);
        fail("tcgetattr " + path);
    }
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    cfsetispeed(&t, speedOf(baud));
    cfsetospeed(&t, speedOf(baud));
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        close(fd_);
        fail("tcsetattr " + path);
    }
}

SerialClient::~SerialClient() {
    if (fd_ >= 0) close(fd_);
}

void SerialClient::write(std::string_view bytes) {
    const auto deadline = Clock::now() + 2s;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR) && Clock::now() < deadline) {
            pollfd fd{fd_, POLLOUT, 0};
            poll(&fd, 1, msUntil(deadline));
            continue;
        }
        fail("write to device");
    }
}

std::string SerialClient::readUntil(char terminator, std::chrono::milliseconds timeout, int count) {
    return read(Clock::now() + timeout, terminator, count);
}

std::string SerialClient::readFor(std::chrono::milliseconds period) {
    return read(Clock::now() + period, std::nullopt, 0);
}

std::string SerialClient::read(Clock::time_point deadline, std::optional<char> terminator,
                               int count) {
    std::string received;
    auto complete = [&] {
        return terminator && !received.empty() && received.back() == *terminator &&
               std::count(received.begin(), received.end(), *terminator) >= count;
    };
    while (!complete()) {
        pollfd fd{fd_, POLLIN, 0};
        const int ready = poll(&fd, 1, msUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        if ((fd.revents & POLLIN) == 0 && (fd.revents & (POLLHUP | POLLERR)) != 0) {
            hungUp_ = true;
            break;
        }
        char chunk[512];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            hungUp_ = true;
            break;
        }
        chunks_.emplace_back(chunk, static_cast<std::size_t>(n));
        received.append(chunk, static_cast<std::size_t>(n));
    }
    return received;
}

}  // namespace sim_support
