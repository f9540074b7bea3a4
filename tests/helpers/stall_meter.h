#pragma once

// Measures how long the user-interface thread goes without running its event loop: a
// timer ticks every two milliseconds and the longest gap between two ticks is kept.
// Drive the loop with runEventLoopUntil, not QTest::qWait, which sleeps between passes.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace Vardel::testing {

class StallMeter {
public:
    StallMeter()
    {
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(2);
        QObject::connect(&ticker_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            worstNs_ = std::max(worstNs_, now - lastNs_);
            lastNs_ = now;
        });
    }

    void start()
    {
        clock_.start();
        lastNs_ = 0;
        worstNs_ = 0;
        ticker_.start();
    }
    // Work the test itself does on the thread (building a panel, writing settings to a
    // slow disk) is no stall of what is under test: the gap restarts after it.
    template <typename Work>
    void excluding(Work&& work)
    {
        const qint64 before = clock_.nsecsElapsed();
        worstNs_ = std::max(worstNs_, before - lastNs_);
        work();
        lastNs_ = clock_.nsecsElapsed();
    }

    // The longest gap so far, in milliseconds (a tick that is due is counted as well).
    double worstMs() const
    {
        const qint64 pending = clock_.isValid() ? clock_.nsecsElapsed() - lastNs_ : 0;
        return double(std::max(worstNs_, pending)) / 1e6;
    }

private:
    QTimer ticker_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0;
    qint64 worstNs_ = 0;
};

// Runs a real event loop, as a host's window does, until done() holds or timeoutMs pass.
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

} // namespace Vardel::testing
