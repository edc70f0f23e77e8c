// projector-sim: a projector on a pseudo-terminal. See README.md for the command line and the
// control lines.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tools/projector-sim/faults.h"
#include "tools/projector-sim/projector.h"

namespace {

using projector_sim::ControlCommand;
using Kind = projector_sim::ControlCommand::Kind;

// While no client holds the device open, the master reports a hang-up continuously; it is then
// left out of poll() and looked at again at this period.
constexpr std::int64_t kClientRecheckMs = 10;

struct BaudRate {
    long rate;
    speed_t speed;
};
constexpr BaudRate kBaudRates[] = {{1200, B1200},   {2400, B2400},    {4800, B4800},
                                   {9600, B9600},   {19200, B19200},  {38400, B38400},
                                   {57600, B57600}, {115200, B115200}};

std::optional<speed_t> speedOf(long rate) {
    for (const auto& b : kBaudRates) {
        if (b.rate == rate) return b.speed;
    }
    return std::nullopt;
}

long rateOf(speed_t speed) {
    for (const auto& b : kBaudRates) {
        if (b.speed == speed) return b.rate;
    }
    return 0;
}

int gSignalPipe[2] = {-1, -1};

extern "C" void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] auto ignored = write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

void setCloexecNonblock(int fd) {
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the reader is gone; nothing more to tell it
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

struct Config {
    projector_sim::Projector::Options projector;
    long baud = 19200;
    std::string linkPath;
    std::string logPath;
    std::vector<std::string> startLines;  // fault options, as control lines
    bool exitOnStdinEof = false;
    std::uint32_t seed = 1;
};

constexpr const char* kUsage =
    "usage: projector-sim [options]\n"
    "  --model TR27K|TR52      command set (default TR27K)\n"
    "  --baud 19200|9600       line speed the projector listens at (default 19200)\n"
    "  --link PATH             keep a symbolic link PATH -> the current device\n"
    "  --log FILE              log received commands, replies and events\n"
    "  --warmup MS             count-down after power on (default 3000)\n"
    "  --cooldown MS           cooling after power off (default 3000)\n"
    "  --lamp-hours N          answer to CR3 (default 1234)\n"
    "  --pressure N            raw reading answered to CR PRESSURE (default 512)\n"
    "  --state HEX             operating state at start (default 80, stand-by)\n"
    "  --noreply               take commands, answer nothing\n"
    "  --delay MS              wait before each reply\n"
    "  --split N GAP_MS        send replies in pieces of N bytes, GAP_MS apart\n"
    "  --noise                 replace each reply by random bytes\n"
    "  --hangup-after N        vanish on the N-th command\n"
    "  --read-rate N           read the line at N bytes/s; 0: stop reading\n"
    "  --seed N                seed of the noise generator (default 1)\n"
    "  --exit-on-stdin-eof     end when stdin reaches its end\n"
    "Control lines on stdin: noreply on|off, delay MS, split N GAP_MS, noise on|off, hangup,\n"
    "hangup-after N, plug, state HEX, input N, signal on|off, refuse on|off, baud RATE,\n"
    "read-rate N|off, count, garbled, received, client, quit.\n";

class Sim {
  public:
    explicit Sim(Config config)
        : config_(std::move(config)),
          projector_(config_.projector),
          rng_(config_.seed),
          start_(std::chrono::steady_clock::now()) {}

    ~Sim() {
        if (master_ >= 0) close(master_);
        if (!config_.linkPath.empty()) unlink(config_.linkPath.c_str());
        if (log_ != nullptr) std::fclose(log_);
    }

    // Applies the command-line settings and opens the first device; false after reporting an
    // error on stderr.
    bool start() {
        if (!config_.logPath.empty()) {
            log_ = std::fopen(config_.logPath.c_str(), "w");
            if (log_ == nullptr) {
                std::fprintf(stderr, "projector-sim: cannot open log %s: %s\n",
                             config_.logPath.c_str(), std::strerror(errno));
                return false;
            }
        }
        baud_ = *speedOf(config_.baud);
        for (const auto& line : config_.startLines) {
            auto parsed = projector_sim::parseControlLine(line);
            std::string error;
            if (!parsed.command || !execute(*parsed.command, error)) {
                std::fprintf(stderr, "projector-sim: %s: %s\n", line.c_str(),
                             parsed.command ? error.c_str() : parsed.error.c_str());
                return false;
            }
        }
        std::string error;
        if (!plugIn(error)) {
            std::fprintf(stderr, "projector-sim: %s\n", error.c_str());
            return false;
        }
        say(slavePath_);
        return true;
    }

    void run() {
        while (!quit_) {
            releaseDuePieces();
            flushOutput();
            if (quit_) break;

            pollfd fds[3];
            nfds_t count = 0;
            fds[count++] = {gSignalPipe[0], POLLIN, 0};
            const int stdinIndex = stdinOpen_ ? static_cast<int>(count) : -1;
            if (stdinOpen_) fds[count++] = {STDIN_FILENO, POLLIN, 0};
            const int masterIndex = master_ >= 0 && clientPresent_ ? static_cast<int>(count) : -1;
            if (masterIndex >= 0) {
                // Bytes the projector is not ready to read stay in the device, whose queue
                // fills and then refuses the client's writes, as a slow line does.
                const bool readDue = pacer_.msUntilDue(now()) == 0;
                fds[count++] = {master_,
                                static_cast<short>((readDue ? POLLIN : 0) |
                                                   (outBuf_.empty() ? 0 : POLLOUT)),
                                0};
            }

            const int ready = poll(fds, count, pollTimeout());
            if (ready < 0) {
                if (errno == EINTR) continue;
                std::fprintf(stderr, "projector-sim: poll: %s\n", std::strerror(errno));
                return;
            }
            if (fds[0].revents != 0) {
                logLine("EV", "signal");
                return;
            }
            if (stdinIndex >= 0 && fds[stdinIndex].revents != 0) readControl();
            // A control line may have hung the device up in the meantime.
            if (masterIndex >= 0 && master_ >= 0 && clientPresent_) {
                const short revents = fds[masterIndex].revents;
                if ((revents & POLLIN) != 0) {
                    readDevice();
                } else if ((revents & (POLLHUP | POLLERR)) != 0) {
                    clientGone();
                }
            }
            if (master_ >= 0 && !clientPresent_ && now() >= recheckAtMs_) recheckClient();
        }
    }

  private:
    struct Piece {
        std::int64_t dueMs;
        std::string bytes;
    };

    std::int64_t now() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

    void logLine(std::string_view kind, std::string_view text) {
        if (log_ == nullptr) return;
        std::fprintf(log_, "%lld %.*s %.*s\n", static_cast<long long>(now()),
                     static_cast<int>(kind.size()), kind.data(), static_cast<int>(text.size()),
                     text.data());
        std::fflush(log_);
    }

    static void say(const std::string& line) { writeAll(STDOUT_FILENO, line + "\n"); }

    int pollTimeout() const {
        std::int64_t due = -1;
        if (!scheduled_.empty()) due = scheduled_.front().dueMs;
        if (master_ >= 0 && !clientPresent_) {
            due = due < 0 ? recheckAtMs_ : std::min(due, recheckAtMs_);
        }
        if (master_ >= 0 && clientPresent_) {
            const std::int64_t t = now();
            if (const std::int64_t wait = pacer_.msUntilDue(t); wait > 0) {
                due = due < 0 ? t + wait : std::min(due, t + wait);
            }
        }
        if (due < 0) return -1;
        return static_cast<int>(std::clamp<std::int64_t>(due - now(), 0, 60'000));
    }

    bool plugIn(std::string& error) {
        const int fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0) {
            error = std::string("posix_openpt: ") + std::strerror(errno);
            return false;
        }
        const char* name = nullptr;
        if (grantpt(fd) != 0 || unlockpt(fd) != 0 || (name = ptsname(fd)) == nullptr) {
            error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
            close(fd);
            return false;
        }
        setCloexecNonblock(fd);
        // The master's termios are the slave's: start the line raw, 8N1, at our own speed, so
        // that a client which does not set the speed is understood.
        termios t{};
        if (tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
            t.c_cflag |= CS8 | CREAD | CLOCAL;
            cfsetispeed(&t, baud_);
            cfsetospeed(&t, baud_);
            tcsetattr(fd, TCSANOW, &t);
        }
        master_ = fd;
        slavePath_ = name;
        clientPresent_ = false;
        // A master whose slave has never been opened does not report a hang-up; after one
        // open and close it does, until a client opens the slave.
        discardUnreadReplies();
        recheckAtMs_ = now();
        if (!config_.linkPath.empty()) {
            const std::string temp = config_.linkPath + ".new";
            unlink(temp.c_str());
            if (symlink(slavePath_.c_str(), temp.c_str()) != 0 ||
                rename(temp.c_str(), config_.linkPath.c_str()) != 0) {
                error = "link " + config_.linkPath + ": " + std::strerror(errno);
                return false;
            }
        }
        logLine("EV", "plug " + slavePath_);
        return true;
    }

    void dropTraffic() {
        scheduled_.clear();
        outBuf_.clear();
        framer_.reset();
    }

    void hangUp() {
        logLine("EV", "hangup " + slavePath_);
        close(master_);
        master_ = -1;
        clientPresent_ = false;
        hangupAfter_ = 0;
        dropTraffic();
        if (!config_.linkPath.empty()) unlink(config_.linkPath.c_str());
    }

    // Replies a client did not read would wait in the device for the next client; a closed
    // serial port keeps nothing, so they go, both when a client is seen to leave and when one is
    // seen to come (nothing has been sent to the new one yet). A client that closes and reopens
    // faster than it is seen to go may still find them.
    void discardUnreadReplies() {
        const int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave >= 0) {
            tcflush(slave, TCIFLUSH);
            close(slave);
        }
    }

    void clientGone() {
        logLine("EV", "client closed");
        clientPresent_ = false;
        dropTraffic();
        discardUnreadReplies();
        // What a slow or stopped projector had not read yet goes with the client.
        tcflush(master_, TCIFLUSH);
        recheckAtMs_ = now() + kClientRecheckMs;
    }

    void recheckClient() {
        pollfd fd{master_, POLLIN, 0};
        poll(&fd, 1, 0);
        if ((fd.revents & POLLIN) != 0 || (fd.revents & POLLHUP) == 0) {
            clientPresent_ = true;
            logLine("EV", "client open");
            discardUnreadReplies();
        } else {
            recheckAtMs_ = now() + kClientRecheckMs;
        }
    }

    // The line settings the client has put on the device, if they are not ours.
    std::optional<std::string> lineMismatch() const {
        termios t{};
        if (tcgetattr(master_, &t) != 0) return std::nullopt;
        const speed_t speed = cfgetospeed(&t);
        const bool eightBits = (t.c_cflag & CSIZE) == CS8;
        const bool parity = (t.c_cflag & PARENB) != 0;
        if (speed == baud_ && eightBits && !parity) return std::nullopt;
        return "(line " + std::to_string(rateOf(speed)) + (parity ? ",P," : ",N,") +
               (eightBits ? "8" : "<8") + ")";
    }

    void readDevice() {
        char buffer[4096];
        const std::size_t room = std::min(sizeof buffer, pacer_.allowance(now()));
        if (room == 0) return;
        const ssize_t n = read(master_, buffer, room);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {
            clientGone();
            return;
        }
        pacer_.consume(static_cast<std::size_t>(n));
        receivedBytes_ += n;
        const std::string_view bytes(buffer, static_cast<std::size_t>(n));
        if (auto mismatch = lineMismatch()) {
            // At another speed or framing the projector would receive garbage: it neither
            // understands nor answers, and loses what it had of the current command.
            garbledBytes_ += n;
            framer_.reset();
            logLine("RX-GARBLED", *mismatch + " " + projector_sim::renderBytes(bytes));
            return;
        }
        for (const auto& command : framer_.feed(bytes)) {
            onCommand(command);
            if (master_ < 0) break;
        }
    }

    void onCommand(const std::string& command) {
        ++commandCount_;
        logLine("RX", projector_sim::renderBytes(command));
        if (hangupAfter_ > 0 && --hangupAfter_ == 0) {
            hangUp();
            return;
        }
        const std::int64_t t = now();
        const std::string reply = projector_.answer(command, t);
        const auto pieces = projector_sim::planReply(reply, faults_, rng_);
        if (pieces.empty()) {
            logLine("TX-HELD", projector_sim::renderBytes(reply));
            return;
        }
        // Replies leave in the order of their commands, whatever the delay was when each came.
        std::int64_t shift = 0;
        if (!scheduled_.empty()) {
            shift = std::max<std::int64_t>(0, scheduled_.back().dueMs - (t + pieces[0].offsetMs));
        }
        for (const auto& piece : pieces) {
            scheduled_.push_back({t + piece.offsetMs + shift, piece.bytes});
        }
    }

    void releaseDuePieces() {
        if (master_ < 0) return;
        const std::int64_t t = now();
        while (!scheduled_.empty() && scheduled_.front().dueMs <= t) {
            logLine("TX", projector_sim::renderBytes(scheduled_.front().bytes));
            outBuf_ += scheduled_.front().bytes;
            scheduled_.pop_front();
        }
    }

    void flushOutput() {
        if (master_ < 0 || !clientPresent_ || outBuf_.empty()) return;
        const ssize_t n = write(master_, outBuf_.data(), outBuf_.size());
        if (n > 0) {
            outBuf_.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            clientGone();
        }
    }

    void readControl() {
        char buffer[1024];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {
            stdinOpen_ = false;
            if (config_.exitOnStdinEof) {
                logLine("EV", "stdin closed");
                quit_ = true;
            }
            return;
        }
        stdinBuf_.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while (!quit_ && (end = stdinBuf_.find('\n')) != std::string::npos) {
            std::string line = stdinBuf_.substr(0, end);
            stdinBuf_.erase(0, end + 1);
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            line.erase(0, line.find_first_not_of(' '));
            if (line.empty()) continue;
            handleControl(line);
        }
    }

    void handleControl(const std::string& line) {
        logLine("CTL", line);
        const auto parsed = projector_sim::parseControlLine(line);
        std::string error = parsed.error;
        if (parsed.command && execute(*parsed.command, error)) {
            say("OK " + line);
        } else {
            logLine("CTL-ERR", error);
            say("ERR " + line + ": " + error);
        }
    }

    // Carries out a control command; false with error set if it cannot be done now.
    bool execute(const ControlCommand& command, std::string& error) {
        if (projector_sim::applyFault(command, faults_)) return true;
        switch (command.kind) {
            case Kind::Hangup:
                if (master_ < 0) {
                    error = "no device to hang up";
                    return false;
                }
                hangUp();
                return true;
            case Kind::HangupAfter:
                hangupAfter_ = command.first;
                return true;
            case Kind::Plug:
                if (master_ >= 0) {
                    error = "the device is still there";
                    return false;
                }
                if (!plugIn(error)) return false;
                say("PATH " + slavePath_);
                return true;
            case Kind::State:
                projector_.forceState(static_cast<std::uint8_t>(command.first));
                return true;
            case Kind::Input:
                projector_.forceInput(static_cast<int>(command.first));
                return true;
            case Kind::Signal:
                projector_.setSignal(command.on);
                return true;
            case Kind::Refuse:
                projector_.setRefusing(command.on);
                return true;
            case Kind::Baud:
                if (auto speed = speedOf(static_cast<long>(command.first))) {
                    baud_ = *speed;
                    return true;
                }
                error = "unsupported rate";
                return false;
            case Kind::Count:
                say("COUNT " + std::to_string(commandCount_));
                return true;
            case Kind::Garbled:
                say("GARBLED " + std::to_string(garbledBytes_));
                return true;
            case Kind::ReadRate:
                pacer_.setRate(command.first, now());
                return true;
            case Kind::Received:
                say("RECEIVED " + std::to_string(receivedBytes_));
                return true;
            case Kind::Client:
                say(std::string("CLIENT ") + (master_ < 0      ? "unplugged"
                                              : clientPresent_ ? "open"
                                                               : "closed"));
                return true;
            case Kind::Quit:
                quit_ = true;
                return true;
            default:
                error = "not a control command";
                return false;
        }
    }

    Config config_;
    projector_sim::Projector projector_;
    projector_sim::CommandFramer framer_;
    projector_sim::Faults faults_;
    std::mt19937 rng_;
    std::chrono::steady_clock::time_point start_;
    std::FILE* log_ = nullptr;

    speed_t baud_ = B19200;
    int master_ = -1;
    std::string slavePath_;
    bool clientPresent_ = false;
    std::int64_t recheckAtMs_ = 0;

    std::deque<Piece> scheduled_;
    std::string outBuf_;
    std::int64_t hangupAfter_ = 0;
    std::int64_t commandCount_ = 0;
    std::int64_t garbledBytes_ = 0;
    std::int64_t receivedBytes_ = 0;
    projector_sim::ReadPacer pacer_;

    std::string stdinBuf_;
    bool stdinOpen_ = true;
    bool quit_ = false;
};

std::optional<long> numberArg(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0) return std::nullopt;
    return value;
}

