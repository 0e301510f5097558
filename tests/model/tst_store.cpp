// The store of shortcuts and timing in its folder, and saves that fail on a real file system; a
// read-only folder as root needs a tmpfs mounted in a private mount namespace.
#include "StoreFiles.h"
#include "model/JsonText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

QStringList sampleNames(const QList<DockItem>& items) {
    QStringList names;
    for (const DockItem& item : items)
        names.append(item.name);
    return names;
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

bool mountsAllowed = false;

// Called before QCoreApplication exists: unshare() refuses a process with threads.
void enterPrivateMountNamespace() {
    if (::unshare(CLONE_NEWNS) != 0)
        return;
    // Mounts made here must not reach the host.
    mountsAllowed = ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

DockItem namedItem(const QString& name) {
    return DockItem{QUuid::createUuid(), name, name, QStringLiteral("star"), std::nullopt, {}};
}

// The kernel refuses every write past `bytes` (EFBIG) while this lives: the same failure path as
// a full disk, for processes that may not mount.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
        : savedHandler(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }
    void (*savedHandler)(int);
    rlimit saved{};
    bool active = false;
};

struct SmallFileSystem {
    SmallFileSystem(const QString& folder, int kilobytes)
        : path(QFile::encodeName(folder)) {
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
        mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
    bool remount(unsigned long flags) {
        return ::mount("tmpfs", path.constData(), "tmpfs", MS_REMOUNT | flags, nullptr) == 0;
    }
    QByteArray path;
    bool mounted = false;
};

QStringList backups(const DockStore& store) {
    return QDir(store.applicationFolderPath()).entryList({"config.unreadable*"});
}

} // namespace

class StoreTests : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString support() const { return m_dir->path(); }
    QString configPath() const { return m_dir->filePath("Brevlin/config.json"); }
    DockStore reloaded() const { return DockStore(support(), noSeed()); }
    QString userFile(const QString& name, const QByteArray& bytes) const {
        const QString path = m_dir->filePath("user/" + name);
        return writeAll(path, bytes) ? path : QString();
    }
    DockItem addPicture(DockStore& store) const {
        store.saveDraft(customDraft(userFile("a.png", "png")));
        return store.items().last();
    }

    // After a failed change: the file is as it was, the change is in memory, the failure says
    // why, and the next change that can be written carries both.
    void checkFailureThenRecovery(DockStore& store, const QByteArray& savedBefore,
                                  const QString& reasonPart, const std::function<void()>& unblock) {
        const QString folder = store.applicationFolderPath();
        const auto reread = [&] { return DockStore(QFileInfo(folder).path(), noSeed()); };
        QCOMPARE(readAll(store.configFilePath()), savedBefore);
        QVERIFY(store.saveFailure().has_value());
        QVERIFY2(store.saveFailure()->contains(reasonPart), qPrintable(*store.saveFailure()));
        QVERIFY(store.saveFailureMessage()->startsWith("The shortcuts could not be saved: "));
        QVERIFY(store.saveFailureMessage()->contains(*store.saveFailure()));
        QVERIFY(store.saveFailureMessage()->contains("The last saved file is kept"));
        QCOMPARE(reread().items().size(), store.items().size() - 1);
        const QStringList leftovers = QDir(folder).entryList({"config.json.*"}, QDir::Files);
        QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(' ')));

        // Still failing: the next change keeps both in memory and the warning stays.
        QSignalSpy failureChanged(&store, &DockStore::saveFailureChanged);
        store.upsert(namedItem("Second try"));
        QVERIFY(store.saveFailure().has_value());
        QCOMPARE(failureChanged.count(), 0);
        QCOMPARE(readAll(store.configFilePath()), savedBefore);

        unblock();
        store.setTimingValue(TimingField::focusDelayMilliseconds, 321);
        QVERIFY2(!store.saveFailure().has_value(), qPrintable(store.saveFailure().value_or("")));
        QVERIFY(!store.saveFailureMessage().has_value());
        QCOMPARE(failureChanged.count(), 1);
        const DockStore again = reread();
        QCOMPARE(again.items(), store.items());
        QCOMPARE(again.launcherTiming().focusDelayMilliseconds, 321);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void firstRunTakesAGoodSeedElseTheSamples_data() {
        QTest::addColumn<QByteArray>("seedBytes");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no seed") << QByteArray() << builtInNames;
        QTest::newRow("good seed") << twoItemArray << QStringList{"One", "Two"};
        QTest::newRow("not json") << QByteArray("nope") << builtInNames;
        QTest::newRow("object, not array")
            << configWith(twoItemArray, defaultTimingJson) << builtInNames;
        QTest::newRow("one bad item") << QByteArray(R"([{"id": "x"}])") << builtInNames;
    }
    void firstRunTakesAGoodSeedElseTheSamples() {
        QFETCH(QByteArray, seedBytes);
        QFETCH(QStringList, names);
        DockStore store(support(), seedBytes.isNull() ? noSeed() : seed(seedBytes));
        QCOMPARE(sampleNames(store.items()), names);
        QCOMPARE(store.launcherTiming(), LauncherTimingSettings::defaults);
        // Read back with a seed of its own, so only the written file can give these items.
        const DockStore again(support(), seed("[]"));
        QCOMPARE(again.items(), store.items());
        QCOMPARE(again.launcherTiming(), store.launcherTiming());
        // Restoring the samples asks the seed again.
        store.deleteItem(store.items().first());
        store.restoreSampleShortcuts();
        QCOMPARE(sampleNames(store.items()), names);
    }

    void fileIsReadAsItIsAndRewrittenAfterEachChangeIsAnnounced() {
        QVERIFY(writeAll(configPath(), twoItemArray));
        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), (QStringList{"One", "Two"}));
        QCOMPARE(store.launcherTiming(), LauncherTimingSettings::defaults);
        QCOMPARE(readAll(configPath()), twoItemArray);

        store.save();
        const QJsonObject root = QJsonDocument::fromJson(readAll(configPath())).object();
        QCOMPARE(root.keys(), (QStringList{"items", "launcherTiming"}));
        QCOMPARE(root.value("items").toArray().size(), 2);
        QVERIFY(backups(store).isEmpty());

        // Timing out of range is clamped on load; the file keeps its values.
        const QByteArray bytes =
            configWith("[]", R"({"focusDelayMilliseconds": 5000, "actionsOpenDelayMilliseconds": -1,
                     "typingCharacterDelayMilliseconds": 18, "postSearchDelayMilliseconds": 60})");
        QVERIFY(writeAll(configPath(), bytes));
        QCOMPARE(reloaded().launcherTiming(), (LauncherTimingSettings{2000, 0, 18, 60}));
        QCOMPARE(readAll(configPath()), bytes);

        // Each change is announced before it is written.
        QSignalSpy itemSignals(&store, &DockStore::itemsChanged);
        QSignalSpy timingSignals(&store, &DockStore::launcherTimingChanged);
        QByteArray seenOnDisk;
        const auto look = [&] { seenOnDisk = readAll(configPath()); };
        connect(&store, &DockStore::itemsChanged, this, look);
        connect(&store, &DockStore::launcherTimingChanged, this, look);

        const QByteArray before = readAll(configPath());
        store.upsert(namedItem("Extra"));
        QCOMPARE(itemSignals.count(), 1);
        QCOMPARE(seenOnDisk, before);
        QVERIFY(readAll(configPath()).contains("Extra"));

        const QByteArray beforeTiming = readAll(configPath());
        store.setTimingValue(TimingField::typingCharacterDelayMilliseconds, 999);
        QCOMPARE(timingSignals.count(), 1);
        QCOMPARE(seenOnDisk, beforeTiming);

        // An unchanged value is still announced.
        store.setTimingValue(TimingField::typingCharacterDelayMilliseconds, 120);
        QCOMPARE(timingSignals.count(), 2);
        store.resetLauncherTiming();
        QCOMPARE(timingSignals.count(), 3);
        QCOMPARE(itemSignals.count(), 1);

        // Only a hand-edited file can hold half a surrogate pair; it must come back as it was.
        QByteArray edited = prettySortedJson(QJsonObject{
            {"items", QJsonArray{QJsonObject{
                          {"hotkey", QJsonObject{{"key", "1"}, {"modifiers", QJsonArray{}}}},
                          {"icon", "star"},
                          {"id", "804C3570-6354-4AB9-A688-FC0B0EC026B9"},
                          {"name", "x"},
                          {"pluginName", "y"}}}},
            {"launcherTiming", LauncherTimingSettings::defaults.toJson()}});
        edited.replace("\"x\"", "\"lone \\ud800 high, lone \\udc00 low, pair \\ud83d\\ude00\"");
        edited.replace("\"y\"", "\"\\udfff\\ud800\"");
        QVERIFY(writeAll(configPath(), edited));
        DockStore halves(support(), noSeed());
        QCOMPARE(halves.items().size(), 1);
        QString expectedName = QStringLiteral("lone # high, lone # low, pair ");
        expectedName.replace(5, 1, QChar(0xd800)).replace(18, 1, QChar(0xdc00));
        expectedName += QString::fromUtf8("\xf0\x9f\x98\x80");
        QCOMPARE(halves.items().first().name, expectedName);
        halves.save();
        QByteArray expected = edited;
        // A whole pair is written as UTF-8; the halves stay escaped.
        expected.replace("\\ud83d\\ude00", "\xf0\x9f\x98\x80");
        QCOMPARE(readAll(configPath()), expected);
        QCOMPARE(reloaded().items(), halves.items());
    }

    void unloadableFileIsKeptAndBackedUpBeforeTheFirstSave_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not json") << QByteArray("my shortcuts {");
        QTest::newRow("no timing") << QByteArray(R"({"items": []})");
    }
    void unloadableFileIsKeptAndBackedUpBeforeTheFirstSave() {
        QFETCH(QByteArray, bytes);
        QVERIFY(writeAll(configPath(), bytes));
        DockStore store(support(), seed(twoItemArray));
        QCOMPARE(sampleNames(store.items()), builtInNames);
        QCOMPARE(store.launcherTiming(), LauncherTimingSettings::defaults);
        QCOMPARE(readAll(configPath()), bytes);
        QVERIFY(backups(store).isEmpty());

        store.resetLauncherTiming();
        QCOMPARE(backups(store).size(), 1);
        const QString backup = backups(store).first();
        QVERIFY2(backup.contains(QRegularExpression("^config\\.unreadable-\\d{8}T\\d{6}Z\\.json$")),
                 qPrintable(backup));
        QCOMPARE(readAll(QDir(store.applicationFolderPath()).filePath(backup)), bytes);
        QVERIFY(readAll(configPath()) != bytes);
        QCOMPARE(reloaded().items(), store.items());

        store.deleteItem(store.items().first());
        QCOMPARE(backups(store), QStringList{backup});
    }

    void oddFilesNeverBlockLoading() {
        QVERIFY(QDir().mkpath(QFileInfo(configPath()).absolutePath()));
        QCOMPARE(::mkfifo(QFile::encodeName(configPath()).constData(), 0600), 0);
        // Opening the FIFO for reading would block until a writer appears.
        QCOMPARE(sampleNames(reloaded().items()), builtInNames);
        QVERIFY(QFileInfo(configPath()).exists());

        // A folder in its place is never replaced: changes stay in memory.
        QVERIFY(QFile::remove(configPath()) && QDir().mkpath(configPath()));
        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), builtInNames);
        store.setTimingValue(TimingField::focusDelayMilliseconds, 5);
        QCOMPARE(store.launcherTiming().focusDelayMilliseconds, 5);
        QVERIFY(QFileInfo(configPath()).isDir());

        // Only a hand-edited file holds two shortcuts with one id; a delete removes both.
        QByteArray items = twoItemArray;
        items.replace("aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee",
                      "11111111-2222-3333-4444-555555555555");
        QVERIFY(QDir(configPath()).removeRecursively() && writeAll(configPath(), items));
        DockStore twice(support(), noSeed());
        QCOMPARE(twice.items().size(), 2);
        DockItem probe = twice.items().first();
        probe.name = "other fields do not matter";
        twice.deleteItem(probe);
        QVERIFY(twice.items().isEmpty());
        QCOMPARE(reloaded().items().size(), 0);
    }

    void legacyFolderIsCopiedOnlyWhenTheNewOneIsMissing() {
        const QString legacyConfig = m_dir->filePath("Tessark/config.json");
        const QString legacyIcon =
            m_dir->filePath("Tessark/Icons/AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE.png");
        QVERIFY(writeAll(legacyIcon, "png bytes"));
        QByteArray items = twoItemArray;
        items.replace("/somewhere/two.png", legacyIcon.toUtf8());
        QVERIFY(writeAll(legacyConfig, configWith(items, defaultTimingJson)));
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath("Tessark/pipe")).constData(), 0600), 0);

        DockStore store(support(), noSeed());
        QCOMPARE(sampleNames(store.items()), (QStringList{"One", "Two"}));
        QCOMPARE(store.items().at(1).customIconPath, std::optional<QString>(legacyIcon));
        QVERIFY(QFileInfo::exists(legacyConfig));
        QVERIFY(QFileInfo::exists(legacyIcon));
        QCOMPARE(readAll(configPath()), configWith(items, defaultTimingJson));
        QCOMPARE(iconFiles(store), (QStringList{"AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE.png"}));
        QVERIFY(!QFileInfo::exists(m_dir->filePath("Brevlin/pipe")));

        // Saving the shortcut from the editor brings its image into the new folder.
        store.saveDraft(DockItemDraft(store.items().at(1)));
        QCOMPARE(store.items().at(1).customIconPath,
                 std::optional<QString>(
                     m_dir->filePath("Brevlin/Icons/AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE.png")));
        QVERIFY(QFileInfo::exists(legacyIcon));

        // Once the new folder exists, even empty, the old one is left alone.
        const QString folder = store.applicationFolderPath();
        QVERIFY(QDir(folder).removeRecursively() && QDir().mkpath(folder));
        QCOMPARE(sampleNames(reloaded().items()), builtInNames);
    }

    void customIconIsCopiedUnderTheIdAndOnlyTheNewCopyStays() {
        DockStore store(support(), noSeed());
        const QString photo = userFile("Photo.JPG", "jpeg bytes");
        DockItemDraft draft = customDraft(photo);
        draft.name = QString::fromUtf8("\u2003 Name \n");
        draft.pluginName = "\tPlug ";
        draft.icon = " star ";
        draft.hotkey = Hotkey{"q", {KeyModifier::shift, KeyModifier::primary}};
        store.saveDraft(draft);
        const DockItem saved = store.items().last();
        QVERIFY(!saved.id.isNull());
        const QString stored = store.iconsFolderPath() + "/" + uuidString(saved.id) + ".jpg";
        QCOMPARE(saved, (DockItem{saved.id, "Name", "Plug", "star", stored, draft.hotkey}));
        QCOMPARE(readAll(stored), QByteArray("jpeg bytes"));
        QVERIFY(QFileInfo::exists(photo));

        // Re-saving points at the stored copy itself: nothing is copied again.
        QVERIFY(writeAll(photo, "changed since"));
        store.saveDraft(DockItemDraft(saved));
        QCOMPARE(store.items().size(), 4);
        QCOMPARE(store.items().last(), saved);
        QCOMPARE(readAll(stored), QByteArray("jpeg bytes"));
        QCOMPARE(iconFiles(store), (QStringList{uuidString(saved.id) + ".jpg"}));

        // Chosen from the icons folder under its own id, the extension in another case: the
        // clean-up must not remove what is copied.
        const QString upper = store.iconsFolderPath() + "/" + uuidString(saved.id) + ".JPG";
        QVERIFY(QFile::rename(stored, upper));
        draft = DockItemDraft(saved);
        draft.customIconPath = upper;
        store.saveDraft(draft);
        QCOMPARE(store.items().last().customIconPath, std::optional<QString>(stored));
        QCOMPARE(readAll(stored), QByteArray("jpeg bytes"));

        // Changing the image leaves only the new copy; another shortcut's image survives.
        const QString otherFile = uuidString(addPicture(store).id) + ".png";
        draft = DockItemDraft(store.items().at(3));
        draft.customIconPath = userFile("b.jpeg", "jpeg");
        store.saveDraft(draft);
        QCOMPARE(iconFiles(store), sorted({uuidString(saved.id) + ".jpeg", otherFile}));

        draft.customIconPath = userFile("noextension", "bare");
        store.saveDraft(draft);
        QCOMPARE(iconFiles(store), sorted({uuidString(saved.id) + ".png", otherFile}));
        QCOMPARE(readAll(*store.items().at(3).customIconPath), QByteArray("bare"));

        draft = DockItemDraft(store.items().at(3));
        draft.iconSource = DockIconSource::systemSymbol;
        store.saveDraft(draft);
        QVERIFY(!store.items().at(3).customIconPath.has_value());
        QCOMPARE(iconFiles(store), QStringList({otherFile}));

        // A source that is no regular file counts as missing, and deletes nothing stored.
        DockItemDraft other(store.items().last());
        const QString fifo = m_dir->filePath("user/pipe.png");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        for (const QString& path : {m_dir->filePath("user/missing.png"), m_dir->filePath("user"),
                                    fifo, QStringLiteral("/dev/zero")}) {
            other.customIconPath = "  " + path + "\n";
            store.saveDraft(other);
            QVERIFY2(!store.items().last().customIconPath.has_value(), qPrintable(path));
            QCOMPARE(iconFiles(store), QStringList({otherFile}));
        }
    }

    void imagesGoOnlyWithTheStoresOwnAndOnlyOnceASaveDropsThem() {
        DockStore store(support(), noSeed());
        store.setTimingValue(TimingField::postSearchDelayMilliseconds, 7);
        addPicture(store);
        addPicture(store);
        QCOMPARE(iconFiles(store).size(), 2);

        QSignalSpy changed(&store, &DockStore::itemsChanged);
        store.deleteItem(store.items().at(3));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(store.items().size(), 4);
        QCOMPARE(iconFiles(store), QStringList({uuidString(store.items().at(3).id) + ".png"}));
        QVERIFY(QFileInfo::exists(m_dir->filePath("user/a.png")));

        store.restoreSampleShortcuts();
        QCOMPARE(sampleNames(store.items()), builtInNames);
        QVERIFY(!QFileInfo::exists(store.iconsFolderPath()));
        QCOMPARE(store.launcherTiming().postSearchDelayMilliseconds, 7);
        const DockStore again = reloaded();
        QCOMPARE(again.items(), store.items());
        QCOMPARE(again.launcherTiming().postSearchDelayMilliseconds, 7);

        // A linked icons folder: only the link goes, the folder it names is the user's.
        const QString elsewhere = m_dir->filePath("elsewhere");
        QVERIFY(writeAll(elsewhere + "/keep.png", "keep"));
        QVERIFY(QFile::link(elsewhere, store.iconsFolderPath()));
        store.restoreSampleShortcuts();
        QVERIFY(!QFileInfo(store.iconsFolderPath()).isSymLink());
        QCOMPARE(readAll(elsewhere + "/keep.png"), QByteArray("keep"));

        // A plain file in the folder's place: an image chosen meanwhile keeps the user's own
        // path, and a restore removes the file so later images can be stored again.
        QVERIFY(writeAll(store.iconsFolderPath(), "not a folder"));
        const QString png = userFile("a.png", "png");
        store.saveDraft(customDraft(" " + png));
        QCOMPARE(store.items().last().customIconPath, std::optional<QString>(png));
        store.restoreSampleShortcuts();
        const DockItem pic = addPicture(store);
        const QString stored = store.iconsFolderPath() + "/" + uuidString(pic.id) + ".png";
        QCOMPARE(pic.customIconPath, std::optional<QString>(stored));
        QVERIFY(QFileInfo::exists(stored));

        // While saves fail, the last saved file still names the image: it must stay.
        {
            FileSizeLimit limit(0);
            QVERIFY(limit.active);
            DockItemDraft draft(pic);
            draft.customIconPath = userFile("b.jpg", "jpeg");
            store.saveDraft(draft);
            QVERIFY(store.saveFailure().has_value());
            QVERIFY(QFileInfo::exists(stored));
            store.deleteItem(store.items().last());
            QVERIFY(QFileInfo::exists(stored));
            store.restoreSampleShortcuts();
            QVERIFY(QFileInfo::exists(stored));
            QCOMPARE(reloaded().items().last(), pic);
        }
        // The first save that stops naming them removes them.
        store.resetLauncherTiming();
        QVERIFY(!store.saveFailure().has_value());
        QVERIFY(!QFileInfo::exists(stored));
        QVERIFY(QDir(store.iconsFolderPath()).isEmpty());
    }

    void strayFilesGoAtStartAndASaveKeepsOnlyImagesAShortcutNames() {
        // Copied from another machine or duplicated by hand: two shortcuts name one image, stored
        // under a third id that is no shortcut's.
        const QString folder = m_dir->filePath("Brevlin");
        const QString icons = folder + "/Icons";
        const QString image = icons + "/804C3570-6354-4AB9-A688-FC0B0EC026B9.png";
        QVERIFY(writeAll(image, "png"));
        QByteArray items = twoItemArray;
        items.replace("/somewhere/two.png", image.toUtf8());
        items.replace("\"icon\": \"star\",",
                      "\"icon\": \"star\", \"customIconPath\": \"" + image.toUtf8() + "\",");
        QVERIFY(writeAll(configPath(), configWith(items, defaultTimingJson)));
        // What an interrupted save leaves goes at start; names only like it stay.
        const QStringList leftovers = {folder + "/config.json.Ab12Cd", image + ".x9Y8z7"};
        const QStringList kept = {folder + "/config.json.bak", folder + "/config.json.toolong1",
                                  folder + "/notes.json.Ab12Cd", icons + "/holiday.png.Ab12Cd"};
        for (const QString& path : leftovers + kept)
            QVERIFY(writeAll(path, "x"));
        DockStore store(support(), noSeed());
        for (const QString& path : leftovers)
            QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        for (const QString& path : kept)
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        QCOMPARE(store.items().at(0).customIconPath, std::optional<QString>(image));
        // What a crash between copying an image and saving leaves behind, and a stranger.
        const QString orphan =
            store.iconsFolderPath() + "/" + uuidString(QUuid::createUuid()) + ".jpg";
        const QString sampleSpare =
            store.iconsFolderPath() + "/" + uuidString(store.items().first().id) + ".gif";
        const QString notOurs = store.iconsFolderPath() + "/mine.png";
        for (const QString& path : {orphan, sampleSpare, notOurs})
            QVERIFY(writeAll(path, "x"));
        store.resetLauncherTiming();
        QVERIFY(!QFileInfo::exists(orphan));
        QCOMPARE(readAll(image), QByteArray("png"));
        // A shortcut that is still there keeps its files until its image changes.
        QVERIFY(QFileInfo::exists(sampleSpare));
        QVERIFY(QFileInfo::exists(notOurs));
        store.deleteItem(store.items().first());
        QCOMPARE(readAll(image), QByteArray("png"));
        store.deleteItem(store.items().first());
        QVERIFY(!QFileInfo::exists(image));
    }

    // A write the kernel refuses part-way, as on a full disk: nothing, or only the first page.
    void writeRefusedByTheKernelKeepsTheLastSavedFile_data() {
        QTest::addColumn<qint64>("limit");
        QTest::newRow("nothing may be written") << qint64(0);
        QTest::newRow("the first page may be written") << qint64(4096);
    }
    void writeRefusedByTheKernelKeepsTheLastSavedFile() {
        QFETCH(qint64, limit);
        DockStore store(support(), noSeed());
        for (int i = 0; i < 40; ++i)
            store.upsert(namedItem(QStringLiteral("Shortcut number %1 with a long name").arg(i)));
        const QByteArray saved = readAll(configPath());
        QVERIFY(saved.size() > limit + 4096);

        auto sizeLimit = std::make_unique<FileSizeLimit>(rlim_t(limit));
        QVERIFY(sizeLimit->active);
        store.upsert(namedItem("Does not fit"));
        checkFailureThenRecovery(store, saved, QString::fromLocal8Bit(std::strerror(EFBIG)),
                                 [&] { sizeLimit.reset(); });
    }

    void readOnlyFolderKeepsTheLastSavedFile() {
        std::unique_ptr<SmallFileSystem> disk;
        if (::geteuid() == 0) {
            // Permissions do not stop root; a read-only mount does.
            if (!mountsAllowed)
                QSKIP("root without mounts cannot make a folder read-only");
            disk = std::make_unique<SmallFileSystem>(support(), 256);
            QVERIFY(disk->mounted);
        }
        DockStore store(support(), noSeed());
        const QByteArray saved = readAll(configPath());
        QVERIFY(!saved.isEmpty());
        const QString folder = store.applicationFolderPath();
        if (disk)
            QVERIFY(disk->remount(MS_RDONLY));
        else
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        store.upsert(namedItem("Read only"));
        // Qt checks the existing file before it makes the temporary one.
        const QString reason = disk ? QStringLiteral("is not writable")
                                    : QString::fromLocal8Bit(std::strerror(EACCES));
        checkFailureThenRecovery(store, saved, reason, [&] {
            if (disk)
                QVERIFY(disk->remount(0));
            else
                QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner));
        });
    }

    void fileWhereTheFolderMustBeIsNamed() {
        const QString blocked = m_dir->filePath("blocked");
        QVERIFY(writeAll(blocked, "a file where a folder must go"));
        DockStore store(blocked, noSeed());
        // The first run's own save has already failed.
        const QString reason = QString::fromUtf8("“%1” is a file where a folder must be");
        QCOMPARE(store.saveFailure(), std::optional(reason.arg(blocked)));
        store.upsert(namedItem("In memory"));
        checkFailureThenRecovery(store, {}, reason.arg(blocked), [&] {
            QCOMPARE(readAll(blocked), QByteArray("a file where a folder must go"));
            QVERIFY(QFile::remove(blocked));
        });
    }

    void failedBackupOfAnUnreadableFileKeepsIt() {
        // Longer than the limit below, so its copy cannot be written.
        const QByteArray unreadable = "my shortcuts {" + QByteArray(8192, ' ');
        QVERIFY(writeAll(configPath(), unreadable));
        DockStore store(support(), noSeed());
        auto sizeLimit = std::make_unique<FileSizeLimit>(4096);
        QVERIFY(sizeLimit->active);
        store.upsert(namedItem("Not yet"));
        checkFailureThenRecovery(store, unreadable, "could not be backed up",
                                 [&] { sizeLimit.reset(); });
        QCOMPARE(backups(store).size(), 1);
        QCOMPARE(readAll(QDir(store.applicationFolderPath()).filePath(backups(store).first())),
                 unreadable);
    }
};

int main(int argc, char** argv) {
    enterPrivateMountNamespace();
    QCoreApplication app(argc, argv);
    StoreTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_store.moc"
