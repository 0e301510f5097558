// The application's wiring on Qt's offscreen platform: start-up, hotkeys, timing, windows and
// menus, over a fake hotkey service, the simulated Figma and virtual time.

#include "../model/StoreFiles.h"
#include "app/BrevlinApp.h"
#include "hotkeys/HotkeyManager.h"
#include "launch/DockActionCoordinator.h"
#include "support/FakeHotkeyService.h"
#include "support/SimulatedFigma.h"
#include "support/VirtualScheduler.h"
#include "ui/dock/DockRootView.h"
#include "ui/dock/DockWindow.h"
#include "ui/dock/UtilityIconButton.h"

#include <QAction>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

struct Rig {
    explicit Rig(bool started = true) {
        BrevlinApp::Options options;
        options.applicationSupportPath = folder.path();
        options.useSystemTray = false;
        options.dockConfigurator = [this](QWindow*) { ++nativeConfigurations; };
        app = std::make_unique<BrevlinApp>(hotkeys, figma.platform(), options);
        if (started)
            app->start();
    }

    // Presses the hotkey registered for `item` and lets the manager hand it to the main queue.
    bool press(const DockItem& item) { return service.press(item.hotkey); }
    qint64 firstPaletteKeyAt() const { return figma.timeOf("key ⌘K"); }

    QTemporaryDir folder;
    VirtualScheduler scheduler;
    FakeHotkeyService service;
    HotkeyManager hotkeys{service, scheduler};
    SimulatedFigma figma{scheduler};
    int nativeConfigurations = 0;
    std::unique_ptr<BrevlinApp> app;
};

} // namespace

class AppTests : public QObject {
    Q_OBJECT
private slots:
    void startSeedsShowsDockAndRegistersHotkeys() {
        Rig rig(false);
        // Construction made the store: the three samples are written out.
        const QByteArray config = readAll(rig.folder.filePath("Brevlin/config.json"));
        QCOMPARE(QJsonDocument::fromJson(config).object().value("items").toArray().size(), 3);

        // Nothing is registered before a dock is shown.
        QCOMPARE(rig.hotkeys.registrationCount(), 0);
        QSignalSpy shown(rig.app.get(), &BrevlinApp::dockShown);
        QSignalSpy iconSet(rig.app.get(), &BrevlinApp::applicationIconChanged);
        rig.app->start();
        // The dock is up before the application icon is decoded.
        QVERIFY(rig.app->dockWindow() && rig.app->dockWindow()->isVisible());
        QCOMPARE(iconSet.count(), 0);
        QVERIFY(QTest::qWaitForWindowExposed(rig.app->dockWindow()));
        QCOMPARE(shown.count(), 1);
        QCOMPARE(rig.nativeConfigurations, 1);
        QCOMPARE(rig.hotkeys.registrationCount(), 3);
        QCOMPARE(rig.hotkeys.registeredItem(1)->name, QStringLiteral("Content Reel"));
        QCOMPARE(rig.app->coordinator().launcherTiming,
                 rig.app->store().launcherTiming().clamped());

        QVERIFY(iconSet.count() == 1 || iconSet.wait(5000));
        const QIcon icon = QApplication::windowIcon();
        QVERIFY(!icon.isNull());
        // The icon's dark tile from the resource, not a platform default.
        const QColor centre = icon.pixmap(64, 64).toImage().pixelColor(32, 48);
        QVERIFY(centre.alpha() > 200 && centre.lightness() < 80);
    }

