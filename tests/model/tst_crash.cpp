// A process that keeps changing the store is killed at random moments. After every kill the
// folder must hold a config.json that loads and equals the state before or after the change in
// flight, and every image it names must exist.
//
// The same executable is the worker: `--churn <data location> <seed> <images> <log>`. Each
// change announces the state it is about to write before the store writes it, as one line in
// the log, so the test knows both candidates whatever moment the kill hits.
#include "StoreFiles.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

QJsonObject stateOf(const DockStore& store) {
    QJsonArray items;
    for (const DockItem& item : store.items())
        items.append(item.toJson());
    return QJsonObject{{QStringLiteral("items"), items},
                       {QStringLiteral("launcherTiming"), store.launcherTiming().toJson()}};
}

[[noreturn]] void churn(const QString& support, quint32 seed, const QString& images,
                        const QString& logPath) {
    const int log = ::open(QFile::encodeName(logPath).constData(),
                           O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (log < 0)
        ::_exit(2);
    DockStore store(support, noSeed());
    const auto announce = [&] {
        const QByteArray line =
            QJsonDocument(stateOf(store)).toJson(QJsonDocument::Compact).toBase64() + '\n';
        if (::write(log, line.constData(), size_t(line.size())) != line.size())
            ::_exit(3);
    };
    QObject::connect(&store, &DockStore::itemsChanged, announce);
    QObject::connect(&store, &DockStore::launcherTimingChanged, announce);
    announce();
    if (::write(STDOUT_FILENO, "ready\n", 6) != 6)
        ::_exit(4);

    QRandomGenerator random(seed);
    const QStringList sources = QDir(images).entryList(QDir::Files, QDir::Name);
    for (int step = 0;; ++step) {
        const QList<DockItem>& items = store.items();
        const int choice = int(random.bounded(10));
        if (choice < 4 || items.isEmpty()) {
            // A new or edited shortcut, with an image more often than not.
            DockItemDraft draft;
            if (!items.isEmpty() && random.bounded(2) == 0)
                draft = DockItemDraft(items.at(int(random.bounded(qsizetype(items.size())))));
            draft.name = QStringLiteral("Shortcut %1").arg(step);
            draft.pluginName = QStringLiteral("Plugin %1").arg(step);
            const bool image = random.bounded(3) != 0;
            draft.iconSource = image ? DockIconSource::customImage : DockIconSource::systemSymbol;
            draft.icon = QStringLiteral("star");
            draft.customIconPath =
                QDir(images).filePath(sources.at(int(random.bounded(qsizetype(sources.size())))));
            store.saveDraft(draft);
        } else if (choice < 7 || items.size() > 12) {
            store.deleteItem(items.at(int(random.bounded(qsizetype(items.size())))));
        } else if (choice < 8) {
            store.restoreSampleShortcuts();
        } else {
            store.setTimingValue(TimingField::focusDelayMilliseconds, qint64(random.bounded(2000)));
        }
    }
}

} // namespace

class CrashTests : public QObject {
    Q_OBJECT
private slots:
    void killedAtAnyMomentTheFolderStaysConsistent() {
        QTemporaryDir dir;
        const QString support = dir.filePath("data");
        const QString images = dir.filePath("images");
        // The bytes do not matter: images are copied, never decoded.
        for (const char* name : {"a.png", "b.jpg", "c.PNG", "d"})
            QVERIFY(writeAll(QDir(images).filePath(name), QByteArray(3000, name[0])));
        const QString logPath = dir.filePath("states.log");

        const quint32 runSeed = QRandomGenerator::global()->generate();
        qInfo("seed %u", runSeed);
        QRandomGenerator random(runSeed);
        for (int kill = 0; kill < 200; ++kill) {
            QFile::remove(logPath);
            QProcess worker;
            worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            worker.start(QCoreApplication::applicationFilePath(),
                         {"--churn", support, QString::number(random.generate()), images, logPath});
            QVERIFY2(worker.waitForReadyRead(10000), "the worker did not start");
            QThread::usleep(random.bounded(20000));
            ::kill(pid_t(worker.processId()), SIGKILL);
            QVERIFY(worker.waitForFinished(10000));
            QCOMPARE(worker.exitStatus(), QProcess::CrashExit);

            QFile logFile(logPath);
            QVERIFY(logFile.open(QIODevice::ReadOnly));
            QList<QByteArray> lines = logFile.readAll().split('\n');
            // The last piece is empty after a whole line, or a line cut by the kill: either way
            // its state was never written.
            lines.removeLast();
            QVERIFY(!lines.isEmpty());
            QList<QJsonObject> candidates;
            for (qsizetype i = qMax<qsizetype>(0, lines.size() - 2); i < lines.size(); ++i)
                candidates.append(
                    QJsonDocument::fromJson(QByteArray::fromBase64(lines.at(i))).object());

            const QJsonObject onDisk =
                QJsonDocument::fromJson(readAll(support + "/Brevlin/config.json")).object();
            QVERIFY(!onDisk.isEmpty());
            const QString at = QString("kill %1: ").arg(kill);
            QVERIFY2(candidates.contains(onDisk), qPrintable(at + "neither state on disk"));

            const DockStore reloaded(support, noSeed());
            QCOMPARE(stateOf(reloaded), onDisk);
            for (const DockItem& item : reloaded.items())
                if (item.customIconPath)
                    QVERIFY2(QFileInfo(*item.customIconPath).isFile(),
                             qPrintable(at + "missing " + *item.customIconPath));
            const QStringList temporaries =
                QDir(support + "/Brevlin").entryList({"config.json.*"}, QDir::Files);
            QVERIFY2(temporaries.isEmpty(), qPrintable(temporaries.join(' ')));
        }
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 6 && arguments.at(1) == QLatin1String("--churn"))
        churn(arguments.at(2), arguments.at(3).toUInt(), arguments.at(4), arguments.at(5));
    CrashTests tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_crash.moc"
