#include "QtScheduler.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <limits>

namespace brevlin {

QtScheduler::QtScheduler(QObject* parent)
    : QObject(parent) {
    m_clock.start();
}

QtScheduler::~QtScheduler() {
    for (QTimer* timer : std::as_const(m_timers))
        delete timer;
}

qint64 QtScheduler::nowNanoseconds() const {
    return m_clock.nsecsElapsed();
}

Scheduler::TimerId QtScheduler::postAfter(qint64 delayMilliseconds, std::function<void()> work) {
    const TimerId id = m_nextId.fetch_add(1);
    if (QThread::currentThread() == thread()) {
        startOnOwnThread(id, delayMilliseconds, std::move(work));
    } else {
        QMetaObject::invokeMethod(
            this,
            [this, id, delayMilliseconds, work = std::move(work)]() mutable {
                startOnOwnThread(id, delayMilliseconds, std::move(work));
            },
            Qt::QueuedConnection);
    }
    return id;
}

void QtScheduler::startOnOwnThread(TimerId id, qint64 delayMilliseconds,
                                   std::function<void()> work) {
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    // Coarse timers may fire up to 5 % late, which would stretch every launch step.
    timer->setTimerType(Qt::PreciseTimer);
    m_timers.insert(id, timer);
    connect(timer, &QTimer::timeout, this, [this, id, work = std::move(work)] {
        if (QTimer* fired = m_timers.take(id))
            fired->deleteLater();
        work();
    });
    timer->start(
        int(qBound<qint64>(qint64(0), delayMilliseconds, qint64(std::numeric_limits<int>::max()))));
}

void QtScheduler::cancel(TimerId id) {
    if (QTimer* timer = m_timers.take(id)) {
        timer->stop();
        timer->deleteLater();
    }
}

} // namespace brevlin
