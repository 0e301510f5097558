#pragma once

#include "launch/LaunchState.h"
#include "model/DockItem.h"

#include <QAbstractButton>
#include <QEasingCurve>

#include <functional>

class QVariantAnimation;

namespace brevlin {

class DockIconContent;

// The look of a dock tile: its size, corner radius, and the white fill and edge opacities at
// rest and under the pointer.
struct DockTileStyle {
    int sideLength;
    qreal cornerRadius;
    qreal restingFill;
    qreal hoveredFill;
    qreal restingEdge;
    qreal hoveredEdge;
};

// Paints a dock tile: a continuous rounded rectangle filled with white at `fillOpacity` and
// edged with a one-point white line at `edgeOpacity`, the line lying inside `rect`.
void paintDockTile(QPainter& painter, const QRectF& rect, qreal cornerRadius, qreal fillOpacity,
                   qreal edgeOpacity);

// The ease-out curve of the hover change.
QEasingCurve dockHoverEasing();

// A square dock button without any bezel of its own: a faint tile that brightens while the
// pointer is over it, the change animated over 0.16 s with an ease-out. Subclasses put their
// content on top (a child widget or their own painting after the tile's).
class DockTileButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int hoverAnimationMilliseconds = 160;

    explicit DockTileButton(const DockTileStyle& style, QWidget* parent = nullptr);

    const DockTileStyle& tileStyle() const { return m_style; }
    bool isHovered() const { return m_isHovered; }
    // 0 at rest, 1 fully hovered; in between while the change animates.
    qreal hoverProgress() const { return m_hoverProgress; }
    qreal fillOpacity() const;
    qreal edgeOpacity() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setHovered(bool hovered);

    DockTileStyle m_style;
    bool m_isHovered = false;
    qreal m_hoverProgress = 0;
    QVariantAnimation* m_animation;
};

// The button of one shortcut in the dock: its icon on a 44-point tile, with a tooltip of three
// lines (name, plugin name, hotkey). A click runs the action once. To assistive technology it is
// a button named after the shortcut and described by its hotkey. While a launch of its shortcut
// runs, a bright segment travels round the tile's edge and the button reports itself busy; while
// one waits for its turn, the edge is dotted; the description says which.
class DockItemButton : public DockTileButton {
    Q_OBJECT
public:
    static constexpr DockTileStyle style{44, 14, 0.08, 0.18, 0.08, 0.16};
    static constexpr qreal symbolPointSize = 22;
    static constexpr qreal contentPadding = 6;

    DockItemButton(DockItem item, std::function<void()> action, QWidget* parent = nullptr);

    const DockItem& item() const { return m_item; }
    // A redraw with the same shortcut changed (a new name or icon) keeps the hover state.
    void setItem(const DockItem& item);

    DockIconContent* iconContent() const { return m_content; }

    LaunchState launchState() const { return m_launchState; }
    void setLaunchState(LaunchState state);

    // Name, plugin name and hotkey as stored, one per line.
    static QString toolTipText(const DockItem& item);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void updateAccessibleTexts();

    DockItem m_item;
    std::function<void()> m_action;
    DockIconContent* m_content;
    LaunchState m_launchState = LaunchState::idle;
    // Where the travelling segment of a running launch stands, along the tile's edge.
    qreal m_busyOffset = 0;
    QVariantAnimation* m_busyAnimation;
};

} // namespace brevlin
