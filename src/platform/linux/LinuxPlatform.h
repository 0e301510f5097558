#pragma once

#include "hotkeys/HotkeyService.h"
#include "launch/Accessibility.h"
#include "launch/Keyboard.h"
#include "launch/Workspace.h"

#include <memory>

namespace brevlin {

class AtspiAccessibility;
class XTestKeyboard;
class X11Workspace;
class X11HotkeyService;

// The Linux desktop services the application drives Figma and hotkeys through.
class LinuxPlatform {
public:
    // Needs a QGuiApplication on the xcb platform; null when the X display cannot be used.
    static std::unique_ptr<LinuxPlatform> create();
    ~LinuxPlatform();

    AccessibilityApi& accessibility();
    Keyboard& keyboard();
    WorkspaceApi& workspace();
    HotkeyService& hotkeys();

private:
    LinuxPlatform();
    std::unique_ptr<AtspiAccessibility> m_accessibility;
    std::unique_ptr<XTestKeyboard> m_keyboard;
    std::unique_ptr<X11Workspace> m_workspace;
    std::unique_ptr<X11HotkeyService> m_hotkeys;
};

} // namespace brevlin
