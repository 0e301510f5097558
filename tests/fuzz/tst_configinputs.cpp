// Every seed of the decoder's fuzzer and every input it ever crashed on, through the same check
// in the ordinary build.
#include "ConfigCheck.h"

#include <QDir>
#include <QTest>

class ConfigInputTests : public QObject {
    Q_OBJECT
private slots:
    void inputsDecodeAndReadBackUnchanged_data() {
        QTest::addColumn<QString>("path");
        for (const char* folder : {"corpus", "regressions"}) {
            const QDir dir(QStringLiteral(BREVLIN_FUZZ_INPUTS "/") + QLatin1String(folder));
            const QStringList names = dir.entryList(QDir::Files, QDir::Name);
            for (const QString& name : names)
                QTest::newRow(qPrintable(QLatin1String(folder) + '/' + name)) << dir.filePath(name);
        }
    }
    void inputsDecodeAndReadBackUnchanged() {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString problem = brevlin::testing::checkConfigBytes(file.readAll());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
};

QTEST_GUILESS_MAIN(ConfigInputTests)
#include "tst_configinputs.moc"
