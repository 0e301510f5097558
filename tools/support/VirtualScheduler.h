#pragma once

#include "launch/Scheduler.h"

#include <QString>

#include <limits>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

namespace brevlin::testing {

// Virtual time for tests: nothing runs until the test drives the clock. Waits are posted work and
// let other posted work run in time order.
class VirtualScheduler : public Scheduler {
public:
    qint64 nowNanoseconds() const override;
    TimerId postAfter(qint64 delayMilliseconds, std::function<void()> work) override;
    void cancel(TimerId id) override;

    qint64 nowMilliseconds() const { return nowNanoseconds() / 1'000'000; }
    // Runs every turn due up to now + milliseconds (later turns included when earlier ones post
    // more), then sets the clock there.
    void advanceBy(qint64 milliseconds);
    // Runs turns in time order until none is left, or a turn limit guarding against loops.
    void runUntilIdle();
    void runDue();
    std::size_t pendingCount() const;

private:
    bool runNext(qint64 limitNanoseconds);

    mutable std::recursive_mutex m_mutex;
    qint64 m_now = 0;
    TimerId m_nextId = 1;
    // Ordered by due time, then by posting order (the TimerIds grow).
    std::map<std::pair<qint64, TimerId>, std::function<void()>> m_queue;
};

} // namespace brevlin::testing