// Parses the command line into config; false after reporting on stderr.
bool parseArguments(int argc, char** argv, Config& config) {
    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "projector-sim: %s\n%s", message.c_str(), kUsage);
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](int ahead = 1) -> const char* {
            return i + ahead < argc ? argv[i + ahead] : nullptr;
        };
        auto number = [&](std::int64_t& out) {
            const char* text = value();
            const auto parsed = text != nullptr ? numberArg(text) : std::nullopt;
            if (!parsed) return false;
            out = *parsed;
            ++i;
            return true;
        };
        std::int64_t n = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--model") {
            const char* text = value();
            const auto model = text != nullptr ? projector_sim::modelFromName(text) : std::nullopt;
            if (!model) return fail("--model takes TR27K or TR52");
            config.projector.model = *model;
            ++i;
        } else if (arg == "--baud") {
            if (!number(n) || !speedOf(static_cast<long>(n))) return fail("--baud takes a rate");
            config.baud = static_cast<long>(n);
        } else if (arg == "--link" || arg == "--log") {
            const char* text = value();
            if (text == nullptr || *text == '\0') return fail(std::string(arg) + " takes a path");
            (arg == "--link" ? config.linkPath : config.logPath) = text;
            ++i;
        } else if (arg == "--warmup" || arg == "--cooldown") {
            if (!number(n) || n > projector_sim::kMaxDelayMs)
                return fail(std::string(arg) + " takes milliseconds, at most 3600000");
            (arg == "--warmup" ? config.projector.warmupMs : config.projector.cooldownMs) = n;
        } else if (arg == "--lamp-hours" || arg == "--pressure") {
            if (!number(n)) return fail(std::string(arg) + " takes a number");
            (arg == "--lamp-hours" ? config.projector.lampHours
                                   : config.projector.pressureReading) = static_cast<int>(n);
        } else if (arg == "--seed") {
            if (!number(n)) return fail("--seed takes a number");
            config.seed = static_cast<std::uint32_t>(n);
        } else if (arg == "--noreply" || arg == "--noise") {
            config.startLines.push_back(std::string(arg.substr(2)) + " on");
        } else if (arg == "--delay" || arg == "--hangup-after" || arg == "--state" ||
                   arg == "--read-rate") {
            if (value() == nullptr) return fail(std::string(arg) + " takes a value");
            config.startLines.push_back(std::string(arg.substr(2)) + " " + value());
            ++i;
        } else if (arg == "--split") {
            if (value(2) == nullptr) return fail("--split takes N and GAP_MS");
            config.startLines.push_back(std::string("split ") + value(1) + " " + value(2));
            i += 2;
        } else if (arg == "--exit-on-stdin-eof") {
            config.exitOnStdinEof = true;
        } else {
            return fail("unknown option " + std::string(arg));
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Config config;
    if (!parseArguments(argc, argv, config)) return 2;

    if (pipe(gSignalPipe) != 0) return 1;
    setCloexecNonblock(gSignalPipe[0]);
    setCloexecNonblock(gSignalPipe[1]);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Sim sim(std::move(config));
    if (!sim.start()) return 1;
    sim.run();
    return 0;
}
