#include "StoreFiles.h"
#include "model/DockStore.h"
#include "model/JsonText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

const QByteArray twoItemArray = R"([
  {"id": "11111111-2222-3333-4444-555555555555", "name": "One", "pluginName": "Plugin One",
   "icon": "star", "hotkey": {"key": "A", "modifiers": ["control"]}},
  {"id": "aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee", "name": "Two", "pluginName": "Plugin Two",
   "icon": "bolt", "customIconPath": "/somewhere/two.png",
   "hotkey": {"key": "B", "modifiers": ["shift", "command"]}}
])";

QByteArray configWith(const QByteArray& items, const QByteArray& timing) {
    return "{\"items\": " + items + ", \"launcherTiming\": " + timing + "}";
}

const QByteArray defaultTimingJson =
    R"({"focusDelayMilliseconds": 180, "actionsOpenDelayMilliseconds": 80,
        "typingCharacterDelayMilliseconds": 18, "postSearchDelayMilliseconds": 60})";

DockStore::SeedLookup seed(const QByteArray& bytes) {
    return [bytes] { return std::optional<QByteArray>(bytes); };
}

QStringList iconFiles(const DockStore& store) {
    return QDir(store.iconsFolderPath()).entryList(QDir::Files, QDir::Name);
}

QStringList sampleNames(const QList<DockItem>& items) {
    QStringList names;
    for (const DockItem& item : items)
        names.append(item.name);
    return names;
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

const QStringList builtInNames = {"Content Reel", "Autoflow", "Unsplash"};

DockItemDraft customDraft(const QString& imagePath) {
    DockItemDraft draft;
    draft.name = "Pic";
    draft.pluginName = "Pic Plugin";
    draft.iconSource = DockIconSource::customImage;
    draft.customIconPath = imagePath;
    return draft;
}

} // namespace

