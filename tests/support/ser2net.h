#pragma once

#include <sys/types.h>

#include <string>

// Drives Debian's ser2net as a child process for the end-to-end tests and the benchmarks: a
// network serial server in front of one device, on 127.0.0.1 only. Plain C++ and POSIX.
namespace sim_support {

class Ser2net {
  public:
    // The ser2net program, or "" when it is not installed.
    static std::string program();

    // Serves `device` at 19200,8N1, raw TCP on rawPort(), Telnet with RFC 2217 on
    // rfc2217Port() and Telnet without it on telnetPort(), free ports of 127.0.0.1, and waits
    // until all listen. Throws std::runtime_error when ser2net cannot be started.
    explicit Ser2net(const std::string& device);
    // Stops ser2net and removes its configuration.
    ~Ser2net();

    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    int rawPort() const { return rawPort_; }
    int rfc2217Port() const { return rfc2217Port_; }
    std::string rawAddress() const { return "socket://127.0.0.1:" + std::to_string(rawPort_); }
    std::string rfc2217Address() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_); }
    // The Telnet port without RFC 2217, written as if it offered it.
    std::string telnetAsRfc2217Address() const { return "rfc2217://127.0.0.1:" + std::to_string(telnetPort_); }

    // Ends ser2net (SIGTERM): its connections close.
    void stop();
    // Starts it again on the same ports.
    void start();

  private:
    std::string directory_;
    std::string config_;
    int rawPort_ = 0;
    int rfc2217Port_ = 0;
    int telnetPort_ = 0;
    pid_t pid_ = -1;
};

}  // namespace sim_support
