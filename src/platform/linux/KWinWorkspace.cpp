#include "KWinWorkspace.h"

#include "AtspiBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <optional>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

namespace brevlin {

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");
// AtspiStateType ATSPI_STATE_ACTIVE: the window the compositor activated.
constexpr quint64 activeState = quint64(1) << 1;
constexpr int startPollMilliseconds = 100;

QString fromUtf8(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

// What the desktop entry says about its program.
struct Entry {
    QString path;
    QString name;
    QStringList exec; // without field codes
};

std::optional<Entry> entryFor(const QString& identifier) {
    QStringList ids = {identifier + QStringLiteral(".desktop")};
    if (identifier == QStringLiteral("com.figma.Desktop"))
        ids.append(QStringLiteral("figma-linux.desktop"));
    for (const QString& id : ids) {
        GDesktopAppInfo* info = g_desktop_app_info_new(id.toUtf8().constData());
        // GIO learns of a new entry through a file monitor, a moment after it is written.
        if (const QString path = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                        QStringLiteral("applications/") + id);
            !info && !path.isEmpty())
            info = g_desktop_app_info_new_from_filename(QFile::encodeName(path).constData());
        if (!info)
            continue;
        Entry entry;
        entry.path = fromUtf8(g_desktop_app_info_get_filename(info));
        entry.name = fromUtf8(g_app_info_get_name(G_APP_INFO(info)));
        gchar** argv = nullptr;
        if (g_shell_parse_argv(g_app_info_get_commandline(G_APP_INFO(info)), nullptr, &argv,
                               nullptr)) {
            for (gchar** a = argv; *a; ++a)
                if (!(strlen(*a) == 2 && (*a)[0] == '%'))
                    entry.exec.append(QString::fromUtf8(*a));
            g_strfreev(argv);
        }
        g_object_unref(info);
        return entry;
    }
    return std::nullopt;
}

// The process's command line as one string, arguments separated by spaces: Chromium rewrites its
// own into a single string, as setproctitle does.
QString commandLineOf(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = file.readAll();
    text.replace('\0', ' ');
    return QString::fromLocal8Bit(text).trimmed();
}

// The entry's program: the same program name, and every argument of its Exec line there.
// Wrapper scripts (Debian's chromium) exec the real binary under the same process, adding flags
// of their own, so the arguments are looked for, not compared in place.
bool runsEntry(qint64 pid, const Entry& entry) {
    if (entry.exec.isEmpty())
        return false;
    const QString command = commandLineOf(pid);
    if (command.isEmpty())
        return false;
    const QString program = QFileInfo(entry.exec.first()).fileName();
    if (QFileInfo(command.section(QLatin1Char(' '), 0, 0)).fileName() != program &&
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid))).fileName() !=
            program)
        return false;
    const QString spaced = QLatin1Char(' ') + command + QLatin1Char(' ');
    for (qsizetype i = 1; i < entry.exec.size(); ++i)
        if (!spaced.contains(QLatin1Char(' ') + entry.exec.at(i) + QLatin1Char(' ')))
            return false;
    return true;
}

// Told by a KWin script which process's window KWin activated: the compositor's own word, for
// toolkits whose frames do not publish the ACTIVE state (Chromium until its accessibility is
// fully on). The script calls back over D-Bus on every activation.
class ActiveWindowWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brevlin.ActiveWindow")
public:
    static constexpr const char* path = "/app/brevlin/ActiveWindow";

    ActiveWindowWatcher() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!KWinWorkspace::canActivate() ||
            !bus.registerObject(QString::fromLatin1(path), this,
                                QDBusConnection::ExportScriptableSlots))
            return;
        m_scriptName = QStringLiteral("active-%1").arg(QCoreApplication::applicationPid());
        runKWinScript(
            m_scriptName,
            QStringLiteral(
                "function brevlinReport() {\n"
                "  const w = workspace.windowList ? workspace.activeWindow : "
                "workspace.activeClient;\n"
                "  callDBus('%1', '%2', 'app.brevlin.ActiveWindow', 'activated', w ? w.pid : 0);\n"
                "}\n"
                "if (workspace.windowActivated) workspace.windowActivated.connect(brevlinReport);\n"
                "else workspace.clientActivated.connect(brevlinReport);\n"
                "brevlinReport();\n")
                .arg(bus.baseService(), QString::fromLatin1(path)));
    }
    ~ActiveWindowWatcher() override {
        if (m_scriptName.isEmpty())
            return;
        QDBusConnection::sessionBus().unregisterObject(QString::fromLatin1(path));
        QDBusMessage message = QDBusMessage::createMethodCall(
            kwinService, QStringLiteral("/Scripting"), QStringLiteral("org.kde.kwin.Scripting"),
            QStringLiteral("unloadScript"));
        message.setArguments({m_scriptName});
        QDBusConnection::sessionBus().asyncCall(message);
    }

    bool isWatching() const { return m_reported; }
    qint64 activePid() const { return m_pid; }

