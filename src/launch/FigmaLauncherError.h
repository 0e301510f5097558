#pragma once

#include "model/TextPlatform.h"

#include <QString>

#include <exception>
#include <string>

namespace brevlin {

// How a launch fails. Every case carries the text the dock shows for it.
class FigmaLauncherError : public std::exception {
public:
    enum class Kind {
        launchFailed,
        accessibilityDenied,
        figmaNotInstalled,
        eventSourceUnavailable,
        eventCreationFailed,
        // Another window took the focus during the launch; no key was sent after that.
        focusLost,
    };

    static FigmaLauncherError launchFailed(QString message) {
        return FigmaLauncherError(Kind::launchFailed, std::move(message));
    }
    static FigmaLauncherError accessibilityDenied() {
        return FigmaLauncherError(Kind::accessibilityDenied);
    }
    static FigmaLauncherError figmaNotInstalled() {
        return FigmaLauncherError(Kind::figmaNotInstalled);
    }
    static FigmaLauncherError eventSourceUnavailable() {
        return FigmaLauncherError(Kind::eventSourceUnavailable);
    }
    static FigmaLauncherError eventCreationFailed() {
        return FigmaLauncherError(Kind::eventCreationFailed);
    }
    static FigmaLauncherError focusLost() { return FigmaLauncherError(Kind::focusLost); }

    Kind kind() const { return m_kind; }
    // The payload of launchFailed; empty for the other cases.
    const QString& message() const { return m_message; }
    // The user-facing text.
    QString description() const;
    const char* what() const noexcept override { return m_what.c_str(); }

    friend bool operator==(const FigmaLauncherError& a, const FigmaLauncherError& b) {
        return a.m_kind == b.m_kind && a.m_message == b.m_message;
    }

private:
    explicit FigmaLauncherError(Kind kind, QString message = {})
        : m_kind(kind)
        , m_message(std::move(message))
        , m_what(description().toStdString()) {}

    Kind m_kind;
    QString m_message;
    std::string m_what;
};

// Where a case's wording depends on where the user has to go to fix it.
QString figmaLauncherErrorDescription(FigmaLauncherError::Kind kind, const QString& message,
                                      TextPlatform platform);

} // namespace brevlin
