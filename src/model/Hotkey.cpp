#include "model/Hotkey.h"

#include <QJsonArray>

#include <algorithm>

namespace brevlin {

QString storedName(KeyModifier modifier) {
    switch (modifier) {
    case KeyModifier::primary:
        return QStringLiteral("command");
    case KeyModifier::alternate:
        return QStringLiteral("option");
    case KeyModifier::system:
        return QStringLiteral("control");
    case KeyModifier::shift:
        return QStringLiteral("shift");
    }
    return {};
}

std::optional<KeyModifier> keyModifierFromStoredName(const QString& name) {
    for (KeyModifier modifier : allKeyModifiers) {
        if (storedName(modifier) == name)
            return modifier;
    }
    return std::nullopt;
}

QString displayName(KeyModifier modifier) {
    switch (modifier) {
    case KeyModifier::primary:
        return QStringLiteral("Ctrl");
    case KeyModifier::alternate:
        return QStringLiteral("Alt");
    case KeyModifier::system:
        return QStringLiteral("Super");
    case KeyModifier::shift:
        return QStringLiteral("Shift");
    }
    return {};
}

const QStringList& supportedKeys() {
    static const QStringList keys = [] {
        QStringList list;
        for (char c : QByteArrayView("1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ"))
            list.append(QString(QLatin1Char(c)));
        return list;
    }();
    return keys;
}

std::optional<KeyPosition> Hotkey::position() const {
    // Full case mapping: "ß" becomes "SS", which is no key.
    const qsizetype index = supportedKeys().indexOf(key.toUpper());
    if (index < 0)
        return std::nullopt;
    return KeyPosition(index);
}

KeyModifiers Hotkey::modifierSet() const {
    KeyModifiers set;
    for (KeyModifier modifier : modifiers)
        set |= modifier;
    return set;
}

QString Hotkey::displayString() const {
    const auto rank = [](KeyModifier modifier) {
        return std::find(allKeyModifiers.begin(), allKeyModifiers.end(), modifier) -
               allKeyModifiers.begin();
    };
    QList<KeyModifier> ordered = modifiers;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [&](KeyModifier a, KeyModifier b) { return rank(a) < rank(b); });
    QString text;
    for (KeyModifier modifier : ordered)
        text += displayName(modifier) + QLatin1Char('+');
    return text + key.toUpper();
}

QJsonObject Hotkey::toJson() const {
    QJsonArray list;
    for (KeyModifier modifier : modifiers)
        list.append(storedName(modifier));
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
        const auto modifier = keyModifierFromStoredName(entry.toString());
        if (!modifier)
            return std::nullopt;
        hotkey.modifiers.append(*modifier);
    }
    return hotkey;
}

} // namespace brevlin
