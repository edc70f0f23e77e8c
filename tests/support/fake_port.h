#pragma once

#include <map>
#include <string>
#include <vector>

#include "link/serial_port.h"

// A serial port in memory: records what is written, takes input from the test, and fails
// any operation on demand with a description.
class FakePort final : public serial::SerialPort {
public:
    enum class Op { SetCommPort, SetSettings, Open, Close, Output };

    void setCommPort(int n) override;
    int commPort() const override { return commPort_; }
    void setSettings(const std::string& settings) override;
    std::string settings() const override { return settings_; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    void output(const std::string& bytes) override;
    std::string input() override;
    int commEvent() const override { return commEvent_; }
    std::string devicePath() const override { return "/dev/fake" + std::to_string(commPort_); }

    // Makes `op` fail with `description` (for the port number `onPort`, or any when 0).
    void failOn(Op op, std::string description, int onPort = 0);
    void clearFailures() { failures_.clear(); }

    // Delivers bytes as one receive event.
    void receive(const std::string& bytes);
    // Raises an event of another kind than receive.
    void raiseEvent(int kind);

    std::string written;               // everything written, in order
    std::vector<std::string> writes;   // one entry per output call
    std::vector<std::string> log;      // operations in order, e.g. "open 1", "close", "port 2"

private:
    void check(Op op) const;

    int commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    bool open_ = false;
    int commEvent_ = 0;
    std::string waiting_;
    std::map<Op, std::pair<std::string, int>> failures_;
};
