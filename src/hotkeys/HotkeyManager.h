#pragma once

#include "HotkeyService.h"
#include "launch/Scheduler.h"
#include "model/DockItem.h"

#include <QHash>
#include <QList>

#include <functional>
#include <memory>
#include <optional>

namespace brevlin {

// One system-wide hotkey per shortcut with a usable hotkey; a press calls onTrigger with the item
// as registered, always in a later main-queue turn.
//
// The application makes one in main, after the service and the scheduler and before whatever
// hands it shortcuts, so it goes before the service and the scheduler and after its users.
class HotkeyManager {
public:
    using Trigger = std::function<void(const DockItem&)>;

    // Takes the service's presses for its whole life; both must outlive it.
    HotkeyManager(HotkeyService& service, Scheduler& scheduler);
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;
    // Releases its registrations and the press handler: the service reports nothing to it after.
    ~HotkeyManager();

    void registerHotkeys(const QList<DockItem>& items, Trigger onTrigger);
    void unregisterAll();
    void handleHotkeyPress(HotkeyService::HotkeyId identifier);

    // Read-only views for the shell and tests.
    int registrationCount() const { return int(m_hotkeyItems.size()); }
    std::optional<DockItem> registeredItem(quint32 identifier) const;

private:
    HotkeyService& m_service;
    Scheduler& m_scheduler;
    QHash<quint32, DockItem> m_hotkeyItems;
    quint32 m_nextIdentifier = 1;
    Trigger m_onTrigger;
    // Presses already queued when the manager goes away find it expired.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace brevlin
