#pragma once

// The longest the user-interface thread went without running its event loop: a timer
// asks to tick every millisecond, and every tick notes the gap since the one before.
// Work done on the thread between ticks (a slot, a queued notification, a join) shows as
// a gap that long.

#include "capture/steady_clock.h"

#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstdint>

namespace Vardel::bench {

class StallMeter : public QObject {
public:
    StallMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            const std::int64_t now = steadyNowNs();
            longestNs_ = std::max(longestNs_, now - lastNs_);
            lastNs_ = now;
        });
        timer_.start();
    }
    // Starts a new measurement from now.
    void reset()
    {
        lastNs_ = steadyNowNs();
        longestNs_ = 0;
    }
    // The longest gap so far, counting the one still open.
    double longestMs() const { return double(std::max(longestNs_, steadyNowNs() - lastNs_)) / 1e6; }

private:
    QTimer timer_;
    std::int64_t lastNs_ = steadyNowNs();
    std::int64_t longestNs_ = 0;
};

} // namespace Vardel::bench
