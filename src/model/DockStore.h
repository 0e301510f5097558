#pragma once

#include "DockItem.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace brevlin {

// The one owner of the user's shortcuts and launch timing. Every change is announced at once
// (each assignment notifies) and then written to config.json.
class DockStore : public QObject {
    Q_OBJECT
public:
    // Returns the bytes of the seed resource, or nothing when there is none.
    using SeedLookup = std::function<std::optional<QByteArray>()>;

    static inline const QString appSupportFolderName = QStringLiteral("Brevlin");
    static inline const QString legacyAppSupportFolderName = QStringLiteral("Tessark");

    // `applicationSupportPath` is the platform's per-user data folder (the application passes
    // QStandardPaths::GenericDataLocation); migration and loading run here.
    explicit DockStore(QString applicationSupportPath, SeedLookup seedLookup = defaultSeedLookup(),
                       QObject* parent = nullptr);

    const QList<DockItem>& items() const { return m_items; }
    const LauncherTimingSettings& launcherTiming() const { return m_launcherTiming; }
    // The Figma the user chose, by application identifier; absent for the first one found.
    const std::optional<QString>& figmaTarget() const { return m_figmaTarget; }
    void setFigmaTarget(std::optional<QString> applicationId);

    void upsert(const DockItem& item);
    void saveDraft(const DockItemDraft& copy);
    void deleteItem(const DockItem& item);
    void restoreSampleShortcuts();
    void resetLauncherTiming();
    void setTimingValue(TimingField field, qint64 value);
    void setAdaptiveWaits(bool on);
    // Writes config.json. A failed write leaves the last saved file as it was; the change stays in
    // memory, the failure is kept in saveFailure(), and the next change tries again.
    bool save();

    // Why the last save failed, in a few words ("No space left on device"), or nothing once a
    // save has succeeded.
    const std::optional<QString>& saveFailure() const { return m_saveFailure; }
    // The line the dock and the settings window show while saveFailure() holds.
    std::optional<QString> saveFailureMessage() const;

    QString applicationFolderPath() const;
    QString legacyFolderPath() const;
    QString configFilePath() const;
    QString iconsFolderPath() const;

    static const QList<DockItem>& builtInSamples();
    // Looks up the "SeedConfig" "json" resource among the application's own Qt resources.
    static SeedLookup defaultSeedLookup();

signals:
    void itemsChanged();
    void launcherTimingChanged();
    void figmaTargetChanged();
    void saveFailureChanged();

private:
    void setItems(QList<DockItem> items);
    void setLauncherTiming(LauncherTimingSettings timing);

    void migrateLegacyFolder();
    void removeLeftoverTemporaries();
    void load();
    std::optional<QString> writeConfig();
    void setSaveFailure(std::optional<QString> failure);
    // Removes images this store named that no shortcut names: all of them when `everyIdStale`,
    // else those of shortcuts that are gone or whose image changed. Run only after a save, so the
    // file on disk never names an image that is gone.
    void removeUnnamedIcons(bool everyIdStale);
    // Copies a config.json that failed to load beside itself, once, before it is replaced.
    bool backUpUnloadableConfig();
    std::optional<QString> importCustomIcon(const QUuid& id, DockIconSource source,
                                            const std::optional<QString>& chosenPath);

    QString m_applicationSupportPath;
    SeedLookup m_seedLookup;
    QList<DockItem> m_items;
    LauncherTimingSettings m_launcherTiming;
    std::optional<QString> m_figmaTarget;
    bool m_configNeedsBackup = false;
    std::optional<QString> m_saveFailure;
    // Shortcuts whose image changed: their other stored images go after the next save.
    QSet<QUuid> m_staleIconIds;
};

} // namespace brevlin
