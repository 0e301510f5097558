#pragma once

#include "Scheduler.h"

#include <QString>

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

namespace brevlin {

// What a suspending wait throws once the task that waits has been cancelled.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "The task was cancelled."; }
};

// Shared by every coroutine of one started task: cancelling it fails the wait in progress (and
// every later suspending wait) with CancellationError.
class CancellationState {
public:
    bool isCancelled() const { return m_cancelled; }

    void cancel() {
        if (m_cancelled)
            return;
        m_cancelled = true;
        if (auto interrupt = std::exchange(m_interrupt, nullptr))
            interrupt();
    }

    // The suspending wait in progress registers how to end it early; one at a time, since a task
    // waits in one place only.
    void setInterrupt(std::function<void()> interrupt) { m_interrupt = std::move(interrupt); }
    void clearInterrupt() { m_interrupt = nullptr; }

private:
    bool m_cancelled = false;
    std::function<void()> m_interrupt;
};

namespace detail {

// Owns the outermost frame of a started task on behalf of whatever is due to resume it: the
// posted start, a pending timer, a pending completion. When the last of those is dropped without
// running (its scheduler went away, a completion was discarded), the whole chain of frames is
// destroyed instead of leaking; a task that finished has freed itself already.
struct FrameAnchor {
    FrameAnchor(std::coroutine_handle<> root, std::shared_ptr<bool> finished)
        : root(root)
        , finished(std::move(finished)) {}
    FrameAnchor(const FrameAnchor&) = delete;
    FrameAnchor& operator=(const FrameAnchor&) = delete;
    ~FrameAnchor() {
        if (!*finished)
            root.destroy();
    }

    std::coroutine_handle<> root;
    std::shared_ptr<bool> finished;
};

struct PromiseBase {
    std::shared_ptr<CancellationState> cancellation;
    // Weak: the frame must not keep itself alive.
    std::weak_ptr<FrameAnchor> anchor;
    std::coroutine_handle<> continuation;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <typename P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
            if (auto next = h.promise().continuation)
                return next;
            return std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
};

template <typename T> struct ResultHolder {
    std::variant<std::monostate, T, std::exception_ptr> result;

    template <typename U> void return_value(U&& value) {
        result.template emplace<1>(std::forward<U>(value));
    }
    void unhandled_exception() noexcept { result.template emplace<2>(std::current_exception()); }
    T take() {
        if (result.index() == 2)
            std::rethrow_exception(std::get<2>(result));
        return std::move(std::get<1>(result));
    }
};

template <> struct ResultHolder<void> {
    std::exception_ptr error;

    void return_void() noexcept {}
    void unhandled_exception() noexcept { error = std::current_exception(); }
    void take() {
        if (error)
            std::rethrow_exception(error);
    }
};

} // namespace detail

// A lazily started coroutine with a result of type T or an error (an exception). It runs when it
// is awaited from another task or handed to startTask, and it inherits the cancellation of
// whoever awaits it.
template <typename T = void> class [[nodiscard]] Task {
public:
    struct promise_type : detail::PromiseBase, detail::ResultHolder<T> {
        Task get_return_object() {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
    };
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    Task(Task&& other) noexcept
        : m_handle(std::exchange(other.m_handle, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            if (m_handle)
                m_handle.destroy();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() {
        if (m_handle)
            m_handle.destroy();
    }

    bool isValid() const { return bool(m_handle); }

    struct Awaiter {
        Handle handle;
        bool await_ready() const noexcept { return !handle || handle.done(); }
        template <typename P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) {
            handle.promise().continuation = parent;
            handle.promise().cancellation = parent.promise().cancellation;
            handle.promise().anchor = parent.promise().anchor;
            return handle;
        }
        T await_resume() { return handle.promise().take(); }
    };
    Awaiter operator co_await() && { return Awaiter{m_handle}; }
    Awaiter operator co_await() & { return Awaiter{m_handle}; }

private:
    explicit Task(Handle handle)
        : m_handle(handle) {}

    Handle m_handle;
};

// A task started on its own. Dropping the handle neither cancels nor stops the task. A task that
// can no longer be resumed (its scheduler dropped the wake-up) is destroyed without finishing.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<CancellationState> cancellation,
                        std::shared_ptr<bool> finished)
        : m_cancellation(std::move(cancellation))
        , m_finished(std::move(finished)) {}

    void cancel() const {
        if (m_cancellation)
            m_cancellation->cancel();
    }
    bool isCancelled() const { return m_cancellation && m_cancellation->isCancelled(); }
    bool isFinished() const { return m_finished && *m_finished; }

private:
    std::shared_ptr<CancellationState> m_cancellation;
    std::shared_ptr<bool> m_finished;
};

