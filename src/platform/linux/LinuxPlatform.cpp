#include "LinuxPlatform.h"

#include "AtspiAccessibility.h"
#include "X11HotkeyService.h"
#include "X11Workspace.h"
#include "XTestKeyEvents.h"

namespace brevlin {

LinuxPlatform::LinuxPlatform() = default;
LinuxPlatform::~LinuxPlatform() = default;

std::unique_ptr<LinuxPlatform> LinuxPlatform::create() {
    std::unique_ptr<LinuxPlatform> platform(new LinuxPlatform);
    platform->m_hotkeys = X11HotkeyService::create();
    platform->m_keyEvents = XTestKeyEvents::create();
    platform->m_workspace = X11Workspace::create();
    if (!platform->m_hotkeys || !platform->m_keyEvents || !platform->m_workspace)
        return nullptr;
    platform->m_accessibility = std::make_unique<AtspiAccessibility>();
    return platform;
}

AccessibilityApi& LinuxPlatform::accessibility() {
    return *m_accessibility;
}
KeyEventApi& LinuxPlatform::keyEvents() {
    return *m_keyEvents;
}
WorkspaceApi& LinuxPlatform::workspace() {
    return *m_workspace;
}
HotkeyService& LinuxPlatform::hotkeys() {
    return *m_hotkeys;
}

} // namespace brevlin
