#include "model/DockStore.h"

#include "model/ConfigFile.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

namespace brevlin {

namespace {

const QString configFileName = QStringLiteral("config.json");
const QString iconsFolderName = QStringLiteral("Icons");
constexpr qsizetype uuidLength = 36;

// True for regular files and links to them. Anything else (folders, FIFOs, sockets, devices) is
// never opened: reading a FIFO would block the whole application.
bool isRegularFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

std::optional<QByteArray> readRegularFile(const QString& path) {
    if (!isRegularFile(path))
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

// Copies a folder tree. Links are recreated as links and anything that is neither a folder nor a
// regular file is left behind, so no FIFO or device is ever opened.
bool copyTree(const QString& source, const QString& destination) {
    if (!QDir().mkdir(destination))
        return false;
    const QFileInfoList entries = QDir(source).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        const QString target = QDir(destination).filePath(entry.fileName());
        if (entry.isSymLink()) {
            if (!QFile::link(entry.symLinkTarget(), target))
                return false;
        } else if (entry.isDir()) {
            if (!copyTree(entry.filePath(), target))
                return false;
        } else if (entry.isFile()) {
            if (!QFile::copy(entry.filePath(), target))
                return false;
        }
    }
    return true;
}

// The extension of the last path component, or nothing for "name", ".hidden" and "name.".
QString pathExtension(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1);
}

bool sameFile(const QString& a, const QString& b) {
    if (QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
        QDir::cleanPath(QFileInfo(b).absoluteFilePath()))
        return true;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

// Writes `bytes` to `file`, which is open unbuffered, and returns why it failed, if it did. A
// short write is tried again for the rest, so a second attempt names the cause.
std::optional<QString> writeFully(QSaveFile& file, const char* bytes, qint64 size) {
    qint64 written = 0;
    while (written < size) {
        const qint64 count = file.write(bytes + written, size - written);
        if (count <= 0)
            return file.errorString();
        written += count;
    }
    return std::nullopt;
}

// Copies `source` over `destination` in one rename: until it succeeds, the old file stays whole.
bool replaceWithCopy(const QString& source, const QString& destination) {
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return false;
    QSaveFile output(destination);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 count = input.read(chunk.data(), chunk.size());
        if (count < 0) {
            output.cancelWriting();
            return false;
        }
        if (count == 0)
            break;
        if (writeFully(output, chunk.constData(), count)) {
            output.cancelWriting();
            return false;
        }
    }
    return output.commit();
}

// Why the application folder could not be made: most often a file stands where a folder must be.
QString folderFailure(const QString& folder) {
    QString path = QDir::cleanPath(folder);
    while (!path.isEmpty() && !QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    if (QFileInfo::exists(path) && !QFileInfo(path).isDir())
        return DockStore::tr("\u201c%1\u201d is a file where a folder must be").arg(path);
    return DockStore::tr("the folder \u201c%1\u201d could not be created").arg(folder);
}

bool removeEntry(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

} // namespace

DockStore::DockStore(QString applicationSupportPath, SeedLookup seedLookup, QObject* parent)
    : QObject(parent)
    , m_applicationSupportPath(std::move(applicationSupportPath))
    , m_seedLookup(std::move(seedLookup))
    , m_launcherTiming(LauncherTimingSettings::defaults) {
    migrateLegacyFolder();
    removeLeftoverTemporaries();
    load();
}

QString DockStore::applicationFolderPath() const {
    return QDir(m_applicationSupportPath).filePath(appSupportFolderName);
}

QString DockStore::legacyFolderPath() const {
    return QDir(m_applicationSupportPath).filePath(legacyAppSupportFolderName);
}

QString DockStore::configFilePath() const {
    return QDir(applicationFolderPath()).filePath(configFileName);
}

QString DockStore::iconsFolderPath() const {
    return QDir(applicationFolderPath()).filePath(iconsFolderName);
}

const QList<DockItem>& DockStore::builtInSamples() {
    static const QList<DockItem> samples = [] {
        const QList<KeyModifier> commandOption = {KeyModifier::primary, KeyModifier::alternate};
        auto sample = [&](const char* id, const char* name, const char* icon, const char* key) {
            return DockItem{QUuid::fromString(QLatin1String(id)),
                            QString::fromLatin1(name),
                            QString::fromLatin1(name),
                            QString::fromLatin1(icon),
                            std::nullopt,
                            Hotkey{QString::fromLatin1(key), commandOption}};
        };
        return QList<DockItem>{
            sample("804C3570-6354-4AB9-A688-FC0B0EC026B9", "Content Reel",
                   "square.stack.3d.up.fill", "1"),
            sample("0E514F0F-52D1-441D-8F54-B7A4D9B7C6F9", "Autoflow", "arrow.triangle.branch",
                   "2"),
            sample("4E642431-C6D9-4AD0-8291-31A70041CA48", "Unsplash", "photo.stack", "3"),
        };
    }();
    return samples;
}

DockStore::SeedLookup DockStore::defaultSeedLookup() {
    return []() -> std::optional<QByteArray> {
        return readRegularFile(QStringLiteral(":/SeedConfig.json"));
    };
}

void DockStore::setItems(QList<DockItem> items) {
    m_items = std::move(items);
    emit itemsChanged();
}

void DockStore::setLauncherTiming(LauncherTimingSettings timing) {
    m_launcherTiming = timing;
    emit launcherTimingChanged();
}

void DockStore::migrateLegacyFolder() {
    const QString destination = applicationFolderPath();
    if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink())
        return;
    if (!QFileInfo(legacyFolderPath()).isDir())
        return;
    if (!QDir().mkpath(m_applicationSupportPath))
        return;
    // A copy that stops halfway is taken back, so a later start can try again from scratch.
    if (!copyTree(legacyFolderPath(), destination))
        QDir(destination).removeRecursively();
}

void DockStore::load() {
    const QString path = configFilePath();
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        if (const auto bytes = readRegularFile(path)) {
            if (auto config = decodeConfig(*bytes)) {
                setItems(std::move(config->items));
                setLauncherTiming(config->launcherTiming.clamped());
                m_figmaTarget = std::move(config->figmaTarget);
                return;
            }
            if (auto items = decodeShortcutList(*bytes)) {
                setItems(std::move(*items));
                setLauncherTiming(LauncherTimingSettings::defaults);
                return;
            }
        }
        setItems(builtInSamples());
        setLauncherTiming(LauncherTimingSettings::defaults);
        // Only a regular file can hold shortcuts worth keeping.
        m_configNeedsBackup = isRegularFile(path);
        return;
    }