public Q_SLOTS:
    Q_SCRIPTABLE void activated(int pid) {
        m_pid = pid;
        m_reported = true;
    }

private:
    QString m_scriptName;
    qint64 m_pid = 0;
    bool m_reported = false;
};

} // namespace

// The accessibility bus's applications, as far as the workspace needs them.
struct KWinWorkspace::Shared {
    atspi::Bus bus;
    ActiveWindowWatcher activeWindow;
    // Processes Brevlin started for an identifier: theirs whatever their command line says.
    QHash<QString, QSet<qint64>> startedPids;

    struct Application {
        atspi::ObjectRef ref;
        qint64 pid = 0;
    };

    QList<Application> applications() {
        QList<Application> result;
        if (!bus.ensureConnected())
            return result;
        atspi::Variant reply = bus.call(
            QStringLiteral("org.a11y.atspi.Registry"), QString::fromLatin1(atspi::rootPath),
            atspi::accessibleInterface, "GetChildren", nullptr, G_VARIANT_TYPE("(a(so))"));
        if (!reply)
            return result;
        GVariant* list = g_variant_get_child_value(reply.get(), 0);
        for (const atspi::ObjectRef& ref : atspi::objectRefs(list)) {
            atspi::Variant pid = bus.call(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                g_variant_new("(s)", ref.busName.toUtf8().constData()), G_VARIANT_TYPE("(u)"));
            if (!pid)
                continue;
            guint32 value = 0;
            g_variant_get(pid.get(), "(u)", &value);
            result.append({ref, qint64(value)});
        }
        g_variant_unref(list);
        return result;
    }

    QString nameOf(const atspi::ObjectRef& ref) {
        atspi::Variant reply = bus.call(ref.busName, ref.path, "org.freedesktop.DBus.Properties",
                                        "Get", atspi::propertyName("Name"), G_VARIANT_TYPE("(v)"));
        return atspi::unboxString(reply.get());
    }

    // The states of the application's top-level windows; empty when it shows none.
    QList<quint64> frameStates(const atspi::ObjectRef& application) {
        QList<quint64> result;
        atspi::Variant reply =
            bus.call(application.busName, application.path, atspi::accessibleInterface,
                     "GetChildren", nullptr, G_VARIANT_TYPE("(a(so))"));
        if (!reply)
            return result;
        GVariant* list = g_variant_get_child_value(reply.get(), 0);
        for (const atspi::ObjectRef& frame : atspi::objectRefs(list)) {
            atspi::Variant state = bus.call(frame.busName, frame.path, atspi::accessibleInterface,
                                            "GetState", nullptr, G_VARIANT_TYPE("(au)"));
            if (state)
                result.append(atspi::unboxStates(state.get()));
        }
        g_variant_unref(list);
        return result;
    }

    // The identifier's instances, oldest process first, with the frames' states.
    struct Instance {
        qint64 pid = 0;
        QList<quint64> frames;
    };
    QList<Instance> instancesOf(const QString& identifier) {
        const auto entry = entryFor(identifier);
        const QSet<qint64> started = startedPids.value(identifier);
        QList<Instance> result;
        for (const Application& application : applications()) {
            const bool ours =
                started.contains(application.pid) ||
                (entry && (runsEntry(application.pid, *entry) ||
                           (!entry->name.isEmpty() && nameOf(application.ref) == entry->name)));
            if (!ours)
                continue;
            Instance instance{application.pid, frameStates(application.ref)};
            if (!instance.frames.isEmpty())
                result.append(instance);
        }
        std::sort(result.begin(), result.end(),
                  [](const Instance& a, const Instance& b) { return a.pid < b.pid; });
        return result;
    }
};

void runKWinScript(const QString& name, const QString& source) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString path = QDir(folder).filePath(QStringLiteral("brevlin-%1.js").arg(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(source.toUtf8());
    file.close();
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Calls on one connection are handled in order, so nothing needs to wait for an answer.
    auto call = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(kwinService, QStringLiteral("/Scripting"),
                                           QStringLiteral("org.kde.kwin.Scripting"), method);
        message.setArguments(arguments);
        bus.asyncCall(message);
    };
    call(QStringLiteral("unloadScript"), {name});
    call(QStringLiteral("loadScript"), {path, name});
    call(QStringLiteral("start"), {});
}

