#pragma once

#include "FigmaLauncher.h"
#include "LaunchState.h"
#include "Task.h"
#include "model/DockItem.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <deque>
#include <functional>
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

    // Never fails: the outcome lands in errorMessage. Launches run one at a time, in the order
    // they were started: one started while another runs waits for it to end, so two keystroke
    // sequences never interleave in Figma.
    Task<void> launch(DockItem item, LauncherTimingSettings timing);
    // Launches started and not yet over, the running one included.
    int pendingLaunchCount() const { return m_pendingLaunches; }
    // Running while a launch of the shortcut with this id runs, else waiting while one waits for
    // its turn. Changes are announced by launchStatesChanged.
    LaunchState launchState(const QUuid& itemId) const;
    // Starts launch(item, timing) as a new main-thread task and returns at once.
    void startLaunch(const DockItem& item, const LauncherTimingSettings& timing);

    // Both ask without blocking; the answer lands in isAccessibilityTrusted when it comes (at
    // once with a backend that answers at once). Finding it granted clears the message of an
    // accessibilityDenied failure and no other.
    void refreshAccessibilityStatus();
    void requestAccessibilityAccess();

    // Shows in the dock's marker what this desktop does not let Brevlin do, until a launch
    // succeeds.
    void reportLimitation(const QString& message) { setErrorMessage(message); }

signals:
    void isAccessibilityTrustedChanged();
    void errorMessageChanged();
    void launchStatesChanged();

private:
    class LaunchTurn;
    std::function<void(bool)> trustAnswer();
    void clearMessageAnsweredByTrust();
    void setTrusted(bool trusted);
    void setErrorMessage(std::optional<QString> message);

    LaunchPlatform m_platform;
    FigmaLauncher m_launcher;
    // Until the first answer comes, the dock shows no prompt: most people have granted access,
    // and a prompt flashing at every start would be wrong for them.
    bool m_isAccessibilityTrusted = true;
    std::optional<QString> m_errorMessage;
    // Whether m_errorMessage asks for accessibility access, the one failure a trust check ends.
    bool m_messageIsAboutAccess = false;
    bool m_launchRunning = false;
    int m_pendingLaunches = 0;
    std::optional<QUuid> m_runningItem;
    // One entry per waiting launch, so two clicks on one shortcut behind a third stay apart.
    QList<QUuid> m_waitingItems;
    // Launches waiting for their turn, first come first served.
    std::deque<std::function<void(bool)>> m_waitingLaunches;
};

} // namespace brevlin
