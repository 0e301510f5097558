#include "LinuxPlatform.h"

#include "AtspiAccessibility.h"
#include "KWinWorkspace.h"
#include "WaylandPortals.h"
#include "X11HotkeyService.h"
#include "X11Workspace.h"
#include "XTestKeyboard.h"

namespace brevlin {

LinuxPlatform::LinuxPlatform() = default;
LinuxPlatform::~LinuxPlatform() = default;

std::unique_ptr<LinuxPlatform> LinuxPlatform::create() {
    std::unique_ptr<LinuxPlatform> platform(new LinuxPlatform);
    platform->m_hotkeys = X11HotkeyService::create();
    platform->m_keyboard = XTestKeyboard::create();
    platform->m_workspace = X11Workspace::create();
    if (!platform->m_hotkeys || !platform->m_keyboard || !platform->m_workspace)
        return nullptr;
    platform->m_accessibility = std::make_unique<AtspiAccessibility>();
    return platform;
}

std::unique_ptr<LinuxPlatform> LinuxPlatform::createWayland(const QString& dataFolder) {
    std::unique_ptr<LinuxPlatform> platform(new LinuxPlatform);
    auto keyboard =
        std::make_unique<PortalKeyboard>(dataFolder + QStringLiteral("/.remote-desktop-token"));
    platform->m_portalKeyboard = keyboard.get();
    platform->m_keyboard = std::move(keyboard);
    platform->m_workspace = std::make_unique<KWinWorkspace>();
    auto hotkeys = std::make_unique<PortalHotkeyService>();
    hotkeys->setKeyboard(platform->m_portalKeyboard);
    platform->m_portalHotkeys = hotkeys.get();
    platform->m_hotkeys = std::move(hotkeys);
    platform->m_accessibility = std::make_unique<AtspiAccessibility>();
    if (!PortalHotkeyService::isSupported())
        platform->m_limitations.append(
            QStringLiteral("This desktop has no global-shortcuts portal (GNOME before 48), so "
                           "Brevlin's hotkeys do not work here; the dock does."));
    if (portalVersion(QStringLiteral("org.freedesktop.portal.RemoteDesktop")) == 0)
        platform->m_limitations.append(
            QStringLiteral("This desktop has no remote-control portal, so Brevlin cannot send "
                           "keys to Figma."));
    if (!KWinWorkspace::canActivate())
        platform->m_limitations.append(
            QStringLiteral("This desktop does not let Brevlin bring Figma to the front (GNOME): "
                           "bring Figma forward yourself, then press the hotkey."));
    return platform;
}

AccessibilityApi& LinuxPlatform::accessibility() {
    return *m_accessibility;
}
Keyboard& LinuxPlatform::keyboard() {
    return *m_keyboard;
}
WorkspaceApi& LinuxPlatform::workspace() {
    return *m_workspace;
}
HotkeyService& LinuxPlatform::hotkeys() {
    return *m_hotkeys;
}

} // namespace brevlin
