#include <QTimer>

#include "link/timers.h"

namespace {

class QtPanelTimer final : public PanelTimer {
public:
    QtPanelTimer() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (onTick) onTick();
        });
    }
    void setInterval(int ms) override { timer_.setInterval(ms); }
    int interval() const override { return timer_.interval(); }
    void setEnabled(bool enabled) override {
        if (enabled) timer_.start();
        else timer_.stop();
    }
    bool enabled() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

}  // namespace

std::unique_ptr<PanelTimer> QtTimerSource::createTimer() { return std::make_unique<QtPanelTimer>(); }
