#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QPalette>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <optional>

namespace brevlin {

// A rounded rectangle whose corners ease into the straight edges instead of meeting them as
// quarter circles, the shape of every tile in the dock and the settings windows.
QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius);

// The largest rectangle of `imageSize`'s proportions that fits inside `bounds` less `padding` on
// every side, centred there. Empty when nothing is left to draw into.
QRectF aspectFitRect(const QSizeF& imageSize, const QRectF& bounds, qreal padding);

// Draws a shortcut's icon: the user's custom image when one is set and can be read, otherwise the
// named symbol. The content is centred in whatever size the widget is given, so the caller's
// frame sets its size. The image file is read again on every paint (there is no cache), so a
// replaced file shows its new content at the next redraw and a deleted one falls back to the
// symbol.
class DockIconContent : public QWidget {
    Q_OBJECT
public:
    DockIconContent(QString systemName, std::optional<QString> customIconPath, qreal pointSize,
                    QFont::Weight weight, QColor tint, qreal contentPadding,
                    QWidget* parent = nullptr);

    const QString& systemName() const { return m_systemName; }
    const std::optional<QString>& customIconPath() const { return m_customIconPath; }
    qreal pointSize() const { return m_pointSize; }
    QFont::Weight weight() const { return m_weight; }
    // The colour the symbol is drawn in: the palette's colour of the tint role when one is set.
    QColor tint() const;
    qreal contentPadding() const { return m_contentPadding; }

    // The owner shows another shortcut (or another edit of the same one) in the same place.
    void setSystemName(const QString& systemName);
    void setCustomIconPath(const std::optional<QString>& path);
    void setTint(const QColor& tint);
    // Follows a palette role instead of a fixed colour, so the symbol changes with the theme.
    void setTintRole(QPalette::ColorRole role);

    // The trimmed symbol name, or "square.grid.2x2" when it is blank.
    QString effectiveSymbolName() const;
    // The custom image at the trimmed path, when there is one that decodes.
    std::optional<QImage> loadCustomImage() const;

    // Side of the square a symbol set at `pointSize` is drawn into: symbols overhang their
    // nominal size a little, as glyphs of that size do.
    static qreal symbolBoxSide(qreal pointSize) { return pointSize * 1.125; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_systemName;
    std::optional<QString> m_customIconPath;
    qreal m_pointSize;
    QFont::Weight m_weight;
    QColor m_tint;
    std::optional<QPalette::ColorRole> m_tintRole;
    qreal m_contentPadding;
};

} // namespace brevlin