namespace {

// KWin 6 names windows where 5 named clients; the script works with either.
const char* const windowListScript =
    "const brevlinWindows = workspace.windowList ? workspace.windowList() : "
    "workspace.clientList();\n";

class KWinRunningApplication : public RunningApplication {
public:
    explicit KWinRunningApplication(qint64 pid)
        : m_pid(pid) {}
    qint64 processIdentifier() const override { return m_pid; }
    void activate() override {
        if (!KWinWorkspace::canActivate())
            return;
        runKWinScript(QStringLiteral("activate"),
                      QString::fromLatin1(windowListScript) +
                          QStringLiteral("for (const w of brevlinWindows) {\n"
                                         "  if (w.pid !== %1 || !w.normalWindow) continue;\n"
                                         "  if (w.minimized) w.minimized = false;\n"
                                         "  if (workspace.windowList) workspace.activeWindow = w;\n"
                                         "  else workspace.activeClient = w;\n"
                                         "  break;\n"
                                         "}\n")
                              .arg(m_pid));
    }

private:
    qint64 m_pid;
};

} // namespace

KWinWorkspace::KWinWorkspace()
    : d(std::make_shared<Shared>()) {}

KWinWorkspace::~KWinWorkspace() = default;

bool KWinWorkspace::canActivate() {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(kwinService);
}

bool KWinWorkspace::keepDockAbove() {
    if (!canActivate())
        return false;
    const qint64 pid = QCoreApplication::applicationPid();
    runKWinScript(QStringLiteral("dock"),
                  QStringLiteral("function brevlinDock(w) {\n"
                                 "  if (w.pid !== %1) return;\n"
                                 "  w.keepAbove = true; w.skipTaskbar = true; w.skipPager = true;\n"
                                 "  w.skipSwitcher = true; w.onAllDesktops = true;\n"
                                 "}\n")
                          .arg(pid) +
                      QString::fromLatin1(windowListScript) +
                      QStringLiteral(
                          "brevlinWindows.forEach(brevlinDock);\n"
                          "if (workspace.windowAdded) workspace.windowAdded.connect(brevlinDock);\n"
                          "else workspace.clientAdded.connect(brevlinDock);\n"));
    return true;
}

RunningApplicationPtr KWinWorkspace::findRunning(const QString& applicationId) {
    const QList<Shared::Instance> instances = d->instancesOf(applicationId);
    if (instances.isEmpty())
        return nullptr;
    return std::make_shared<KWinRunningApplication>(instances.first().pid);
}

bool KWinWorkspace::isFrontmost(const QString& applicationId) {
    // The compositor's own word where it gives it: exact, and no call to the application. A
    // frame's ACTIVE state can lag behind (Chromium on XWayland keeps it a while).
    if (d->activeWindow.isWatching()) {
        const qint64 pid = d->activeWindow.activePid();
        if (pid <= 0)
            return false;
        if (d->startedPids.value(applicationId).contains(pid))
            return true;
        const auto entry = entryFor(applicationId);
        return entry && runsEntry(pid, *entry);
    }
    for (const Shared::Instance& instance : d->instancesOf(applicationId))
        for (quint64 states : instance.frames)
            if (states & activeState)
                return true;
    return false;
}

void KWinWorkspace::start(const QString& applicationId, StartDone done) {
    const auto entry = entryFor(applicationId);
    if (!entry || entry->path.isEmpty()) {
        done(StartResult::notInstalled());
        return;
    }
    GDesktopAppInfo* info =
        g_desktop_app_info_new_from_filename(entry->path.toLocal8Bit().constData());
    if (!info) {
        done(StartResult::failed(
            QStringLiteral("The application entry %1 could not be read.").arg(entry->path)));
        return;
    }
    GError* error = nullptr;
    GPid pid = 0;
    // The process id is what finds the application's windows again on Wayland.
    const bool launched = g_desktop_app_info_launch_uris_as_manager(
        info, nullptr, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
        [](GDesktopAppInfo*, GPid launchedPid, gpointer data) {
            *static_cast<GPid*>(data) = launchedPid;
        },
        &pid, &error);
    g_object_unref(info);
    if (!launched) {
        const QString message = error ? fromUtf8(error->message)
                                      : QStringLiteral("The application could not be started.");
        if (error)
            g_error_free(error);
        done(StartResult::failed(message));
        return;
    }
    if (pid > 0)
        d->startedPids[applicationId].insert(pid);

    auto* timer = new QTimer;
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    const std::weak_ptr<Shared> shared = d;
    const int timeout = m_startTimeoutMilliseconds;
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        const auto alive = shared.lock();
        const QList<Shared::Instance> instances =
            alive ? alive->instancesOf(applicationId) : QList<Shared::Instance>();
        RunningApplicationPtr application =
            instances.isEmpty() ? nullptr
                                : std::make_shared<KWinRunningApplication>(instances.first().pid);
        if (application) {
            timer->stop();
            timer->deleteLater();
            application->activate();
            done(StartResult::started(application));
        } else if (!alive || elapsed->elapsed() >= timeout) {
            timer->stop();
            timer->deleteLater();
            done(StartResult::failed(
                QStringLiteral("The application did not open a window within %1 seconds.")
                    .arg(timeout / 1000.0)));
        }
    });
    timer->start(startPollMilliseconds);
}

} // namespace brevlin

#include "KWinWorkspace.moc"
