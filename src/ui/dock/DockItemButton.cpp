#include "DockItemButton.h"

#include "DockIconContent.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>
#include <QVariantAnimation>

namespace brevlin {

namespace {

qreal mix(qreal from, qreal to, qreal progress) {
    return from + (to - from) * progress;
}

// The travelling segment of a running launch, in units of its pen's width: one dash and the gap
// after it, about the tile's perimeter together, so that one segment goes round.
constexpr qreal busyPenWidth = 2;
constexpr qreal busyDash = 18;
constexpr qreal busyGap = 56;
constexpr int busyRoundMilliseconds = 1100;

// A dock button as assistive technology sees it: Qt's own button interface has no way to report
// the busy state, so this one adds it, and keeps the press action.
class DockItemButtonAccessible final : public QAccessibleWidget {
public:
    explicit DockItemButtonAccessible(DockItemButton* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.busy = button()->launchState() == LaunchState::running;
        return state;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction())
            button()->click();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    DockItemButton* button() const { return static_cast<DockItemButton*>(widget()); }
};

QAccessibleInterface* dockItemButtonAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(DockItemButton::staticMetaObject.className()))
        return new DockItemButtonAccessible(static_cast<DockItemButton*>(object));
    return nullptr;
}

} // namespace

void paintDockTile(QPainter& painter, const QRectF& rect, qreal cornerRadius, qreal fillOpacity,
                   qreal edgeOpacity) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Half a point in, so the one-point edge lies inside the tile on whole pixels.
    const QPainterPath shape =
        continuousRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5);
    painter.fillPath(shape, QColor::fromRgbF(1, 1, 1, fillOpacity));
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, edgeOpacity), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
    painter.restore();
}

QEasingCurve dockHoverEasing() {
    // The usual ease-out timing curve, control points (0, 0) and (0.58, 1).
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

DockTileButton::DockTileButton(const DockTileStyle& style, QWidget* parent)
    : QAbstractButton(parent)
    , m_style(style)
    , m_animation(new QVariantAnimation(this)) {
    setFixedSize(m_style.sideLength, m_style.sideLength);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    m_animation->setDuration(hoverAnimationMilliseconds);
    m_animation->setEasingCurve(dockHoverEasing());
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_hoverProgress = value.toReal();
        update();
    });
}

qreal DockTileButton::fillOpacity() const {
    return mix(m_style.restingFill, m_style.hoveredFill, m_hoverProgress);
}

qreal DockTileButton::edgeOpacity() const {
    return mix(m_style.restingEdge, m_style.hoveredEdge, m_hoverProgress);
}

QSize DockTileButton::sizeHint() const {
    return {m_style.sideLength, m_style.sideLength};
}

void DockTileButton::setHovered(bool hovered) {
    if (hovered == m_isHovered) {
        return;
    }
    m_isHovered = hovered;
    // Turning round half-way starts from where the tile is now, so nothing jumps.
    m_animation->stop();
    m_animation->setStartValue(m_hoverProgress);
    m_animation->setEndValue(hovered ? 1.0 : 0.0);
    m_animation->start();
}

void DockTileButton::enterEvent(QEnterEvent* event) {
    setHovered(true);
    QAbstractButton::enterEvent(event);
}

void DockTileButton::leaveEvent(QEvent* event) {
    setHovered(false);
    QAbstractButton::leaveEvent(event);
}

void DockTileButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintDockTile(painter, rect(), m_style.cornerRadius, fillOpacity(), edgeOpacity());
}

DockItemButton::DockItemButton(DockItem item, std::function<void()> action, QWidget* parent)
    : DockTileButton(style, parent)
    , m_item(std::move(item))
    , m_action(std::move(action))
    , m_content(new DockIconContent(m_item.resolvedSymbolName(), m_item.customIconPath,
                                    symbolPointSize, QFont::DemiBold, Qt::white, contentPadding,
                                    this))
    , m_busyAnimation(new QVariantAnimation(this)) {
    static const bool accessibleFactoryInstalled = [] {
        QAccessible::installFactory(dockItemButtonAccessible);
        return true;
    }();
    Q_UNUSED(accessibleFactoryInstalled);
    m_busyAnimation->setStartValue(0.0);
    m_busyAnimation->setEndValue(-(busyDash + busyGap));
    m_busyAnimation->setDuration(busyRoundMilliseconds);
    m_busyAnimation->setLoopCount(-1);
    connect(m_busyAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_busyOffset = value.toReal();
        update();
    });
    m_content->setObjectName(QStringLiteral("iconContent"));
    // The tile takes the clicks and the hover; the icon only draws.
    m_content->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_content);
    setToolTip(toolTipText(m_item));
    updateAccessibleTexts();
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_action) {
            m_action();
        }
    });
}

void DockItemButton::setItem(const DockItem& item) {
    m_item = item;
    m_content->setSystemName(m_item.resolvedSymbolName());
    m_content->setCustomIconPath(m_item.customIconPath);
    setToolTip(toolTipText(m_item));
    updateAccessibleTexts();
}

void DockItemButton::setLaunchState(LaunchState state) {
    if (state == m_launchState)
        return;
    const bool wasBusy = m_launchState == LaunchState::running;
    m_launchState = state;
    if (state == LaunchState::running)
        m_busyAnimation->start();
    else
        m_busyAnimation->stop();
    updateAccessibleTexts();
    if (wasBusy != (state == LaunchState::running) && QAccessible::isActive()) {
        QAccessible::State changed;
        changed.busy = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
    update();
}

void DockItemButton::updateAccessibleTexts() {
    setAccessibleName(m_item.name);
    QString description = m_item.hotkey.displayString();
    if (m_launchState == LaunchState::running)
        description += QStringLiteral(", launching");
    else if (m_launchState == LaunchState::waiting)
        description += QStringLiteral(", waiting to launch");
    setAccessibleDescription(description);
}

void DockItemButton::paintEvent(QPaintEvent* event) {
    DockTileButton::paintEvent(event);
    if (m_launchState == LaunchState::idle)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool running = m_launchState == LaunchState::running;
    const qreal inset = running ? busyPenWidth / 2 : 0.5;
    QPen pen(QColor::fromRgbF(1, 1, 1, running ? 0.9f : 0.55f), running ? busyPenWidth : 1);
    pen.setCapStyle(Qt::RoundCap);
    if (running) {
        pen.setDashPattern({busyDash, busyGap});
        pen.setDashOffset(m_busyOffset);
    } else {
        pen.setDashPattern({2, 3});
    }
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(continuousRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset),
                                           tileStyle().cornerRadius - inset));
}

QString DockItemButton::toolTipText(const DockItem& item) {
    return item.name + QLatin1Char('\n') + item.pluginName + QLatin1Char('\n') +
           item.hotkey.displayString();
}

bool DockItemButton::event(QEvent* event) {
    // Qt shows a tooltip that looks like markup as rich text, where a name such as "<b>" would
    // vanish and the line breaks would collapse; shortcuts' texts are always shown as typed.
    if (event->type() == QEvent::ToolTip) {
        const QString text = toolTip();
        if (Qt::mightBeRichText(text)) {
            auto* help = static_cast<QHelpEvent*>(event);
            QToolTip::showText(help->globalPos(),
                               QStringLiteral("<p style='white-space:pre'>") +
                                   text.toHtmlEscaped() + QStringLiteral("</p>"),
                               this);
            return true;
        }
    }
    return DockTileButton::event(event);
}

} // namespace brevlin
