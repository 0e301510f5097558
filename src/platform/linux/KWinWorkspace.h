#pragma once

#include "launch/Workspace.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QWindow;

namespace brevlin {

// A window as KWin's scripting describes it.
struct KWinWindow {
    QString id; // KWin's internal id
    qint64 pid = 0;
    QString appId;         // desktopFileName: the Wayland app id, or the entry KWin matched
    QString resourceClass; // X11 WM_CLASS class; on Wayland the app id again
    QString resourceName;  // X11 WM_CLASS instance
    QString caption;
    bool normal = false;
    bool keepAbove = false;
    bool skipTaskbar = false;
};

// Applications on a Wayland desktop, where a client can neither list nor raise other clients'
// windows. An application identifier names a desktop entry as on X11 (found as desktopEntryFor
// finds it, read once per findRunning or start), and its windows are those whose app id is the
// entry's id, or whose app id or class is the entry's window class (StartupWMClass, or what the
// browser names its web app's windows). A browser's web app shares the browser's process, so
// the process alone would name the browser's ordinary windows too.
//
// Where no window carries the entry's identity (Chromium ignores --class on Wayland and derives
// its app id itself), the instance is found by process through the accessibility bus, whose
// applications name their processes: one counts when it shows a frame and its process is the
// entry's (one Brevlin started from it, or one whose command line is the entry's Exec), or its
// accessible name is the entry's name.
//
// On KWin a script reports the compositor's windows and every activation back over D-Bus, so the
// frontmost check is the compositor's own word, and a window is brought forward by a script run
// through KWin's scripting interface. Elsewhere (GNOME) the frontmost check reads the ACTIVE state
// of the application's frames on the accessibility bus, canActivate() is false, activate does
// nothing, and only a target already in front can be driven.
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

    // KWin's windows as its script last reported them, oldest first, and the active one; nothing
    // before the first report or away from KWin.
    QList<KWinWindow> windows() const;
    std::optional<KWinWindow> activeWindow() const;

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
// Stops and unloads the KWin script named `name`, without waiting for any answer.
void unloadKWinScript(const QString& name);

} // namespace brevlin
