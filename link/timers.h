#pragma once

#include <functional>
#include <memory>

// A periodic tick while enabled: the window's form timers and the port's reconnection run on
// these. Enabling it, or setting the interval while it runs, starts a fresh countdown of one
// interval.
class PanelTimer {
public:
    virtual ~PanelTimer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;

    // The tick handler; runs on the thread of the event loop (the window's).
    std::function<void()> onTick;
};

// Where the window and the port get their timers from: real ones in the programs, a virtual
// clock in tests.
class TimerSource {
public:
    virtual ~TimerSource() = default;
    virtual std::unique_ptr<PanelTimer> createTimer() = 0;
};

// Timers backed by QTimer.
class QtTimerSource final : public TimerSource {
public:
    std::unique_ptr<PanelTimer> createTimer() override;
};
