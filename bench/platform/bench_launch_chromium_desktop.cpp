// The real launcher against the Chromium-hosted palette on pages of 0, 2,500 and 10,000 rows:
// the latency from the start of a launch to the result's run by the page's own clock, at first
// contact (the first launch ever to ask that Chromium for its tree), cold (the first launch of a
// fresh backend that asked the running Chromium for its tree 3 s before, as the application
// does when it starts) and warm (median of 10), the bus
// requests per launch, the longest the main thread was held during a launch (the lateness of a
// 5 ms timer), and the CPU the process spends idle for 20 s after a launch while the page
// changes 60 times a second. Runs inside a desktop session (scripts/run-benchmarks).

#include "../common/LaunchFloor.h"
#include "DesktopTestSupport.h"
#include "LauncherRig.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

// The waits a launch prescribes at the default timing, up to the press.
const double floorMs = brevlin::bench::launchFloor(QStringLiteral("Content Reel")).total();

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : (v[v.size() / 2] + v[(v.size() - 1) / 2]) / 2;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Launch {
    bool pressed = false;
    // Anything run but Content Reel, whichever way: the one outcome worse than running nothing.
    int wrongRuns = 0;
    double latencyMs = 0;
    double requests = 0;
    double stallMs = 0;
};

// One launch of Content Reel at the default timing through the shared launcher rig, with the
// main thread's longest stall, the requests it took and its latency by the page's clock.
Launch launch(LauncherRig& rig, const ChromiumPalette& chromium) {
    Launch result;
    const int runsBefore = int(chromium.state().runs.size());
    const quint64 requestsBefore = rig.accessibility.requestCount();
    // A timer due every 5 ms: how late it fires is how long the main thread was held.
    QElapsedTimer tick;
    tick.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        result.stallMs = std::max(result.stallMs, double(tick.restart()) - 5);
    });
    probe.start(5);
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    rig.launch(QStringLiteral("Content Reel"), 20000, LauncherTimingSettings::defaults);
    probe.stop();
    result.requests = double(rig.accessibility.requestCount() - requestsBefore);
    chromium.waitFor([&](const PaletteState& s) { return int(s.runs.size()) > runsBefore; }, 3000);
    const PaletteState s = chromium.state();
    result.pressed = int(s.runs.size()) > runsBefore && s.runs.last().endsWith("/press");
    for (int i = runsBefore; i < int(s.runs.size()); ++i)
        result.wrongRuns += s.runs[i].section('/', 0, 0) == QLatin1String("Content Reel") ? 0 : 1;
    // A launch that ran nothing has no latency, only its failure counted.
    result.latencyMs = int(s.runs.size()) > runsBefore ? s.runAt - double(started) : -1;
    return result;
}

// A Chromium showing the page, running for a while already (the page settled).
bool startChromium(ChromiumPalette& chromium, const QString& page) {
    if (!chromium.start(page, QStringLiteral("figma-bench")))
        return false;
    QTest::qWait(2000);
    return true;
}

// `shape`: more of the page's query, for instance "layer=0".
void measure(int rows, const QString& shape) {
    QString page =
        rows > 0 ? QStringLiteral("inputs=5&rows=%1&churn=1").arg(rows) : QStringLiteral("churn=1");
    if (!shape.isEmpty())
        page += '&' + shape;
    const QByteArray name =
        QStringLiteral("%1 rows%2%3").arg(rows, 6).arg(shape.isEmpty() ? "" : " ", shape).toUtf8();
    QTemporaryDir profile;
    installChromiumPaletteEntry(page, QStringLiteral("figma-bench"), profile.path());
    ChromiumPalette chromium;
    // The first launch ever to ask this Chromium for its tree: it builds the tree meanwhile.
    Launch firstContact;
    {
        LauncherRig rig;
        if (!startChromium(chromium, page) || !rig.setUp()) {
            std::printf("%s: Chromium did not start, or no XTest or workspace\n", name.data());
            return;
        }
        firstContact = launch(rig, chromium);
    }
    // As the application starts: the running target asked for its tree ahead, a first launch a
    // few seconds later.
    LauncherRig rig;
    if (!startChromium(chromium, page) || !rig.setUp()) {
        std::printf("%s: Chromium did not start again\n", name.data());
        return;
    }
    rig.launcher->prepareRunningTarget();
    QTest::qWait(3000);
    const Launch cold = launch(rig, chromium);
    std::vector<double> latencies, requests;
    int pressed = cold.pressed ? 1 : 0;
    int wrongRuns = cold.wrongRuns;
    double longestStall = cold.stallMs;
    for (int i = 0; i < 10; ++i) {
        QTest::qWait(300);
        const Launch warm = launch(rig, chromium);
        pressed += warm.pressed ? 1 : 0;
        wrongRuns += warm.wrongRuns;
        if (warm.latencyMs >= 0)
            latencies.push_back(warm.latencyMs);
        requests.push_back(warm.requests);
        longestStall = std::max(longestStall, warm.stallMs);
    }
    const double cpuBefore = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    // Idle as the application is, in its event loop: QTest::qWait wakes every few milliseconds
    // and would be counted as the launcher's.
    QEventLoop idleLoop;
    QTimer::singleShot(20000, &idleLoop, &QEventLoop::quit);
    idleLoop.exec();
    const double idlePercent = 100 * (cpuSeconds() - cpuBefore) / (double(idle.elapsed()) / 1000);
    const AtspiAccessibility::AnchorCounts anchors = rig.accessibility.anchorCounts();
    std::printf("%s: first contact %.0f ms (%.0f requests), cold %.0f ms (floor%+.0f, %.0f "
                "requests), warm median %.0f ms (floor%+.0f, %.0f requests), pressed %d/11, wrong "
                "runs %d, longest stall %.0f ms, idle CPU %.2f%%, palette from focus event %d / "
                "focus query %d / not found %d\n",
                name.data(), firstContact.latencyMs, firstContact.requests, cold.latencyMs,
                cold.latencyMs - floorMs, cold.requests, median(latencies),
                median(latencies) - floorMs, median(requests), pressed, wrongRuns, longestStall,
                idlePercent, anchors.fromFocusEvent, anchors.fromFocusQuery, anchors.none);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (!insideDesktopSession() || !setAccessibilityEnabled(true)) {
        std::printf("runs only inside scripts/desktop-session\n");
        return 1;
    }
    std::printf(
        "Launch latency by the page's clock, Content Reel, default timing (floor %.0f ms)\n",
        floorMs);
    // Page sizes may be named on the command line, each perhaps with more of the page's query
    // ("2500&layer=0"); by default all three.
    QStringList pages;
    for (int i = 1; i < argc; ++i)
        pages << QString::fromLocal8Bit(argv[i]);
    if (pages.empty())
        pages = {QStringLiteral("0"), QStringLiteral("2500"), QStringLiteral("10000")};
    for (const QString& page : pages)
        measure(page.section('&', 0, 0).toInt(), page.section('&', 1));
    removeStandinEntries();
    return 0;
}
