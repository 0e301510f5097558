#pragma once

#include "launch/FigmaTarget.h"
#include "launch/Workspace.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace brevlin {

// An installed desktop entry, as GIO reads it.
struct DesktopEntry {
    // The entry's id without ".desktop".
    QString applicationId;
    QString path;
    QString name;
    QString exec;
    // StartupWMClass; without one, the class a toolkit or browser gives the entry's windows.
    QString windowClass;
};

// The entry of an application identifier: first where GIO looks (XDG_DATA_HOME and
// XDG_DATA_DIRS), then the file there by path (GIO learns of an entry written a moment ago only
// when its file monitor fires), then in the folders Flatpak and snap export their entries to,
// which a session started without their profile scripts leaves out of XDG_DATA_DIRS.
std::optional<DesktopEntry> desktopEntryFor(const QString& applicationId);

// Entries by application identifier as a workspace's checks need them. A launch reads its
// target's entry afresh when it finds or starts it, and its frontmost checks (one before every key)
// use what that read gave: reading the entry each time would cost more than the rest of the check,
// and a check must look for the window the launch drives, not one an entry replaced since gave. An
// entry older than a moment is read again, so a changed entry is seen soon.
class DesktopEntryCache {
public:
    static constexpr qint64 lifetimeMs = 2000;

    std::optional<DesktopEntry> entry(const QString& applicationId, bool fresh = false);

private:
    struct Kept {
        std::optional<DesktopEntry> entry;
        QElapsedTimer age;
    };
    QHash<QString, Kept> m_kept;
};

// Launches the entry through GIO, as a desktop's launcher does, and reports it started once
// `find` names a running instance (asked every `pollMilliseconds`), which is then activated; or
// notInstalled without an entry, or failed when the program cannot run or no instance shows within
// `timeoutMilliseconds`. `launched` hears the process GIO started. Needs a running Qt event loop.
void startDesktopEntry(const std::optional<DesktopEntry>& entry,
                       std::function<RunningApplicationPtr()> find, WorkspaceApi::StartDone done,
                       int timeoutMilliseconds, int pollMilliseconds,
                       std::function<void(qint64 pid)> launched = {});

// What is installed of Figma, in the order a launch prefers it: the desktop clients in the
// launcher's order, then the browsers' web apps for Figma by entry id. An entry whose program
// is not installed (its browser removed) does not count, as GIO has it.
QList<FigmaTarget> installedFigmaTargets();

} // namespace brevlin
