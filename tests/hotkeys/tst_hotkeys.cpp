#include "hotkeys/HotkeyManager.h"
#include "support/FakeHotkeyService.h"
#include "support/VirtualScheduler.h"

#include <QSet>
#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

DockItem item(const QString& name, const QString& key,
              QList<KeyModifier> modifiers = {KeyModifier::primary, KeyModifier::alternate}) {
    return {QUuid::createUuid(), name, name, {}, std::nullopt, {key, modifiers}};
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
        for (const auto& r : service->live)
            ids.append(r.id);
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

    void reRegistrationReplacesEverything() {
        const QList<DockItem> items{item("One", "1"), item("Two", "2")};
        service->refuseTaken = true;
        manager->registerHotkeys(items, recorder());
        manager->registerHotkeys(items, recorder());
        QCOMPARE(liveIds(), (QList<quint32>{1, 2}));
        QCOMPARE(service->live[1].hotkey, items[1].hotkey);
        // Each old registration went before the new ones were asked for, or refuseTaken would
        // have refused them.
        QCOMPARE(service->unregistered.size(), 2);
        QCOMPARE(QSet<quint32>(service->unregistered.cbegin(), service->unregistered.cend()),
                 (QSet<quint32>{1, 2}));

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

        // A key no hotkey may use is not offered to the service at all.
        const int attempts = service->attempts;
        manager->registerHotkeys({item("Blank", ""), item("Symbol", "§"), item("Bare", "k", {})},
                                 recorder());
        QCOMPARE(service->attempts, attempts + 1);
        QCOMPARE(liveIds(), QList<quint32>{1});
        QCOMPARE(service->live[0].hotkey, (Hotkey{"k", {}}));
        QCOMPARE(manager->registeredItem(1)->name, QStringLiteral("Bare"));
    }

    void pressesRunInALaterTurnWithTheRegisteredItem() {
        QList<DockItem> items{item("One", "1"), item("Two", "2")};
        manager->registerHotkeys(items, recorder());
        items[1].name = "Changed";
        QVERIFY(service->press(items[1].hotkey));
        QVERIFY(triggered.isEmpty());
        scheduler->runDue();
        QCOMPARE(triggered, QStringList{"Two"});
        service->press(1);
        scheduler->runDue();
        QCOMPARE(triggered, (QStringList{"Two", "One"}));

        // Presses still queued resolve against the registrations made since.
        service->press(2);
        service->press(1);
        manager->registerHotkeys({item("Other", "3")}, recorder("new "));
        scheduler->runDue();
        QCOMPARE(triggered, (QStringList{"Two", "One", "new Other"}));

        // The callback itself may replace the registrations.
        manager->registerHotkeys({item("One", "1")}, [this](const DockItem& i) {
            triggered.append(i.name);
            manager->registerHotkeys({item("Next", "2")}, recorder());
        });
        for (int i = 0; i < 2; ++i) {
            service->press(1);
            scheduler->runDue();
        }
        QCOMPARE(triggered.mid(3), (QStringList{"One", "Next"}));
    }

    // The manager lives in main beside other owners: when it goes, the service is left with
    // neither its registrations nor a handler that points at it, and queued presses are dropped.
    void aManagerThatGoesLeavesTheServiceClean() {
        manager->registerHotkeys({item("One", "1"), item("Two", "2")}, recorder());
        QVERIFY(service->hasHandler());
        service->press(1);
        manager.reset();
        scheduler->runDue();
        QVERIFY(triggered.isEmpty());
        QVERIFY(service->live.isEmpty());
        QVERIFY(!service->hasHandler());
        service->press(1);
        scheduler->runDue();
        QVERIFY(triggered.isEmpty());
    }
};

QTEST_GUILESS_MAIN(HotkeyManagerTest)
#include "tst_hotkeys.moc"
