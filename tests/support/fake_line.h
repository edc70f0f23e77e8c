#pragma once

#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gateway/line.h"
#include "link/transport.h"
#include "tests/support/virtual_clock.h"

// A line owner on the virtual clock whose port is a fake line to a scripted projector, for the
// tests of the line and of its front-ends.

// A piece of a reply: its bytes this long after the command came.
struct Piece {
    int atMs;
    std::string bytes;
};

// The projector behind the fake line. Every command is answered ACK CR after 5 ms unless
// scripted otherwise; the status queries as a projector in stand-by answers them.
struct FakeProjector {
    explicit FakeProjector(VirtualClock& clock);

    VirtualClock& clock;
    bool present = true;
    std::map<std::string, std::vector<Piece>> script;
    std::vector<std::pair<std::int64_t, std::string>> writes;  // (time, command)
    class FakeWire* live = nullptr;

    std::vector<std::string> commands() const;
};

class FakeWire final : public serial::Transport {
  public:
    explicit FakeWire(FakeProjector& p) : p_(p) {}
    ~FakeWire() override { close(); }

    void start(const serial::LineSettings&) override;
    void close() override;
    bool gone() const override { return gone_; }
    void applySettings(const serial::LineSettings&) override {}
    void write(const std::string& bytes) override;
    std::string readAll() override { return std::exchange(waiting_, {}); }

    void unplug();

  private:
    FakeProjector& p_;
    std::string waiting_;
    bool gone_ = false;
    std::vector<std::unique_ptr<PanelTimer>> replies_;
};

struct LineFixture {
    // The projector "hall" on /dev/ttyUSB0, polled every `pollSeconds`; `configure` may
    // change the rest of its configuration.
    explicit LineFixture(int pollSeconds = 10,
                         const std::function<void(gateway::ProjectorConfig&)>& configure = {});
    ~LineFixture();

    // Time passes a millisecond at a time, and the event loop's posted calls run on the way.
    void advance(std::int64_t ms);
    // Started, with the first poll through and forgotten.
    void startQuietly();

    // Submits and records each answer as "<client> <code> <ok|missing|refused|failed:...>".
    void submit(gateway::Client& client, std::vector<session::Send> sends);

    QTemporaryDir byId;
    VirtualClock clock;
    FakeProjector projector{clock};
    gateway::Line::Context context;
    std::unique_ptr<gateway::Line> line;
    std::vector<std::string> events, answers;
    int rounds = 0;
};
