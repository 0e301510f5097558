#include "ConfigCheck.h"

#include "model/ConfigFile.h"

namespace brevlin::testing {

QString checkConfigBytes(const QByteArray& bytes) {
    if (const auto items = decodeShortcutList(bytes)) {
        const QByteArray written =
            encodeConfig(PersistedConfig{*items, LauncherTimingSettings::defaults, std::nullopt});
        const auto reread = decodeConfig(written);
        if (!reread)
            return QStringLiteral(
                "a decoded shortcut list is written in a form that does not read back");
        if (reread->items != *items)
            return QStringLiteral("a decoded shortcut list reads back changed");
    }
    const auto config = decodeConfig(bytes);
    if (!config)
        return {};
    const QByteArray written = encodeConfig(*config);
    const auto reread = decodeConfig(written);
    if (!reread)
        return QStringLiteral(
            "a decoded configuration is written in a form that does not read back");
    if (*reread != *config)
        return QStringLiteral("a decoded configuration reads back changed");
    if (encodeConfig(*reread) != written)
        return QStringLiteral("writing the configuration again gives other bytes");
    return {};
}

} // namespace brevlin::testing
