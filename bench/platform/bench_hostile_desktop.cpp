// Walks through the accessibility backend over a stand-in that plays a hostile application:
// about 100,000 elements, a group that lists its own window among its children, a group whose
// children are new on every read, and names of a megabyte. Each walk waits for the application
// a bounded time and the next one goes on from where it stopped, so for each case this prints
// the slowest single walk (against the launch's own budgets), how many walks it took until one
// found a result of the palette and until one read everything within the walk limits, the
// elements listed, and this process's peak memory during the walks, what they left behind, and
// what is left once the backend's kept trees have expired.

#include "../common/MemoryFigures.h"
#include "AtspiRig.h"
#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"
#include "platform/linux/AtspiAccessibility.h"
#include "support/Searches.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <malloc.h>

using namespace brevlin;
using brevlin::bench::peakResidentKilobytes;
using brevlin::bench::resetPeak;
using brevlin::bench::residentKilobytes;

namespace {

constexpr int maximumWalks = 150;

long settledKilobytes() {
    ::malloc_trim(0);
    return residentKilobytes();
}

// What the allocator has handed out and not been given back, whatever it keeps from the system.
long allocatedKilobytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

double millisecondsOf(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

QString walksText(int walks) {
    return walks > 0 ? QString::number(walks) : QStringLiteral(">%1").arg(maximumWalks);
}

bool measure(testing::AtspiRig& rig, const char* name, const QStringList& arguments) {
    AtspiAccessibility& backend = rig.ax;
    testing::Searches& ui = rig.ui;
    testing::StandinProcess standin;
    if (!standin.start(QStringList{"--open-palette"} + arguments)) {
        std::fprintf(stderr, "%s: the stand-in did not start\n", name);
        return false;
    }
    const AccessibleElement application = rig.waitForApplication(standin.pid(), {}, 120000);
    if (application.isNull()) {
        std::fprintf(stderr, "%s: the stand-in is not on the accessibility bus\n", name);
        return false;
    }
    const long before = settledKilobytes();
    resetPeak();
    // As a launch searches: walk after walk, each a full search for a name that is not there.
    double slowestSearch = 0;
    double total = 0;
    int walksToResult = 0;
    int walksToComplete = 0;
    for (int walk = 1; walk <= maximumWalks && !walksToComplete; ++walk) {
        const double ms = millisecondsOf([&] {
            if (ui.findMatchingResult(application, "Not There"))
                std::printf("  unexpected match\n");
        });
        total += ms;
        slowestSearch = std::max(slowestSearch, ms);
        if (backend.lastWalkComplete())
            walksToComplete = walk;
        if (!walksToResult) {
            bool found = false;
            total += millisecondsOf(
                [&] { found = ui.findMatchingResult(application, "Autoflow").has_value(); });
            if (found)
                walksToResult = walk;
        }
        QThread::msleep(50); // the launch's pause between searches
    }
    double slowestTab = 0;
    for (int run = 0; run < 3; ++run)
        slowestTab = std::max(slowestTab, millisecondsOf([&] { ui.findPluginsTab(application); }));
    const long peak = peakResidentKilobytes();
    const std::size_t listed =
        ui.collectDescendants(application, FigmaUITraversal::searchDepth).size();
    standin.stop();
    const long after = settledKilobytes();
    std::printf("%-28s %6zu listed  slowest search %6.1f ms  Plugins tab %6.1f ms  walks to a "
                "result %4s  to all read %4s (%7.0f ms in all)  peak +%5.1f MB  left +%5.1f MB\n",
                name, listed, slowestSearch, slowestTab, qPrintable(walksText(walksToResult)),
                qPrintable(walksText(walksToComplete)), total, double(peak - before) / 1024,
                double(after - before) / 1024);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::AtspiRig rig;
    if (!rig.ax.isProcessTrusted(true)) {
        std::fprintf(stderr, "bench_hostile_desktop: accessibility is not available here\n");
        return 1;
    }
    std::printf("searches over a hostile stand-in through the backend (walk limit %zu elements, "
                "depth %d; the launch gives the result search %lld ms, the Plugins tab %lld ms):\n",
                FigmaUITraversal::maximumWalkElements, FigmaUITraversal::searchDepth,
                static_cast<long long>(FigmaLauncher::resultBudgetMilliseconds),
                static_cast<long long>(FigmaLauncher::pluginsTabBudgetMilliseconds));
    const long start = settledKilobytes();
    const long startAllocated = allocatedKilobytes();
    bool ok = measure(rig, "about 100,000 elements", {"--pad", "100000"});
    ok = measure(rig, "a child listing its window", {"--ancestor-loop"}) && ok;
    ok = measure(rig, "children new on every read", {"--churning-children"}) && ok;
    ok = measure(rig, "4 names of a megabyte", {"--long-names", "1048576"}) && ok;
    const long walked = settledKilobytes();
    const long walkedAllocated = allocatedKilobytes();
    // The kept trees expire 30 s after they were started, walked again or not.
    QElapsedTimer waiting;
    waiting.start();
    while (waiting.elapsed() < 31000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        QThread::msleep(100);
    }
    std::printf("memory against the start: resident +%.1f MB after all four, +%.1f MB once the "
                "kept trees have expired; allocated +%.1f MB and +%.1f MB\n",
                double(walked - start) / 1024, double(settledKilobytes() - start) / 1024,
                double(walkedAllocated - startAllocated) / 1024,
                double(allocatedKilobytes() - startAllocated) / 1024);
    return ok ? 0 : 1;
}
