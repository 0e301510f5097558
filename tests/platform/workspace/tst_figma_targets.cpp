// What is installed of Figma, as the settings window lists it and saves the choice, and "Start
// Brevlin at login". Entries go into the session's own XDG_DATA_HOME and are found by their ids:
// the clients' entries run `true` and are never started.

#include "../../model/StoreFiles.h"
#include "DesktopTestSupport.h"
#include "model/DockStore.h"
#include "platform/linux/AutostartEntry.h"
#include "platform/linux/DesktopEntries.h"
#include "ui/settings/SettingsView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

QStringList idsOf(const QList<FigmaTarget>& targets) {
    QStringList ids;
    for (const FigmaTarget& t : targets)
        ids.append(t.applicationId);
    return ids;
}

} // namespace

class FigmaTargetsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session"); }

    void listsWhatIsInstalledAndSavesTheChoice() {
        QTemporaryDir data;
        DockStore store(data.path(), noSeed());
        SettingsView view(store);
        view.setDesktopServices({installedFigmaTargets, {}, {}});
        // Nothing installed: the row says what to install.
        QVERIFY(view.figmaTargets().isEmpty());
        const auto* missing = view.findChild<QLabel*>("figmaMissingLabel");
        auto* box = view.findChild<QComboBox*>("figmaTargetBox");
        QVERIFY(!missing->isHidden() && box->isHidden());
        QVERIFY(missing->text().contains("figma-linux") && missing->text().contains("Chrome"));

        const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        const QStringList runsNothing = {"true"};
        // The community client as its deb and snap packages name it, beside Flatpak's export
        // folder, which a session's XDG_DATA_DIRS may lack.
        installDesktopEntry("figma-linux", "Figma Linux", runsNothing);
        installDesktopEntry("figma-linux_figma-linux", "Figma Linux", runsNothing);
        const QString flatpak = dataHome + "/flatpak/exports/share/applications";
        QVERIFY(QDir().mkpath(flatpak));
        QVERIFY(QFile::copy(dataHome + "/applications/figma-linux.desktop",
                            flatpak + "/io.github.Figma_Linux.figma_linux.desktop"));
        // Web apps: one by its URL (without StartupWMClass: the browser's crx_ class), one by its
        // name; a web app for another site, and an entry named Figma that is no browser's.
        const QString byUrl = "brave-aaaabbbbccccddddeeeeffffgggghhhh-Default";
        installDesktopEntry(byUrl, "Design",
                            {"chromium", "--app=https://www.figma.com/files/recent"});
        const QString byName = "chrome-ppppoooonnnnmmmmllllkkkkjjjjiiii-Profile_1";
        installDesktopEntry(byName, "Figma",
                            {"chromium", "--app-id=ppppoooonnnnmmmmllllkkkkjjjjiiii"},
                            "crx_ppppoooonnnnmmmmllllkkkkjjjjiiii");
        installDesktopEntry("chrome-aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa-Default", "Notes",
                            {"chromium", "--app=https://notfigma.com.example.org/"});
        installDesktopEntry("figma-notes", "Figma Notes", runsNothing);

        const QStringList expected = {"figma-linux", "io.github.Figma_Linux.figma_linux",
                                      "figma-linux_figma-linux", byUrl, byName};
        QTRY_COMPARE(idsOf(installedFigmaTargets()), expected);
        const QList<FigmaTarget> found = installedFigmaTargets();
        QCOMPARE(found[3].windowClass, QString("crx_aaaabbbbccccddddeeeeffffgggghhhh"));
        QCOMPARE(found[3].kind, FigmaTarget::Kind::webApp);
        QCOMPARE(found[0].kind, FigmaTarget::Kind::desktopClient);

        // Shown when the window comes up; the first found is the default, and nothing is saved
        // for it.
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(idsOf(view.figmaTargets()), expected);
        QVERIFY(missing->isHidden() && !box->isHidden());
        QCOMPARE(box->count(), expected.size());
        QCOMPARE(box->currentIndex(), 0);
        QVERIFY(!readAll(store.configFilePath()).contains("figmaTarget"));

        // The user's choice is saved, with the file's keys still in order, and read back.
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down);
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(store.figmaTarget(), std::optional<QString>("figma-linux_figma-linux"));
        const QByteArray saved = readAll(store.configFilePath());
        QVERIFY(saved.contains("\"figmaTarget\" : \"figma-linux_figma-linux\""));
        QVERIFY(saved.indexOf("\"figmaTarget\"") < saved.indexOf("\"items\""));
        DockStore reread(data.path(), noSeed());
        QCOMPARE(reread.figmaTarget(), std::optional<QString>("figma-linux_figma-linux"));
        SettingsView again(reread);
        again.setDesktopServices({installedFigmaTargets, {}, {}});
        QCOMPARE(again.findChild<QComboBox*>("figmaTargetBox")->currentIndex(), 2);

        // A file without the key loads as before and is written back without it.
        QByteArray older = saved;
        older.replace("  \"figmaTarget\" : \"figma-linux_figma-linux\",\n", "");
        QVERIFY(!older.contains("figmaTarget"));
        QVERIFY(writeAll(store.configFilePath(), older));
        DockStore plain(data.path(), noSeed());
        QVERIFY(!plain.figmaTarget());
        QCOMPARE(plain.items(), store.items());
        QVERIFY(plain.save());
        QCOMPARE(readAll(store.configFilePath()), older);

        for (const QString& id :
             expected +
                 QStringList{"chrome-aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa-Default", "figma-notes"})
            QFile::remove(dataHome + "/applications/" + id + ".desktop");
        QDir(dataHome + "/flatpak").removeRecursively();
    }

    void startAtLoginFollowsTheAutostartEntry() {
        QTemporaryDir data;
        DockStore store(data.path(), noSeed());
        const AutostartEntry entry("/opt/Brevlin Test/brevlin");
        const QString path =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            "/autostart/brevlin.desktop";
        QCOMPARE(entry.path(), path);
        SettingsView view(store);
        view.setDesktopServices(
            {{}, [&] { return entry.isEnabled(); }, [&](bool on) { return entry.setEnabled(on); }});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* box = view.findChild<QCheckBox*>("startAtLoginBox");
        QVERIFY(!box->isChecked());
        // The box is as wide as the window; a click counts on its indicator and label.
        const QPoint indicator(8, box->height() / 2);

        QTest::mouseClick(box, Qt::LeftButton, {}, indicator);
        QVERIFY(box->isChecked());
        QVERIFY(readAll(path).contains("Exec=\"/opt/Brevlin Test/brevlin\""));
        QTest::mouseClick(box, Qt::LeftButton, {}, indicator);
        QVERIFY(!box->isChecked());
        QVERIFY(!QFile::exists(path));

        // Made and deleted by hand: the box follows the next time the window comes up.
        QVERIFY(writeAll(path, "[Desktop Entry]\nType=Application\nName=Brevlin\nExec=brevlin\n"));
        view.hide();
        view.show();
        QVERIFY(box->isChecked());
        QVERIFY(QFile::remove(path));
        view.hide();
        view.show();
        QVERIFY(!box->isChecked());
        // Switched off the way desktops switch an entry off.
        QVERIFY(writeAll(path, "[Desktop Entry]\nType=Application\nName=Brevlin\nExec=brevlin\n"
                               "Hidden=true\n"));
        view.hide();
        view.show();
        QVERIFY(!box->isChecked());
        QVERIFY(QFile::remove(path));
    }
};

QTEST_MAIN(FigmaTargetsTest)
#include "tst_figma_targets.moc"
