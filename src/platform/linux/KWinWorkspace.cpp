#include "KWinWorkspace.h"

#include "AtspiBus.h"
#include "DesktopEntries.h"
#include "SessionBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>

#include <glib.h>

namespace brevlin {

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");

QDBusMessage scriptingCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(kwinService, QStringLiteral("/Scripting"),
                                       QStringLiteral("org.kde.kwin.Scripting"), method);
    message.setArguments(arguments);
    return message;
}

QDBusMessage unloadKWinScriptCall(const QString& name) {
    return scriptingCall(QStringLiteral("unloadScript"), {name});
}

// AtspiStateType ATSPI_STATE_ACTIVE: the window the compositor activated.
constexpr quint64 activeState = quint64(1) << 1;
constexpr int startPollMilliseconds = 100;

// KWin 6 names windows where 5 named clients; the scripts work with either.
const char* const windowListScript =
    "const brevlinWindows = workspace.windowList ? workspace.windowList() : "
    "workspace.clientList();\n";

// The Exec line's arguments without field codes.
QStringList execArguments(const QString& commandLine) {
    QStringList result;
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(commandLine.toUtf8().constData(), nullptr, &argv, nullptr))
        return result;
    for (gchar** a = argv; *a; ++a)
        if (!(strlen(*a) == 2 && (*a)[0] == '%'))
            result.append(QString::fromUtf8(*a));
    g_strfreev(argv);
    return result;
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
bool runsEntry(qint64 pid, const QStringList& exec) {
    if (exec.isEmpty() || pid <= 0)
        return false;
    const QString command = commandLineOf(pid);
    if (command.isEmpty())
        return false;
    const QString program = QFileInfo(exec.first()).fileName();
    if (QFileInfo(command.section(QLatin1Char(' '), 0, 0)).fileName() != program &&
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid))).fileName() !=
            program)
        return false;
    const QString spaced = QLatin1Char(' ') + command + QLatin1Char(' ');
    for (qsizetype i = 1; i < exec.size(); ++i)
        if (!spaced.contains(QLatin1Char(' ') + exec.at(i) + QLatin1Char(' ')))
            return false;
    return true;
}

// What identifies an application's windows and processes, read from its entry.
struct Identity {
    std::optional<DesktopEntry> entry;
    QStringList exec;

    // Whether the window carries the entry's identity: its app id names the entry (KWin may give
    // it as a path or with the suffix), or its app id or class is the entry's window class.
    bool carriedBy(const KWinWindow& window) const {
        if (!entry)
            return false;
        QString appId = window.appId.section(QLatin1Char('/'), -1);
        if (appId.endsWith(QLatin1String(".desktop")))
            appId.chop(8);
        const auto same = [](const QString& a, const QString& b) {
            return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
        };
        return same(appId, entry->applicationId) || same(appId, entry->windowClass) ||
               same(window.resourceClass, entry->windowClass) ||
               same(window.resourceName, entry->windowClass);
    }
};

