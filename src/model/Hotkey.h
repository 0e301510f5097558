#pragma once

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
// Menu order: control 0, option 1, shift 2, command 3.
int sortOrder(HotkeyModifier modifier);
// "Command", "Option", "Control", "Shift"
QString displayName(HotkeyModifier modifier);

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
    // Modifier symbols in menu order, then the upper-cased key: ⌥⌘1.
    QString displayString() const;

    QJsonObject toJson() const;
    static std::optional<Hotkey> fromJson(const QJsonValue& value);

    friend bool operator==(const Hotkey&, const Hotkey&) = default;
};

} // namespace brevlin
