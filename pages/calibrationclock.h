// The timer that drives the calibration page's live refresh and output test.
// The page starts and stops it but does not own it: the main window does,
// and on each timeout it calls the page's timerTick itself.
#pragma once

#include <QTimer>

class CalibrationClock
{
public:
    virtual ~CalibrationClock() = default;
    virtual void start(int intervalMs) = 0;
    virtual void stop() = 0;
    // Whether the timer runs.
    virtual bool isActive() const = 0;
};

// A clock over a QTimer that its owner keeps (and connects to timerTick).
class TimerClock final : public CalibrationClock
{
public:
    explicit TimerClock(QTimer &timer) : timer(timer) {}
    void start(int intervalMs) override { timer.start(intervalMs); }
    void stop() override { timer.stop(); }
    bool isActive() const override { return timer.isActive(); }

private:
    QTimer &timer;
};
