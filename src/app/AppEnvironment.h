#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace brevlin {

// What the process environment says about the desktop Brevlin was started in.
struct DisplaySituation {
    // An X server (directly, or XWayland inside a Wayland session) that Brevlin can use.
    bool hasX11Display = false;
    // A Wayland session: Brevlin runs through XWayland and reaches only X11 windows.
    bool isWaylandSession = false;
};

DisplaySituation displaySituation(const QProcessEnvironment& environment);

// The one line printed when there is no X11 display.
QString noDisplayMessage();
// The one-time notice for Wayland sessions.
QString waylandNotice();
// What Brevlin says before the desktop's remote-control portal asks the user for the keyboard;
// empty when nothing needs saying: it was said before, or the portal (before version 2, as KDE
// 5.27's) grants an unsandboxed caller without asking.
QString remoteControlExplanation(uint portalVersion, bool explainedBefore);

// The name of the local socket a running Brevlin listens on: one per user and display.
QString instanceServerName(const QProcessEnvironment& environment);

} // namespace brevlin
