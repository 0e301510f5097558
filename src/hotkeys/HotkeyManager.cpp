#include "HotkeyManager.h"

namespace brevlin {

HotkeyManager::HotkeyManager(HotkeyService& service, Scheduler& scheduler)
    : m_service(service)
    , m_scheduler(scheduler) {
    // The handler only reads the identifier; the rest waits for a later main-queue turn, after
    // whatever the main thread is doing when the key is pressed.
    m_service.setPressHandler(
        [alive = std::weak_ptr<int>(m_alive), this](HotkeyService::HotkeyId id) {
            if (alive.expired())
                return;
            m_scheduler.post([alive, this, id] {
                if (!alive.expired())
                    handleHotkeyPress(id);
            });
        });
}

HotkeyManager::~HotkeyManager() {
    unregisterAll();
    m_service.setPressHandler({});
}

void HotkeyManager::registerHotkeys(const QList<DockItem>& items, Trigger onTrigger) {
    unregisterAll();
    m_onTrigger = std::move(onTrigger);
    for (const DockItem& item : items) {
        // A key no hotkey may use is not offered to the desktop at all.
        if (!supportedKeys().contains(item.hotkey.key.toUpper()))
            continue;
        if (m_service.registerHotkey(m_nextIdentifier, item.hotkey) !=
            HotkeyService::RegisterResult::registered)
            continue;
        m_hotkeyItems.insert(m_nextIdentifier, item);
        ++m_nextIdentifier;
    }
}

void HotkeyManager::unregisterAll() {
    for (auto it = m_hotkeyItems.cbegin(); it != m_hotkeyItems.cend(); ++it)
        m_service.unregisterHotkey(it.key());
    m_hotkeyItems.clear();
    m_nextIdentifier = 1;
}

void HotkeyManager::handleHotkeyPress(HotkeyService::HotkeyId identifier) {
    // A press of a replaced registration finds nothing, or the item now registered under its id.
    const auto found = m_hotkeyItems.constFind(identifier);
    if (found == m_hotkeyItems.constEnd() || !m_onTrigger)
        return;
    // Copies: the callback may replace the registrations and the callback itself.
    const DockItem item = *found;
    const Trigger trigger = m_onTrigger;
    trigger(item);
}

std::optional<DockItem> HotkeyManager::registeredItem(quint32 identifier) const {
    const auto found = m_hotkeyItems.constFind(identifier);
    if (found == m_hotkeyItems.constEnd())
        return std::nullopt;
    return *found;
}

} // namespace brevlin
