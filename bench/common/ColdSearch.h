#pragma once

// A full search for a name that is not there, over an application the backend has not read
// yet: each walk waits for the application a bounded time and the next goes on from there, so
// the search repeats until a walk has read everything. Returns the walks it took.

#include "launch/FigmaUITraversal.h"
#include "platform/linux/AtspiAccessibility.h"

namespace brevlin::bench {

inline int searchUntilAllRead(AtspiAccessibility& backend, const FigmaUITraversal& ui,
                              const AXElement& application, int maximumWalks = 100) {
    int walks = 0;
    do {
        if (ui.findMatchingResult(application, QStringLiteral("No Such Plugin")))
            return -1;
        ++walks;
    } while (!backend.lastWalkComplete() && walks < maximumWalks);
    return walks;
}

} // namespace brevlin::bench
