#include "UtilityIconButton.h"

#include "DockIconContent.h"
#include "ui/icons/SymbolIcon.h"

#include <QPainter>

namespace brevlin {

UtilityIconButton::UtilityIconButton(QString systemName, QColor tint, QWidget* parent)
    : DockTileButton(style, parent)
    , m_systemName(std::move(systemName))
    , m_tint(std::move(tint)) {
    setFocusPolicy(Qt::NoFocus);
    setIcon(symbolIcon(m_systemName, QFont::DemiBold, m_tint));
}

void UtilityIconButton::paintEvent(QPaintEvent* event) {
    DockTileButton::paintEvent(event);
    QPainter painter(this);
    const int side = qRound(DockIconContent::symbolBoxSide(symbolPointSize));
    const QRect iconRect((width() - side) / 2, (height() - side) / 2, side, side);
    icon().paint(&painter, iconRect, Qt::AlignCenter);
}

} // namespace brevlin
