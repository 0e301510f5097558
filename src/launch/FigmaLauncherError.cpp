#include "FigmaLauncherError.h"

#include "FigmaTarget.h"

namespace brevlin {

QString figmaLauncherErrorDescription(FigmaLauncherError::Kind kind, const QString& message,
                                      TextPlatform platform) {
    const bool mac = platform == TextPlatform::macOS;
    switch (kind) {
    case FigmaLauncherError::Kind::launchFailed:
        return message;
    case FigmaLauncherError::Kind::accessibilityDenied:
        return mac ? QStringLiteral("Brevlin needs Accessibility access to control Figma. Grant "
                                    "access in System Settings > Privacy & Security > "
                                    "Accessibility.")
                   : QStringLiteral("Brevlin needs Accessibility access to control Figma. Turn on "
                                    "assistive technologies (accessibility) in your desktop's "
                                    "settings, or click the hand button in the dock, then restart "
                                    "Figma.");
    case FigmaLauncherError::Kind::figmaNotInstalled:
        return mac ? QStringLiteral("Figma Desktop could not be found in your Applications folder.")
                   : QStringLiteral(
                         "Figma could not be found among your installed applications. ") +
                         figmaIdentity::installAdvice();
    case FigmaLauncherError::Kind::eventSourceUnavailable:
        return QStringLiteral("Brevlin could not create a keyboard event source.");
    case FigmaLauncherError::Kind::eventCreationFailed:
        return QStringLiteral(
            "Brevlin could not create the keyboard events needed to launch the plugin.");
    case FigmaLauncherError::Kind::focusLost:
        return QStringLiteral("Figma lost the focus during the launch, so Brevlin stopped and "
                              "typed nothing more.");
    }
    return message;
}

QString FigmaLauncherError::description() const {
    return figmaLauncherErrorDescription(m_kind, m_message, currentTextPlatform());
}

} // namespace brevlin
