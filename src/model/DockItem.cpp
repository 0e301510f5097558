#include "model/DockItem.h"

#include <QJsonObject>

#include <algorithm>
#include <array>

namespace brevlin {

QString rawValue(DockIconSource source) {
    switch (source) {
    case DockIconSource::systemSymbol:
        return QStringLiteral("systemSymbol");
    case DockIconSource::customImage:
        return QStringLiteral("customImage");
    }
    return {};
}

std::optional<DockIconSource> dockIconSourceFromRawValue(const QString& raw) {
    if (raw == QLatin1String("systemSymbol"))
        return DockIconSource::systemSymbol;
    if (raw == QLatin1String("customImage"))
        return DockIconSource::customImage;
    return std::nullopt;
}

QString trimmedText(const QString& text) {
    // QChar::isSpace covers the separator categories plus tab, the line breaks and U+0085: the
    // whitespace-and-newline class. No such character lies outside the Basic Multilingual Plane.
    return text.trimmed();
}

QString uuidString(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

namespace {

// Only the bare 8-4-4-4-12 form counts, in either case; QUuid alone would also take braces.
std::optional<QUuid> parseUuid(const QString& text) {
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool dash = (i == 8 || i == 13 || i == 18 || i == 23);
        const bool hex =
            (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (dash ? c != u'-' : !hex)
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

} // namespace

QString DockItem::resolvedSymbolName() const {
    return trimmedText(icon).isEmpty() ? defaultSymbolName : icon;
}

bool DockItem::hasCustomIcon() const {
    return customIconPath.has_value() && !trimmedText(*customIconPath).isEmpty();
}

QJsonObject DockItem::toJson() const {
    QJsonObject object{
        {QStringLiteral("id"), uuidString(id)},      {QStringLiteral("name"), name},
        {QStringLiteral("pluginName"), pluginName},  {QStringLiteral("icon"), icon},
        {QStringLiteral("hotkey"), hotkey.toJson()},
    };
    if (customIconPath)
        object.insert(QStringLiteral("customIconPath"), *customIconPath);
    return object;
}

std::optional<DockItem> DockItem::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue idValue = object.value(QStringLiteral("id"));
    const QJsonValue nameValue = object.value(QStringLiteral("name"));
    const QJsonValue pluginValue = object.value(QStringLiteral("pluginName"));
    const QJsonValue iconValue = object.value(QStringLiteral("icon"));
    const QJsonValue pathValue = object.value(QStringLiteral("customIconPath"));
    if (!idValue.isString() || !nameValue.isString() || !pluginValue.isString() ||
        !iconValue.isString())
        return std::nullopt;
    if (!(pathValue.isUndefined() || pathValue.isNull() || pathValue.isString()))
        return std::nullopt;
    const auto id = parseUuid(idValue.toString());
    if (!id)
        return std::nullopt;
    const auto hotkey = Hotkey::fromJson(object.value(QStringLiteral("hotkey")));
    if (!hotkey)
        return std::nullopt;

    DockItem item;
    item.id = *id;
    item.name = nameValue.toString();
    item.pluginName = pluginValue.toString();
    item.icon = iconValue.toString();
    if (pathValue.isString())
        item.customIconPath = pathValue.toString();
    item.hotkey = *hotkey;
    return item;
}

DockItemDraft::DockItemDraft(const DockItem& item)
    : id(item.id)
    , name(item.name)
    , pluginName(item.pluginName)
    , iconSource(item.hasCustomIcon() ? DockIconSource::customImage : DockIconSource::systemSymbol)
    , icon(item.icon)
    , customIconPath(item.customIconPath)
    , hotkey(item.hotkey) {}

bool DockItemDraft::canSave() const {
    return !trimmedText(name).isEmpty() && !trimmedText(pluginName).isEmpty() &&
           hotkey.position().has_value() && !hotkey.modifiers.isEmpty();
}

const LauncherTimingSettings LauncherTimingSettings::defaults{};

namespace {

constexpr std::array<TimingField, 4> timingFields = {
    TimingField::focusDelayMilliseconds,
    TimingField::actionsOpenDelayMilliseconds,
    TimingField::typingCharacterDelayMilliseconds,
    TimingField::postSearchDelayMilliseconds,
};

}

QString timingFieldKey(TimingField field) {
    switch (field) {
    case TimingField::focusDelayMilliseconds:
        return QStringLiteral("focusDelayMilliseconds");
    case TimingField::actionsOpenDelayMilliseconds:
        return QStringLiteral("actionsOpenDelayMilliseconds");
    case TimingField::typingCharacterDelayMilliseconds:
        return QStringLiteral("typingCharacterDelayMilliseconds");
    case TimingField::postSearchDelayMilliseconds:
        return QStringLiteral("postSearchDelayMilliseconds");
    }
    return {};
}

namespace {

// A JSON number counts when it is a whole number that a signed 64-bit integer holds exactly.
std::optional<qint64> jsonInteger(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const qint64 first = value.toInteger(0);
    if (first != value.toInteger(1))
        return std::nullopt;
    return first;
}

const QString adaptiveWaitsKey = QStringLiteral("adaptiveWaits");

} // namespace

qint64 LauncherTimingSettings::maximum(TimingField field) {
    switch (field) {
    case TimingField::focusDelayMilliseconds:
        return 2000;
    case TimingField::actionsOpenDelayMilliseconds:
        return 1500;
    case TimingField::typingCharacterDelayMilliseconds:
        return 120;
    case TimingField::postSearchDelayMilliseconds:
        return 1000;
    }
    return 0;
}

qint64 LauncherTimingSettings::value(TimingField field) const {
    switch (field) {
    case TimingField::focusDelayMilliseconds:
        return focusDelayMilliseconds;
    case TimingField::actionsOpenDelayMilliseconds:
        return actionsOpenDelayMilliseconds;
    case TimingField::typingCharacterDelayMilliseconds:
        return typingCharacterDelayMilliseconds;
    case TimingField::postSearchDelayMilliseconds:
        return postSearchDelayMilliseconds;
    }
    return 0;
}

void LauncherTimingSettings::setValue(TimingField field, qint64 newValue) {
    switch (field) {
    case TimingField::focusDelayMilliseconds:
        focusDelayMilliseconds = newValue;
        break;
    case TimingField::actionsOpenDelayMilliseconds:
        actionsOpenDelayMilliseconds = newValue;
        break;
    case TimingField::typingCharacterDelayMilliseconds:
        typingCharacterDelayMilliseconds = newValue;
        break;
    case TimingField::postSearchDelayMilliseconds:
        postSearchDelayMilliseconds = newValue;
        break;
    }
}

LauncherTimingSettings LauncherTimingSettings::clamped() const {
    LauncherTimingSettings result = *this;
    for (TimingField field : timingFields)
        result.setValue(field, std::clamp<qint64>(value(field), 0, maximum(field)));
    return result;
}

QJsonObject LauncherTimingSettings::toJson() const {
    QJsonObject object;
    for (TimingField field : timingFields)
        object.insert(timingFieldKey(field), value(field));
    object.insert(adaptiveWaitsKey, adaptiveWaits);
    return object;
}

std::optional<LauncherTimingSettings> LauncherTimingSettings::fromJson(const QJsonValue& json) {
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject object = json.toObject();
    LauncherTimingSettings settings;
    for (TimingField field : timingFields) {
        const auto number = jsonInteger(object.value(timingFieldKey(field)));
        if (!number)
            return std::nullopt;
        settings.setValue(field, *number);
    }
    settings.adaptiveWaits = object.value(adaptiveWaitsKey).toBool(true);
    return settings;
}

} // namespace brevlin