    std::optional<QList<DockItem>> seeded;
    if (const auto seed = m_seedLookup ? m_seedLookup() : std::nullopt)
        seeded = decodeShortcutList(*seed);
    setItems(seeded ? *seeded : builtInSamples());
    setLauncherTiming(LauncherTimingSettings::defaults);
    save();
}

bool DockStore::backUpUnloadableConfig() {
    const QString path = configFilePath();
    if (!isRegularFile(path)) {
        m_configNeedsBackup = false;
        return true;
    }
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const QDir folder(applicationFolderPath());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString suffix = attempt == 0 ? QString() : QStringLiteral("-%1").arg(attempt);
        const QString backup =
            folder.filePath(QStringLiteral("config.unreadable-%1%2.json").arg(stamp, suffix));
        if (QFileInfo::exists(backup) || QFileInfo(backup).isSymLink())
            continue;
        if (QFile::copy(path, backup)) {
            m_configNeedsBackup = false;
            return true;
        }
        return false;
    }
    return false;
}

bool DockStore::save() {
    std::optional<QString> failure = writeConfig();
    const bool saved = !failure;
    setSaveFailure(std::move(failure));
    if (saved)
        removeUnnamedIcons(false);
    return saved;
}

std::optional<QString> DockStore::writeConfig() {
    const QString folder = applicationFolderPath();
    if (!QDir().mkpath(folder))
        return folderFailure(folder);
    // Without a backup the unreadable file would be lost for good: keep the change in memory.
    if (m_configNeedsBackup && !backUpUnloadableConfig())
        return tr("the unreadable %1 could not be backed up before replacing it")
            .arg(configFileName);
    // Unbuffered: a write that does not fit fails here, where it is seen. Buffered, it would
    // fail in the flush inside commit(), which still puts the short file in place of the good
    // one.
    QSaveFile file(configFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    const QByteArray bytes =
        encodeConfig(PersistedConfig{m_items, m_launcherTiming, m_figmaTarget});
    if (const auto reason = writeFully(file, bytes.constData(), bytes.size())) {
        file.cancelWriting();
        return reason;
    }
    if (!file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

void DockStore::setSaveFailure(std::optional<QString> failure) {
    if (m_saveFailure == failure)
        return;
    m_saveFailure = std::move(failure);
    emit saveFailureChanged();
}

std::optional<QString> DockStore::saveFailureMessage() const {
    if (!m_saveFailure)
        return std::nullopt;
    return tr("The shortcuts could not be saved: %1. The last saved file is kept, and saving is "
              "tried again at the next change.")
        .arg(*m_saveFailure);
}

void DockStore::removeLeftoverTemporaries() {
    // A crash between writing a temporary file and renaming it leaves it behind; only one
    // instance runs, so any such file here is nobody's. A stored image has one extension, so
    // an id followed by two is such a file too.
    static const QRegularExpression configTemporary(
        QStringLiteral("^%1\\.[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(configFileName)));
    static const QRegularExpression iconTemporary(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.[^.]*"
                       "\\.[A-Za-z0-9]{6}$"));
    const auto sweep = [](const QString& path, const QRegularExpression& pattern) {
        const QDir folder(path);
        const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : names) {
            const QString file = folder.filePath(name);
            if (pattern.match(name).hasMatch() && !QFileInfo(file).isSymLink())
                QFile::remove(file);
        }
    };
    sweep(applicationFolderPath(), configTemporary);
    sweep(iconsFolderPath(), iconTemporary);
}

void DockStore::removeUnnamedIcons(bool everyIdStale) {
    const QDir folder(iconsFolderPath());
    if (!QFileInfo(folder.path()).isDir()) {
        m_staleIconIds.clear();
        return;
    }
    QSet<QString> ids;
    for (const DockItem& item : m_items)
        ids.insert(uuidString(item.id));
    const auto named = [this](const QString& path) {
        return std::any_of(m_items.begin(), m_items.end(), [&](const DockItem& item) {
            return item.customIconPath && sameFile(*item.customIconPath, path);
        });
    };
    const QStringList names =
        folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        // Only names this store gives out: a canonical id, then nothing or an extension.
        const QString idPart = name.left(uuidLength);
        if (name.size() > uuidLength && name.at(uuidLength) != QLatin1Char('.'))
            continue;
        const QUuid id = QUuid::fromString(idPart);
        if (id.isNull() || uuidString(id) != idPart)
            continue;
        // A shortcut's image keeps its file whatever id its name carries: a hand-edited or
        // copied configuration may point one shortcut at an image stored under another id.
        const QString path = folder.filePath(name);
        if (named(path))
            continue;
        if (!everyIdStale && ids.contains(idPart) && !m_staleIconIds.contains(id))
            continue;
        removeEntry(path);
    }
    m_staleIconIds.clear();
}

void DockStore::upsert(const DockItem& item) {
    QList<DockItem> items = m_items;
    const auto found = std::find_if(items.begin(), items.end(), [&](const DockItem& existing) {
        return existing.id == item.id;
    });
    if (found != items.end())
        *found = item;
    else
        items.append(item);
    setItems(std::move(items));
    save();
}

void DockStore::saveDraft(const DockItemDraft& copy) {
    DockItem item;
    item.id = copy.id.value_or(QUuid::createUuid());
    item.name = trimmedText(copy.name);
    item.pluginName = trimmedText(copy.pluginName);
    item.icon = trimmedText(copy.icon);
    item.customIconPath = importCustomIcon(item.id, copy.iconSource, copy.customIconPath);
    item.hotkey = copy.hotkey;
    upsert(item);
}

void DockStore::deleteItem(const DockItem& item) {
    // The images go only after a save, with every other image no saved shortcut names.
    QList<DockItem> items = m_items;
    items.removeIf([&](const DockItem& existing) { return existing.id == item.id; });
    setItems(std::move(items));
    save();
}

void DockStore::restoreSampleShortcuts() {
    std::optional<QList<DockItem>> seeded;
    if (const auto seed = m_seedLookup ? m_seedLookup() : std::nullopt)
        seeded = decodeShortcutList(*seed);
    setItems(seeded ? *seeded : builtInSamples());
    // The images go only once no saved file names them. QDir::removeRecursively would follow a
    // linked folder and empty the user's own files.
    if (!save())
        return;
    const QString icons = iconsFolderPath();
    const bool anyNamed = std::any_of(m_items.begin(), m_items.end(), [&](const DockItem& item) {
        return item.customIconPath && QFileInfo(*item.customIconPath).absolutePath() ==
                                          QFileInfo(icons).absoluteFilePath();
    });
    if (anyNamed)
        removeUnnamedIcons(true);
    else
        removeEntry(icons);
}

void DockStore::setFigmaTarget(std::optional<QString> applicationId) {
    if (m_figmaTarget == applicationId)
        return;
    m_figmaTarget = std::move(applicationId);
    emit figmaTargetChanged();
    save();
}

void DockStore::resetLauncherTiming() {
    setLauncherTiming(LauncherTimingSettings::defaults);
    save();
}

void DockStore::setTimingValue(TimingField field, qint64 value) {
    LauncherTimingSettings timing = m_launcherTiming;
    timing.setValue(field, value);
    setLauncherTiming(timing.clamped());
    save();
}

void DockStore::setAdaptiveWaits(bool on) {
    LauncherTimingSettings timing = m_launcherTiming;
    timing.adaptiveWaits = on;
    setLauncherTiming(timing);
    save();
}

std::optional<QString> DockStore::importCustomIcon(const QUuid& id, DockIconSource source,
                                                   const std::optional<QString>& chosenPath) {
    const QString trimmedPath = chosenPath ? trimmedText(*chosenPath) : QString();
    const bool custom = source == DockIconSource::customImage && !trimmedPath.isEmpty();
    // A folder, FIFO or device is no image: it counts as missing and is never opened.
    if (custom && !isRegularFile(trimmedPath))
        return std::nullopt;
    // Otherwise this id's other images go after the next save, once no saved file names them
    // (a missing file deletes nothing).
    m_staleIconIds.insert(id);
    if (!custom)
        return std::nullopt;
    if (!QDir().mkpath(iconsFolderPath()))
        return trimmedPath;

    QString extension = pathExtension(trimmedPath).toLower();
    if (extension.isEmpty())
        extension = QStringLiteral("png");
    const QString destinationName = uuidString(id) + QLatin1Char('.') + extension;
    const QString destination = QDir(iconsFolderPath()).filePath(destinationName);

    if (sameFile(trimmedPath, destination))
        return destination;
    // The saved file may still name the destination (the same image type chosen again), so it
    // is replaced in one step and never names a partial file. Anything but a plain file there
    // is removed first, so the copy cannot land behind a link.
    const QFileInfo existing(destination);
    if ((existing.exists() || existing.isSymLink()) &&
        (existing.isSymLink() || !existing.isFile())) {
        if (!removeEntry(destination))
            return trimmedPath;
    }
    if (!replaceWithCopy(trimmedPath, destination))
        return trimmedPath;
    return destination;
}

} // namespace brevlin
