#pragma once

// The waits a launch prescribes with fixed waits, from the hotkey press to the press of the
// result, read from the launcher and its default timing: what a launch cannot go below.

#include "launch/FigmaLauncher.h"
#include "model/DockItem.h"

namespace brevlin::bench {

struct LaunchFloor {
    double focus;   // focus wait, up to Command-K
    double toFirst; // Actions palette opening, tab poll and field pause
    double typing;  // first to last character
    double toRun;   // last character to the run: its pause and the post-search wait
    double total() const { return focus + toFirst + typing + toRun; }
};

inline LaunchFloor launchFloor(const QString& pluginName,
                               const LauncherTimingSettings& t = LauncherTimingSettings::defaults) {
    const double characters = double(pluginName.size());
    return {double(t.focusDelayMilliseconds),
            double(t.actionsOpenDelayMilliseconds +
                   FigmaLauncher::defaultUIPollIntervalMilliseconds +
                   FigmaLauncher::fieldSettleMilliseconds),
            (characters - 1) * double(t.typingCharacterDelayMilliseconds),
            double(t.typingCharacterDelayMilliseconds + t.postSearchDelayMilliseconds)};
}

} // namespace brevlin::bench
