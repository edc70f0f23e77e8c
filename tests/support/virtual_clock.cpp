#include "tests/support/virtual_clock.h"

#include <algorithm>
#include <limits>

class VirtualClock::Timer final : public PanelTimer {
public:
    explicit Timer(VirtualClock& clock) : clock_(clock) { clock_.timers_.push_back(this); }
    ~Timer() override { std::erase(clock_.timers_, this); }

    void setInterval(int ms) override {
        interval_ = ms;
        if (enabled_) deadline_ = clock_.now_ + interval_;
    }
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override {
        enabled_ = enabled && interval_ > 0;
        if (enabled_) deadline_ = clock_.now_ + interval_;
    }
    bool enabled() const override { return enabled_; }

    bool enabled_ = false;
    int interval_ = 0;
    std::int64_t deadline_ = 0;

private:
    VirtualClock& clock_;
};

std::unique_ptr<PanelTimer> VirtualClock::createTimer() { return std::make_unique<Timer>(*this); }

void VirtualClock::advance(std::int64_t ms) {
    const std::int64_t end = now_ + ms;
    for (;;) {
        Timer* next = nullptr;
        for (Timer* t : timers_) {
            if (t->enabled_ && t->deadline_ <= end && (!next || t->deadline_ < next->deadline_)) {
                next = t;
            }
        }
        if (!next) break;
        now_ = next->deadline_;
        // A periodic timer's next tick is due one interval later unless its handler re-arms
        // or stops it.
        next->deadline_ = now_ + next->interval_;
        if (next->onTick) next->onTick();
    }
    now_ = end;
}
