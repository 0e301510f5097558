#pragma once

#include "FigmaLauncher.h"
#include "Task.h"
#include "model/DockItem.h"

#include <QObject>
#include <QString>

#include <optional>

namespace brevlin {

// The one object through which the application launches shortcuts and learns whether it may
// control Figma. Published values notify on every assignment.
class DockActionCoordinator : public QObject {
    Q_OBJECT
public:
    explicit DockActionCoordinator(LaunchPlatform platform, QObject* parent = nullptr);

    // The message of a launch whose task was cancelled.
    static const QString cancelledMessage;

    bool isAccessibilityTrusted() const { return m_isAccessibilityTrusted; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }

    // The timing launches are started with; the shell keeps it in step with the store.
    LauncherTimingSettings launcherTiming = LauncherTimingSettings::defaults;

    FigmaLauncher& launcher() { return m_launcher; }

    // Never fails: the outcome lands in errorMessage.
    Task<void> launch(DockItem item, LauncherTimingSettings timing);
    // Starts launch(item, timing) as a new main-thread task and returns at once.
    void startLaunch(const DockItem& item, const LauncherTimingSettings& timing);

    // Both re-read the trust; finding it granted clears the message of an accessibilityDenied
    // failure and no other.
    void refreshAccessibilityStatus();
    void requestAccessibilityAccess();

signals:
    void isAccessibilityTrustedChanged();
    void errorMessageChanged();

private:
    void clearMessageAnsweredByTrust();
    void setTrusted(bool trusted);
    void setErrorMessage(std::optional<QString> message);

    LaunchPlatform m_platform;
    FigmaLauncher m_launcher;
    bool m_isAccessibilityTrusted = false;
    std::optional<QString> m_errorMessage;
    // Whether m_errorMessage asks for accessibility access, the one failure a trust check ends.
    bool m_messageIsAboutAccess = false;
};

} // namespace brevlin
