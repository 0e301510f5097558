#pragma once

// Shared by the tests that run inside scripts/desktop-session: the stand-in target, its desktop
// entry, its record file and the desktop's accessibility switch.

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace brevlin::testing {

// Whether the test runs inside a private desktop session (and may therefore change the desktop).
inline bool insideDesktopSession() {
    return !qEnvironmentVariableIsEmpty("BREVLIN_DESKTOP_SESSION");
}
// Serves the event loop until `condition` holds; false when the time ran out first.
bool waitUntil(const std::function<bool()>& condition, int timeoutMilliseconds = 5000);
// Whether `program` exited with 0 within 10 s.
bool runsCleanly(const QString& program, const QStringList& arguments);
// Terminates `process` if it runs, and kills it if it does not go.
void endProcess(QProcess* process);

QString standinExecutable();

// Sets org.a11y.Status IsEnabled on the session bus. Applications read it when they start.
bool setAccessibilityEnabled(bool enabled);

// The stand-in's record file: one JSON object per line, appended by the stand-in.
class StandinRecord {
public:
    StandinRecord();
    QString path() const { return m_path; }
    QList<QJsonObject> events() const;
    QList<QJsonObject> events(const QString& kind) const;
    bool waitFor(const std::function<bool(const QJsonObject&)>& predicate,
                 int timeoutMilliseconds = 5000) const;
    bool waitForEvent(const QString& kind, int timeoutMilliseconds = 5000) const {
        return waitForEvent(kind, {}, timeoutMilliseconds);
    }
    // An event of `kind` holding every one of `fields`.
    bool waitForEvent(const QString& kind, const QJsonObject& fields,
                      int timeoutMilliseconds = 5000) const;
    // As "name/trigger".
    QStringList runs() const;
    bool isActive() const;    // as its last activation change left it
    QString lastText() const; // the search field's, or empty
    void clear() const;

private:
    QTemporaryDir m_dir;
    QString m_path;
};

// Writes an entry named `fileName` into $XDG_DATA_HOME/applications whose Exec starts the
// stand-in with `arguments`, and whose StartupWMClass is `wmClass` (the stand-in gets the same
// class). Returns the entry's path.
QString installStandinEntry(const QStringList& arguments,
                            const QString& wmClass = QStringLiteral("brevlin-standin"),
                            const QString& fileName = QStringLiteral("com.figma.Desktop.desktop"));
// Removes every entry this helper may have written.
void removeStandinEntries();

// A stand-in started directly (not through its entry), ended when this goes away.
class StandinProcess {
public:
    ~StandinProcess() { stop(); }
    // Starts it with `arguments` plus the record file, and waits for its window.
    bool start(const QStringList& arguments = {},
               const QString& wmClass = QStringLiteral("brevlin-standin"));
    void stop();
    // Waits until the stand-in's window is active in the stand-in's own view, which is when keys
    // sent to it arrive for sure.
    bool waitUntilActive(int timeoutMilliseconds = 5000) const {
        return waitUntil([this] { return m_record.isActive(); }, timeoutMilliseconds);
    }
    qint64 pid() const { return m_process ? m_process->processId() : 0; }
    const StandinRecord& record() const { return m_record; }

private:
    std::unique_ptr<QProcess> m_process;
    StandinRecord m_record;
};

// The Chromium-hosted palette (tools/chromiumpalette/palette.html), started without any flag
// that forces accessibility on. It keeps its state in its window title:
//   Palette|open=0|tab=Plugins|k=3|runs=Content Reel/press,Iconify/key|text=Iconify
struct PaletteState {
    bool found = false;
    qint64 pid = 0;
    bool open = false;
    QString tab;
    int ctrlK = 0;      // Ctrl+K presses the page saw
    QStringList runs;   // "name/trigger", trigger "press" or "key"
    QString text;       // what the search field holds
    int strayInput = 0; // input events in any other text field of the page
    double runAt = 0;   // the page's clock (ms since the epoch) at the last run
};
// The state a palette window's title holds; not found for another title. An ordinary browser
// window adds the browser's name to the page's title (" - Chromium"), which is left out.
PaletteState parsePaletteTitle(const QString& title);

// A window the window manager manages, as the test sees it.
struct ClientWindow {
    quint32 window = 0;
    QString instance; // WM_CLASS instance
    QString windowClass;
    qint64 pid = 0;
    QString title;
};
QList<ClientWindow> clientWindows();
quint32 activeWindow(); // or 0
// Asks the window manager to keep `window` off the pager, then not, and waits until it has done
// both. It handles requests in order: by then it has handled every request made before, and the
// focus events the first round's focus changes caused.
bool windowManagerBarrier(quint32 window);

// The state of the palette window of `pid`, or of any palette window when `pid` is 0.
PaletteState paletteState(qint64 pid = 0);
bool waitForPalette(const std::function<bool(const PaletteState&)>& predicate, qint64 pid = 0,
                    int timeoutMilliseconds = 10000);

// tools/chromiumpalette/palette.html in the source tree.
QString palettePagePath();

// Chromium on a fresh profile of its own, as the tests run it; no page yet.
QStringList chromiumCommand(const QString& profileDirectory);
// Chromium 156 mostly misses keysyms given to spare keycodes: what the layout lacks is lost.
bool chromiumIgnoresKeymapChanges();
// The same for the palette page with `query` ("open=1&layers=2000") and `wmClass`.
QStringList chromiumPaletteCommand(const QString& query, const QString& wmClass,
                                   const QString& profileDirectory);
// Writes the target's entry (as installStandinEntry does) starting the palette in Chromium.
QString installChromiumPaletteEntry(const QString& query, const QString& wmClass,
                                    const QString& profileDirectory);

// The palette in a Chromium started directly, ended (with its helpers) when this goes away.
class ChromiumPalette {
public:
    ~ChromiumPalette() { stop(); }
    bool start(const QString& query = {}, const QString& wmClass = QStringLiteral("figma-palette"));
    void stop();
    qint64 pid() const { return m_process ? m_process->processId() : 0; }
    PaletteState state() const { return paletteState(pid()); }
    bool waitFor(const std::function<bool(const PaletteState&)>& predicate,
                 int timeoutMilliseconds = 10000) const {
        return waitForPalette(predicate, pid(), timeoutMilliseconds);
    }

private:
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_profile;
};

// The process owning the window that has focus now (_NET_ACTIVE_WINDOW, else the input focus).
qint64 activeWindowPid();
inline bool waitForActivePid(qint64 pid, int timeoutMilliseconds = 5000) {
    return waitUntil([pid] { return activeWindowPid() == pid; }, timeoutMilliseconds);
}

// Presses or releases the key carrying `keysym` through XTEST, as the user's own keyboard would.
void pressKeysym(quint32 keysym, bool down);
// Presses or releases the key with this X keycode, whatever the layout puts on it.
void pressKeycode(quint8 keycode, bool down);
// Evdev keycodes of a few keys by position (the session's keyboard is an evdev one).
inline constexpr quint8 evdevKeycodeAE01 = 10; // "1" on a US keyboard
inline constexpr quint8 evdevKeycodeAE02 = 11;
inline constexpr quint8 evdevKeycodeAE03 = 12;
inline constexpr quint8 evdevKeycodeAC08 = 45; // "K" on a US keyboard
// Switches the session's keyboard to these layouts ("fr", "ru,us") as setxkbmap does.
bool setKeyboardLayout(const QString& layouts);

// Whether the key carrying `keysym` is down in the server's keyboard state.
bool isKeysymDown(quint32 keysym);
// Keycodes whose keyboard mapping holds `keysym` at any level.
int keycodesCarrying(quint32 keysym);

// Writes $XDG_DATA_HOME/applications/<applicationId>.desktop with these values and
// Type=Application. Returns its path.
QString installDesktopEntry(const QString& applicationId, const QString& name,
                            const QStringList& exec, const QString& startupWMClass = {});

// Ends a process started on the stand-in's behalf by someone else (a launch through its entry).
void terminateProcess(qint64 pid);

} // namespace brevlin::testing
