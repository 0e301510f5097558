#pragma once

#include "model/DockItem.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QUuid>
#include <QWidget>

class QHBoxLayout;
class QScrollArea;
class QWidget;

namespace brevlin {

class DockActionCoordinator;
class DockItemButton;
class DockStore;
class SaveFailureMarker;
class UtilityIconButton;

// The whole content of the dock window: one rounded translucent panel holding the permission
// prompt, the scrolling row of shortcut buttons (or the add button), the error marker, a divider
// and the settings button. It redraws from the store and the coordinator and keeps no state of
// its own beyond the buttons' hover flags.
class DockRootView : public QWidget {
    Q_OBJECT
public:
    static constexpr int horizontalPadding = 12;
    static constexpr int verticalPadding = 8;
    static constexpr int spacing = 10;
    static constexpr qreal cornerRadius = 18;
    static constexpr int minimumWidth = 260;
    static constexpr int idealHeight = 52;
    static constexpr int dividerWidth = 1;
    static constexpr int dividerHeight = 28;

    DockRootView(DockStore& store, DockActionCoordinator& coordinator, QWidget* parent = nullptr);

    // The click on a shortcut button: a launch with the timing in force now, started at once.
    void launchItem(const DockItem& item);

    // Present only while the process may not control Figma, or while a launch failure is shown.
    UtilityIconButton* accessibilityPrompt() const { return m_prompt; }
    UtilityIconButton* errorMarker() const { return m_errorMarker; }
    // Present only while the shortcuts cannot be saved.
    SaveFailureMarker* saveFailureMarker() const { return m_saveFailureMarker; }
    UtilityIconButton* settingsButton() const { return m_settingsButton; }
    // The add button stands in the row while there are no shortcuts.
    UtilityIconButton* addButton() const { return m_addButton; }
    QList<DockItemButton*> itemButtons() const;
    QScrollArea* shortcutRow() const { return m_scrollArea; }
    QWidget* divider() const { return m_divider; }

    // The rounded outline everything is drawn and clipped to.
    QPainterPath panelShape() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The plus and the gear ask the application for its settings window.
    void openSettingsRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildItems();
    void updateAccessibilityPrompt();
    void updateErrorMarker();
    void updateLaunchStates();
    QImage shadowEdge(const QSize& size, qreal devicePixelRatio) const;

    DockStore& m_store;
    DockActionCoordinator& m_coordinator;
    UtilityIconButton* m_prompt;
    QScrollArea* m_scrollArea;
    QWidget* m_rowContent;
    QHBoxLayout* m_rowLayout;
    UtilityIconButton* m_addButton = nullptr;
    // In row order; shortcuts that share an id (a hand-edited file) each have their own.
    QList<DockItemButton*> m_itemButtons;
    UtilityIconButton* m_errorMarker;
    SaveFailureMarker* m_saveFailureMarker;
    QWidget* m_divider;
    UtilityIconButton* m_settingsButton;

    mutable QImage m_shadowCache;
    // Set while the background is dragged by hand (when the window manager cannot move it).
    std::optional<QPoint> m_dragOffset;
};

} // namespace brevlin
