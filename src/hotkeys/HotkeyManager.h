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
class HotkeyManager {
public:
    using Trigger = std::function<void(const DockItem&)>;

    // The process-wide instance over the service and scheduler given to installPlatform, which
    // must be called before the first access.
    static HotkeyManager& shared();
    static void installPlatform(HotkeyService* service, Scheduler* scheduler);

    // Tests make their own over fakes.
    HotkeyManager(HotkeyService& service, Scheduler& scheduler);
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;
    ~HotkeyManager();

    void registerHotkeys(const QList<DockItem>& items, Trigger onTrigger);
    void unregisterAll();
    void handleHotKeyPress(EventHotKeyID hotKeyID);

    // Read-only views for the shell and tests.
    int registrationCount() const { return int(m_hotKeyItems.size()); }
    std::optional<DockItem> registeredItem(quint32 identifier) const;

private:
    HotkeyService& m_service;
    Scheduler& m_scheduler;
    QHash<quint32, HotkeyService::HotKeyRef> m_hotKeyRefs;
    QHash<quint32, DockItem> m_hotKeyItems;
    quint32 m_nextIdentifier = 1;
    Trigger m_onTrigger;
    // Presses already queued when the manager goes away find it expired.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace brevlin
