#pragma once

#include <QFlags>
#include <QString>

#include <array>
#include <optional>

namespace brevlin {

// Modifiers as Brevlin names them, for hotkeys and for the keys a launch presses alike; each
// backend puts them on its platform's keys. A stored hotkey names them as macOS does, so one
// configuration file works on every system.
enum class KeyModifier {
    // The shortcut modifier: Ctrl on Linux, Command on macOS. Stored as "command".
    primary = 0x1,
    // Alt; Option on macOS. Stored as "option".
    alternate = 0x2,
    // Super; Control on macOS. Stored as "control".
    system = 0x4,
    // Stored as "shift".
    shift = 0x8,
};
Q_DECLARE_FLAGS(KeyModifiers, KeyModifier)
Q_DECLARE_OPERATORS_FOR_FLAGS(KeyModifiers)

// The order in which the desktop writes them (Ctrl+Alt+Shift+Super+1) and the editor offers them.
inline constexpr std::array<KeyModifier, 4> allKeyModifiers = {
    KeyModifier::primary, KeyModifier::alternate, KeyModifier::shift, KeyModifier::system};

// "command", "option", "control", "shift".
QString storedName(KeyModifier modifier);
// Exact, case-sensitive match of a stored name.
std::optional<KeyModifier> keyModifierFromStoredName(const QString& name);
// "Ctrl", "Alt", "Super", "Shift".
QString displayName(KeyModifier modifier);

} // namespace brevlin