// Told by a KWin script about KWin's windows and which one it activated: the compositor's own
// word, for toolkits whose frames do not publish the ACTIVE state (Chromium until its
// accessibility is fully on) and for the app ids only the compositor knows. The script calls back
// over D-Bus whenever a window comes, goes, is activated or renamed.
class WindowWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.brevlin.Windows")
public:
    static constexpr const char* path = "/app/brevlin/Windows";

    WindowWatcher() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!KWinWorkspace::canActivate() ||
            !bus.registerObject(QString::fromLatin1(path), this,
                                QDBusConnection::ExportScriptableSlots))
            return;
        m_scriptName = QStringLiteral("windows-%1").arg(QCoreApplication::applicationPid());
        // KWin 5 gives the names as byte arrays, KWin 6 as strings.
        runKWinScript(
            m_scriptName,
            QStringLiteral(
                "function brevlinText(v) {\n"
                "  if (v === undefined || v === null) return '';\n"
                "  if (typeof v === 'string') return v;\n"
                "  return String.fromCharCode.apply(null, new Uint8Array(v));\n"
                "}\n"
                "function brevlinReport(gone) {\n"
                "  const active = workspace.windowList ? workspace.activeWindow : "
                "workspace.activeClient;\n"
                "  const all = workspace.windowList ? workspace.windowList() : "
                "workspace.clientList();\n"
                "  const list = [];\n"
                "  for (const w of all) {\n"
                "    if (w === gone) continue;\n"
                "    list.push({id: String(w.internalId), pid: w.pid,\n"
                "      app: brevlinText(w.desktopFileName), cls: brevlinText(w.resourceClass),\n"
                "      name: brevlinText(w.resourceName),\n"
                "      caption: w.captionNormal !== undefined ? w.captionNormal : w.caption,\n"
                "      normal: !!w.normalWindow, above: !!w.keepAbove, "
                "skipTaskbar: !!w.skipTaskbar});\n"
                "  }\n"
                "  callDBus('%1', '%2', 'app.brevlin.Windows', 'windows', JSON.stringify(\n"
                "    {active: active && active !== gone ? String(active.internalId) : '',\n"
                "     windows: list}));\n"
                "}\n"
                "function brevlinWatch(w) {\n"
                "  const report = function () { brevlinReport(null); };\n"
                "  for (const s of ['desktopFileNameChanged', 'windowClassChanged', "
                "'captionChanged', 'keepAboveChanged', 'skipTaskbarChanged'])\n"
                "    if (w[s]) w[s].connect(report);\n"
                "}\n"
                "(workspace.windowList ? workspace.windowList() : "
                "workspace.clientList()).forEach(brevlinWatch);\n"
                "const brevlinAdded = function (w) { brevlinWatch(w); brevlinReport(null); };\n"
                "const brevlinRemoved = function (w) { brevlinReport(w); };\n"
                "const brevlinActivated = function () { brevlinReport(null); };\n"
                "if (workspace.windowList) {\n"
                "  workspace.windowAdded.connect(brevlinAdded);\n"
                "  workspace.windowRemoved.connect(brevlinRemoved);\n"
                "  workspace.windowActivated.connect(brevlinActivated);\n"
                "} else {\n"
                "  workspace.clientAdded.connect(brevlinAdded);\n"
                "  workspace.clientRemoved.connect(brevlinRemoved);\n"
                "  workspace.clientActivated.connect(brevlinActivated);\n"
                "}\n"
                "brevlinReport(null);\n")
                .arg(bus.baseService(), QString::fromLatin1(path)));
    }
    ~WindowWatcher() override {
        if (m_scriptName.isEmpty())
            return;
        QDBusConnection::sessionBus().unregisterObject(QString::fromLatin1(path));
        sendLastCall(unloadKWinScriptCall(m_scriptName));
    }

    bool isWatching() const { return m_reported; }
    const QList<KWinWindow>& windows() const { return m_windows; }
    std::optional<KWinWindow> active() const {
        for (const KWinWindow& window : m_windows)
            if (window.id == m_active)
                return window;
        return std::nullopt;
    }

public Q_SLOTS:
    Q_SCRIPTABLE void windows(const QString& report) {
        const QJsonObject object = QJsonDocument::fromJson(report.toUtf8()).object();
        m_active = object.value(QStringLiteral("active")).toString();
        m_windows.clear();
        for (const QJsonValue& value : object.value(QStringLiteral("windows")).toArray()) {
            const QJsonObject w = value.toObject();
            m_windows.append({w.value(QStringLiteral("id")).toString(),
                              qint64(w.value(QStringLiteral("pid")).toDouble()),
                              w.value(QStringLiteral("app")).toString(),
                              w.value(QStringLiteral("cls")).toString(),
                              w.value(QStringLiteral("name")).toString(),
                              w.value(QStringLiteral("caption")).toString(),
                              w.value(QStringLiteral("normal")).toBool(),
                              w.value(QStringLiteral("above")).toBool(),
                              w.value(QStringLiteral("skipTaskbar")).toBool()});
        }
        m_reported = true;
    }

