#include "DesktopEntries.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

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
    if (const QString path =
            QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                   QStringLiteral("applications/") + QString::fromUtf8(id));
        !info && !path.isEmpty())
        info = g_desktop_app_info_new_from_filename(QFile::encodeName(path).constData());
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

std::optional<DesktopEntry> DesktopEntryCache::entry(const QString& applicationId, bool fresh) {
    Kept& kept = m_kept[applicationId];
    if (fresh || !kept.age.isValid() || kept.age.elapsed() > lifetimeMs) {
        kept.entry = desktopEntryFor(applicationId);
        kept.age.start();
    }
    return kept.entry;
}

void startDesktopEntry(const std::optional<DesktopEntry>& entry,
                       std::function<RunningApplicationPtr()> find, WorkspaceApi::StartDone done,
                       int timeoutMilliseconds, int pollMilliseconds,
                       std::function<void(qint64 pid)> launched) {
    if (!entry || entry->path.isEmpty()) {
        done(StartResult::notInstalled());
        return;
    }
    GDesktopAppInfo* info =
        g_desktop_app_info_new_from_filename(QFile::encodeName(entry->path).constData());
    if (!info) {
        done(StartResult::failed(
            QStringLiteral("The application entry %1 could not be read.").arg(entry->path)));
        return;
    }
    GAppLaunchContext* context = g_app_launch_context_new();
    GError* error = nullptr;
    GPid pid = 0;
    // The process id finds the application's windows again where nothing else names them.
    const bool started = g_desktop_app_info_launch_uris_as_manager(
        info, nullptr, context, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
        [](GDesktopAppInfo*, GPid launchedPid, gpointer data) {
            *static_cast<GPid*>(data) = launchedPid;
        },
        &pid, &error);
    g_object_unref(context);
    g_object_unref(info);
    if (!started) {
        const QString message = error ? fromUtf8(error->message)
                                      : QStringLiteral("The application could not be started.");
        if (error)
            g_error_free(error);
        done(StartResult::failed(message));
        return;
    }
    if (pid > 0 && launched)
        launched(pid);

    // The launch only starts a process; the application counts as started once a window shows.
    auto* timer = new QTimer;
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (const RunningApplicationPtr application = find()) {
            timer->stop();
            timer->deleteLater();
            application->activate();
            done(StartResult::started(application));
        } else if (elapsed->elapsed() >= timeoutMilliseconds) {
            timer->stop();
            timer->deleteLater();
            done(StartResult::failed(
                QStringLiteral("The application did not open a window within %1 seconds.")
                    .arg(timeoutMilliseconds / 1000.0)));
        }
    });
    timer->start(pollMilliseconds);
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
