#include "VirtualScheduler.h"

namespace brevlin::testing {

qint64 VirtualScheduler::nowNanoseconds() const {
    std::lock_guard lock(m_mutex);
    return m_now;
}

Scheduler::TimerId VirtualScheduler::postAfter(qint64 delayMilliseconds,
                                               std::function<void()> work) {
    std::lock_guard lock(m_mutex);
    const TimerId id = m_nextId++;
    const qint64 due = m_now + (delayMilliseconds > 0 ? delayMilliseconds : 0) * 1'000'000;
    m_queue.emplace(std::make_pair(due, id), std::move(work));
    return id;
}

void VirtualScheduler::cancel(TimerId id) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_queue, [id](const auto& entry) { return entry.first.second == id; });
}

bool VirtualScheduler::runNext(qint64 limitNanoseconds) {
    std::function<void()> work;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty())
            return false;
        auto first = m_queue.begin();
        if (first->first.first > limitNanoseconds)
            return false;
        m_now = qMax(m_now, first->first.first);
        work = std::move(first->second);
        m_queue.erase(first);
    }
    work();
    return true;
}

void VirtualScheduler::advanceBy(qint64 milliseconds) {
    const qint64 target = nowNanoseconds() + milliseconds * 1'000'000;
    while (runNext(target)) {
    }
    std::lock_guard lock(m_mutex);
    m_now = qMax(m_now, target);
}

void VirtualScheduler::runUntilIdle() {
    for (int turns = 0; turns < 100000 && runNext(std::numeric_limits<qint64>::max()); ++turns) {
    }
}

void VirtualScheduler::runDue() {
    while (runNext(nowNanoseconds())) {
    }
}

std::size_t VirtualScheduler::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

} // namespace brevlin::testing
