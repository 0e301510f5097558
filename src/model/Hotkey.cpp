#include "model/Hotkey.h"

#include <QJsonArray>

#include <algorithm>

namespace brevlin {

QString rawValue(HotkeyModifier modifier) {
    switch (modifier) {
    case HotkeyModifier::command:
        return QStringLiteral("command");
    case HotkeyModifier::option:
        return QStringLiteral("option");
    case HotkeyModifier::control:
        return QStringLiteral("control");
    case HotkeyModifier::shift:
        return QStringLiteral("shift");
    }
    return {};
}

std::optional<HotkeyModifier> hotkeyModifierFromRawValue(const QString& raw) {
    for (HotkeyModifier modifier : allHotkeyModifiers) {
        if (rawValue(modifier) == raw)
            return modifier;
    }
    return std::nullopt;
}

quint32 carbonMask(HotkeyModifier modifier) {
    switch (modifier) {
    case HotkeyModifier::command:
        return 0x100;
    case HotkeyModifier::option:
        return 0x800;
    case HotkeyModifier::control:
        return 0x1000;
    case HotkeyModifier::shift:
        return 0x200;
    }
    return 0;
}

QString symbol(HotkeyModifier modifier) {
    switch (modifier) {
    case HotkeyModifier::command:
        return QString(QChar(0x2318));
    case HotkeyModifier::option:
        return QString(QChar(0x2325));
    case HotkeyModifier::control:
        return QString(QChar(0x2303));
    case HotkeyModifier::shift:
        return QString(QChar(0x21E7));
    }
    return {};
}

int sortOrder(HotkeyModifier modifier, TextPlatform platform) {
    const bool mac = platform == TextPlatform::macOS;
    switch (modifier) {
    case HotkeyModifier::control:
        return mac ? 0 : 3;
    case HotkeyModifier::option:
        return 1;
    case HotkeyModifier::shift:
        return 2;
    case HotkeyModifier::command:
        return mac ? 3 : 0;
    }
    return 0;
}

QString displayName(HotkeyModifier modifier, TextPlatform platform) {
    const bool mac = platform == TextPlatform::macOS;
    switch (modifier) {
    case HotkeyModifier::command:
        return mac ? QStringLiteral("Command") : QStringLiteral("Ctrl");
    case HotkeyModifier::option:
        return mac ? QStringLiteral("Option") : QStringLiteral("Alt");
    case HotkeyModifier::control:
        return mac ? QStringLiteral("Control") : QStringLiteral("Super");
    case HotkeyModifier::shift:
        return QStringLiteral("Shift");
    }
    return {};
}

std::array<HotkeyModifier, 4> offeredHotkeyModifiers(TextPlatform platform) {
    if (platform == TextPlatform::macOS)
        return allHotkeyModifiers;
    std::array<HotkeyModifier, 4> ordered = allHotkeyModifiers;
    std::sort(ordered.begin(), ordered.end(), [platform](HotkeyModifier a, HotkeyModifier b) {
        return sortOrder(a, platform) < sortOrder(b, platform);
    });
    return ordered;
}

namespace {

struct KeyEntry {
    char key;
    quint32 code;
};

// Positions on the US (ANSI) keyboard, as the Carbon virtual key codes number them.
constexpr std::array<KeyEntry, 36> ansiKeyCodes = {{
    {'1', 18}, {'2', 19}, {'3', 20}, {'4', 21}, {'5', 23}, {'6', 22}, {'7', 26}, {'8', 28},
    {'9', 25}, {'0', 29}, {'A', 0},  {'B', 11}, {'C', 8},  {'D', 2},  {'E', 14}, {'F', 3},
    {'G', 5},  {'H', 4},  {'I', 34}, {'J', 38}, {'K', 40}, {'L', 37}, {'M', 46}, {'N', 45},
    {'O', 31}, {'P', 35}, {'Q', 12}, {'R', 15}, {'S', 1},  {'T', 17}, {'U', 32}, {'V', 9},
    {'W', 13}, {'X', 7},  {'Y', 16}, {'Z', 6},
}};

} // namespace

const QStringList& supportedKeys() {
    static const QStringList keys = [] {
        QStringList list;
        for (const KeyEntry& entry : ansiKeyCodes)
            list.append(QString(QLatin1Char(entry.key)));
        return list;
    }();
    return keys;
}

std::optional<quint32> Hotkey::keyCode() const {
    // Full case mapping: "ß" becomes "SS", which is no key.
    const QString upper = key.toUpper();
    if (upper.size() != 1)
        return std::nullopt;
    for (const KeyEntry& entry : ansiKeyCodes) {
        if (upper.at(0) == QLatin1Char(entry.key))
            return entry.code;
    }
    return std::nullopt;
}

quint32 Hotkey::carbonModifierMask() const {
    quint32 mask = 0;
    for (HotkeyModifier modifier : modifiers)
        mask |= carbonMask(modifier);
    return mask;
}

QString Hotkey::displayString(TextPlatform platform) const {
    QList<HotkeyModifier> ordered = modifiers;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [platform](HotkeyModifier a, HotkeyModifier b) {
                         return sortOrder(a, platform) < sortOrder(b, platform);
                     });
    QString text;
    for (HotkeyModifier modifier : ordered) {
        if (platform == TextPlatform::macOS)
            text += symbol(modifier);
        else
            text += displayName(modifier, platform) + QLatin1Char('+');
    }
    return text + key.toUpper();
}

QJsonObject Hotkey::toJson() const {
    QJsonArray list;
    for (HotkeyModifier modifier : modifiers)
        list.append(rawValue(modifier));
    return QJsonObject{{QStringLiteral("key"), key}, {QStringLiteral("modifiers"), list}};
}

std::optional<Hotkey> Hotkey::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue keyValue = object.value(QStringLiteral("key"));
    const QJsonValue modifiersValue = object.value(QStringLiteral("modifiers"));
    if (!keyValue.isString() || !modifiersValue.isArray())
        return std::nullopt;
    Hotkey hotkey;
    hotkey.key = keyValue.toString();
    for (const QJsonValue& entry : modifiersValue.toArray()) {
        if (!entry.isString())
            return std::nullopt;
        const auto modifier = hotkeyModifierFromRawValue(entry.toString());
        if (!modifier)
            return std::nullopt;
        hotkey.modifiers.append(*modifier);
    }
    return hotkey;
}

} // namespace brevlin
