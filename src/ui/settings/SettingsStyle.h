#pragma once

#include "ui/dock/DockIconContent.h"

#include <QFont>
#include <QLabel>
#include <QWidget>

namespace brevlin {

// Text styles of the settings and About windows, sized relative to the application's body font so
// they follow the desktop's font settings: headline (body, bold), subheadline, footnote, caption.
QFont headlineFont();
QFont subheadlineFont();
QFont footnoteFont();
QFont captionFont();
QFont monospacedFootnoteFont();
// A system font of `pixelSize` logical pixels at `weight`.
QFont systemFontOfSize(qreal pixelSize, QFont::Weight weight);

// Dimmed text that follows the palette (and with it light and dark themes).
void makeSecondary(QWidget* widget);

// A label that shows its text on one line, shortened in the middle when it does not fit.
class MiddleElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit MiddleElidedLabel(QWidget* parent = nullptr);

    const QString& text() const { return m_text; }
    void setText(const QString& text);
    // What is painted at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

// An icon on a rounded tile tinted with a faint wash of the palette's accent colour, as used by the
// shortcut rows and the editor's preview.
class AccentIconTile : public QWidget {
    Q_OBJECT
public:
    AccentIconTile(int side, qreal cornerRadius, qreal pointSize, qreal contentPadding,
                   QWidget* parent = nullptr);

    DockIconContent* content() const { return m_content; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_cornerRadius;
    DockIconContent* m_content;
};

} // namespace brevlin
