#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/config.h"
#include "gateway/line.h"
#include "gateway/listener.h"
#include "gateway/log.h"

class QObject;

namespace gateway {

// projectord's parts for a configuration: one line owner per projector and each projector's
// front-ends, with the log lines an administrator needs about the lines.
class Daemon {
  public:
    // `version` is the daemon's, as front-ends announce it.
    Daemon(Config config, Line::Context context, Log log, std::string version = {});
    ~Daemon();

    // Listens on every front-end's port, then opens the lines. Throws std::runtime_error
    // when a port cannot be listened on; nothing is opened then.
    void start();
    // Releases every line.
    void stop();

    const Config& config() const { return config_; }
    const std::vector<std::unique_ptr<Line>>& lines() const { return lines_; }

  private:
    // A front-end of one projector and the port it listens on, or, for one that listens on
    // none, how it starts and where it goes.
    struct FrontEnd {
        std::size_t projector;  // index into config().projectors and lines()
        std::string key;        // its key in the configuration: "raw"
        std::unique_ptr<QObject> object;
        Listener* listener;
        std::function<void()> start = {};
        std::string where = {};
    };

    Config config_;
    Log log_;
    std::vector<std::unique_ptr<Line>> lines_;
    // Destroyed before the lines they are clients of.
    std::vector<FrontEnd> frontEnds_;
};

}  // namespace gateway
