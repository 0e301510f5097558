#pragma once

#include "DockItemButton.h"

#include <QColor>
#include <QString>

namespace brevlin {

// The dock's small square icon button (permission prompt, add, error marker, settings): a symbol
// on the dock's faint tile, at 36 points with a 12-point corner radius.
class UtilityIconButton : public DockTileButton {
    Q_OBJECT
public:
    static constexpr DockTileStyle style{36, 12, 0.08, 0.16, 0.08, 0.14};
    static constexpr qreal symbolPointSize = 16;

    UtilityIconButton(QString systemName, QColor tint, QWidget* parent = nullptr);

    const QString& systemName() const { return m_systemName; }
    const QColor& tint() const { return m_tint; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_systemName;
    QColor m_tint;
};

} // namespace brevlin
