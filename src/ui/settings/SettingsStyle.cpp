#include "SettingsStyle.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPainter>

namespace brevlin {

namespace {

// Text styles are expressed against a 13-point body, the size the layout's numbers assume.
constexpr qreal bodyReference = 13;
// Desktops with small body fonts would make the smallest styles unreadable.
constexpr qreal smallestPointSize = 8;
constexpr int smallestPixelSize = 11;

QFont scaledBodyFont(qreal referenceSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(
            qMax(smallestPointSize, font.pointSizeF() * referenceSize / bodyReference));
    } else {
        font.setPixelSize(
            qMax(smallestPixelSize, qRound(font.pixelSize() * referenceSize / bodyReference)));
    }
    font.setWeight(weight);
    return font;
}

} // namespace

QFont headlineFont() {
    return scaledBodyFont(13, QFont::Bold);
}
QFont subheadlineFont() {
    return scaledBodyFont(11, QFont::Normal);
}
QFont footnoteFont() {
    return scaledBodyFont(10, QFont::Normal);
}
QFont captionFont() {
    return scaledBodyFont(10, QFont::Normal);
}

QFont monospacedFootnoteFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFont footnote = footnoteFont();
    if (footnote.pointSizeF() > 0) {
        font.setPointSizeF(footnote.pointSizeF());
    } else {
        font.setPixelSize(footnote.pixelSize());
    }
    return font;
}

QFont systemFontOfSize(qreal pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(qRound(pixelSize));
    font.setWeight(weight);
    return font;
}

void makeSecondary(QWidget* widget) {
    widget->setForegroundRole(QPalette::PlaceholderText);
}

MiddleElidedLabel::MiddleElidedLabel(QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void MiddleElidedLabel::setText(const QString& text) {
    m_text = text;
    setToolTip(text);
    updateGeometry();
    update();
}

QString MiddleElidedLabel::displayedText() const {
    return fontMetrics().elidedText(m_text, Qt::ElideMiddle, width());
}

QSize MiddleElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(m_text), fontMetrics().height()};
}

QSize MiddleElidedLabel::minimumSizeHint() const {
    return {0, fontMetrics().height()};
}

void MiddleElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}

AccentIconTile::AccentIconTile(int side, qreal cornerRadius, qreal pointSize, qreal contentPadding,
                               QWidget* parent)
    : QWidget(parent)
    , m_cornerRadius(cornerRadius)
    , m_content(new DockIconContent(QString(), std::nullopt, pointSize, QFont::Medium, QColor(),
                                    contentPadding, this)) {
    setFixedSize(side, side);
    m_content->setObjectName(QStringLiteral("iconContent"));
    m_content->setTintRole(QPalette::WindowText);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_content);
}

void AccentIconTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor wash = palette().color(QPalette::Highlight);
    wash.setAlphaF(0.12f);
    painter.fillPath(continuousRoundedRect(rect(), m_cornerRadius), wash);
}

} // namespace brevlin
