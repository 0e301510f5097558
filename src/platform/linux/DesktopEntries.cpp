#include "DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <algorithm>

namespace brevlin {

namespace {

QString fromUtf8(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

QString withoutSuffix(QString id) {
    if (id.endsWith(QLatin1String(".desktop")))
        id.chop(8);
    return id;
}

DesktopEntry entryOf(GDesktopAppInfo* info, const QString& fallbackId) {
    DesktopEntry entry;
    const QString id = fromUtf8(g_app_info_get_id(G_APP_INFO(info)));
    entry.applicationId = id.isEmpty() ? fallbackId : withoutSuffix(id);
    entry.path = fromUtf8(g_desktop_app_info_get_filename(info));
    entry.name = fromUtf8(g_app_info_get_name(G_APP_INFO(info)));
    entry.exec = fromUtf8(g_app_info_get_commandline(G_APP_INFO(info)));
    entry.windowClass = fromUtf8(g_desktop_app_info_get_startup_wm_class(info));
    if (entry.windowClass.isEmpty()) {
        // A browser names its web app's windows after the app; toolkits name theirs after the
        // entry's id.
        entry.windowClass = figmaIdentity::webAppWindowClass(entry.applicationId);
        if (entry.windowClass.isEmpty())
            entry.windowClass = entry.applicationId;
    }
    return entry;
}

// Where Flatpak (per user, then system-wide) and snap export the entries of what they install.
QStringList exportFolders() {
    return {QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                QStringLiteral("/flatpak/exports/share/applications"),
            QStringLiteral("/var/lib/flatpak/exports/share/applications"),
            QStringLiteral("/var/lib/snapd/desktop/applications")};
}

} // namespace

std::optional<DesktopEntry> desktopEntryFor(const QString& applicationId) {
    if (applicationId.isEmpty())
        return std::nullopt;
    const QByteArray id = (applicationId + QStringLiteral(".desktop")).toUtf8();
    GDesktopAppInfo* info = g_desktop_app_info_new(id.constData());
    for (const QString& folder : exportFolders()) {
        if (info)
            break;
        const QString path = QDir(folder).filePath(QString::fromUtf8(id));
        if (QFileInfo::exists(path))
            info = g_desktop_app_info_new_from_filename(QFile::encodeName(path).constData());
    }
    if (!info)
        return std::nullopt;
    DesktopEntry entry = entryOf(info, applicationId);
    // An entry read from a file has no id of its own: it stands for the one asked for.
    entry.applicationId = applicationId;
    g_object_unref(info);
    return entry;
}

QList<FigmaTarget> installedFigmaTargets() {
    QList<FigmaTarget> targets;
    for (const QString& id : figmaIdentity::desktopClientIds()) {
        if (const auto entry = desktopEntryFor(id))
            targets.append({id, entry->windowClass, entry->name, FigmaTarget::Kind::desktopClient,
                            figmaIdentity::desktopClientInstallation(id)});
    }
    // GIO lists entries in no particular order; sorted, the first found stays the same.
    QList<FigmaTarget> webApps;
    GList* all = g_app_info_get_all();
    for (GList* node = all; node; node = node->next) {
        auto* app = static_cast<GAppInfo*>(node->data);
        if (G_IS_DESKTOP_APP_INFO(app)) {
            const DesktopEntry entry = entryOf(G_DESKTOP_APP_INFO(app), {});
            if (figmaIdentity::isFigmaWebApp(entry.applicationId, entry.name, entry.exec))
                webApps.append({entry.applicationId, entry.windowClass, entry.name,
                                FigmaTarget::Kind::webApp,
                                figmaIdentity::webAppInstallation(entry.applicationId)});
        }
    }
    g_list_free_full(all, g_object_unref);
    std::sort(webApps.begin(), webApps.end(), [](const FigmaTarget& a, const FigmaTarget& b) {
        return a.applicationId < b.applicationId;
    });
    return targets + webApps;
}

} // namespace brevlin
