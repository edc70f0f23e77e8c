#pragma once

// Serial ports for the benchmarks: one in memory that notes when the window hands it bytes,
// and a decorator of any port (the real adapter in practice) that notes when each output()
// call arrives and when each receive event's handler has returned.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/serial_port.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// The time an asynchronous 8N1 line needs for `bytes` bytes at `baud`: ten bits a byte.
inline double lineMicroseconds(std::size_t bytes, int baud = 19200) {
    return 1e6 * 10.0 * static_cast<double>(bytes) / baud;
}

// The q-quantile (0..1) of the samples by the nearest-rank method; 0 for none.
inline double quantile(std::vector<double> samples, double q) {
    if (samples.empty()) return 0;
    const auto rank = static_cast<std::size_t>(
        std::clamp<double>(std::ceil(q * static_cast<double>(samples.size())), 1,
                           static_cast<double>(samples.size())));
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                     samples.end());
    return samples[rank - 1];
}

// A port in memory that keeps no history: the time of the last output() call and its bytes.
// receive() delivers bytes as one receive event, as the real adapter does for one batch.
class MemoryPort final : public serial::SerialPort {
  public:
    void setCommPort(int n) override { commPort_ = n; }
    int commPort() const override { return commPort_; }
    void setSettings(const std::string& settings) override { settings_ = settings; }
    std::string settings() const override { return settings_; }
    void setPortOpen(bool open) override { open_ = open; }
    bool portOpen() const override { return open_; }
    void output(const std::string& bytes) override {
        lastOutput = Clock::now();
        lastBytes.assign(bytes);
        ++outputs;
    }
    std::string input() override { return std::exchange(waiting_, {}); }
    int commEvent() const override { return kEventReceive; }
    std::string devicePath() const override { return "memory"; }

    void receive(const std::string& bytes) {
        waiting_ = bytes;
        if (onComm) onComm();
    }

    Clock::time_point lastOutput{};
    std::string lastBytes;
    long outputs = 0;

  private:
    int commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    bool open_ = false;
    std::string waiting_;
};

// Wraps a port: every output() that the inner port accepts is counted and, while recording,
// its arrival time kept; every receive event is passed on and the time its handler returned
// is noted.
class StampingPort final : public serial::SerialPort {
  public:
    explicit StampingPort(std::unique_ptr<serial::SerialPort> inner) : inner_(std::move(inner)) {
        inner_->onComm = [this] {
            if (onComm) onComm();
            lastCommDone = Clock::now();
            ++commEvents;
        };
        inner_->onLost = [this](const std::string& d) {
            if (onLost) onLost(d);
        };
        inner_->onReady = [this] {
            if (onReady) onReady();
        };
    }

    void setCommPort(int n) override { inner_->setCommPort(n); }
    int commPort() const override { return inner_->commPort(); }
    void setSettings(const std::string& s) override { inner_->setSettings(s); }
    std::string settings() const override { return inner_->settings(); }
    void setPortOpen(bool open) override { inner_->setPortOpen(open); }
    bool portOpen() const override { return inner_->portOpen(); }
    void output(const std::string& bytes) override {
        const Clock::time_point arrived = Clock::now();
        inner_->output(bytes);
        lastOutput = arrived;
        ++outputs;
        if (recording && sends.size() < sends.capacity())
            sends.push_back(arrived);
        else if (recording)
            ++unrecorded;
    }
    std::string input() override { return inner_->input(); }
    int commEvent() const override { return inner_->commEvent(); }
    std::string devicePath() const override { return inner_->devicePath(); }

    // Starts keeping send times, with room for `capacity` of them allocated and touched now,
    // so that recording allocates nothing and the resident set does not grow with it. Sends
    // beyond that room are counted in `unrecorded`.
    void startRecording(std::size_t capacity) {
        sends.clear();
        sends.shrink_to_fit();
        sends.resize(capacity);
        sends.clear();
        unrecorded = 0;
        recording = true;
    }
    void stopRecording() { recording = false; }

    serial::SerialPort* inner() const { return inner_.get(); }

    Clock::time_point lastOutput{};
    Clock::time_point lastCommDone{};
    long outputs = 0;
    long commEvents = 0;
    bool recording = false;
    std::vector<Clock::time_point> sends;
    long unrecorded = 0;

  private:
    std::unique_ptr<serial::SerialPort> inner_;
};

}  // namespace bench
