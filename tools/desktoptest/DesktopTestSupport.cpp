#include "DesktopTestSupport.h"

#include "platform/linux/X11Keymap.h"
#include "platform/linux/XcbReply.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

namespace brevlin::testing {

namespace {

QString applicationsDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/applications";
}

// Quoting of an Exec argument: double quotes, with the characters that are special inside them
// escaped by a backslash, then the escaping every string value of the file gets.
QString quoteExecArgument(const QString& argument) {
    QString quoted;
    for (QChar c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted = '"' + quoted + '"';
    quoted.replace("\\", "\\\\");
    quoted.replace("%", "%%");
    return quoted;
}

} // namespace

QString installDesktopEntry(const QString& applicationId, const QString& name,
                            const QStringList& exec, const QString& startupWMClass) {
    QDir().mkpath(applicationsDir());
    QStringList quoted;
    for (const QString& a : exec)
        quoted.append(quoteExecArgument(a));
    const QString path = applicationsDir() + "/" + applicationId + ".desktop";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    QString text = "[Desktop Entry]\nType=Application\nName=" + name +
                   "\nExec=" + quoted.join(' ') + "\nTerminal=false\n";
    if (!startupWMClass.isEmpty())
        text += "StartupWMClass=" + startupWMClass + "\n";
    file.write(text.toUtf8());
    return path;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMilliseconds) {
    QDeadlineTimer deadline(timeoutMilliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

QString standinExecutable() {
    return QStringLiteral(BREVLIN_STANDIN_PATH);
}

bool runsCleanly(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void endProcess(QProcess* process) {
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(3000);
    }
}

bool setAccessibilityEnabled(bool enabled) {
    return runsCleanly(QStringLiteral(BREVLIN_SCRIPTS_DIR "/a11y-enable"),
                       {enabled ? "on" : "off"});
}

StandinRecord::StandinRecord()
    : m_path(m_dir.filePath("record.jsonl")) {}

QList<QJsonObject> StandinRecord::events() const {
    QList<QJsonObject> result;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (const QJsonDocument doc = QJsonDocument::fromJson(line); doc.isObject())
            result.append(doc.object());
    return result;
}

QList<QJsonObject> StandinRecord::events(const QString& kind) const {
    QList<QJsonObject> result;
    for (const QJsonObject& e : events())
        if (e.value("event").toString() == kind)
            result.append(e);
    return result;
}

bool StandinRecord::waitFor(const std::function<bool(const QJsonObject&)>& predicate,
                            int timeoutMilliseconds) const {
    return waitUntil([&] { return std::ranges::any_of(events(), predicate); }, timeoutMilliseconds);
}

bool StandinRecord::waitForEvent(const QString& kind, const QJsonObject& fields,
                                 int timeoutMilliseconds) const {
    return waitFor(
        [&](const QJsonObject& e) {
            if (e.value("event").toString() != kind)
                return false;
            for (auto field = fields.begin(); field != fields.end(); ++field)
                if (e.value(field.key()) != field.value())
                    return false;
            return true;
        },
        timeoutMilliseconds);
}

QStringList StandinRecord::runs() const {
    QStringList result;
    for (const QJsonObject& e : events("run"))
        result.append(e.value("name").toString() + "/" + e.value("trigger").toString());
    return result;
}

bool StandinRecord::isActive() const {
    const QList<QJsonObject> changes = events("active");
    return !changes.isEmpty() && changes.last().value("value").toBool();
}

QString StandinRecord::lastText() const {
    const QList<QJsonObject> texts = events("text");
    return texts.isEmpty() ? QString() : texts.last().value("text").toString();
}

void StandinRecord::clear() const {
    QFile::remove(m_path);
}

QString installStandinEntry(const QStringList& arguments, const QString& wmClass,
                            const QString& fileName) {
    return installDesktopEntry(fileName.chopped(8), "Stand-in Design",
                               QStringList{standinExecutable(), "--wm-class", wmClass} + arguments,
                               wmClass);
}

void removeStandinEntries() {
    for (const char* name : {"com.figma.Desktop.desktop", "figma-linux.desktop"})
        QFile::remove(applicationsDir() + "/" + name);
}

bool StandinProcess::start(const QStringList& arguments, const QString& wmClass) {
    stop();
    m_record.clear();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->start(standinExecutable(),
                     QStringList{"--record", m_record.path(), "--wm-class", wmClass} + arguments);
    if (!m_process->waitForStarted(5000))
        return false;
    // A padded stand-in built with sanitizers takes many seconds to build its window.
    return m_record.waitForEvent("ready", 60000);
}

void StandinProcess::stop() {
    endProcess(m_process.get());
    m_process.reset();
}

namespace {

// One connection for the helpers, kept for the test's lifetime.
xcb_connection_t* connection() {
    static xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    return c;
}

// The window manager's atoms on that connection, for one helper's use.
struct Ewmh : xcb_ewmh_connection_t {
    Ewmh()
        : ok(xcb_ewmh_init_atoms_replies(this, xcb_ewmh_init_atoms(testing::connection(), this),
                                         nullptr)) {}
    ~Ewmh() {
        if (ok)
            xcb_ewmh_connection_wipe(this);
    }
    const bool ok;
};

// Read afresh each time: the tests change layouts and borrow keycodes.
QList<xcb_keycode_t> keycodesFor(quint32 keysym, bool anyLevel) {
    const X11Keymap keymap(connection());
    if (anyLevel)
        return keymap.keycodesGiving(keysym);
    QList<xcb_keycode_t> result;
    for (const X11Keymap::Place& place : keymap.placesOf(keysym))
        if (!place.shifted)
            result.append(place.keycode);
    return result;
}

} // namespace

qint64 activeWindowPid() {
    xcb_connection_t* c = connection();
    Ewmh ewmh;
    xcb_window_t window = activeWindow();
    if (window == XCB_NONE) {
        const auto focus = xcbOwn(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        window = focus ? focus->focus : XCB_NONE;
    }
    qint64 pid = 0;
    // The focus may sit on a child of the client window: walk up until one names its process.
    for (int i = 0; ewmh.ok && i < 8 && window != XCB_NONE; ++i) {
        uint32_t value = 0;
        if (xcb_ewmh_get_wm_pid_reply(&ewmh, xcb_ewmh_get_wm_pid(&ewmh, window), &value, nullptr)) {
            pid = value;
            break;
        }
        const auto tree = xcbOwn(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree)
            break;
        window = tree->parent == tree->root ? XCB_NONE : tree->parent;
    }
    return pid;
}

void pressKeysym(quint32 keysym, bool down) {
    const QList<xcb_keycode_t> codes = keycodesFor(keysym, false);
    if (!codes.isEmpty())
        pressKeycode(codes.first(), down);
}

void pressKeycode(quint8 keycode, bool down) {
    xcb_connection_t* c = connection();
    xcb_test_fake_input(c, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
    xcbOwn(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

bool setKeyboardLayout(const QString& layouts) {
    return runsCleanly(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), layouts});
}

bool isKeysymDown(quint32 keysym) {
    xcb_connection_t* c = connection();
    const auto keymap = xcbOwn(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    if (!keymap)
        return false;
    bool down = false;
    for (xcb_keycode_t k : keycodesFor(keysym, false))
        down = down || (keymap->keys[k / 8] & (1 << (k % 8)));
    return down;
}

int keycodesCarrying(quint32 keysym) {
    return int(keycodesFor(keysym, true).size());
}

PaletteState parsePaletteTitle(const QString& pageTitle) {
    PaletteState state;
    QString title = pageTitle;
    if (title.endsWith(QLatin1String(" - Chromium")))
        title.chop(11);
    const QStringList fields = title.split('|');
    if (fields.value(0) != QLatin1String("Palette"))
        return state;
    state.found = true;
    QHash<QString, QString> values;
    for (const QString& field : fields.mid(1))
        values.insert(field.section('=', 0, 0), field.section('=', 1));
    state.open = values.value("open") == "1";
    state.tab = values.value("tab");
    state.ctrlK = values.value("k").toInt();
    state.runs = values.value("runs").split(',', Qt::SkipEmptyParts);
    state.text = values.value("text");
    state.strayInput = values.value("stray").toInt();
    state.runAt = values.value("at").toDouble();
    return state;
}

QList<ClientWindow> clientWindows() {
    xcb_connection_t* c = connection();
    Ewmh ewmh;
    QList<ClientWindow> result;
    xcb_ewmh_get_windows_reply_t clients;
    if (ewmh.ok && xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, 0),
                                                  &clients, nullptr)) {
        for (uint32_t i = 0; i < clients.windows_len; ++i) {
            ClientWindow w;
            w.window = clients.windows[i];
            uint32_t pid = 0;
            if (xcb_ewmh_get_wm_pid_reply(&ewmh, xcb_ewmh_get_wm_pid(&ewmh, w.window), &pid,
                                          nullptr))
                w.pid = pid;
            xcb_ewmh_get_utf8_strings_reply_t name;
            if (xcb_ewmh_get_wm_name_reply(&ewmh, xcb_ewmh_get_wm_name(&ewmh, w.window), &name,
                                           nullptr)) {
                w.title = QString::fromUtf8(name.strings, int(name.strings_len));
                xcb_ewmh_get_utf8_strings_reply_wipe(&name);
            }
            if (const auto reply = xcbOwn(xcb_get_property_reply(
                    c, xcb_get_property(c, 0, w.window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                    nullptr))) {
                const QList<QByteArray> names =
                    QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                               xcb_get_property_value_length(reply.get()))
                        .split('\0');
                w.instance = QString::fromUtf8(names.value(0));
                w.windowClass = QString::fromUtf8(names.value(1));
            }
            result.append(w);
        }
        xcb_ewmh_get_windows_reply_wipe(&clients);
    }
    return result;
}

quint32 activeWindow() {
    Ewmh ewmh;
    xcb_window_t window = XCB_NONE;
    if (ewmh.ok)
        xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, 0), &window,
                                         nullptr);
    return window;
}

bool windowManagerBarrier(quint32 window) {
    Ewmh ewmh;
    if (!ewmh.ok)
        return false;
    const auto skipsPager = [&] {
        xcb_ewmh_get_atoms_reply_t state;
        if (!xcb_ewmh_get_wm_state_reply(&ewmh, xcb_ewmh_get_wm_state(&ewmh, window), &state,
                                         nullptr))
            return false;
        const bool found = std::count(state.atoms, state.atoms + state.atoms_len,
                                      ewmh._NET_WM_STATE_SKIP_PAGER) > 0;
        xcb_ewmh_get_atoms_reply_wipe(&state);
        return found;
    };
    bool done = true;
    for (const bool on : {true, false}) {
        xcb_ewmh_request_change_wm_state(
            &ewmh, 0, window, on ? XCB_EWMH_WM_STATE_ADD : XCB_EWMH_WM_STATE_REMOVE,
            ewmh._NET_WM_STATE_SKIP_PAGER, XCB_NONE, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        xcb_flush(connection());
        done = done && waitUntil([&] { return skipsPager() == on; });
    }
    return done;
}

PaletteState paletteState(qint64 pid) {
    for (const ClientWindow& w : clientWindows()) {
        if (pid != 0 && w.pid != pid)
            continue;
        PaletteState result = parsePaletteTitle(w.title);
        result.pid = w.pid;
        if (result.found)
            return result;
    }
    return {};
}

bool waitForPalette(const std::function<bool(const PaletteState&)>& predicate, qint64 pid,
                    int timeoutMilliseconds) {
    return waitUntil(
        [&] {
            const PaletteState state = paletteState(pid);
            return state.found && predicate(state);
        },
        timeoutMilliseconds);
}

QString palettePagePath() {
    return QStringLiteral(BREVLIN_PALETTE_PAGE);
}

QStringList chromiumPaletteCommand(const QString& query, const QString& wmClass,
                                   const QString& profileDirectory) {
    QString url = QUrl::fromLocalFile(QStringLiteral(BREVLIN_PALETTE_PAGE)).toString();
    if (!query.isEmpty())
        url += '?' + query;
    return chromiumCommand(profileDirectory) + QStringList{"--class=" + wmClass, "--app=" + url};
}

bool chromiumIgnoresKeymapChanges() {
    QProcess chromium; // "Chromium 156.0.8078.129 built on Debian …"
    chromium.start(QStringLiteral("chromium"), {QStringLiteral("--version")});
    return chromium.waitForFinished(30000) &&
           QString(chromium.readAll()).section(' ', 1, 1).section('.', 0, 0).toInt() >= 156;
}

QStringList chromiumCommand(const QString& profileDirectory) {
    // A fresh profile, nothing fetched from the network, and no sandbox (tests run as root).
    // Nothing here turns accessibility on: the page's tree is published only when asked for.
    return QStringLiteral("chromium --no-sandbox --no-first-run --disable-background-networking "
                          "--disable-component-update --disable-sync --disable-gpu "
                          "--password-store=basic")
               .split(' ') +
           QStringList{"--user-data-dir=" + profileDirectory};
}

QString installChromiumPaletteEntry(const QString& query, const QString& wmClass,
                                    const QString& profileDirectory) {
    return installDesktopEntry("com.figma.Desktop", "Palette Design",
                               chromiumPaletteCommand(query, wmClass, profileDirectory), wmClass);
}

bool ChromiumPalette::start(const QString& query, const QString& wmClass) {
    stop();
    m_profile = std::make_unique<QTemporaryDir>();
    QStringList command = chromiumPaletteCommand(query, wmClass, m_profile->path());
    m_process = std::make_unique<QProcess>();
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->start(command.takeFirst(), command);
    if (!m_process->waitForStarted(5000))
        return false;
    return waitForPalette([](const PaletteState&) { return true; }, pid(), 30000);
}

void ChromiumPalette::stop() {
    endProcess(m_process.get());
    m_process.reset();
    m_profile.reset();
}

void terminateProcess(qint64 pid) {
    if (pid <= 0)
        return;
    ::kill(pid_t(pid), SIGTERM);
    if (!waitUntil([pid] { return ::kill(pid_t(pid), 0) != 0; }, 3000))
        ::kill(pid_t(pid), SIGKILL);
}

} // namespace brevlin::testing
