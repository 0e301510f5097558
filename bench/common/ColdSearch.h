#pragma once

// A full search for a name that is not there, over an application the backend has not read
// yet: each walk waits for the application a bounded time and the next goes on from there, so
// the search repeats until a walk has read everything. Returns the walks it took.

#include "AtspiRig.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace brevlin::bench {

inline int searchUntilAllRead(AtspiAccessibility& backend, brevlin::testing::Searches& ui,
                              const AccessibleElement& application, int maximumWalks = 100) {
    int walks = 0;
    do {
        if (ui.findMatchingResult(application, QStringLiteral("No Such Plugin")))
            return -1;
        ++walks;
    } while (!backend.lastWalkComplete() && walks < maximumWalks);
    return walks;
}

// The warm search: the backend's kept tree answers, one request a walk.
inline void measureWarmSearch(benchmark::State& state, AtspiAccessibility& backend,
                              brevlin::testing::Searches& ui, const AccessibleElement& application,
                              std::size_t elements) {
    const quint64 before = backend.requestCount();
    for (auto _ : state) {
        auto found = ui.findMatchingResult(application, QStringLiteral("No Such Plugin"));
        benchmark::DoNotOptimize(found);
    }
    state.counters["elements"] = double(elements);
    state.counters["requests"] =
        double(backend.requestCount() - before) / double(state.iterations());
}

// The first walks of an application (or those after the kept tree has expired): a new backend
// each time reads everything, a level's requests at a time, over as many walks as it takes.
inline void measureColdSearch(benchmark::State& state, qint64 processIdentifier) {
    quint64 requests = 0;
    int walks = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto rig = std::make_unique<testing::AtspiRig>();
        rig->ax.isProcessTrusted(false);
        const AccessibleElement app = rig->ax.applicationElement(processIdentifier);
        const quint64 before = rig->ax.requestCount();
        state.ResumeTiming();
        const int walked = searchUntilAllRead(rig->ax, rig->ui, app);
        state.PauseTiming();
        walks += walked;
        requests += rig->ax.requestCount() - before;
        rig.reset();
        state.ResumeTiming();
    }
    state.counters["requests"] = double(requests) / double(state.iterations());
    state.counters["walks"] = double(walks) / double(state.iterations());
}

} // namespace brevlin::bench