private:
    QString m_scriptName;
    QString m_active;
    QList<KWinWindow> m_windows;
    bool m_reported = false;
};

} // namespace

// The accessibility bus's applications and KWin's windows, as far as the workspace needs them.
struct KWinWorkspace::Shared : std::enable_shared_from_this<KWinWorkspace::Shared> {
    atspi::Bus bus;
    WindowWatcher kwin;
    // Processes Brevlin started for an identifier: theirs whatever their command line says.
    QHash<QString, QSet<qint64>> startedPids;
    DesktopEntryCache entries;

    // The identifier's entry: read again when `fresh` (once per launch) or when old.
    Identity identity(const QString& identifier, bool fresh = false) {
        Identity identity;
        identity.entry = entries.entry(identifier, fresh);
        identity.exec = identity.entry ? execArguments(identity.entry->exec) : QStringList();
        return identity;
    }

    // KWin's windows carrying the identifier's identity, oldest first.
    QList<KWinWindow> identifiedWindows(const Identity& identity) const {
        QList<KWinWindow> result;
        for (const KWinWindow& window : kwin.windows())
            if (window.normal && identity.carriedBy(window))
                result.append(window);
        return result;
    }

    bool isOurProcess(const QString& identifier, const Identity& identity, qint64 pid) const {
        return startedPids.value(identifier).contains(pid) || runsEntry(pid, identity.exec);
    }

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

