// Walks through the accessibility backend over a stand-in that plays a hostile application:
// about 100,000 elements, a group that lists its own window among its children, a group whose
// children are new on every read, and names of a megabyte. Prints for each the time of a full
// search (a name that is not there), the elements listed, and this process's peak memory during
// the walks and what they left behind, against the launch's own budgets.

#include "../common/MemoryFigures.h"
#include "DesktopTestSupport.h"
#include "launch/FigmaUITraversal.h"
#include "platform/linux/AtspiAccessibility.h"

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

const QStringList traversal = {"AXFocusedWindow", "AXMainWindow", "AXWindows", "AXChildren",
                               "AXContents"};

long settledKilobytes() {
    ::malloc_trim(0);
    return residentKilobytes();
}

bool measure(AtspiAccessibility& backend, const char* name, const QStringList& arguments) {
    FigmaUITraversal ui(backend, traversal);
    testing::StandinProcess standin;
    QElapsedTimer started;
    started.start();
    if (!standin.start(QStringList{"--open-palette"} + arguments)) {
        std::fprintf(stderr, "%s: the stand-in did not start\n", name);
        return false;
    }
    AXElement application;
    while (started.elapsed() < 120000) {
        application = backend.applicationElement(standin.pid());
        if (!application.isNull() && !ui.elementsAttribute(application, "AXWindows").empty())
            break;
        QThread::msleep(50);
    }
    if (application.isNull()) {
        std::fprintf(stderr, "%s: the stand-in is not on the accessibility bus\n", name);
        return false;
    }
    const long before = settledKilobytes();
    resetPeak();
    constexpr int runs = 3;
    double total = 0;
    double slowest = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        if (ui.findMatchingResult(application, "Not There"))
            std::printf("  unexpected match\n");
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        total += ms;
        slowest = std::max(slowest, ms);
    }
    const long peak = peakResidentKilobytes();
    const long after = settledKilobytes();
    const std::size_t listed =
        ui.collectDescendants(application, FigmaUITraversal::searchDepth).size();
    std::printf("%-34s %6zu elements  mean %9.1f ms  slowest %9.1f ms  walk peak +%6.1f MB  "
                "left after +%6.1f MB\n",
                name, listed, total / runs, slowest, double(peak - before) / 1024,
                double(after - before) / 1024);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    AtspiAccessibility backend;
    if (!backend.isProcessTrusted(true)) {
        std::fprintf(stderr, "bench_hostile_desktop: accessibility is not available here\n");
        return 1;
    }
    std::printf("full search over a hostile stand-in through the backend (walk limit %zu "
                "elements, depth %d; the launch gives the result search 120 ms, the Plugins tab "
                "180 ms):\n",
                FigmaUITraversal::maximumWalkElements, FigmaUITraversal::searchDepth);
    bool ok = measure(backend, "about 100,000 elements", {"--pad", "100000"});
    ok = measure(backend, "a child listing its window", {"--ancestor-loop"}) && ok;
    ok = measure(backend, "children new on every read", {"--churning-children"}) && ok;
    ok = measure(backend, "4 names of a megabyte", {"--long-names", "1048576"}) && ok;
    return ok ? 0 : 1;
}
