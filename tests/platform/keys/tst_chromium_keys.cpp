// Synthetic keys into Chromium, the engine of the real target, under layouts other than US: the
// launch's shortcuts arrive as the keys at their US positions and typed text arrives exactly.
// The page shows in its title the Ctrl chords it saw (by physical key) and the field's text.

#include "DesktopTestSupport.h"
#include "platform/linux/XTestKeyboard.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

const char page[] = R"(<!doctype html><html><head><title>ready</title></head><body>
<input id="f" autofocus>
<script>
const f = document.getElementById('f');
const chords = [];
const show = () => { document.title = chords.join(' ') + '|' + f.value; };
f.addEventListener('keydown', e => {
  if (e.ctrlKey && e.code.startsWith('Key')) { chords.push('ctrl+' + e.code); show(); }
});
f.addEventListener('input', show);
// The field shows it has the keyboard: keys sent before that would be lost by the test's doing.
window.addEventListener('focus', () => { if (document.activeElement === f) show(); });
f.addEventListener('focus', () => { if (document.hasFocus()) show(); });
</script></body></html>)";

void press(XTestKeyboard& keys, Key key, KeyModifiers modifiers = {}) {
    QCOMPARE(keys.press(key, modifiers), KeyResult::posted);
}

} // namespace

class ChromiumKeysTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_profile;
    QProcess m_chromium;
    std::unique_ptr<XTestKeyboard> m_keys;
    quint32 m_window = 0;

    // The page's window: the browser's, titled as the page is before and after it has focus.
    bool findWindow() {
        for (const ClientWindow& w : clientWindows()) {
            if (w.pid == m_chromium.processId() && (w.title == "ready" || w.title == "|"))
                m_window = w.window;
        }
        return m_window != 0;
    }
    QString title() const {
        for (const ClientWindow& w : clientWindows()) {
            if (w.window == m_window)
                return w.title;
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        QVERIFY2(!chromium.isEmpty(), "chromium is missing; run scripts/install-deps");
        m_keys = XTestKeyboard::create();
        QVERIFY(m_keys);
    }

    void init() {
        QFile file(m_profile.filePath(QStringLiteral("page.html")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(page);
        file.close();
        // Chromium complains at length about the missing system bus; none of it matters here.
        m_chromium.setStandardOutputFile(QProcess::nullDevice());
        m_chromium.setStandardErrorFile(QProcess::nullDevice());
        QStringList command =
            chromiumCommand(m_profile.filePath(QStringLiteral("profile"))) +
            QStringList{"--ozone-platform=x11", "--app=file://" + file.fileName()};
        m_chromium.start(command.takeFirst(), command);
        QVERIFY(m_chromium.waitForStarted(10000));
        m_window = 0;
        QTRY_VERIFY2_WITH_TIMEOUT(findWindow(), "the page did not show", 30000);
        QCOMPARE(
            QProcess::execute("xdotool", {"windowactivate", "--sync", QString::number(m_window)}),
            0);
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("|"), 10000);
    }

    void cleanup() {
        QVERIFY(setKeyboardLayout(QStringLiteral("us")));
        m_chromium.terminate();
        if (!m_chromium.waitForFinished(5000)) {
            m_chromium.kill();
            m_chromium.waitForFinished(5000);
        }
    }

    void shortcutsAndTextReachChromium_data() {
        QTest::addColumn<QString>("layout");
        for (const char* layout : {"fr", "ru"})
            QTest::newRow(layout) << QString::fromLatin1(layout);
    }
    void shortcutsAndTextReachChromium() {
        QFETCH(QString, layout);
        QVERIFY(setKeyboardLayout(layout));
        QTest::qWait(300);
        // The layout's own letters mixed with characters it lacks (Latin on a Cyrillic layout),
        // which go on borrowed keycodes once Chromium answered a ping after each keymap change,
        // never after a blind pause.
        const QString text = layout == "ru" ? QStringLiteral("Cafe Кафе Über 日本")
                                            : QStringLiteral("Café Über 日本");
        const XTestKeyboard::KeymapWaits before = m_keys->keymapWaits();
        for (qsizetype i = 0; i < text.size(); ++i)
            QCOMPARE(m_keys->type(QStringView(text).mid(i, 1)), KeyResult::posted);
        if (chromiumIgnoresKeymapChanges())
            QEXPECT_FAIL("", "Chromium 156 takes no character on a borrowed keycode", Continue);
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("|") + text, 5000);
        QVERIFY(m_keys->keymapWaits().answered > before.answered);
        QCOMPARE(m_keys->keymapWaits().paused, before.paused);
        // Command-A, Delete, Command-K: the chords Figma's palette needs, by physical key.
        press(*m_keys, Key::a, KeyModifier::primary);
        press(*m_keys, Key::deleteBackward);
        press(*m_keys, Key::k, KeyModifier::primary);
        const QString expectedA = layout == "fr" ? QStringLiteral("ctrl+KeyQ")  // A on AZERTY
                                                 : QStringLiteral("ctrl+KeyA"); // US position
        QTRY_COMPARE_WITH_TIMEOUT(title(), expectedA + QStringLiteral(" ctrl+KeyK|"), 5000);
    }
};

QTEST_GUILESS_MAIN(ChromiumKeysTest)
#include "tst_chromium_keys.moc"
