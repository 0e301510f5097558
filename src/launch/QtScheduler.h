#pragma once

#include "Scheduler.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <atomic>

class QTimer;

namespace brevlin {

// The application's scheduler: Qt's event loop of the thread that creates it (the main thread).
// postAfter may be called from any thread; the work always runs on the main thread.
class QtScheduler : public QObject, public Scheduler {
    Q_OBJECT
public:
    explicit QtScheduler(QObject* parent = nullptr);
    ~QtScheduler() override;

    qint64 nowNanoseconds() const override;
    TimerId postAfter(qint64 delayMilliseconds, std::function<void()> work) override;
    // Main thread only.
    void cancel(TimerId id) override;

private:
    void startOnOwnThread(TimerId id, qint64 delayMilliseconds, std::function<void()> work);

    QElapsedTimer m_clock;
    std::atomic<TimerId> m_nextId{1};
    QHash<TimerId, QTimer*> m_timers;
};

} // namespace brevlin
