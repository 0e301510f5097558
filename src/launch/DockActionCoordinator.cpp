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
    , m_launcher(platform) {
    refreshAccessibilityStatus();
}

// Held by a launch while it runs. At its end the turn passes to the launch that has waited
// longest. A launch dropped unfinished (its scheduler or the coordinator went away) passes
// nothing on: whatever would resume the next one is going away too.
class DockActionCoordinator::LaunchTurn {
public:
    LaunchTurn(DockActionCoordinator& owner, const QUuid& itemId)
        : m_owner(&owner) {
        owner.m_launchRunning = true;
        owner.m_runningItem = itemId;
        emit owner.launchStatesChanged();
    }
    LaunchTurn(const LaunchTurn&) = delete;
    LaunchTurn& operator=(const LaunchTurn&) = delete;
    ~LaunchTurn() { end(false); }

    void passOn() { end(true); }

private:
    void end(bool passOn) {
        DockActionCoordinator* owner = std::exchange(m_owner, nullptr);
        if (!owner)
            return;
        --owner->m_pendingLaunches;
        owner->m_runningItem.reset();
        emit owner->launchStatesChanged();
        if (!passOn || owner->m_waitingLaunches.empty()) {
            owner->m_launchRunning = false;
            return;
        }
        // The turn passes on directly, so a launch started in between still queues behind.
        auto next = std::move(owner->m_waitingLaunches.front());
        owner->m_waitingLaunches.pop_front();
        next(true);
    }

    QPointer<DockActionCoordinator> m_owner;
};

Task<void> DockActionCoordinator::launch(DockItem item, LauncherTimingSettings timing) {
    ++m_pendingLaunches;
    const bool waits = m_launchRunning;
    if (waits) {
        m_waitingItems.append(item.id);
        emit launchStatesChanged();
        co_await ContinuationAwaiter<bool>(m_platform.scheduler, [this](auto resume) {
            m_waitingLaunches.push_back(std::move(resume));
        });
        m_waitingItems.removeOne(item.id);
    }
    LaunchTurn turn(*this, item.id);
    std::optional<QString> message;
    bool missingAccess = false;
    try {
        // A launch cancelled while it waited for its turn ends here, before touching Figma.
        if (waits)
            co_await sleepFor(m_platform.scheduler, 0);
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
    turn.passOn();
}

LaunchState DockActionCoordinator::launchState(const QUuid& itemId) const {
    if (m_runningItem == itemId)
        return LaunchState::running;
    return m_waitingItems.contains(itemId) ? LaunchState::waiting : LaunchState::idle;
}

void DockActionCoordinator::startLaunch(const DockItem& item,
                                        const LauncherTimingSettings& timing) {
    startTask(m_platform.scheduler, launch(item, timing));
}

void DockActionCoordinator::refreshAccessibilityStatus() {
    m_platform.accessibility.checkProcessTrusted(false, trustAnswer());
}

std::function<void(bool)> DockActionCoordinator::trustAnswer() {
    return [self = QPointer<DockActionCoordinator>(this)](bool trusted) {
        if (!self)
            return;
        self->setTrusted(trusted);
        self->clearMessageAnsweredByTrust();
    };
}

void DockActionCoordinator::requestAccessibilityAccess() {
    m_platform.accessibility.checkProcessTrusted(true, trustAnswer());
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
