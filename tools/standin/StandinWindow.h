#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLineEdit;
class QTabBar;
class QTimer;

namespace brevlin::standin {

struct Options {
    QString recordPath;
    QStringList plugins;
    bool pluginsTab = true;
    int paletteDelayMilliseconds = 0;
    int nestDepth = 0;
    int padding = 0;
    bool refuseActivation = false;
    bool staticResults = false;
    // The palette opens with an empty search field instead of the last search.
    bool clearSearchOnOpen = false;
    bool ancestorLoop = false;
    bool churningChildren = false;
    int longNameCharacters = 0;
};

// The stand-in's one window. Key handling sits in an application-wide filter so Ctrl+K reaches the
// palette even while the search field, which binds Ctrl+K itself, has focus.
class StandinWindow : public QWidget {
    Q_OBJECT
public:
    explicit StandinWindow(const Options& options, QWidget* parent = nullptr);

    void togglePalette();
    bool isPaletteOpen() const;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Result {
        QString name;
        bool plugin = false;
        QWidget* widget = nullptr;
    };

    void openPaletteNow();
    void closePalette();
    void applyFilter();
    void moveHighlight(int step);
    void runResult(const QString& name, const QString& trigger);
    QList<int> visibleResults() const;
    void record(QJsonObject entry) const;

    Options m_options;
    QWidget* m_palette = nullptr;
    QTabBar* m_tabs = nullptr;
    QLineEdit* m_search = nullptr;
    QTimer* m_pendingOpen = nullptr;
    QList<Result> m_results;
    QStringList m_tabNames;
    int m_highlighted = -1; // index into m_results
    bool m_readyRecorded = false;
};

} // namespace brevlin::standin
