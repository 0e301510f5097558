#pragma once

#include "TextPlatform.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace brevlin {

// Stored by raw value ("command", "option", "control", "shift"); the declaration order is the
// order in which the editor offers them.
enum class HotkeyModifier { command, option, control, shift };

inline constexpr std::array<HotkeyModifier, 4> allHotkeyModifiers = {
    HotkeyModifier::command, HotkeyModifier::option, HotkeyModifier::control,
    HotkeyModifier::shift};

QString rawValue(HotkeyModifier modifier);
// Exact, case-sensitive match of the raw value.
std::optional<HotkeyModifier> hotkeyModifierFromRawValue(const QString& raw);
// Carbon modifier bits: cmdKey 0x100, optionKey 0x800, controlKey 0x1000, shiftKey 0x200.
quint32 carbonMask(HotkeyModifier modifier);
// ⌘ ⌥ ⌃ ⇧
QString symbol(HotkeyModifier modifier);

// How the desktop writes the modifier keys: macOS as symbols in its menu order (⌥⌘1), Linux
// desktops as key names joined by "+" in the order Ctrl, Alt, Shift, Super (Ctrl+Alt+1). Either
// way Command is the key the desktop's own shortcuts use, so it shows as Ctrl on Linux, Option as
// Alt and Control as Super.
//
// macOS menu order: control 0, option 1, shift 2, command 3. Linux: Ctrl (command) 0, Alt
// (option) 1, Shift 2, Super (control) 3.
int sortOrder(HotkeyModifier modifier, TextPlatform platform = currentTextPlatform());
// macOS: "Command", "Option", "Control", "Shift". Linux: "Ctrl", "Alt", "Super", "Shift".
QString displayName(HotkeyModifier modifier, TextPlatform platform = currentTextPlatform());
// The order in which the editor offers the modifiers: the declaration order on macOS, the
// display order (Ctrl, Alt, Shift, Super) on Linux.
std::array<HotkeyModifier, 4> offeredHotkeyModifiers(TextPlatform platform = currentTextPlatform());

// "1"…"9", "0", "A"…"Z": the keys a hotkey may use, in the editor's order.
const QStringList& supportedKeys();

// The four-character code "TSRK", packed big-endian.
inline constexpr quint32 hotkeySignature =
    (quint32('T') << 24) | (quint32('S') << 16) | (quint32('R') << 8) | quint32('K');

struct Hotkey {
    QString key;
    QList<HotkeyModifier> modifiers;

    // Carbon virtual key code (ANSI layout) of the upper-cased key, when it is a supported key.
    std::optional<quint32> keyCode() const;
    quint32 carbonModifierMask() const;
    // The modifiers in display order, then the upper-cased key: Ctrl+Alt+1 (⌥⌘1 on macOS).
    QString displayString(TextPlatform platform = currentTextPlatform()) const;

    QJsonObject toJson() const;
    static std::optional<Hotkey> fromJson(const QJsonValue& value);

    friend bool operator==(const Hotkey&, const Hotkey&) = default;
};

} // namespace brevlin
