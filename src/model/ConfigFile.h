#pragma once

#include "DockItem.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace brevlin {

// The root of config.json: both keys are required on reading.
struct PersistedConfig {
    QList<DockItem> items;
    LauncherTimingSettings launcherTiming;

    friend bool operator==(const PersistedConfig&, const PersistedConfig&) = default;
};

// config.json's two-key form. The timing is returned as written, before any clamping.
std::optional<PersistedConfig> decodeConfig(const QByteArray& bytes);
// A bare array of shortcut objects: the seed resource, and config.json's older form.
std::optional<QList<DockItem>> decodeShortcutList(const QByteArray& bytes);
// The bytes the store writes: sorted keys, pretty-printed (see prettySortedJson).
QByteArray encodeConfig(const PersistedConfig& config);

} // namespace brevlin
