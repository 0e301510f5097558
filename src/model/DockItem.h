#pragma once

#include "Hotkey.h"

#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <array>
#include <optional>

namespace brevlin {

enum class DockIconSource { systemSymbol, customImage };

// Declaration order, which is also the order the editor's picker offers them.
inline constexpr std::array<DockIconSource, 2> allDockIconSources = {DockIconSource::systemSymbol,
                                                                     DockIconSource::customImage};

QString rawValue(DockIconSource source);
std::optional<DockIconSource> dockIconSourceFromRawValue(const QString& raw);

// The symbol drawn when an icon name is blank.
inline const QString defaultSymbolName = QStringLiteral("square.grid.2x2");

// Removes leading and trailing characters of the Unicode whitespace-and-newline class.
QString trimmedText(const QString& text);

// Canonical upper-case 8-4-4-4-12 form, as written to JSON and used in icon file names.
QString uuidString(const QUuid& id);

struct DockItem {
    QUuid id;
    QString name;
    QString pluginName;
    QString icon;
    std::optional<QString> customIconPath;
    Hotkey hotkey;

    // `icon` as stored when it is not blank, else "square.grid.2x2".
    QString resolvedSymbolName() const;
    bool hasCustomIcon() const;

    QJsonObject toJson() const;
    static std::optional<DockItem> fromJson(const QJsonValue& value);

    friend bool operator==(const DockItem&, const DockItem&) = default;
};

// The editable copy the item editor works on.
struct DockItemDraft {
    std::optional<QUuid> id;
    QString name;
    QString pluginName;
    DockIconSource iconSource = DockIconSource::systemSymbol;
    QString icon = defaultSymbolName;
    std::optional<QString> customIconPath;
    Hotkey hotkey{QStringLiteral("1"), {KeyModifier::primary, KeyModifier::alternate}};

    // A new shortcut.
    DockItemDraft() = default;
    // An existing shortcut.
    explicit DockItemDraft(const DockItem& item);

    bool canSave() const;

    friend bool operator==(const DockItemDraft&, const DockItemDraft&) = default;
};

enum class TimingField {
    focusDelayMilliseconds,
    actionsOpenDelayMilliseconds,
    typingCharacterDelayMilliseconds,
    postSearchDelayMilliseconds,
};

// The field's JSON key, which is also its name.
QString timingFieldKey(TimingField field);

struct LauncherTimingSettings {
    qint64 focusDelayMilliseconds = 180;
    qint64 actionsOpenDelayMilliseconds = 80;
    qint64 typingCharacterDelayMilliseconds = 18;
    qint64 postSearchDelayMilliseconds = 60;
    // Each wait ends as soon as what it waits for is seen, the delays above being the longest
    // they last; off, every wait is the full delay. Stored as "adaptiveWaits", which older files
    // lack: missing means on.
    bool adaptiveWaits = true;

    static const LauncherTimingSettings defaults;

    // Each field forced into its range: 0…2000, 0…1500, 0…120, 0…1000.
    LauncherTimingSettings clamped() const;

    qint64 value(TimingField field) const;
    void setValue(TimingField field, qint64 value);
    static qint64 maximum(TimingField field);

    QJsonObject toJson() const;
    // All four delays required, each a JSON integer that fits a signed 64-bit value;
    // "adaptiveWaits" counts only as a JSON boolean, anything else there means on.
    static std::optional<LauncherTimingSettings> fromJson(const QJsonValue& value);

    friend bool operator==(const LauncherTimingSettings&, const LauncherTimingSettings&) = default;
};

} // namespace brevlin
