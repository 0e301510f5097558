#pragma once

#include "launch/Workspace.h"

#include <QList>
#include <QSet>
#include <QString>

#include <memory>

class QWindow;

namespace brevlin {

namespace atspi {
class Bus;
}

// Applications on a Wayland desktop, where a client can neither list nor raise other clients'
// windows. An application identifier names a desktop entry as on X11; its running instance is
// found through the accessibility bus, whose applications name their processes: one counts when
// it shows a frame and its process is the entry's (one Brevlin started from it, or one whose
// command line is the entry's Exec), or its accessible name is the entry's name. On Wayland
// Chromium derives its app id itself and Electron takes it from the entry, so the window class an
// X11 desktop matches by says nothing here.
//
// The frontmost check asks the compositor where it can (on KWin a script reports every
// activation back over D-Bus), and otherwise reads the ACTIVE state of the application's frames
// on the accessibility bus, which Chromium publishes only once its accessibility is fully on.
// Bringing an application forward needs the compositor's help: on KWin a small script run through
// its D-Bus scripting interface activates the process's window. Elsewhere (GNOME) canActivate() is
// false, activate does nothing, and only a target already in front can be driven.
class KWinWorkspace : public WorkspaceApi {
public:
    KWinWorkspace();
    ~KWinWorkspace() override;

    // Whether the compositor lets Brevlin bring other windows forward (KWin's scripting).
    static bool canActivate();

    RunningApplicationPtr findRunning(const QString& applicationId) override;
    void start(const QString& applicationId, StartDone done) override;
    bool isFrontmost(const QString& applicationId) override;

    void setStartTimeoutMilliseconds(int milliseconds) {
        m_startTimeoutMilliseconds = milliseconds;
    }

    // Keeps Brevlin's own windows (its process) above the others, on every desktop and out of
    // the task bar, through a KWin script; false when the compositor is not KWin.
    static bool keepDockAbove();

    struct Shared;

private:
    std::shared_ptr<Shared> d;
    int m_startTimeoutMilliseconds = 30000;
};

// Runs `source` as a KWin script named `name` (replacing one of that name): unloads, loads and
// starts it through org.kde.KWin /Scripting without waiting for any answer.
void runKWinScript(const QString& name, const QString& source);

} // namespace brevlin
