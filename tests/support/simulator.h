#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Drives tools/projector-sim as a child process for the end-to-end tests and the benchmarks.
// Plain C++ and POSIX; no Qt.
//
// The child's stdin and stdout are one socket to this object: control lines go in, and the
// device path, "OK ..." acknowledgements and answers come back. The child is started with
// --exit-on-stdin-eof, so it also ends when the test process dies.
namespace sim_support {

using namespace std::chrono_literals;

class Simulator {
  public:
    struct Options {
        std::string binary;             // path of projector-sim
        std::string model = "TR27K";    // --model
        std::string link;               // --link, empty for none; removed by the destructor
        std::vector<std::string> args;  // further command-line options, e.g. {"--warmup", "0"}
        std::chrono::milliseconds startTimeout = 5s;
    };

    // Starts the simulator and waits for its device path. Throws std::runtime_error if it
    // cannot be started or prints no path in time.
    explicit Simulator(Options options);
    // Ends the child (SIGTERM, then SIGKILL if it does not go within a few seconds), reaps it
    // and removes the link.
    ~Simulator();

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The device path the simulator printed last (at start or after "plug").
    const std::string& devicePath() const { return devicePath_; }
    const std::string& linkPath() const { return options_.link; }
    pid_t pid() const { return pid_; }

    // Sends one control line and waits for its "OK". Lines printed before it (such as "COUNT 3"
    // or "PATH ...") are returned. Throws std::runtime_error on "ERR", on timeout and if the
    // child has gone.
    std::vector<std::string> control(std::string_view line, std::chrono::milliseconds timeout = 5s);

    // Commands received so far ("count").
    long commandCount();
    // Bytes received at a line setting the projector does not listen at ("garbled").
    long garbledBytes();
    // Bytes the projector has taken off the line so far, garbled ones included ("received").
    long bytesReceived();
    // Waits until the simulator sees a client holding the device open (open true) or none
    // (false); false on timeout. The simulator notices an open or close within about 10 ms.
    bool waitForClient(bool open, std::chrono::milliseconds timeout = 5s);
    // "hangup": the device vanishes.
    void hangup();
    // "plug": a fresh device; returns its path (also devicePath() from then on).
    std::string plug();

    // Ends the child now and returns its exit status as waitpid reports it; later calls return
    // the same value.
    int stop();

  private:
    std::optional<std::string> readLine(std::chrono::steady_clock::time_point deadline);
    void sendLine(std::string_view line);

    Options options_;
    pid_t pid_ = -1;
    int socket_ = -1;
    std::string buffer_;
    std::string devicePath_;
    std::optional<int> exitStatus_;
};

// A raw 8N1 client of a serial device, as the panel opens it: the stand-in for the panel in the
// simulator's own tests and in benchmarks.
class SerialClient {
  public:
    // Opens path raw at baud (9600, 19200, ...). Throws std::runtime_error on failure.
    SerialClient(const std::string& path, int baud);
    ~SerialClient();

    SerialClient(const SerialClient&) = delete;
    SerialClient& operator=(const SerialClient&) = delete;

    void write(std::string_view bytes);

    // Reads until count terminators have arrived, the last one ending the received bytes, or
    // the timeout passes; returns what arrived (possibly nothing). Each read's result is
    // recorded in chunks().
    std::string readUntil(char terminator, std::chrono::milliseconds timeout = 2s, int count = 1);
    // Reads whatever arrives within the period.
    std::string readFor(std::chrono::milliseconds period);

    // The pieces the reads returned since the last clearChunks(), in order.
    const std::vector<std::string>& chunks() const { return chunks_; }
    void clearChunks() { chunks_.clear(); }

    // Whether the device has gone (a read reported a hang-up).
    bool hungUp() const { return hungUp_; }
    int fd() const { return fd_; }

  private:
    std::string read(std::chrono::steady_clock::time_point deadline, std::optional<char> terminator,
                     int count);

    int fd_ = -1;
    bool hungUp_ = false;
    std::vector<std::string> chunks_;
};

}  // namespace sim_support
