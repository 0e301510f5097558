#pragma once

#include <QWidget>

class QLabel;

namespace brevlin {

class DockStore;

// The settings window's line for a save that failed: the same words as the dock's marker, shown
// under the toolbar until a save succeeds.
class SaveFailureBanner : public QWidget {
    Q_OBJECT
public:
    explicit SaveFailureBanner(const DockStore& store, QWidget* parent = nullptr);

    QString text() const;

private:
    void update();

    const DockStore& m_store;
    QLabel* m_symbol;
    QLabel* m_text;
};

} // namespace brevlin
