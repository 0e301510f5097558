#include "AppEnvironment.h"

#include <QDir>
#include <QRegularExpression>

namespace brevlin {

DisplaySituation displaySituation(const QProcessEnvironment& environment) {
    DisplaySituation situation;
    situation.hasX11Display = !environment.value(QStringLiteral("DISPLAY")).trimmed().isEmpty();
    situation.isWaylandSession =
        !environment.value(QStringLiteral("WAYLAND_DISPLAY")).trimmed().isEmpty() ||
        environment.value(QStringLiteral("XDG_SESSION_TYPE"))
                .compare(QStringLiteral("wayland"), Qt::CaseInsensitive) == 0;
    return situation;
}

QString noDisplayMessage() {
    return QStringLiteral("Brevlin needs an X11 desktop session, and no X11 display was found "
                          "(DISPLAY is not set).");
}

QString waylandNotice() {
    return QStringLiteral(
        "This is a Wayland session, so Brevlin runs through XWayland. Its global hotkeys and the "
        "keys it sends reach only X11 windows: they work while Figma runs under XWayland, and "
        "hotkeys pressed in native Wayland windows are not seen.");
}

QString remoteControlExplanation(uint portalVersion, bool explainedBefore) {
    if (explainedBefore || portalVersion < 2)
        return {};
    return QStringLiteral(
        "Brevlin launches plugins by typing into Figma, as you would. On Wayland it needs the "
        "desktop's permission to send keys: your desktop will now ask whether Brevlin may control "
        "the keyboard (remote control). Brevlin sends keys only while a launch runs, and only "
        "while Figma is in front.");
}

QString instanceServerName(const QProcessEnvironment& environment) {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    QString display = environment.value(QStringLiteral("DISPLAY"));
    display.replace(unsafe, QStringLiteral("_"));
    const QString runtimeDir = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    // The runtime folder is the user's own; elsewhere the user's name keeps users apart.
    if (!runtimeDir.isEmpty() && QDir(runtimeDir).exists())
        return QDir(runtimeDir).filePath(QStringLiteral("brevlin-display%1.socket").arg(display));
    QString user =
        environment.value(QStringLiteral("USER"), environment.value(QStringLiteral("LOGNAME")));
    user.replace(unsafe, QStringLiteral("_"));
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("brevlin-%1-display%2.socket").arg(user, display));
}

} // namespace brevlin
