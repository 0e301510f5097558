// The dock panel and window on Qt's offscreen platform, over the simulated Figma and virtual time.

#include "../model/StoreFiles.h"
#include "launch/DockActionCoordinator.h"
#include "model/DockStore.h"
#include "support/SimulatedFigma.h"
#include "support/VirtualScheduler.h"
#include "ui/dock/DockItemButton.h"
#include "ui/dock/DockRootView.h"
#include "ui/dock/DockWindow.h"
#include "ui/dock/SaveFailureMarker.h"
#include "ui/dock/UtilityIconButton.h"

#include <QAccessible>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>

#include <memory>

using namespace brevlin;
using namespace brevlin::testing;
using namespace Qt::StringLiterals;

namespace {

// One dock over its own store (in a temporary folder), simulated Figma and coordinator.
struct Rig {
    // `config` is written as the store's file before the store reads it.
    explicit Rig(bool trusted = true, const QByteArray& config = {}) {
        figma.tree.trusted = trusted;
        if (!config.isEmpty())
            writeAll(folder.filePath("Brevlin/config.json"), config);
        store = std::make_unique<DockStore>(folder.path(), noSeed());
        coordinator = std::make_unique<DockActionCoordinator>(figma.platform());
        view = std::make_unique<DockRootView>(*store, *coordinator);
        view->resize(560, 52);
    }
    QStringList buttonNames() const {
        QStringList names;
        for (DockItemButton* button : view->itemButtons())
            names.append(button->item().name);
        return names;
    }
    QPoint xOf(QWidget* w) const { return w->mapTo(view.get(), QPoint(0, 0)); }
    bool shown() {
        view->show();
        return QTest::qWaitForWindowExposed(view.get());
    }
    void launch(QWidget* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        scheduler.runUntilIdle();
    }

    QTemporaryDir folder;
    VirtualScheduler scheduler;
    SimulatedFigma figma{scheduler};
    std::unique_ptr<DockStore> store;
    std::unique_ptr<DockActionCoordinator> coordinator;
    std::unique_ptr<DockRootView> view;
};

// What assistive technology reads of a dock button: name, description and a busy state.
QString spoken(QWidget* widget) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible->text(QAccessible::Name) + u" | "_s +
           accessible->text(QAccessible::Description) +
           (accessible->state().busy ? u" | busy"_s : QString());
}

} // namespace

class DockTests : public QObject {
    Q_OBJECT
private slots:
    void emptyDockOffersPlusThenButtonsFollowTheStoredOrder() {
        Rig rig(true, "[]");
        QVERIFY(rig.shown());

        QVERIFY(rig.view->itemButtons().isEmpty());
        UtilityIconButton* plus = rig.view->addButton();
        QVERIFY(plus && plus->isVisible());
        QVERIFY(!rig.view->accessibilityPrompt()->isVisible());
        QVERIFY(!rig.view->errorMarker()->isVisible());

        QCOMPARE(spoken(rig.view->settingsButton()), u"Open Settings | Open Settings"_s);
        QVERIFY(spoken(plus).startsWith(u"Add shortcuts in Settings | "_s));

        QSignalSpy opened(rig.view.get(), &DockRootView::openSettingsRequested);
        QTest::mouseClick(plus, Qt::LeftButton);
        QTest::mouseClick(rig.view->settingsButton(), Qt::LeftButton);
        QCOMPARE(opened.count(), 2);

        rig.store->upsert(shortcutFor(u"Iconify"_s));
        QVERIFY(!rig.view->addButton());
        rig.store->upsert(shortcutFor(u"Autoflow"_s));
        rig.store->upsert(shortcutFor(u"Unsplash"_s));
        QCOMPARE(rig.buttonNames(), (QStringList{u"Iconify"_s, u"Autoflow"_s, u"Unsplash"_s}));
        const QList<DockItemButton*> before = rig.view->itemButtons();

        // Editing keeps the button (and its hover state) and shows the new content.
        DockItem edited = rig.store->items().at(1);
        edited.name = u"Flow"_s;
        rig.store->upsert(edited);
        QCOMPARE(rig.view->itemButtons().at(1), before.at(1));
        QCOMPARE(rig.view->itemButtons().at(1)->item().name, u"Flow"_s);
        rig.store->deleteItem(rig.store->items().at(0));
        rig.store->upsert(shortcutFor(u"Content Reel"_s));
        QCOMPARE(rig.buttonNames(), (QStringList{u"Flow"_s, u"Unsplash"_s, u"Content Reel"_s}));
        QCOMPARE(rig.view->itemButtons().first(), before.at(1));

        // On screen, the buttons stand left to right in that order.
        QCoreApplication::sendPostedEvents();
        const QList<DockItemButton*> buttons = rig.view->itemButtons();
        for (int i = 1; i < buttons.size(); ++i)
            QVERIFY(rig.xOf(buttons[i - 1]).x() < rig.xOf(buttons[i]).x());
    }

