#pragma once

#include <QtGlobal>

#include <functional>

namespace brevlin {

// Time and the main queue, as the launch engine sees them. The application runs on Qt's event
// loop; tests run on virtual time, so every wait is exact and instant.
class Scheduler {
public:
    virtual ~Scheduler() = default;

    // Monotonic clock.
    virtual qint64 nowNanoseconds() const = 0;

    using TimerId = quint64;
    // Runs `work` on the main thread in a later turn, after `delayMilliseconds` (0: next turn).
    virtual TimerId postAfter(qint64 delayMilliseconds, std::function<void()> work) = 0;
    void post(std::function<void()> work) { postAfter(0, std::move(work)); }
    // Drops posted work that has not run yet; unknown ids are ignored.
    virtual void cancel(TimerId id) = 0;
};

} // namespace brevlin
