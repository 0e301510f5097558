// Saves that fail on a real file system: a full disk, a read-only folder, a file where the folder
// must be, a backup that cannot be written. The full and read-only cases need a tmpfs of their
// own, mounted in a private mount namespace when the process may (root, as in CI); the file size
// limit makes the kernel refuse writes the same way where mounting is not allowed.
#include "StoreFiles.h"
#include "model/DockStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

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
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
    bool m_active = false;
};

// A tmpfs of `kilobytes` on `path`, unmounted again at the end.
class SmallFileSystem {
public:
    SmallFileSystem(const QString& path, int kilobytes)
        : m_path(QFile::encodeName(path)) {
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
        m_mounted = ::mount("tmpfs", m_path.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallFileSystem() {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    bool makeReadOnly() {
        return ::mount("tmpfs", m_path.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
};

QString strerrorText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

class SaveFailureTests : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString support() const { return m_dir->path(); }
    QString configPath() const { return m_dir->filePath("Brevlin/config.json"); }

    // After a failed change: the file is as it was, the change is in memory, the failure says
    // why, and the next change that can be written carries both.
    void checkFailureThenRecovery(DockStore& store, const QByteArray& savedBefore,
                                  const QString& reasonPart, const std::function<void()>& unblock) {
        QCOMPARE(readAll(configPath()), savedBefore);
        QVERIFY(store.saveFailure().has_value());
        QVERIFY2(store.saveFailure()->contains(reasonPart), qPrintable(*store.saveFailure()));
        QVERIFY(store.saveFailureMessage()->startsWith("The shortcuts could not be saved: "));
        QVERIFY(store.saveFailureMessage()->contains(*store.saveFailure()));
        QVERIFY(store.saveFailureMessage()->contains("The last saved file is kept"));
        QCOMPARE(DockStore(support(), noSeed()).items().size(), store.items().size() - 1);
        const QStringList leftovers =
            QDir(store.applicationFolderPath()).entryList({"config.json.*"}, QDir::Files);
        QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(' ')));

        // Still failing: the next change keeps both in memory and the warning stays.
        QSignalSpy failureChanged(&store, &DockStore::saveFailureChanged);
        store.upsert(namedItem("Second try"));
        QVERIFY(store.saveFailure().has_value());
        QCOMPARE(failureChanged.count(), 0);
        QCOMPARE(readAll(configPath()), savedBefore);

        unblock();
        store.setTimingValue(TimingField::focusDelayMilliseconds, 321);
        QVERIFY2(!store.saveFailure().has_value(), qPrintable(store.saveFailure().value_or("")));
        QVERIFY(!store.saveFailureMessage().has_value());
        QCOMPARE(failureChanged.count(), 1);
        const DockStore reloaded(support(), noSeed());
        QCOMPARE(reloaded.items(), store.items());
        QCOMPARE(reloaded.launcherTiming().focusDelayMilliseconds, 321);
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // A write the kernel refuses part-way, as on a full disk: nothing, or only the first page.
    void writeRefusedByTheKernelKeepsTheLastSavedFile_data() {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("extraItems");
        QTest::newRow("nothing may be written, short file") << qint64(0) << 0;
        QTest::newRow("nothing may be written, long file") << qint64(0) << 40;
        QTest::newRow("the first page may be written") << qint64(4096) << 40;
    }
    void writeRefusedByTheKernelKeepsTheLastSavedFile() {
        QFETCH(qint64, limit);
        QFETCH(int, extraItems);
        DockStore store(support(), noSeed());
        for (int i = 0; i < extraItems; ++i)
            store.upsert(namedItem(QStringLiteral("Shortcut number %1 with a long name").arg(i)));
        const QByteArray saved = readAll(configPath());
        QVERIFY(saved.size() > limit + 4096 || limit == 0);

        auto sizeLimit = std::make_unique<FileSizeLimit>(rlim_t(limit));
        QVERIFY(sizeLimit->active());
        store.upsert(namedItem("Does not fit"));
        checkFailureThenRecovery(store, saved, strerrorText(EFBIG), [&] { sizeLimit.reset(); });
    }

    void readOnlyFolderKeepsTheLastSavedFile() {
        std::unique_ptr<SmallFileSystem> disk;
        if (::geteuid() == 0) {
            // Permissions do not stop root; a read-only mount does.
            if (!mountsAllowed)
                QSKIP("root without mounts cannot make a folder read-only");
            disk = std::make_unique<SmallFileSystem>(support(), 256);
            QVERIFY(disk->mounted());
        }
        DockStore store(support(), noSeed());
        const QByteArray saved = readAll(configPath());
        QVERIFY(!saved.isEmpty());
        const QString folder = store.applicationFolderPath();
        if (disk)
            QVERIFY(disk->makeReadOnly());
        else
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        store.upsert(namedItem("Read only"));
        // Qt checks the existing file before it makes the temporary one.
        const QString reason = disk ? QStringLiteral("is not writable") : strerrorText(EACCES);
        checkFailureThenRecovery(store, saved, reason, [&] {
            if (disk)
                QVERIFY(::mount("tmpfs", QFile::encodeName(support()).constData(), "tmpfs",
                                MS_REMOUNT, nullptr) == 0);
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
        QVERIFY(store.saveFailure().has_value());
        QCOMPARE(*store.saveFailure(),
                 QString::fromUtf8("“%1” is a file where a folder must be").arg(blocked));
        store.upsert(namedItem("In memory"));
        QCOMPARE(store.items().size(), 4);
        QCOMPARE(readAll(blocked), QByteArray("a file where a folder must go"));

        QVERIFY(QFile::remove(blocked));
        store.upsert(namedItem("Saved"));
        QVERIFY(!store.saveFailure().has_value());
        QCOMPARE(DockStore(blocked, noSeed()).items(), store.items());
    }

    void failedBackupOfAnUnreadableFileKeepsIt() {
        // Longer than the limit below, so its copy cannot be written.
        const QByteArray unreadable = "my shortcuts {" + QByteArray(8192, ' ');
        QVERIFY(writeAll(configPath(), unreadable));
        DockStore store(support(), noSeed());
        auto sizeLimit = std::make_unique<FileSizeLimit>(4096);
        QVERIFY(sizeLimit->active());
        store.upsert(namedItem("Not yet"));
        QVERIFY(store.saveFailure().has_value());
        QVERIFY2(store.saveFailure()->contains("could not be backed up"),
                 qPrintable(*store.saveFailure()));
        QCOMPARE(readAll(configPath()), unreadable);

        sizeLimit.reset();
        store.upsert(namedItem("Now"));
        QVERIFY(!store.saveFailure().has_value());
        const QStringList backups =
            QDir(store.applicationFolderPath()).entryList({"config.unreadable-*.json"});
        QCOMPARE(backups.size(), 1);
        QCOMPARE(readAll(QDir(store.applicationFolderPath()).filePath(backups.first())),
                 unreadable);
        QCOMPARE(DockStore(support(), noSeed()).items(), store.items());
    }

    void imagesStayUntilASaveNoLongerNamesThem() {
        DockStore store(support(), noSeed());
        const QString png = m_dir->filePath("user/a.png");
        const QString jpeg = m_dir->filePath("user/b.jpg");
        QVERIFY(writeAll(png, "png"));
        QVERIFY(writeAll(jpeg, "jpeg"));
        DockItemDraft draft;
        draft.name = "Pic";
        draft.pluginName = "Pic";
        draft.iconSource = DockIconSource::customImage;
        draft.customIconPath = png;
        store.saveDraft(draft);
        const DockItem pic = store.items().last();
        const QString stored = *pic.customIconPath;
        QVERIFY(QFileInfo::exists(stored));

        // While saves fail, the last saved file still names the image: it must stay.
        {
            FileSizeLimit limit(0);
            QVERIFY(limit.active());
            draft = DockItemDraft(pic);
            draft.customIconPath = jpeg;
            store.saveDraft(draft);
            QVERIFY(store.saveFailure().has_value());
            QVERIFY(QFileInfo::exists(stored));
            store.deleteItem(store.items().last());
            QVERIFY(QFileInfo::exists(stored));
            store.restoreSampleShortcuts();
            QVERIFY(QFileInfo::exists(stored));
            QCOMPARE(DockStore(support(), noSeed()).items().last(), pic);
        }
        // The first save that stops naming them removes them.
        store.resetLauncherTiming();
        QVERIFY(!store.saveFailure().has_value());
        QVERIFY(!QFileInfo::exists(stored));
        QVERIFY(QDir(store.iconsFolderPath()).isEmpty());
    }
};

int main(int argc, char** argv) {
    enterPrivateMountNamespace();
    QCoreApplication app(argc, argv);
    SaveFailureTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_savefailures.moc"
