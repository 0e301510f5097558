#include "DesktopTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace brevlin::testing {

namespace {

QString applicationsDir() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.local/share";
    return base + "/applications";
}

// Quoting of an Exec argument: double quotes, with the characters that are special inside them
// escaped by a backslash, then the escaping every string value of the file gets.
QString quoteExecArgument(const QString& argument) {
    QString quoted;
    for (QChar c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted = '"' + quoted + '"';
    quoted.replace("\\", "\\\\");
    quoted.replace("%", "%%");
    return quoted;
}

const QStringList entryFileNames = {"com.figma.Desktop.desktop", "figma-linux.desktop"};

} // namespace

bool insideDesktopSession() {
    return !qEnvironmentVariableIsEmpty("BREVLIN_DESKTOP_SESSION");
}

QString standinExecutable() {
    return QStringLiteral(BREVLIN_STANDIN_PATH);
}

bool setAccessibilityEnabled(bool enabled) {
    QProcess process;
    process.start(QStringLiteral(BREVLIN_SCRIPTS_DIR "/a11y-enable"), {enabled ? "on" : "off"});
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

StandinRecord::StandinRecord()
    : m_path(m_dir.filePath("record.jsonl")) {}

QList<QJsonObject> StandinRecord::events() const {
    QList<QJsonObject> result;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            result.append(doc.object());
    }
    return result;
}

QList<QJsonObject> StandinRecord::events(const QString& kind) const {
    QList<QJsonObject> result;
    for (const QJsonObject& e : events())
        if (e.value("event").toString() == kind)
            result.append(e);
    return result;
}

bool StandinRecord::waitFor(const std::function<bool(const QJsonObject&)>& predicate,
                            int timeoutMilliseconds) const {
    QDeadlineTimer deadline(timeoutMilliseconds);
    for (;;) {
        for (const QJsonObject& e : events())
            if (predicate(e))
                return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
}

bool StandinRecord::waitForEvent(const QString& kind, int timeoutMilliseconds) const {
    return waitFor([&](const QJsonObject& e) { return e.value("event").toString() == kind; },
                   timeoutMilliseconds);
}

QStringList StandinRecord::runs() const {
    QStringList result;
    for (const QJsonObject& e : events("run"))
        result.append(e.value("name").toString() + "/" + e.value("trigger").toString());
    return result;
}

QString StandinRecord::lastText() const {
    const QList<QJsonObject> texts = events("text");
    return texts.isEmpty() ? QString() : texts.last().value("text").toString();
}

void StandinRecord::clear() const {
    QFile::remove(m_path);
}

QString installStandinEntry(const QStringList& arguments, const QString& wmClass,
                            const QString& fileName) {
    QDir().mkpath(applicationsDir());
    QStringList exec = {quoteExecArgument(standinExecutable()), quoteExecArgument("--wm-class"),
                        quoteExecArgument(wmClass)};
    for (const QString& a : arguments)
        exec.append(quoteExecArgument(a));
    const QString path = applicationsDir() + "/" + fileName;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    QString text =
        "[Desktop Entry]\nType=Application\nName=Stand-in Design\nExec=" + exec.join(' ') +
        "\nStartupWMClass=" + wmClass + "\nTerminal=false\n";
    file.write(text.toUtf8());
    return path;
}

void removeStandinEntries() {
    for (const QString& name : entryFileNames)
        QFile::remove(applicationsDir() + "/" + name);
}

StandinProcess::~StandinProcess() {
    stop();
}

bool StandinProcess::start(const QStringList& arguments, const QString& wmClass) {
    stop();
    m_record.clear();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->start(standinExecutable(),
                     QStringList{"--record", m_record.path(), "--wm-class", wmClass} + arguments);
    if (!m_process->waitForStarted(5000))
        return false;
    return m_record.waitForEvent("ready", 10000);
}

void StandinProcess::stop() {
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    m_process.reset();
}

qint64 StandinProcess::pid() const {
    return m_process ? m_process->processId() : 0;
}

void terminateProcess(qint64 pid) {
    if (pid <= 0)
        return;
    ::kill(pid_t(pid), SIGTERM);
    QDeadlineTimer deadline(3000);
    while (::kill(pid_t(pid), 0) == 0 && !deadline.hasExpired())
        QTest::qWait(20);
    if (::kill(pid_t(pid), 0) == 0)
        ::kill(pid_t(pid), SIGKILL);
}

} // namespace brevlin::testing
