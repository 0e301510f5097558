#include "LinuxPlatform.h"

#include "AtspiAccessibility.h"
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