namespace detail {

// The frame that owns a started task; it frees itself when the task is over.
struct DetachedRun {
    struct promise_type : PromiseBase {
        DetachedRun get_return_object() {
            return {std::coroutine_handle<promise_type>::from_promise(*this)};
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() noexcept {}
        void unhandled_exception() noexcept { std::terminate(); }
    };
    std::coroutine_handle<promise_type> handle;
};

inline DetachedRun runDetached(Task<void> task, std::shared_ptr<bool> finished,
                               std::function<void(std::exception_ptr)> onFinished) {
    std::exception_ptr error;
    try {
        co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
    *finished = true;
    if (onFinished)
        onFinished(error);
}

} // namespace detail

// Fire and forget: the task starts in the scheduler's next main-thread turn. `onFinished` runs
// when it is over, with its error or null.
inline TaskHandle startTask(Scheduler& scheduler, Task<void> task,
                            std::function<void(std::exception_ptr)> onFinished = {}) {
    auto cancellation = std::make_shared<CancellationState>();
    auto finished = std::make_shared<bool>(false);
    auto run = detail::runDetached(std::move(task), finished, std::move(onFinished));
    auto anchor = std::make_shared<detail::FrameAnchor>(run.handle, finished);
    run.handle.promise().cancellation = cancellation;
    run.handle.promise().anchor = anchor;
    scheduler.post([handle = run.handle, anchor] { handle.resume(); });
    return TaskHandle(cancellation, finished);
}

// Suspending wait: the main thread serves other work meanwhile. Throws CancellationError when the
// task is (or becomes) cancelled before the time is up.
class SleepAwaiter {
public:
    SleepAwaiter(Scheduler& scheduler, qint64 milliseconds)
        : m_scheduler(scheduler)
        , m_milliseconds(milliseconds < 0 ? 0 : milliseconds) {}

    SleepAwaiter(const SleepAwaiter&) = delete;
    SleepAwaiter& operator=(const SleepAwaiter&) = delete;
    // A frame destroyed while it waits must not leave cancel() a way back into it.
    ~SleepAwaiter() {
        if (m_interruptSet)
            m_cancellation->clearInterrupt();
    }

    bool await_ready() const noexcept { return false; }

    template <typename P> bool await_suspend(std::coroutine_handle<P> h) {
        m_cancellation = h.promise().cancellation;
        if (m_cancellation && m_cancellation->isCancelled()) {
            m_interrupted = true;
            return false;
        }
        std::weak_ptr<detail::FrameAnchor> anchor = h.promise().anchor;
        m_timer = m_scheduler.postAfter(m_milliseconds, [this, h, keep = anchor.lock()] {
            clearOwnInterrupt();
            h.resume();
        });
        if (m_cancellation) {
            m_interruptSet = true;
            m_cancellation->setInterrupt([this, h, anchor] {
                m_interruptSet = false;
                m_interrupted = true;
                // Resume in a turn of its own, not inside whoever called cancel(). Posted before
                // the timer is dropped, so the frame never lacks an owner in between.
                m_scheduler.post([h, keep = anchor.lock()] { h.resume(); });
                m_scheduler.cancel(m_timer);
            });
        }
        return true;
    }

    void await_resume() const {
        if (m_interrupted)
            throw CancellationError();
    }

private:
    void clearOwnInterrupt() {
        if (std::exchange(m_interruptSet, false))
            m_cancellation->clearInterrupt();
    }

    Scheduler& m_scheduler;
    qint64 m_milliseconds;
    std::shared_ptr<CancellationState> m_cancellation;
    Scheduler::TimerId m_timer = 0;
    bool m_interrupted = false;
    bool m_interruptSet = false;
};

inline SleepAwaiter sleepFor(Scheduler& scheduler, qint64 milliseconds) {
    return SleepAwaiter(scheduler, milliseconds);
}

// Waits for a callback-style operation. `start` receives the function that completes the wait;
// that function may be called once, from any thread, and the task resumes in a later main-thread
// turn. Like a checked continuation it is not interrupted by cancellation. The function keeps the
// waiting task alive; discarding it uncalled (on the main thread) destroys the task.
template <typename R> class ContinuationAwaiter {
public:
    using Resume = std::function<void(R)>;

    ContinuationAwaiter(Scheduler& scheduler, std::function<void(Resume)> start)
        : m_scheduler(scheduler)
        , m_start(std::move(start)) {}

    bool await_ready() const noexcept { return false; }

    template <typename P> void await_suspend(std::coroutine_handle<P> h) {
        auto shared = std::make_shared<Shared>();
        m_shared = shared;
        m_start([shared, h, scheduler = &m_scheduler, keep = h.promise().anchor.lock()](R value) {
            if (shared->resumed.exchange(true))
                return;
            shared->value.emplace(std::move(value));
            scheduler->post([h, keep] { h.resume(); });
        });
    }

    R await_resume() { return std::move(*m_shared->value); }

private:
    struct Shared {
        std::atomic<bool> resumed{false};
        std::optional<R> value;
    };
    Scheduler& m_scheduler;
    std::function<void(Resume)> m_start;
    std::shared_ptr<Shared> m_shared;
};

} // namespace brevlin