class StoreTests : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString support() const { return m_dir->path(); }
    QString configPath() const { return m_dir->filePath("Brevlin/config.json"); }
    // A file of the user's own, outside the store's folder.
    QString userFile(const QString& name, const QByteArray& bytes) const {
        const QString path = m_dir->filePath("user/" + name);
        return writeAll(path, bytes) ? path : QString();
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void firstRunWithoutSeedWritesTheSamples() {
        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), builtInNames);
        QCOMPARE(store.items().first().id, QUuid("{804C3570-6354-4AB9-A688-FC0B0EC026B9}"));
        QCOMPARE(store.items().first().hotkey.displayString(), QStringLiteral("Ctrl+Alt+1"));
        QCOMPARE(store.launcherTiming(), (LauncherTimingSettings{180, 80, 18, 60}));
        QVERIFY(QFileInfo::exists(configPath()));

        DockStore reloaded(support(), seed("[]"));
        QCOMPARE(reloaded.items(), store.items());
        QCOMPARE(reloaded.launcherTiming(), store.launcherTiming());
    }

    void firstRunTakesADecodableSeed() {
        DockStore store(support(), seed(twoItemArray));
        QCOMPARE(sampleNames(store.items()), (QStringList{"One", "Two"}));
        QCOMPARE(store.items().at(1).customIconPath, std::optional<QString>("/somewhere/two.png"));
        DockStore reloaded(support(), noSeed());
        QCOMPARE(reloaded.items(), store.items());
    }

    void firstRunFallsBackWhenTheSeedIsBad_data() {
        QTest::addColumn<QByteArray>("seedBytes");
        QTest::newRow("not json") << QByteArray("nope");
        QTest::newRow("object, not array") << configWith(twoItemArray, defaultTimingJson);
        QTest::newRow("one bad item") << QByteArray(R"([{"id": "x"}])");
    }
    void firstRunFallsBackWhenTheSeedIsBad() {
        QFETCH(QByteArray, seedBytes);
        DockStore store(support(), seed(seedBytes));
        QCOMPARE(sampleNames(store.items()), builtInNames);
    }

    void bareArrayLoadsWithDefaultTimingAndIsRewrittenOnlyOnSave() {
        QVERIFY(writeAll(configPath(), twoItemArray));
        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), (QStringList{"One", "Two"}));
        QCOMPARE(store.launcherTiming(), LauncherTimingSettings::defaults);
        QCOMPARE(readAll(configPath()), twoItemArray);

        store.save();
        const QJsonObject root = QJsonDocument::fromJson(readAll(configPath())).object();
        QCOMPARE(root.keys(), (QStringList{"items", "launcherTiming"}));
        QCOMPARE(root.value("items").toArray().size(), 2);
        QVERIFY(QDir(store.applicationFolderPath()).entryList({"config.unreadable*"}).isEmpty());
    }

    void timingIsClampedOnLoadButTheFileKeepsItsValues() {
        const QByteArray bytes =
            configWith("[]", R"({"focusDelayMilliseconds": 5000, "actionsOpenDelayMilliseconds": -1,
                     "typingCharacterDelayMilliseconds": 18, "postSearchDelayMilliseconds": 60})");
        QVERIFY(writeAll(configPath(), bytes));
        DockStore store(support(), noSeed());
        QVERIFY(store.items().isEmpty());
        QCOMPARE(store.launcherTiming(), (LauncherTimingSettings{2000, 0, 18, 60}));
        QCOMPARE(readAll(configPath()), bytes);
    }

    void unloadableFileIsKeptAndBackedUpBeforeTheFirstSave_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not json") << QByteArray("my shortcuts {");
        QTest::newRow("no timing") << QByteArray(R"({"items": []})");
        QTest::newRow("fractional timing") << configWith("[]", R"({"focusDelayMilliseconds": 1.5,
                "actionsOpenDelayMilliseconds": 1, "typingCharacterDelayMilliseconds": 1,
                "postSearchDelayMilliseconds": 1})");
    }
    void unloadableFileIsKeptAndBackedUpBeforeTheFirstSave() {
        QFETCH(QByteArray, bytes);
        QVERIFY(writeAll(configPath(), bytes));
        DockStore store(support(), seed(twoItemArray));
        QCOMPARE(sampleNames(store.items()), builtInNames);
        QCOMPARE(store.launcherTiming(), LauncherTimingSettings::defaults);
        QCOMPARE(readAll(configPath()), bytes);
        const QDir folder(store.applicationFolderPath());
        QVERIFY(folder.entryList({"config.unreadable*"}).isEmpty());

        store.resetLauncherTiming();
        const QStringList backups = folder.entryList({"config.unreadable-*.json"});
        QCOMPARE(backups.size(), 1);
        QVERIFY(QRegularExpression("^config\\.unreadable-\\d{8}T\\d{6}Z\\.json$")
                    .match(backups.first())
                    .hasMatch());
        QCOMPARE(readAll(folder.filePath(backups.first())), bytes);
        QVERIFY(readAll(configPath()) != bytes);
        QCOMPARE(DockStore(support(), noSeed()).items(), store.items());

        store.deleteItem(store.items().first());
        QCOMPARE(folder.entryList({"config.unreadable*"}).size(), 1);
    }

    void configThatIsNotARegularFileNeverBlocksLoading() {
        QVERIFY(QDir().mkpath(QFileInfo(configPath()).absolutePath()));
        QCOMPARE(::mkfifo(QFile::encodeName(configPath()).constData(), 0600), 0);
        // Opening the FIFO for reading would block until a writer appears.
        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), builtInNames);
        QVERIFY(QFileInfo(configPath()).exists());
    }

    void configThatIsAFolderFallsBackAndSavesNothing() {
        QVERIFY(QDir().mkpath(configPath()));
        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), builtInNames);
        store.setTimingValue(TimingField::focusDelayMilliseconds, 5);
        QCOMPARE(store.launcherTiming().focusDelayMilliseconds, 5);
        QVERIFY(QFileInfo(configPath()).isDir());
    }

    void legacyFolderIsCopiedWhenTheNewOneIsMissing() {
        const QString legacyConfig = m_dir->filePath("Tessark/config.json");
        const QString legacyIcon =
            m_dir->filePath("Tessark/Icons/AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE.png");
        QVERIFY(writeAll(legacyIcon, "png bytes"));
        QByteArray items = twoItemArray;
        items.replace("/somewhere/two.png", legacyIcon.toUtf8());
        QVERIFY(writeAll(legacyConfig, configWith(items, defaultTimingJson)));

        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), (QStringList{"One", "Two"}));
        QCOMPARE(store.items().at(1).customIconPath, std::optional<QString>(legacyIcon));
        QVERIFY(QFileInfo::exists(legacyConfig));
        QVERIFY(QFileInfo::exists(legacyIcon));
        QCOMPARE(readAll(configPath()), configWith(items, defaultTimingJson));
        QCOMPARE(iconFiles(store), (QStringList{"AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE.png"}));

        // Saving the shortcut from the editor brings its image into the new folder.
        store.saveDraft(DockItemDraft(store.items().at(1)));
        QCOMPARE(store.items().at(1).customIconPath,
                 std::optional<QString>(
                     m_dir->filePath("Brevlin/Icons/AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE.png")));
        QVERIFY(QFileInfo::exists(legacyIcon));
    }

    void legacyFolderIsIgnoredWhenTheNewOneExists() {
        QVERIFY(writeAll(m_dir->filePath("Tessark/config.json"),
                         configWith(twoItemArray, defaultTimingJson)));
        QVERIFY(QDir().mkpath(m_dir->filePath("Brevlin")));
        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), builtInNames);
    }

    void legacyFifoIsNotCopied() {
        QVERIFY(writeAll(m_dir->filePath("Tessark/config.json"), twoItemArray));
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath("Tessark/pipe")).constData(), 0600), 0);
        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), (QStringList{"One", "Two"}));
        QVERIFY(!QFileInfo::exists(m_dir->filePath("Brevlin/pipe")));
    }

    void eachChangeIsAnnouncedBeforeItIsWritten() {
        DockStore store(support(), noSeed());
        QByteArray seenOnDisk;
        int itemSignals = 0;
        int timingSignals = 0;
        connect(&store, &DockStore::itemsChanged, this, [&] {
            ++itemSignals;
            seenOnDisk = readAll(configPath());
        });
        connect(&store, &DockStore::launcherTimingChanged, this, [&] {
            ++timingSignals;
            seenOnDisk = readAll(configPath());
        });

        const QByteArray before = readAll(configPath());
        DockItem extra{QUuid::createUuid(), "Extra", "Extra", "star", std::nullopt, {}};
        store.upsert(extra);
        QCOMPARE(itemSignals, 1);
        QCOMPARE(seenOnDisk, before);
        QVERIFY(readAll(configPath()).contains("Extra"));

        const QByteArray beforeTiming = readAll(configPath());
        store.setTimingValue(TimingField::typingCharacterDelayMilliseconds, 999);
        QCOMPARE(timingSignals, 1);
        QCOMPARE(seenOnDisk, beforeTiming);
        QCOMPARE(store.launcherTiming().typingCharacterDelayMilliseconds, 120);
        QCOMPARE(DockStore(support(), noSeed()).launcherTiming().typingCharacterDelayMilliseconds,
                 120);

        // An unchanged value is still announced and written.
        store.setTimingValue(TimingField::typingCharacterDelayMilliseconds, 120);
        QCOMPARE(timingSignals, 2);
        store.resetLauncherTiming();
        QCOMPARE(timingSignals, 3);
        QCOMPARE(store.launcherTiming(), LauncherTimingSettings::defaults);
        QCOMPARE(itemSignals, 1);
    }

    void saveDraftTrimsAndAssignsANewId() {
        DockStore store(support(), noSeed());
        DockItemDraft draft;
        draft.name = QString::fromUtf8("\u2003 Name \n");
        draft.pluginName = "\tPlug ";
        draft.icon = " star ";
        draft.hotkey = Hotkey{"q", {KeyModifier::shift, KeyModifier::primary}};
        store.saveDraft(draft);
        const DockItem saved = store.items().last();
        QVERIFY(!saved.id.isNull());
        QCOMPARE(saved.name, QStringLiteral("Name"));
        QCOMPARE(saved.pluginName, QStringLiteral("Plug"));
        QCOMPARE(saved.icon, QStringLiteral("star"));
        QCOMPARE(saved.hotkey, draft.hotkey);
        QVERIFY(!saved.customIconPath.has_value());

        DockItemDraft edit(saved);
        edit.name = "Again";
        store.saveDraft(edit);
        QCOMPARE(store.items().size(), 4);
        QCOMPARE(store.items().last().name, QStringLiteral("Again"));
        QCOMPARE(store.items().last().id, saved.id);
    }

    void customIconIsCopiedUnderTheIdWithALowerCaseExtension() {
        DockStore store(support(), noSeed());
        const QString photo = userFile("Photo.JPG", "jpeg bytes");
        store.saveDraft(customDraft(photo));
        const DockItem saved = store.items().last();
        const QString stored = store.iconsFolderPath() + "/" + uuidString(saved.id) + ".jpg";
        QCOMPARE(saved.customIconPath, std::optional<QString>(stored));
        QCOMPARE(readAll(stored), QByteArray("jpeg bytes"));
        QVERIFY(QFileInfo::exists(photo));

        // Re-saving points at the stored copy itself: nothing is copied again.
        QVERIFY(writeAll(photo, "changed since"));
        store.saveDraft(DockItemDraft(saved));
        QCOMPARE(store.items().last().customIconPath, std::optional<QString>(stored));
        QCOMPARE(readAll(stored), QByteArray("jpeg bytes"));
        QCOMPARE(iconFiles(store), (QStringList{uuidString(saved.id) + ".jpg"}));
    }

    void changingTheImageLeavesOnlyTheNewCopy() {
        DockStore store(support(), noSeed());
        const QString png = userFile("a.png", "png");
        const QString jpeg = userFile("b.jpeg", "jpeg");
        const QString bare = userFile("noextension", "bare");
        store.saveDraft(customDraft(png));
        const QUuid id = store.items().last().id;
        // Another shortcut's image must survive this one's changes.
        DockItemDraft other = customDraft(png);
        store.saveDraft(other);
        const QString otherFile = uuidString(store.items().last().id) + ".png";

        DockItemDraft draft(store.items().at(3));
        draft.customIconPath = jpeg;
        store.saveDraft(draft);
        QCOMPARE(iconFiles(store), sorted({uuidString(id) + ".jpeg", otherFile}));

        draft.customIconPath = bare;
        store.saveDraft(draft);
        QCOMPARE(iconFiles(store), sorted({uuidString(id) + ".png", otherFile}));
        QCOMPARE(readAll(*store.items().at(3).customIconPath), QByteArray("bare"));

        draft = DockItemDraft(store.items().at(3));
        draft.iconSource = DockIconSource::systemSymbol;
        store.saveDraft(draft);
        QVERIFY(!store.items().at(3).customIconPath.has_value());
        QCOMPARE(iconFiles(store), QStringList({otherFile}));
    }

    void sourcesThatAreNotRegularFilesCountAsMissing() {
        DockStore store(support(), noSeed());
        const QString png = userFile("a.png", "png");
        store.saveDraft(customDraft(png));
        DockItemDraft draft(store.items().last());
        const QStringList before = iconFiles(store);

        const QString fifo = m_dir->filePath("user/pipe.png");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        for (const QString& path : {m_dir->filePath("user/missing.png"), m_dir->filePath("user"),
                                    fifo, QStringLiteral("/dev/zero")}) {
            draft.customIconPath = "  " + path + "\n";
            store.saveDraft(draft);
            QVERIFY2(!store.items().last().customIconPath.has_value(), qPrintable(path));
            // A missing file deletes nothing that is stored.
            QCOMPARE(iconFiles(store), before);
        }
    }

    void chosenFileInsideTheIconsFolderIsNeverDeleted() {
        DockStore store(support(), noSeed());
        const QString png = userFile("a.png", "png");
        store.saveDraft(customDraft(png));
        const DockItem saved = store.items().last();
        // Same id, extension in another case: the clean-up must not remove what is copied.
        const QString upper = store.iconsFolderPath() + "/" + uuidString(saved.id) + ".PNG";
        QVERIFY(QFile::rename(*saved.customIconPath, upper));
        DockItemDraft draft(saved);
        draft.customIconPath = upper;
        store.saveDraft(draft);
        QCOMPARE(store.items().last().customIconPath, saved.customIconPath);
        QCOMPARE(readAll(*saved.customIconPath), QByteArray("png"));
    }

    void blockedIconsFolderKeepsTheUsersOwnPath() {
        DockStore store(support(), noSeed());
        QVERIFY(writeAll(store.iconsFolderPath(), "not a folder"));
        const QString png = userFile("a.png", "png");
        store.saveDraft(customDraft(" " + png));
        QCOMPARE(store.items().last().customIconPath, std::optional<QString>(png));
    }

    void deleteAndRestore() {
        DockStore store(support(), noSeed());
        store.setTimingValue(TimingField::postSearchDelayMilliseconds, 7);
        const QString png = userFile("a.png", "png");
        store.saveDraft(customDraft(png));
        store.saveDraft(customDraft(png));
        QCOMPARE(iconFiles(store).size(), 2);
        const DockItem doomed = store.items().at(3);

        QSignalSpy changed(&store, &DockStore::itemsChanged);
        store.deleteItem(doomed);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(store.items().size(), 4);
        QCOMPARE(iconFiles(store), QStringList({uuidString(store.items().at(3).id) + ".png"}));
        QVERIFY(QFileInfo::exists(png));

        store.restoreSampleShortcuts();
        QCOMPARE(sampleNames(store.items()), builtInNames);
        QVERIFY(!QFileInfo::exists(store.iconsFolderPath()));
        QCOMPARE(store.launcherTiming().postSearchDelayMilliseconds, 7);
        const DockStore reloaded(support(), noSeed());
        QCOMPARE(reloaded.items(), store.items());
        QCOMPARE(reloaded.launcherTiming().postSearchDelayMilliseconds, 7);
    }

    void restoreRemovesTheIconsEntryButNothingItPointsAt() {
        DockStore store(support(), noSeed());
        // A linked icons folder: only the link goes, the folder it names is the user's.
        const QString elsewhere = m_dir->filePath("elsewhere");
        QVERIFY(writeAll(elsewhere + "/keep.png", "keep"));
        QVERIFY(QFile::link(elsewhere, store.iconsFolderPath()));
        store.restoreSampleShortcuts();
        QVERIFY(!QFileInfo(store.iconsFolderPath()).isSymLink());
        QCOMPARE(readAll(elsewhere + "/keep.png"), QByteArray("keep"));

        // A plain file in the folder's place goes too, so later images can be stored again.
        QVERIFY(writeAll(store.iconsFolderPath(), "not a folder"));
        store.restoreSampleShortcuts();
        const QString png = userFile("a.png", "png");
        store.saveDraft(customDraft(png));
        QCOMPARE(store.items().last().customIconPath,
                 std::optional<QString>(store.iconsFolderPath() + "/" +
                                        uuidString(store.items().last().id) + ".png"));
    }

    void deleteRemovesEveryShortcutWithTheId() {
        QByteArray items = twoItemArray;
        items.replace("aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee",
                      "11111111-2222-3333-4444-555555555555");
        QVERIFY(writeAll(configPath(), items));
        DockStore store(support(), noSeed());
        QCOMPARE(store.items().size(), 2);
        DockItem probe = store.items().first();
        probe.name = "other fields do not matter";
        store.deleteItem(probe);
        QVERIFY(store.items().isEmpty());
        QCOMPARE(DockStore(support(), noSeed()).items().size(), 0);
    }

    void loneSurrogatesSurviveALoadAndSave() {
        // Only a hand-edited file can hold half a surrogate pair; it must come back as it was.
        const QByteArray original = prettySortedJson(QJsonObject{
            {"items", QJsonArray{QJsonObject{
                          {"hotkey", QJsonObject{{"key", "1"}, {"modifiers", QJsonArray{}}}},
                          {"icon", "star"},
                          {"id", "804C3570-6354-4AB9-A688-FC0B0EC026B9"},
                          {"name", "x"},
                          {"pluginName", "y"}}}},
            {"launcherTiming", LauncherTimingSettings::defaults.toJson()}});
        QByteArray edited = original;
        edited.replace("\"x\"", "\"lone \\ud800 high, lone \\udc00 low, pair \\ud83d\\ude00\"");
        edited.replace("\"y\"", "\"\\udfff\\ud800\"");
        QVERIFY(writeAll(configPath(), edited));
        DockStore store(support(), noSeed());
        QCOMPARE(store.items().size(), 1);
        const QString name = store.items().first().name;
        QString expectedName = QStringLiteral("lone # high, lone # low, pair ");
        expectedName.replace(5, 1, QChar(0xd800)).replace(18, 1, QChar(0xdc00));
        expectedName += QString::fromUtf8("\xf0\x9f\x98\x80");
        QCOMPARE(name, expectedName);
        store.save();
        QByteArray expected = edited;
        // A whole pair is written as UTF-8; the halves stay escaped.
        expected.replace("\\ud83d\\ude00", "\xf0\x9f\x98\x80");
        QCOMPARE(readAll(configPath()), expected);
        QCOMPARE(DockStore(support(), noSeed()).items(), store.items());
    }

    void leftoversOfAnInterruptedSaveGoAtStart() {
        { DockStore first(support(), noSeed()); }
        const QString folder = m_dir->filePath("Brevlin");
        const QString icons = folder + "/Icons";
        const QString id = "804C3570-6354-4AB9-A688-FC0B0EC026B9";
        const QStringList leftovers = {folder + "/config.json.Ab12Cd",
                                       icons + "/" + id + ".png.x9Y8z7"};
        const QStringList kept = {folder + "/config.json.bak", folder + "/config.json.toolong1",
                                  folder + "/notes.json.Ab12Cd", icons + "/" + id + ".png",
                                  icons + "/holiday.png.Ab12Cd"};
        for (const QString& path : leftovers + kept)
            QVERIFY(writeAll(path, "x"));
        DockStore store(support(), noSeed());
        for (const QString& path : leftovers)
            QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        for (const QString& path : kept)
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
    }

    void aSaveRemovesImagesOfShortcutsThatAreGone() {
        DockStore store(support(), noSeed());
        const QString png = userFile("a.png", "png");
        store.saveDraft(customDraft(png));
        const QString keptImage = *store.items().last().customIconPath;
        // What a crash between copying an image and saving leaves behind, and a stranger.
        const QString orphan =
            store.iconsFolderPath() + "/" + uuidString(QUuid::createUuid()) + ".jpg";
        const QString sampleSpare =
            store.iconsFolderPath() + "/" + uuidString(store.items().first().id) + ".gif";
        const QString notOurs = store.iconsFolderPath() + "/mine.png";
        QVERIFY(writeAll(orphan, "o"));
        QVERIFY(writeAll(sampleSpare, "s"));
        QVERIFY(writeAll(notOurs, "m"));
        store.resetLauncherTiming();
        QVERIFY(!QFileInfo::exists(orphan));
        QVERIFY(QFileInfo::exists(keptImage));
        // A shortcut that is still there keeps its files until its image changes.
        QVERIFY(QFileInfo::exists(sampleSpare));
        QVERIFY(QFileInfo::exists(notOurs));
    }

    void anImageAShortcutNamesIsKeptWhateverIdItIsStoredUnder() {
        // Copied from another machine or duplicated by hand: two shortcuts name one image, stored
        // under a third id that is no shortcut's.
        const QString image =
            m_dir->filePath("Brevlin/Icons/804C3570-6354-4AB9-A688-FC0B0EC026B9.png");
        QVERIFY(writeAll(image, "png"));
        QByteArray items = twoItemArray;
        items.replace("/somewhere/two.png", image.toUtf8());
        items.replace("\"icon\": \"star\",",
                      "\"icon\": \"star\", \"customIconPath\": \"" + image.toUtf8() + "\",");
        QVERIFY(writeAll(configPath(), configWith(items, defaultTimingJson)));
        DockStore store(support(), noSeed());
        QCOMPARE(store.items().at(0).customIconPath, std::optional<QString>(image));
        store.resetLauncherTiming();
        QCOMPARE(readAll(image), QByteArray("png"));
        store.deleteItem(store.items().first());
        QCOMPARE(readAll(image), QByteArray("png"));
        store.deleteItem(store.items().first());
        QVERIFY(!QFileInfo::exists(image));
    }

    void restoreUsesTheSeedWhenThereIsOne() {
        QVERIFY(writeAll(configPath(), configWith("[]", defaultTimingJson)));
        DockStore store(support(), seed(twoItemArray));
        QVERIFY(store.items().isEmpty());
        store.restoreSampleShortcuts();
        QCOMPARE(sampleNames(store.items()), (QStringList{"One", "Two"}));
    }
};

int runStoreTests(int argc, char** argv) {
    StoreTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_store.moc"
