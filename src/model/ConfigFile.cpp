#include "model/ConfigFile.h"

#include "model/JsonText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace brevlin {

namespace {

const QString figmaTargetKey = QStringLiteral("figmaTarget");

std::optional<QJsonValue> parseJson(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    if (document.isArray())
        return QJsonValue(document.array());
    if (document.isObject())
        return QJsonValue(document.object());
    return std::nullopt;
}

std::optional<QList<DockItem>> decodeItems(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    QList<DockItem> items;
    for (const QJsonValue& element : value.toArray()) {
        auto item = DockItem::fromJson(element);
        if (!item)
            return std::nullopt;
        items.append(std::move(*item));
    }
    return items;
}

} // namespace

std::optional<PersistedConfig> decodeConfig(const QByteArray& bytes) {
    const auto value = parseJson(bytes);
    if (!value || !value->isObject())
        return std::nullopt;
    const QJsonObject object = value->toObject();
    auto items = decodeItems(object.value(QStringLiteral("items")));
    if (!items)
        return std::nullopt;
    const auto timing =
        LauncherTimingSettings::fromJson(object.value(QStringLiteral("launcherTiming")));
    if (!timing)
        return std::nullopt;
    std::optional<QString> figmaTarget;
    if (const QJsonValue target = object.value(figmaTargetKey); target.isString())
        figmaTarget = target.toString();
    return PersistedConfig{std::move(*items), *timing, std::move(figmaTarget)};
}

std::optional<QList<DockItem>> decodeShortcutList(const QByteArray& bytes) {
    const auto value = parseJson(bytes);
    if (!value)
        return std::nullopt;
    return decodeItems(*value);
}

QByteArray encodeConfig(const PersistedConfig& config) {
    QJsonArray array;
    for (const DockItem& item : config.items)
        array.append(item.toJson());
    QJsonObject root{{QStringLiteral("items"), array},
                     {QStringLiteral("launcherTiming"), config.launcherTiming.toJson()}};
    if (config.figmaTarget)
        root.insert(figmaTargetKey, *config.figmaTarget);
    return prettySortedJson(root);
}

} // namespace brevlin
