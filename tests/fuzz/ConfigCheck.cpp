#include "ConfigCheck.h"

#include "model/ConfigFile.h"

namespace brevlin::testing {
namespace {

QString checkRoundTrip(const PersistedConfig& config, const QString& what) {
    const QByteArray written = encodeConfig(config);
    const auto reread = decodeConfig(written);
    if (!reread)
        return QStringLiteral("a decoded %1 is written in a form that does not read back")
            .arg(what);
    if (*reread != config)
        return QStringLiteral("a decoded %1 reads back changed").arg(what);
    if (encodeConfig(*reread) != written)
        return QStringLiteral("writing the %1 again gives other bytes").arg(what);
    return {};
}

} // namespace

QString checkConfigBytes(const QByteArray& bytes) {
    if (const auto items = decodeShortcutList(bytes)) {
        const PersistedConfig seeded{*items, LauncherTimingSettings::defaults, std::nullopt};
        if (QString problem = checkRoundTrip(seeded, "shortcut list"); !problem.isEmpty())
            return problem;
    }
    const auto config = decodeConfig(bytes);
    return config ? checkRoundTrip(*config, "configuration") : QString();
}

} // namespace brevlin::testing
