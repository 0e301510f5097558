// Start-up of Brevlin beside a bare Qt Widgets window: time from exec until the first window is
// mapped, and resident memory once it is up. Runs inside a desktop session
// (scripts/run-benchmarks). Each program starts with fresh, empty data and runtime folders, so
// Brevlin seeds its configuration every time, as on a first start.

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double secondsToMap;
    double residentMegabytes;
};

std::map<std::string, std::vector<Sample>> samples;

double residentMegabytes(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// Watches the root window for new top-level windows and reports the first that is mapped.
class MapWatcher {
public:
    MapWatcher() {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection)) {
            std::fprintf(stderr, "bench_startup_desktop: no X display\n");
            std::exit(2);
        }
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }
    ~MapWatcher() { xcb_disconnect(m_connection); }

    // Drops what happened before the program under test started.
    void reset() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
            std::free(event);
        m_watched.clear();
    }

    // Waits until a window created since reset() is mapped; false after the timeout.
    bool waitForMap(int timeoutMilliseconds) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
        const int fd = xcb_get_file_descriptor(m_connection);
        while (Clock::now() < deadline) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                const bool mapped = handle(event);
                std::free(event);
                if (mapped)
                    return true;
            }
            pollfd p{fd, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            poll(&p, 1, int(std::max<long long>(1, left.count())));
        }
        return false;
    }

private:
    bool handle(xcb_generic_event_t* event) {
        switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
            if (created->parent != m_root || created->override_redirect)
                return false;
            // Hear about this window's own map even after the window manager reparents it.
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(m_connection, created->window, XCB_CW_EVENT_MASK, &mask);
            m_watched.insert(created->window);
            // It may have been mapped before the selection took effect.
            xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, created->window), nullptr);
            const bool viewable = attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED;
            std::free(attributes);
            return viewable;
        }
        case XCB_MAP_NOTIFY: {
            auto* mapped = reinterpret_cast<xcb_map_notify_event_t*>(event);
            return m_watched.count(mapped->window) > 0;
        }
        default:
            return false;
        }
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    std::set<xcb_window_t> m_watched;
};

MapWatcher& watcher() {
    static MapWatcher instance;
    return instance;
}

pid_t spawn(const char* path, const QTemporaryDir& folder) {
    const QByteArray data = QDir(folder.path()).filePath(QStringLiteral("data")).toLocal8Bit();
    const QByteArray runtime =
        QDir(folder.path()).filePath(QStringLiteral("runtime")).toLocal8Bit();
    QDir().mkpath(QString::fromLocal8Bit(data));
    QDir().mkpath(QString::fromLocal8Bit(runtime));
    QFile::setPermissions(QString::fromLocal8Bit(runtime),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (entry.rfind("XDG_DATA_HOME=", 0) == 0 || entry.rfind("XDG_RUNTIME_DIR=", 0) == 0)
            continue;
        variables.push_back(entry);
    }
    variables.push_back("XDG_DATA_HOME=" + data.toStdString());
    variables.push_back("XDG_RUNTIME_DIR=" + runtime.toStdString());
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(path), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path, nullptr, nullptr, argv, envp.data()) != 0)
        return -1;
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

void measureStartup(benchmark::State& state, const char* name, const char* path) {
    for (auto _ : state) {
        QTemporaryDir folder;
        watcher().reset();
        const auto start = Clock::now();
        const pid_t pid = spawn(path, folder);
        if (pid <= 0) {
            state.SkipWithError("could not start the program");
            return;
        }
        const bool mapped = watcher().waitForMap(10000);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!mapped) {
            stop(pid);
            state.SkipWithError("no window was mapped within 10 s");
            return;
        }
        state.SetIterationTime(seconds);
        // Memory once the first paint and the deferred start-up work are done.
        usleep(400 * 1000);
        const double rss = residentMegabytes(pid);
        samples[name].push_back({seconds, rss});
        stop(pid);
    }
    const auto& s = samples[name];
    double rss = 0;
    for (const Sample& sample : s)
        rss += sample.residentMegabytes;
    state.counters["rss_MB"] = s.empty() ? 0 : rss / double(s.size());
}

void BM_BareWindowStartup(benchmark::State& state) {
    measureStartup(state, "bare", BREVLIN_BARE_WINDOW_PATH);
}
void BM_BrevlinStartup(benchmark::State& state) {
    measureStartup(state, "brevlin", BREVLIN_APP_PATH);
}

BENCHMARK(BM_BareWindowStartup)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrevlinStartup)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void printComparison() {
    std::vector<double> bareTimes, appTimes, bareRss, appRss;
    for (const Sample& s : samples["bare"]) {
        bareTimes.push_back(s.secondsToMap * 1000);
        bareRss.push_back(s.residentMegabytes);
    }
    for (const Sample& s : samples["brevlin"]) {
        appTimes.push_back(s.secondsToMap * 1000);
        appRss.push_back(s.residentMegabytes);
    }
    if (bareTimes.empty() || appTimes.empty())
        return;
    const double bareTime = median(bareTimes), appTime = median(appTimes);
    const double bareMem = median(bareRss), appMem = median(appRss);
    std::printf("\nStart-up to mapped window (median of %zu): bare Qt window %.1f ms, Brevlin "
                "%.1f ms, ratio %.2fx (goal at most 1.5x)\n",
                appTimes.size(), bareTime, appTime, appTime / bareTime);
    std::printf("Resident memory after start-up (median): bare Qt window %.1f MB, Brevlin %.1f MB, "
                "difference %+.1f MB, ratio %.2fx (goal at most +15 MB)\n",
                bareMem, appMem, appMem - bareMem, appMem / bareMem);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printComparison();
    return 0;
}
