#include "hotkeys/HotkeyManager.h"
#include "support/FakeHotkeyService.h"
#include "support/VirtualScheduler.h"

#include <QTest>

using namespace brevlin;
using brevlin::testing::FakeHotkeyService;
using brevlin::testing::VirtualScheduler;

namespace {

DockItem item(const QString& name, const QString& key,
              QList<HotkeyModifier> modifiers = {HotkeyModifier::command, HotkeyModifier::option}) {
    DockItem i;
    i.id = QUuid::createUuid();
    i.name = name;
    i.pluginName = name;
    i.hotkey = Hotkey{key, modifiers};
    return i;
}

} // namespace

class HotkeyManagerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualScheduler> scheduler;
    std::unique_ptr<FakeHotkeyService> service;
    std::unique_ptr<HotkeyManager> manager;
    QStringList triggered;

    HotkeyManager::Trigger recorder(const QString& tag = {}) {
        return [this, tag](const DockItem& i) { triggered.append(tag + i.name); };
    }
    QList<quint32> liveIds() const {
        QList<quint32> ids;
        for (const auto& r : service->live) {
            ids.append(r.id.id);
            if (r.id.signature != hotkeySignature)
                return {};
        }
        return ids;
    }

private slots:
    void init() {
        scheduler = std::make_unique<VirtualScheduler>();
        service = std::make_unique<FakeHotkeyService>();
        manager = std::make_unique<HotkeyManager>(*service, *scheduler);
        triggered.clear();
    }
    void cleanup() {
        manager.reset();
        service.reset();
    }

    void handlerIsInstalledOnceAtConstruction() { QCOMPARE(service->handlersInstalled, 1); }

    void identifiersCountSuccessfulRegistrationsOnly() {
        const QList<DockItem> items{item("One", "1"), item("Two", "2"), item("Three", "3")};
        manager->registerHotkeys(items, recorder());
        QCOMPARE(liveIds(), (QList<quint32>{1, 2, 3}));
        QCOMPARE(service->live[0].keyCode, quint32(18)); // "1" on the ANSI layout
        QCOMPARE(service->live[0].modifierMask, quint32(0x100 | 0x800));

        service->refusedAttempts = {5};
        manager->registerHotkeys(items, recorder());
        QCOMPARE(liveIds(), (QList<quint32>{1, 2}));
        QCOMPARE(manager->registeredItem(2)->name, QStringLiteral("Three"));
        QCOMPARE(manager->registrationCount(), 2);
    }

    void itemsWithoutAUsableKeyAreSkipped() {
        manager->registerHotkeys({item("Blank", ""), item("Symbol", "§"), item("Bare", "k", {})},
                                 recorder());
        QCOMPARE(service->attempts, 1);
        QCOMPARE(liveIds(), QList<quint32>{1});
        QCOMPARE(service->live[0].keyCode, quint32(40));
        QCOMPARE(service->live[0].modifierMask, quint32(0));
        QCOMPARE(manager->registeredItem(1)->name, QStringLiteral("Bare"));
    }

    void reRegistrationReplacesEverything() {
        const QList<DockItem> items{item("One", "1"), item("Two", "2")};
        service->refuseTaken = true;
        manager->registerHotkeys(items, recorder());
        const auto firstRefs = service->live;
        manager->registerHotkeys(items, recorder());
        QCOMPARE(service->live.size(), 2);
        QCOMPARE(liveIds(), (QList<quint32>{1, 2}));
        QCOMPARE(service->unregistered.size(), 2);
        for (const auto& r : firstRefs)
            QVERIFY(service->unregistered.contains(r.ref));

        // The same key twice: the service refuses the second, which consumes no identifier.
        manager->registerHotkeys({item("A", "5"), item("B", "5"), item("C", "6")}, recorder());
        QCOMPARE(liveIds(), (QList<quint32>{1, 2}));
        QCOMPARE(manager->registeredItem(2)->name, QStringLiteral("C"));

        manager->registerHotkeys({}, recorder("new "));
        QCOMPARE(manager->registrationCount(), 0);
        QVERIFY(service->live.isEmpty());
        manager->registerHotkeys({item("Again", "7")}, recorder());
        QCOMPARE(liveIds(), QList<quint32>{1});

        manager->unregisterAll();
        QVERIFY(service->live.isEmpty());
        QCOMPARE(manager->registeredItem(1), std::nullopt);
    }

    void pressesRunInALaterTurnWithTheRegisteredItem() {
        QList<DockItem> items{item("One", "1"), item("Two", "2")};
        manager->registerHotkeys(items, recorder());
        items[1].name = "Changed";
        QVERIFY(service->press(19, 0x900));
        QVERIFY(triggered.isEmpty());
        scheduler->runDue();
        QCOMPARE(triggered, QStringList{"Two"});

        // The signature is not compared.
        service->press(EventHotKeyID{0, 1});
        scheduler->runDue();
        QCOMPARE(triggered, (QStringList{"Two", "One"}));
    }

    void stalePressesResolveAgainstTheCurrentRegistrations() {
        manager->registerHotkeys({item("One", "1"), item("Two", "2")}, recorder("old "));
        service->press(EventHotKeyID{hotkeySignature, 2});
        service->press(EventHotKeyID{hotkeySignature, 1});
        manager->registerHotkeys({item("Other", "3")}, recorder("new "));
        scheduler->runDue();
        QCOMPARE(triggered, QStringList{"new Other"});
    }

    void theCallbackMayReplaceTheRegistrations() {
        manager->registerHotkeys({item("One", "1")}, [this](const DockItem& i) {
            triggered.append(i.name);
            manager->registerHotkeys({item("Next", "2")}, recorder());
        });
        service->press(EventHotKeyID{hotkeySignature, 1});
        scheduler->runDue();
        service->press(EventHotKeyID{hotkeySignature, 1});
        scheduler->runDue();
        QCOMPARE(triggered, (QStringList{"One", "Next"}));
    }

    void pressesQueuedForAVanishedManagerAreDropped() {
        manager->registerHotkeys({item("One", "1")}, recorder());
        service->press(EventHotKeyID{hotkeySignature, 1});
        manager.reset();
        scheduler->runDue();
        QVERIFY(triggered.isEmpty());
    }

    void sharedInstanceUsesTheInstalledPlatform() {
        FakeHotkeyService sharedService;
        VirtualScheduler sharedScheduler;
        HotkeyManager::installPlatform(&sharedService, &sharedScheduler);
        HotkeyManager& shared = HotkeyManager::shared();
        QCOMPARE(&shared, &HotkeyManager::shared());
        QCOMPARE(sharedService.handlersInstalled, 1);
        shared.registerHotkeys({item("One", "1")}, recorder());
        QCOMPARE(sharedService.live.size(), 1);
        sharedService.press(EventHotKeyID{hotkeySignature, 1});
        sharedScheduler.runDue();
        QCOMPARE(triggered, QStringList{"One"});
        shared.registerHotkeys({}, {});
    }
};

QTEST_GUILESS_MAIN(HotkeyManagerTest)
#include "tst_hotkeys.moc"
