#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace brevlin {

// One installed way of running Figma that a launch can drive: a desktop entry, and the class of
// the window that is Figma's. The class is matched against a window's WM_CLASS instance as well as
// its class: a browser names its web-app windows by instance ("crx_<app id>") and leaves the class
// to the browser, whose ordinary windows share it.
struct FigmaTarget {
    enum class Kind { desktopClient, webApp };

    // The application identifier: the desktop entry's id without ".desktop".
    QString applicationId;
    QString windowClass;
    // The entry's own name, as a menu shows it.
    QString name;
    Kind kind = Kind::desktopClient;
    // How it is installed, in words for the settings list ("Flatpak", "Chrome web app").
    QString installation;

    friend bool operator==(const FigmaTarget&, const FigmaTarget&) = default;
};

// What stands for Figma on a desktop. This is the launcher's knowledge; the platform only reads
// desktop entries and hands them here to be judged.
namespace figmaIdentity {

// The desktop clients' application identifiers, in the order they are preferred: the official
// identifier, then the community client as its deb, Flatpak and snap packages name it.
const QStringList& desktopClientIds();
// How the client with this identifier is installed ("deb package"), or empty for one not listed.
QString desktopClientInstallation(const QString& applicationId);

// Whether a desktop entry is a browser's installed web app for Figma: its id is shaped like a
// browser's web-app entry (chrome-<app id>-<profile>, likewise chromium-, brave-, msedge-) and its
// name or the URL it opens is Figma's.
bool isFigmaWebApp(const QString& applicationId, const QString& name, const QString& exec);
// The window class a browser gives the web app of this entry when the entry names none.
QString webAppWindowClass(const QString& applicationId);
// "Chrome web app" and the like, for an id isFigmaWebApp accepted.
QString webAppInstallation(const QString& applicationId);

// The launch error's advice when nothing is installed.
QString installAdvice();

} // namespace figmaIdentity

} // namespace brevlin
