#pragma once

#include "hotkeys/HotkeyService.h"
#include "launch/Accessibility.h"
#include "launch/Keyboard.h"
#include "launch/Workspace.h"

#include <QStringList>

#include <memory>

namespace brevlin {

class AtspiAccessibility;
class PortalHotkeyService;
class PortalKeyboard;

// The Linux desktop services the application drives Figma and hotkeys through.
class LinuxPlatform {
public:
    // Needs a QGuiApplication on the xcb platform; null when the X display cannot be used.
    static std::unique_ptr<LinuxPlatform> create();
    // The Wayland backends: keys and hotkeys through the desktop portals, windows brought forward
    // through KWin's scripting. Needs the session bus; what the desktop lacks is in limitations().
    // The portal keeps its restore token in `dataFolder`.
    static std::unique_ptr<LinuxPlatform> createWayland(const QString& dataFolder);
    ~LinuxPlatform();

    AccessibilityApi& accessibility();
    Keyboard& keyboard();
    WorkspaceApi& workspace();
    HotkeyService& hotkeys();

    // What this desktop does not let Brevlin do, and why, in words for the user; empty when
    // everything works.
    QStringList limitations() const { return m_limitations; }
    // The Wayland keyboard, whose portal session is asked for separately; null on X11.
    PortalKeyboard* portalKeyboard() const { return m_portalKeyboard; }
    PortalHotkeyService* portalHotkeys() const { return m_portalHotkeys; }

private:
    LinuxPlatform();
    std::unique_ptr<AtspiAccessibility> m_accessibility;
    std::unique_ptr<Keyboard> m_keyboard;
    std::unique_ptr<WorkspaceApi> m_workspace;
    std::unique_ptr<HotkeyService> m_hotkeys;
    PortalKeyboard* m_portalKeyboard = nullptr;
    PortalHotkeyService* m_portalHotkeys = nullptr;
    QStringList m_limitations;
};

} // namespace brevlin
