#pragma once

#include "launch/FigmaTarget.h"

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
// XDG_DATA_DIRS), then in the folders Flatpak and snap export their entries to, which a session
// started without their profile scripts leaves out of XDG_DATA_DIRS.
std::optional<DesktopEntry> desktopEntryFor(const QString& applicationId);

// What is installed of Figma, in the order a launch prefers it: the desktop clients in the
// launcher's order, then the browsers' web apps for Figma by entry id. An entry whose program
// is not installed (its browser removed) does not count, as GIO has it.
QList<FigmaTarget> installedFigmaTargets();

} // namespace brevlin
