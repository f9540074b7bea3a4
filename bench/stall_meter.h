#pragma once

// The longest the user-interface thread went without running its event loop: a timer
// asks to tick every `tick`, and every tick notes the gap since the one before. Work done
// on the thread between ticks (a slot, a queued notification, a join) shows as a gap that
// long. The benchmarks report it; the tests bound it. Drive the loop with
// runEventLoopUntil, not QTest::qWait, which sleeps between passes.

#include "capture/steady_clock.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>

namespace Vardel::bench {

class StallMeter {
public:
    explicit StallMeter(std::chrono::milliseconds tick)
    {
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(tick);
        QObject::connect(&ticker_, &QTimer::timeout, [this] {
            const std::int64_t now = steadyNowNs();
            longestNs_ = std::max(longestNs_, now - lastNs_);
            lastNs_ = now;
        });
    }
    // Starts a new measurement from now.
    void start()
    {
        lastNs_ = steadyNowNs();
        longestNs_ = 0;
        ticker_.start();
    }
    // Work the caller itself does on the thread (building a panel, writing settings to a
    // slow disk) is no stall of what is measured: the gap restarts after it.
    template <typename Work>
    void excluding(Work&& work)
    {
        longestNs_ = std::max(longestNs_, steadyNowNs() - lastNs_);
        work();
        lastNs_ = steadyNowNs();
    }
    // The longest gap so far, counting the one still open.
    double longestMs() const { return double(std::max(longestNs_, steadyNowNs() - lastNs_)) / 1e6; }

private:
    QTimer ticker_;
    std::int64_t lastNs_ = steadyNowNs();
    std::int64_t longestNs_ = 0;
};

// Runs a real event loop, as a host's window does, until done() holds or timeoutMs pass;
// false on time-out.
inline bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || elapsed.elapsed() >= timeoutMs)
            loop.quit();
    });
    poll.start();
    if (!done())
        loop.exec();
    return done();
}

// Runs a real event loop for ms milliseconds.
inline void runEventLoopFor(int ms)
{
    runEventLoopUntil([] { return false; }, ms);
}

} // namespace Vardel::bench