    void hotkeysLaunchWithTimingAtThePressAndFollowTheShortcuts() {
        Rig rig;
        // Fixed waits, so that the focus delay shows in when the palette key goes.
        rig.app->store().setAdaptiveWaits(false);
        rig.app->store().setTimingValue(TimingField::focusDelayMilliseconds, 600);
        const DockItem first = rig.app->store().items().first();

        QVERIFY(rig.press(first));
        // The press reaches the application in a later main-queue turn, which starts the launch.
        QVERIFY(rig.figma.timeline.isEmpty());
        rig.scheduler.runDue();
        // A timing change after the press does not reach the launch under way.
        rig.app->store().setTimingValue(TimingField::focusDelayMilliseconds, 0);
        rig.scheduler.runUntilIdle();
        QCOMPARE(rig.figma.ranPlugins, QStringList{QStringLiteral("Content Reel")});
        QVERIFY2(rig.firstPaletteKeyAt() >= 600, qPrintable(rig.figma.timeline.join('\n')));

        rig.figma.timeline.clear();
        const qint64 pressedAt = rig.scheduler.nowMilliseconds();
        QVERIFY(rig.press(rig.app->store().items().at(1)));
        rig.scheduler.runUntilIdle();
        QCOMPARE(rig.figma.ranPlugins.last(), QStringLiteral("Autoflow"));
        QVERIFY(rig.firstPaletteKeyAt() - pressedAt < 600);

        // Changes of the shortcuts re-register at once.
        DockItem added = shortcutFor("Café Tools", "7");
        rig.app->store().upsert(added);
        QCOMPARE(rig.service.live.size(), 4);
        QVERIFY(rig.press(added));
        rig.scheduler.runUntilIdle();
        QCOMPARE(rig.figma.ranPlugins.last(), QStringLiteral("Café Tools"));

        rig.app->store().deleteItem(added);
        QCOMPARE(rig.service.live.size(), 3);
        QVERIFY(!rig.press(added));

        // With the dock closed, registrations stay and still follow the shortcuts.
        rig.app->dockWindow()->close();
        QTRY_VERIFY(!rig.app->dockWindow());
        QCOMPARE(rig.service.live.size(), 3);
        rig.app->store().upsert(added);
        QCOMPARE(rig.service.live.size(), 4);
        QVERIFY(rig.press(rig.app->store().items().at(2)));
        rig.scheduler.runUntilIdle();
        QCOMPARE(rig.figma.ranPlugins.last(), QStringLiteral("Unsplash"));
    }

    void windowsOpenOnceFromMenusAndKeysAndAClosedDockComesBack() {
        Rig rig;
        DockWindow* dock = rig.app->dockWindow();
        QVERIFY(dock->actions().contains(rig.app->aboutAction()));
        QVERIFY(dock->actions().contains(rig.app->settingsAction()));
        rig.app->aboutAction()->trigger();
        QWidget* about = rig.app->aboutWindow();
        QVERIFY(about && about->isVisible());
        rig.app->openAboutWindow();
        QCOMPARE(rig.app->aboutWindow(), about);

        // Ctrl+, from the About window. The dock never takes the keyboard focus (a click on it
        // must leave Figma focused for a launch under way), so it has no key to receive.
        about->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(about));
        QTest::keyClick(about, Qt::Key_Comma, Qt::ControlModifier);
        QWidget* settings = rig.app->settingsWindow();
        QVERIFY(settings && settings->isVisible());
        settings->close();
        QVERIFY(!settings->isVisible());
        rig.app->openSettingsWindow();
        QCOMPARE(rig.app->settingsWindow(), settings);
        QVERIFY(settings->isVisible());

        // The plus and the gear of the dock open the same window.
        QTest::mouseClick(rig.app->dockWindow()->rootView()->settingsButton(), Qt::LeftButton);
        QCOMPARE(rig.app->settingsWindow(), settings);

        // With only the About window up, re-opening brings it forward and makes no dock.
        rig.app->closeDockAction()->trigger();
        settings->close();
        QTRY_VERIFY(!rig.app->dockWindow());
        QSignalSpy shown(rig.app.get(), &BrevlinApp::dockShown);
        rig.app->reopen();
        QVERIFY(!rig.app->dockWindow());
        about->close();
        rig.app->reopen();
        dock = rig.app->dockWindow();
        QVERIFY(dock && QTest::qWaitForWindowExposed(dock));
        QCOMPARE(shown.count(), 1);
        // The new window got its own configuration, and the shown hook registered again.
        QCOMPARE(rig.nativeConfigurations, 2);
        QCOMPARE(rig.hotkeys.registrationCount(), 3);
        QCOMPARE(dock->rootView()->itemButtons().size(), 3);

        rig.app->reopen();
        rig.app->reopen();
        QCOMPARE(rig.app->dockWindow(), dock);
        QCOMPARE(rig.nativeConfigurations, 2);
        int docks = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            docks += qobject_cast<DockWindow*>(w) ? 1 : 0;
        QCOMPARE(docks, 1);
    }
};

QTEST_MAIN(AppTests)
#include "tst_app.moc"
