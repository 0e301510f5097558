#pragma once

#include "KeyModifier.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace brevlin {

// A key a hotkey may use, named by its place on a US keyboard: the digit row, then the letters.
// It stays the same key whatever a layout prints on it.
// clang-format off
enum class KeyPosition : quint8 {
    digit1, digit2, digit3, digit4, digit5, digit6, digit7, digit8, digit9, digit0,
    a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z,
};
// clang-format on
inline constexpr int keyPositionCount = 36;

// "1"…"9", "0", "A"…"Z": the keys a hotkey may use, in KeyPosition's order, which is the order
// of the editor's key picker.
const QStringList& supportedKeys();

struct Hotkey {
    // As stored: normally one of the supported keys; anything is accepted on reading.
    QString key;
    // In the order they were added, which the JSON keeps.
    QList<KeyModifier> modifiers;

    // The position of the upper-cased key, when it is a supported key.
    std::optional<KeyPosition> position() const;
    KeyModifiers modifierSet() const;
    // The modifiers in the desktop's order, then the upper-cased key: Ctrl+Alt+1.
    QString displayString() const;

    QJsonObject toJson() const;
    static std::optional<Hotkey> fromJson(const QJsonValue& value);

    friend bool operator==(const Hotkey&, const Hotkey&) = default;
};

} // namespace brevlin