    // The identifier's instances found by process, oldest process first, with the frames' states.
    struct Instance {
        qint64 pid = 0;
        QList<quint64> frames;
    };
    QList<Instance> instancesOf(const QString& identifier, const Identity& identity) {
        QList<Instance> result;
        for (const Application& application : applications()) {
            const bool ours = isOurProcess(identifier, identity, application.pid) ||
                              (identity.entry && !identity.entry->name.isEmpty() &&
                               nameOf(application.ref) == identity.entry->name);
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

    RunningApplicationPtr find(const QString& identifier, const Identity& identity);
};

void unloadKWinScript(const QString& name) {
    QDBusConnection::sessionBus().send(unloadKWinScriptCall(name));
}

void runKWinScript(const QString& name, const QString& source) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString path = QDir(folder).filePath(QStringLiteral("brevlin-%1.js").arg(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(source.toUtf8());
    file.close();
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Calls on one connection are handled in order, so nothing needs to wait for an answer; none
    // is asked for, as a call still unanswered when the process ends is never freed.
    unloadKWinScript(name);
    bus.send(scriptingCall(QStringLiteral("loadScript"), {path, name}));
    bus.send(scriptingCall(QStringLiteral("start"), {}));
}

namespace {

// One window of KWin's when the instance was found by its identity, else the process's first.
class KWinRunningApplication : public RunningApplication {
public:
    KWinRunningApplication(std::weak_ptr<KWinWorkspace::Shared> shared, qint64 pid,
                           QString windowId)
        : m_shared(std::move(shared))
        , m_pid(pid)
        , m_windowId(std::move(windowId)) {}
    qint64 processIdentifier() const override { return m_pid; }
    void activate() override {
        if (!KWinWorkspace::canActivate())
            return;
        const QString which = m_windowId.isEmpty()
                                  ? QStringLiteral("w.pid === %1").arg(m_pid)
                                  : QStringLiteral("String(w.internalId) === '%1'").arg(m_windowId);
        // A script of a new name each time: KWin frees an unloaded script only later, and loading
        // one of the same name before then fails, which would lose this activation.
        static quint64 count = 0;
        unloadKWinScript(QStringLiteral("activate-%1").arg(count));
        runKWinScript(QStringLiteral("activate-%1").arg(++count),
                      QString::fromLatin1(windowListScript) +
                          QStringLiteral("for (const w of brevlinWindows) {\n"
                                         "  if (!(%1) || !w.normalWindow) continue;\n"
                                         "  if (w.minimized) w.minimized = false;\n"
                                         "  if (workspace.windowList) workspace.activeWindow = w;\n"
                                         "  else workspace.activeClient = w;\n"
                                         "  break;\n"
                                         "}\n")
                              .arg(which));
    }
    // The title tells the launcher the window's frame among the process's others, which matters
    // where the window was picked from several (a web app beside its browser's windows).
    QString windowTitle() const override {
        const auto shared = m_shared.lock();
        if (!shared || m_windowId.isEmpty())
            return {};
        for (const KWinWindow& window : shared->kwin.windows())
            if (window.id == m_windowId)
                return window.caption;
        return {};
    }

private:
    std::weak_ptr<KWinWorkspace::Shared> m_shared;
    qint64 m_pid;
    QString m_windowId;
};

} // namespace

RunningApplicationPtr KWinWorkspace::Shared::find(const QString& identifier,
                                                  const Identity& identity) {
    if (const QList<KWinWindow> windows = identifiedWindows(identity); !windows.isEmpty())
        return std::make_shared<KWinRunningApplication>(weak_from_this(), windows.first().pid,
                                                        windows.first().id);
    // KWin's word on which processes show a window, where it gives it; the accessibility bus
    // lists an application only once its toolkit has registered there.
    for (const KWinWindow& window : kwin.windows())
        if (window.normal && isOurProcess(identifier, identity, window.pid))
            return std::make_shared<KWinRunningApplication>(weak_from_this(), window.pid,
                                                            QString());
    const QList<Instance> instances = instancesOf(identifier, identity);
    if (instances.isEmpty())
        return nullptr;
    return std::make_shared<KWinRunningApplication>(weak_from_this(), instances.first().pid,
                                                    QString());
}

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

QList<KWinWindow> KWinWorkspace::windows() const {
    return d->kwin.windows();
}

std::optional<KWinWindow> KWinWorkspace::activeWindow() const {
    return d->kwin.active();
}

RunningApplicationPtr KWinWorkspace::findRunning(const QString& applicationId) {
    return d->find(applicationId, d->identity(applicationId, true));
}

bool KWinWorkspace::isFrontmost(const QString& applicationId) {
    const Identity identity = d->identity(applicationId);
    // The compositor's own word where it gives it: exact, and no call to the application. A
    // frame's ACTIVE state can lag behind (Chromium on XWayland keeps it a while).
    if (d->kwin.isWatching()) {
        const std::optional<KWinWindow> active = d->kwin.active();
        if (!active)
            return false;
        if (identity.carriedBy(*active))
            return true;
        // Another window has the identity: the active one is some other window of the process.
        if (!d->identifiedWindows(identity).isEmpty())
            return false;
        return d->isOurProcess(applicationId, identity, active->pid);
    }
    for (const Shared::Instance& instance : d->instancesOf(applicationId, identity))
        for (quint64 states : instance.frames)
            if (states & activeState)
                return true;
    return false;
}

void KWinWorkspace::start(const QString& applicationId, StartDone done) {
    const Identity identity = d->identity(applicationId, true);
    const std::weak_ptr<Shared> shared = d;
    startDesktopEntry(
        identity.entry,
        [shared, applicationId]() -> RunningApplicationPtr {
            const auto alive = shared.lock();
            return alive ? alive->find(applicationId, alive->identity(applicationId)) : nullptr;
        },
        std::move(done), m_startTimeoutMilliseconds, startPollMilliseconds,
        [shared, applicationId](qint64 pid) {
            if (const auto alive = shared.lock())
                alive->startedPids[applicationId].insert(pid);
        });
}

} // namespace brevlin

#include "KWinWorkspace.moc"
