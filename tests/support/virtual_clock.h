#pragma once

#include <cstdint>
#include <vector>

#include "link/timers.h"

// Timers on a clock that moves only when told: advance(ms) fires every due tick in deadline
// order (ties in creation order), so timing is tested exactly and instantly.
class VirtualClock final : public TimerSource {
public:
    std::unique_ptr<PanelTimer> createTimer() override;

    // Moves time forward by `ms`, firing the ticks that fall due on the way.
    void advance(std::int64_t ms);
    std::int64_t now() const { return now_; }

private:
    class Timer;
    friend class Timer;
    std::int64_t now_ = 0;
    std::vector<Timer*> timers_;
};
