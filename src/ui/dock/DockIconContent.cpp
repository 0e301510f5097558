#include "DockIconContent.h"

#include "model/DockItem.h"
#include "ui/icons/SymbolIcon.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <algorithm>

namespace brevlin {

QPainterPath continuousRoundedRect(const QRectF& rect, qreal radius) {
    QPainterPath path;
    if (rect.isEmpty()) {
        return path;
    }
    // Each corner is one cubic that leaves the straight edge about one and a half radii before
    // the corner with almost no curvature, instead of a quarter circle that starts abruptly at one
    // radius. Its middle passes slightly closer to the corner than the circle would.
    qreal reach = radius * 1.528;
    qreal pull = radius * 0.21;
    const qreal limit = std::min(rect.width(), rect.height()) / 2;
    if (reach > limit) {
        const qreal scale = limit / reach;
        reach *= scale;
        pull *= scale;
    }
    const qreal l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    path.moveTo(l + reach, t);
    path.lineTo(r - reach, t);
    path.cubicTo(r - pull, t, r, t + pull, r, t + reach);
    path.lineTo(r, b - reach);
    path.cubicTo(r, b - pull, r - pull, b, r - reach, b);
    path.lineTo(l + reach, b);
    path.cubicTo(l + pull, b, l, b - pull, l, b - reach);
    path.lineTo(l, t + reach);
    path.cubicTo(l, t + pull, l + pull, t, l + reach, t);
    path.closeSubpath();
    return path;
}

QRectF aspectFitRect(const QSizeF& imageSize, const QRectF& bounds, qreal padding) {
    const QRectF space = bounds.adjusted(padding, padding, -padding, -padding);
    if (space.width() <= 0 || space.height() <= 0 || imageSize.isEmpty()) {
        return {};
    }
    const QSizeF fitted = imageSize.scaled(space.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), fitted);
    target.moveCenter(space.center());
    return target;
}

DockIconContent::DockIconContent(QString systemName, std::optional<QString> customIconPath,
                                 qreal pointSize, QFont::Weight weight, QColor tint,
                                 qreal contentPadding, QWidget* parent)
    : QWidget(parent)
    , m_systemName(std::move(systemName))
    , m_customIconPath(std::move(customIconPath))
    , m_pointSize(pointSize)
    , m_weight(weight)
    , m_tint(std::move(tint))
    , m_contentPadding(contentPadding) {
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QColor DockIconContent::tint() const {
    return m_tintRole ? palette().color(*m_tintRole) : m_tint;
}

void DockIconContent::setSystemName(const QString& systemName) {
    m_systemName = systemName;
    update();
}

void DockIconContent::setCustomIconPath(const std::optional<QString>& path) {
    m_customIconPath = path;
    update();
}

void DockIconContent::setTint(const QColor& tint) {
    m_tint = tint;
    m_tintRole.reset();
    update();
}

void DockIconContent::setTintRole(QPalette::ColorRole role) {
    m_tintRole = role;
    update();
}

QString DockIconContent::effectiveSymbolName() const {
    const QString trimmed = trimmedText(m_systemName);
    return trimmed.isEmpty() ? defaultSymbolName : trimmed;
}

std::optional<QImage> DockIconContent::loadCustomImage() const {
    if (!m_customIconPath) {
        return std::nullopt;
    }
    const QString path = trimmedText(*m_customIconPath);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    // Only regular files: opening a named pipe or a device would block the interface or read
    // something that never ends.
    if (!QFileInfo(path).isFile()) {
        return std::nullopt;
    }
    QImageReader reader(path);
    // Chosen images are often photographs taken on a phone; show them the way up they were taken.
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) {
        return std::nullopt;
    }
    return image;
}

void DockIconContent::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds = rect();

    if (const std::optional<QImage> image = loadCustomImage()) {
        const QRectF target = aspectFitRect(image->size(), bounds, m_contentPadding);
        if (!target.isEmpty()) {
            // Scaling down in one step with the smooth filter keeps fine detail of large images.
            const qreal ratio = devicePixelRatioF();
            const QSize pixels = (target.size() * ratio).toSize().expandedTo(QSize(1, 1));
            const QImage scaled =
                image->size() == pixels
                    ? *image
                    : image->scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            painter.drawImage(target, scaled);
        }
        return;
    }

    const QIcon icon = symbolIcon(effectiveSymbolName(), m_weight, tint());
    if (icon.isNull()) {
        return;
    }
    const qreal side = symbolBoxSide(m_pointSize);
    QRectF box(0, 0, side, side);
    box.moveCenter(bounds.center());
    icon.paint(&painter, box.toAlignedRect(), Qt::AlignCenter);
}

} // namespace brevlin
