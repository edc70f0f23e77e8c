#include "gateway/daemon.h"

#include <QObject>

#include "gateway/http_front.h"
#include "gateway/mqtt_device.h"
#include "gateway/pjlink.h"
#include "gateway/shared_line.h"

namespace gateway {

Daemon::Daemon(Config config, Line::Context context, Log log, std::string version)
    : config_(std::move(config)), log_(std::move(log)) {
    for (const ProjectorConfig& p : config_.projectors) {
        auto line = std::make_unique<Line>(p, context);
        const std::string who = "[" + p.id + "] ";
        QObject::connect(line.get(), &Line::stateChanged, line.get(),
                         [this, who, seen = false, lost = false](LineState state, const std::string& reason) mutable {
                             switch (state) {
                                 case LineState::Up:
                                     log_(who + (lost ? "line back" : "line up"));
                                     lost = false;
                                     break;
                                 case LineState::Down:
                                     log_(who + (seen ? "line lost: " : "line down: ") + logText(reason));
                                     lost = true;
                                     break;
                                 case LineState::Connecting:
                                     break;
                             }
                             seen = seen || state == LineState::Up;
                         });
        const std::size_t index = lines_.size();
        if (p.raw) {
            auto raw = std::make_unique<SharedLine>(*line, config_, log_);
            Listener* listener = &raw->listener();
            frontEnds_.push_back({index, "raw", std::move(raw), listener});
        }
        if (p.pjlink) {
            auto pjlink = std::make_unique<PjlinkServer>(*line, config_, *context.surroundings.timers, log_);
            Listener* listener = &pjlink->listener();
            frontEnds_.push_back({index, "pjlink", std::move(pjlink), listener});
        }
        if (config_.mqtt.enabled()) {
            auto mqtt = std::make_unique<MqttDevice>(*line, config_, *context.surroundings.timers, log_, version);
            MqttDevice* device = mqtt.get();
            frontEnds_.push_back({index, "mqtt", std::move(mqtt), nullptr, [device] { device->start(); },
                                  device->description()});
        }
        lines_.push_back(std::move(line));
    }
    if (config_.http) {
        std::vector<Line*> all;
        for (const auto& line : lines_) all.push_back(line.get());
        http_ = std::make_unique<HttpFront>(all, config_, *context.surroundings.timers, log_);
    }
}

Daemon::~Daemon() {
    http_.reset();
    frontEnds_.clear();
    lines_.clear();
}

void Daemon::start() {
    for (FrontEnd& f : frontEnds_) {
        const ProjectorConfig& p = config_.projectors[f.projector];
        // The loopback defaults leave out an address the system does not have (no IPv6).
        if (f.listener) f.listener->listen(config_.defaultListen && !p.listen);
    }
    if (http_) {
        http_->listener().listen(config_.defaultListen && !config_.http->address);
        log_("http on " + http_->listener().description() +
             (config_.httpToken.empty() ? "" : ", every request but /metrics with the token"));
    }
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ProjectorConfig& p = config_.projectors[i];
        std::string ports;
        for (const FrontEnd& f : frontEnds_) {
            if (f.projector != i) continue;
            ports += ", " + f.key + (f.listener ? " on " + f.listener->description() : " to " + f.where);
        }
        log_("[" + p.id + "] " + std::string(p.model->name) + " on " + logText(p.port) + " at " +
             p.speed + " baud" + ports);
    }
    for (const auto& line : lines_) line->start();
    for (FrontEnd& f : frontEnds_) {
        if (f.start) f.start();
    }
}

void Daemon::stop() {
    for (const auto& line : lines_) line->stop();
}

}  // namespace gateway
