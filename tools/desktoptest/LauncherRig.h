#pragma once

// The real launcher over the Linux backends, as the end-to-end tests and the launch benchmarks
// drive it, and the outcome of one launch run to its end.

#include "../support/LaunchOutcome.h"
#include "launch/FigmaLauncher.h"
#include "launch/QtScheduler.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeyboard.h"

#include <QEventLoop>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

namespace brevlin::testing {

class LauncherRig {
public:
    // On X11: false where the display offers no XTest or no workspace.
    bool setUp() { return setUp(XTestKeyboard::create(), X11Workspace::create()); }
    // With the session's own keyboard and workspace.
    bool setUp(std::unique_ptr<Keyboard> keyboard, std::unique_ptr<WorkspaceApi> desktop) {
        keys = std::move(keyboard);
        workspace = std::move(desktop);
        if (!keys || !workspace)
            return false;
        launcher = std::make_unique<FigmaLauncher>(
            LaunchPlatform{accessibility, *keys, *workspace, scheduler});
        return true;
    }

    // Slower than the defaults: a shared CI machine may take a while to show the palette.
    static LauncherTimingSettings timing() {
        LauncherTimingSettings t = LauncherTimingSettings::defaults;
        t.focusDelayMilliseconds = 400;
        t.actionsOpenDelayMilliseconds = 300;
        t.postSearchDelayMilliseconds = 200;
        return t;
    }

    // Each test gets a window class of its own, so a window left over from another test can
    // never pass for the target.
    static QString wmClass() {
        return QStringLiteral("figma-%1")
            .arg(QString::fromLatin1(QTest::currentTestFunction()).toLower());
    }

    LaunchOutcome launch(const QString& pluginName, int timeoutMilliseconds,
                         const LauncherTimingSettings& settings = timing()) {
        return run(scheduler, launcher->launchPlugin(pluginName, settings), timeoutMilliseconds);
    }
    // Runs one launch to its end, or until the time runs out, in an event loop as the
    // application's: polling the loop would hold every answer of the bus up to the next poll.
    static LaunchOutcome run(Scheduler& scheduler, Task<void> task, int timeoutMilliseconds) {
        auto outcome = std::make_shared<LaunchOutcome>();
        QEventLoop loop;
        startTask(scheduler, std::move(task),
                  [outcome, waiting = QPointer<QEventLoop>(&loop)](std::exception_ptr error) {
                      outcome->end(error);
                      if (waiting)
                          waiting->quit();
                  });
        QTimer::singleShot(timeoutMilliseconds, &loop, &QEventLoop::quit);
        if (!outcome->finished)
            loop.exec();
        return *outcome;
    }

    QtScheduler scheduler;
    AtspiAccessibility accessibility;
    std::unique_ptr<Keyboard> keys;
    std::unique_ptr<WorkspaceApi> workspace;
    std::unique_ptr<FigmaLauncher> launcher;
};

} // namespace brevlin::testing
