#include "model/DockStore.h"

#include "model/JsonText.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace brevlin {

namespace {

const QString configFileName = QStringLiteral("config.json");
const QString iconsFolderName = QStringLiteral("Icons");

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

std::optional<QJsonValue> parseJson(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    if (document.isArray())
        return QJsonValue(document.array());
    if (document.isObject())
        return QJsonValue(document.object());
    return std::nullopt;
}

std::optional<QList<DockItem>> decodeItems(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    QList<DockItem> items;
    for (const QJsonValue& element : value.toArray()) {
        auto item = DockItem::fromJson(element);
        if (!item)
            return std::nullopt;
        items.append(std::move(*item));
    }
    return items;
}

struct PersistedConfig {
    QList<DockItem> items;
    LauncherTimingSettings launcherTiming;
};

std::optional<PersistedConfig> decodeConfig(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    auto items = decodeItems(object.value(QStringLiteral("items")));
    if (!items)
        return std::nullopt;
    const auto timing =
        LauncherTimingSettings::fromJson(object.value(QStringLiteral("launcherTiming")));
    if (!timing)
        return std::nullopt;
    return PersistedConfig{std::move(*items), *timing};
}

QByteArray encodeConfig(const QList<DockItem>& items, const LauncherTimingSettings& timing) {
    QJsonArray array;
    for (const DockItem& item : items)
        array.append(item.toJson());
    const QJsonObject root{{QStringLiteral("items"), array},
                           {QStringLiteral("launcherTiming"), timing.toJson()}};
    return prettySortedJson(root);
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
        const QList<HotkeyModifier> commandOption = {HotkeyModifier::command,
                                                     HotkeyModifier::option};
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
        const auto bytes = readRegularFile(path);
        const auto json = bytes ? parseJson(*bytes) : std::nullopt;
        if (json) {
            if (auto config = decodeConfig(*json)) {
                setItems(std::move(config->items));
                setLauncherTiming(config->launcherTiming.clamped());
                return;
            }
            if (auto items = decodeItems(*json)) {
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
    if (const auto seed = m_seedLookup ? m_seedLookup() : std::nullopt) {
        if (const auto json = parseJson(*seed))
            seeded = decodeItems(*json);
    }
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

void DockStore::save() {
    if (!QDir().mkpath(applicationFolderPath()))
        return;
    // Without a backup the unreadable file would be lost for good: keep the change in memory.
    if (m_configNeedsBackup && !backUpUnloadableConfig())
        return;
    QSaveFile file(configFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return;
    const QByteArray bytes = encodeConfig(m_items, m_launcherTiming);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
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
    deleteStoredIcons(item.id);
    QList<DockItem> items = m_items;
    items.removeIf([&](const DockItem& existing) { return existing.id == item.id; });
    setItems(std::move(items));
    save();
}

void DockStore::restoreSampleShortcuts() {
    // QDir::removeRecursively would follow a linked folder and empty the user's own files.
    removeEntry(iconsFolderPath());
    std::optional<QList<DockItem>> seeded;
    if (const auto seed = m_seedLookup ? m_seedLookup() : std::nullopt) {
        if (const auto json = parseJson(*seed))
            seeded = decodeItems(*json);
    }
    setItems(seeded ? *seeded : builtInSamples());
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

std::optional<QString> DockStore::importCustomIcon(const QUuid& id, DockIconSource source,
                                                   const std::optional<QString>& chosenPath) {
    const QString trimmedPath = chosenPath ? trimmedText(*chosenPath) : QString();
    if (source != DockIconSource::customImage || trimmedPath.isEmpty()) {
        deleteStoredIcons(id);
        return std::nullopt;
    }
    // A folder, FIFO or device is no image: it counts as missing and is never opened.
    if (!isRegularFile(trimmedPath))
        return std::nullopt;
    if (!QDir().mkpath(iconsFolderPath()))
        return trimmedPath;

    QString extension = pathExtension(trimmedPath).toLower();
    if (extension.isEmpty())
        extension = QStringLiteral("png");
    const QString destinationName = uuidString(id) + QLatin1Char('.') + extension;
    const QString destination = QDir(iconsFolderPath()).filePath(destinationName);

    // The chosen file itself may sit in the icons folder under this id; it is the one file that
    // must survive the clean-up, or the copy below would have nothing to read.
    deleteStoredIcons(id, destinationName, trimmedPath);
    if (sameFile(trimmedPath, destination))
        return destination;
    if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink()) {
        if (!removeEntry(destination))
            return trimmedPath;
    }
    if (!QFile::copy(trimmedPath, destination))
        return trimmedPath;
    return destination;
}

void DockStore::deleteStoredIcons(const QUuid& id, const QString& keptName,
                                  const QString& protectedPath) {
    const QDir folder(iconsFolderPath());
    if (!folder.exists())
        return;
    const QString prefix = uuidString(id);
    const QStringList names =
        folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (!name.startsWith(prefix) || name == keptName)
            continue;
        const QString path = folder.filePath(name);
        if (!protectedPath.isEmpty() && sameFile(path, protectedPath))
            continue;
        removeEntry(path);
    }
}

} // namespace brevlin
