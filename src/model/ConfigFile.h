#pragma once

#include "DockItem.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace brevlin {

// The root of config.json: "items" and "launcherTiming" are required on reading; "figmaTarget" is
// optional, and a value that is not a string counts as absent.
struct PersistedConfig {
    QList<DockItem> items;
    LauncherTimingSettings launcherTiming;
    // The application identifier of the Figma the user chose; absent while the first one found
    // is used.
    std::optional<QString> figmaTarget;

    friend bool operator==(const PersistedConfig&, const PersistedConfig&) = default;
};

// config.json's two-key form. The timing is returned as written, before any clamping.
std::optional<PersistedConfig> decodeConfig(const QByteArray& bytes);
// A bare array of shortcut objects: the seed resource, and config.json's older form.
std::optional<QList<DockItem>> decodeShortcutList(const QByteArray& bytes);
// The bytes the store writes: sorted keys, pretty-printed (see prettySortedJson).
QByteArray encodeConfig(const PersistedConfig& config);

} // namespace brevlin
