#include "DockActionCoordinator.h"

#include <QPointer>

namespace brevlin {

namespace {
constexpr qint64 accessRecheckMilliseconds = 800;
}

const QString DockActionCoordinator::cancelledMessage = QStringLiteral("The launch was cancelled.");

DockActionCoordinator::DockActionCoordinator(LaunchPlatform platform, QObject* parent)
    : QObject(parent)
    , m_platform(platform)
    , m_launcher(platform)
    , m_isAccessibilityTrusted(platform.accessibility.isProcessTrusted(false)) {}

Task<void> DockActionCoordinator::launch(DockItem item, LauncherTimingSettings timing) {
    std::optional<QString> message;
    bool missingAccess = false;
    try {
        co_await m_launcher.launchPlugin(item.pluginName, timing);
    } catch (const FigmaLauncherError& error) {
        message = error.description();
        missingAccess = error.kind() == FigmaLauncherError::Kind::accessibilityDenied;
    } catch (const CancellationError&) {
        message = cancelledMessage;
    } catch (const std::exception& error) {
        message = QString::fromUtf8(error.what());
    }
    m_messageIsAboutAccess = missingAccess;
    setErrorMessage(std::move(message));
    refreshAccessibilityStatus();
}

void DockActionCoordinator::startLaunch(const DockItem& item,
                                        const LauncherTimingSettings& timing) {
    startTask(m_platform.scheduler, launch(item, timing));
}

void DockActionCoordinator::refreshAccessibilityStatus() {
    setTrusted(m_platform.accessibility.isProcessTrusted(false));
    clearMessageAnsweredByTrust();
}

void DockActionCoordinator::requestAccessibilityAccess() {
    setTrusted(m_platform.accessibility.isProcessTrusted(true));
    clearMessageAnsweredByTrust();
    // A grant made in answer to the prompt shows up here; a later one at the next launch.
    m_platform.scheduler.postAfter(accessRecheckMilliseconds,
                                   [self = QPointer<DockActionCoordinator>(this)] {
                                       if (self)
                                           self->refreshAccessibilityStatus();
                                   });
}

void DockActionCoordinator::clearMessageAnsweredByTrust() {
    // Only the message asking for access is settled by having it. Any other failure (Figma
    // missing, not coming to the front, a cancelled launch) stays shown until a launch succeeds:
    // clearing it here would make a click that did nothing look like one that worked.
    if (m_isAccessibilityTrusted && m_errorMessage && m_messageIsAboutAccess)
        setErrorMessage(std::nullopt);
}

void DockActionCoordinator::setTrusted(bool trusted) {
    m_isAccessibilityTrusted = trusted;
    emit isAccessibilityTrustedChanged();
}

void DockActionCoordinator::setErrorMessage(std::optional<QString> message) {
    m_errorMessage = std::move(message);
    emit errorMessageChanged();
}

} // namespace brevlin