    void shortcutsSharingAnIdEachGetTheirButton() {
        // Only a hand-edited file can hold two shortcuts with one id.
        Rig rig(true, R"([
            {"id":"11111111-1111-1111-1111-111111111111","name":"First","pluginName":"First plugin",
             "icon":"star","hotkey":{"key":"1","modifiers":["command"]}},
            {"id":"11111111-1111-1111-1111-111111111111","name":"Copy","pluginName":"Copy plugin",
             "icon":"star","hotkey":{"key":"2","modifiers":["command"]}}])");
        QVERIFY(rig.shown());
        QCOMPARE(rig.buttonNames(), (QStringList{u"First"_s, u"Copy"_s}));

        rig.figma.plugins = {u"First plugin"_s, u"Copy plugin"_s};
        rig.launch(rig.view->itemButtons().at(1));
        rig.launch(rig.view->itemButtons().at(0));
        QCOMPARE(rig.figma.ranPlugins, (QStringList{u"Copy plugin"_s, u"First plugin"_s}));

        // After a change of the list, no button is left behind for either of them.
        rig.store->upsert(shortcutFor(u"Third"_s));
        QCOMPARE(rig.buttonNames(), (QStringList{u"First"_s, u"Copy"_s, u"Third"_s}));
        int shown = 0;
        for (DockItemButton* button : rig.view->findChildren<DockItemButton*>())
            shown += button->isVisible() ? 1 : 0;
        QCOMPARE(shown, 3);
    }

    void untrustedDockPromptsAndMarksAFailedLaunchUntilTrustIsGranted() {
        Rig rig(false);
        for (int i = 0; i < 30; ++i)
            rig.store->upsert(shortcutFor(u"Plugin %1"_s.arg(i)));
        QVERIFY(rig.shown());
        UtilityIconButton* prompt = rig.view->accessibilityPrompt();
        QVERIFY(prompt->isVisible());
        QVERIFY(rig.xOf(prompt).x() < rig.xOf(rig.view->itemButtons().first()).x());
        QVERIFY(spoken(prompt).startsWith("Grant Accessibility access | "));
        rig.launch(rig.view->itemButtons().first());

        UtilityIconButton* marker = rig.view->errorMarker();
        QVERIFY(rig.coordinator->errorMessage().has_value());
        QVERIFY(marker->isVisible());
        QCOMPARE(marker->toolTip(), *rig.coordinator->errorMessage());
        QCOMPARE(spoken(marker), u"Launch failed | "_s + marker->toolTip());
        QVERIFY(rig.xOf(marker).x() < rig.xOf(rig.view->divider()).x());
        QVERIFY(rig.xOf(rig.view->shortcutRow()).x() < rig.xOf(marker).x());

        // Clicking the marker changes nothing; the prompt asks, and stays until access is there.
        rig.launch(marker);
        QCOMPARE(rig.figma.tree.promptCount, 0);
        QTest::mouseClick(prompt, Qt::LeftButton);
        QCOMPARE(rig.figma.tree.promptCount, 1);
        QVERIFY(marker->isVisible());
        QVERIFY(prompt->isVisible());

        // The grant is seen by the re-check 0.8 s after the request, and clears both.
        rig.figma.tree.trusted = true;
        rig.scheduler.advanceBy(800);
        QVERIFY(!prompt->isVisible());
        QVERIFY(!marker->isVisible());

        // Many shortcuts scroll without bars; a plain wheel turn scrolls the row sideways.
        QCOMPARE(rig.view->itemButtons().size(), 33);
        QScrollArea* row = rig.view->shortcutRow();
        QVERIFY(!row->horizontalScrollBar()->isVisible());
        QVERIFY(!row->verticalScrollBar()->isVisible());
        QVERIFY(row->horizontalScrollBar()->maximum() > 0);
        QCOMPARE(row->verticalScrollBar()->maximum(), 0);
        const QPoint inside = row->viewport()->rect().center();
        QWheelEvent wheel(inside, row->viewport()->mapToGlobal(inside), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(row->viewport(), &wheel);
        QVERIFY(row->horizontalScrollBar()->value() > 0);
    }

    void failedSaveShowsAWarningUntilASaveSucceeds() {
        Rig rig;
        QVERIFY(rig.shown());
        SaveFailureMarker* warning = rig.view->saveFailureMarker();
        QVERIFY(!warning->isVisible());

        const QString folder = rig.store->applicationFolderPath();
        QVERIFY(blockFolder(folder));
        rig.store->upsert(shortcutFor(u"Only in memory"_s));
        QCOMPARE(rig.view->itemButtons().size(), 4);
        QVERIFY(warning->isVisible());
        QCOMPARE(warning->toolTip(), *rig.store->saveFailureMessage());
        QVERIFY(rig.xOf(rig.view->shortcutRow()).x() < rig.xOf(warning).x());
        QVERIFY(rig.xOf(warning).x() < rig.xOf(rig.view->divider()).x());
        // A launch failure, with access granted, shows beside it, each with its own tooltip; the
        // failure ends the busy state, the marker alone tells of it.
        UtilityIconButton* marker = rig.view->errorMarker();
        QVERIFY(!marker->isVisible());
        rig.figma.becomesFrontmost = false;
        DockItemButton* button = rig.view->itemButtons().at(1);
        rig.launch(button);
        QVERIFY(marker->isVisible());
        QCOMPARE(marker->toolTip(), rig.coordinator->errorMessage().value_or(QString()));
        QVERIFY(!marker->toolTip().isEmpty() && warning->toolTip() != marker->toolTip());
        QCOMPARE(spoken(button), u"Autoflow | Ctrl+Alt+2"_s);

        QVERIFY(QFile::remove(folder));
        rig.store->upsert(shortcutFor(u"Saved"_s));
        QVERIFY(!warning->isVisible());
        QVERIFY(marker->isVisible());
        QCOMPARE(DockStore(rig.folder.path(), noSeed()).items().size(), 5);
        // The next click that launches its plugin takes the marker away.
        rig.figma.repair();
        rig.launch(button);
        QCOMPARE(rig.figma.ranPlugins, QStringList{u"Autoflow"_s});
        QVERIFY(!marker->isVisible());
    }

    void clicksLaunchInTurnWithTimingAndItemAsAtTheClick() {
        Rig rig;
        rig.view->show();
        LauncherTimingSettings fixed;
        fixed.adaptiveWaits = false;
        LauncherTimingSettings slow = fixed;
        slow.focusDelayMilliseconds = 700;
        rig.coordinator->launcherTiming = slow;
        DockItemButton* first = rig.view->itemButtons().first();
        DockItemButton* second = rig.view->itemButtons().at(1);
        QCOMPARE(spoken(first), u"Content Reel | Ctrl+Alt+1"_s);
        QTest::mouseClick(first, Qt::LeftButton);
        QTest::mouseClick(first, Qt::LeftButton);
        QTest::mouseClick(second, Qt::LeftButton);
        // Changes after the clicks reach neither these launches' timing nor their items.
        rig.coordinator->launcherTiming = LauncherTimingSettings{};
        DockItem edited = rig.store->items().at(1);
        edited.pluginName = u"Unsplash"_s;
        rig.store->upsert(edited);
        // The launches run one after the other, so their keys never mix; the dock shows which runs
        // and which waits.
        rig.scheduler.runDue();
        QCOMPARE(rig.figma.activations, 1);
        QCOMPARE(spoken(first), u"Content Reel | Ctrl+Alt+1, launching | busy"_s);
        QCOMPARE(spoken(second), u"Autoflow | Ctrl+Alt+2, waiting to launch"_s);
        QCOMPARE(second->launchState(), LaunchState::waiting);
        rig.scheduler.runUntilIdle();
        QCOMPARE(rig.figma.ranPlugins, (QStringList{"Content Reel", "Content Reel", "Autoflow"}));
        QCOMPARE(rig.figma.activations, 3);
        QVERIFY2(rig.figma.timeOf("key ⌘K") >= 700, qPrintable(rig.figma.timeline.join('\n')));
        QVERIFY(!rig.coordinator->errorMessage().has_value());
        QCOMPARE(spoken(first), u"Content Reel | Ctrl+Alt+1"_s);
        QCOMPARE(spoken(second), u"Autoflow | Ctrl+Alt+2"_s);

        // A cancelled launch (fixed waits keep it going until then) gives the turn on and shows
        // nothing running any more.
        TaskHandle running =
            startTask(rig.scheduler, rig.coordinator->launch(first->item(), fixed));
        QTest::mouseClick(second, Qt::LeftButton);
        rig.scheduler.advanceBy(100);
        QCOMPARE(first->launchState(), LaunchState::running);
        running.cancel();
        rig.scheduler.runDue();
        QCOMPARE(first->launchState(), LaunchState::idle);
        rig.scheduler.runUntilIdle();
        QCOMPARE(second->launchState(), LaunchState::idle);
        QCOMPARE(rig.figma.ranPlugins.last(), u"Unsplash"_s); // the edit reaches a later click
    }

    void dockWindowHasAFixedHeightAndIsConfiguredOncePerNativeWindow() {
        Rig rig;
        DockWindow window(*rig.store, *rig.coordinator, [](QWindow*) {});
        QSignalSpy shown(&window, &DockWindow::shown);
        // Only the width follows a resize, within its bounds; the height stays.
        const QSize initial = window.size();
        window.resize(1, 4 * initial.height());
        QCOMPARE(window.height(), initial.height());
        QVERIFY(window.width() > 1);
        window.resize(initial);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowHandle()->minimumHeight(), window.windowHandle()->maximumHeight());
        QCOMPARE(window.rootView()->geometry(), window.rect());
        // The dock's menu: whatever actions the application adds show on a right click.
        QCOMPARE(window.contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(window.configurationCount(), 1);
        QCOMPARE(shown.count(), 1);

        // Content updates do not configure again, nor does showing the same window again.
        for (int i = 0; i < 5; ++i)
            rig.store->upsert(shortcutFor(u"P%1"_s.arg(i)));
        window.hide();
        window.show();
        QCOMPARE(window.configurationCount(), 1);
        QCOMPARE(shown.count(), 2);

        window.hide();
        window.windowHandle()->destroy();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.configurationCount(), 2);
    }
};

QTEST_MAIN(DockTests)
#include "tst_dock.moc"
