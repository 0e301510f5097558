#include "HotkeyManager.h"

namespace brevlin {

namespace {
HotkeyService* installedService = nullptr;
Scheduler* installedScheduler = nullptr;
} // namespace

void HotkeyManager::installPlatform(HotkeyService* service, Scheduler* scheduler) {
    installedService = service;
    installedScheduler = scheduler;
}

HotkeyManager& HotkeyManager::shared() {
    Q_ASSERT_X(installedService && installedScheduler, "HotkeyManager::shared",
               "installPlatform must come first");
    static HotkeyManager instance(*installedService, *installedScheduler);
    return instance;
}

HotkeyManager::HotkeyManager(HotkeyService& service, Scheduler& scheduler)
    : m_service(service)
    , m_scheduler(scheduler) {
    // The handler only reads the identifier; the rest waits for a later main-queue turn, after
    // whatever the main thread is doing when the key is pressed.
    m_service.installHandler([alive = std::weak_ptr<int>(m_alive), this](EventHotKeyID id) {
        if (alive.expired())
            return;
        m_scheduler.post([alive, this, id] {
            if (!alive.expired())
                handleHotKeyPress(id);
        });
    });
}

HotkeyManager::~HotkeyManager() = default;

void HotkeyManager::registerHotkeys(const QList<DockItem>& items, Trigger onTrigger) {
    unregisterAll();
    m_onTrigger = std::move(onTrigger);
    for (const DockItem& item : items) {
        const std::optional<quint32> keyCode = item.hotkey.keyCode();
        if (!keyCode)
            continue;
        HotkeyService::HotKeyRef ref = 0;
        const int status =
            m_service.registerHotKey(*keyCode, item.hotkey.carbonModifierMask(),
                                     EventHotKeyID{hotkeySignature, m_nextIdentifier}, &ref);
        if (status != 0 || ref == 0)
            continue;
        m_hotKeyRefs.insert(m_nextIdentifier, ref);
        m_hotKeyItems.insert(m_nextIdentifier, item);
        ++m_nextIdentifier;
    }
}

void HotkeyManager::unregisterAll() {
    for (const HotkeyService::HotKeyRef ref : std::as_const(m_hotKeyRefs))
        m_service.unregisterHotKey(ref);
    m_hotKeyRefs.clear();
    m_hotKeyItems.clear();
    m_nextIdentifier = 1;
}

void HotkeyManager::handleHotKeyPress(EventHotKeyID hotKeyID) {
    // A press of a replaced registration finds nothing, or the item now registered under its id.
    const auto found = m_hotKeyItems.constFind(hotKeyID.id);
    if (found == m_hotKeyItems.constEnd() || !m_onTrigger)
        return;
    // Copies: the callback may replace the registrations and the callback itself.
    const DockItem item = *found;
    const Trigger trigger = m_onTrigger;
    trigger(item);
}

std::optional<DockItem> HotkeyManager::registeredItem(quint32 identifier) const {
    const auto found = m_hotKeyItems.constFind(identifier);
    if (found == m_hotKeyItems.constEnd())
        return std::nullopt;
    return *found;
}

} // namespace brevlin
