#include "DockRootView.h"

#include "DockIconContent.h"
#include "DockItemButton.h"
#include "SaveFailureMarker.h"
#include "UtilityIconButton.h"
#include "launch/DockActionCoordinator.h"
#include "model/DockStore.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace brevlin {

namespace {

// QScrollArea's own size hint reads the font's metrics, which loads the whole font database
// (fontconfig's configuration and caches) although the dock shows no text at all. The row's hint
// is its content's; the base class's cap of 36 text lines is not needed, since the row only ever
// gets the width the fixed-size buttons beside it leave over.
class ShortcutRowArea final : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const int frame = 2 * frameWidth();
        return QSize(frame, frame) + (widget() ? widget()->sizeHint() : QSize());
    }
};

// Fixed colours: the dock keeps its look whatever the desktop's theme.
const QColor systemOrange = QColor::fromRgb(255, 149, 0);
const QColor systemRed = QColor::fromRgb(255, 59, 48);
const QColor gradientTop = QColor::fromRgbF(0.46f, 0.46f, 0.49f, 0.92f);
const QColor gradientBottom = QColor::fromRgbF(0.34f, 0.34f, 0.37f, 0.88f);
const QColor highlightEdge = QColor::fromRgbF(1, 1, 1, 0.22f);
const QColor shadowEdgeColour = QColor::fromRgbF(0, 0, 0, 0.18f);
const QColor dividerColour = QColor::fromRgbF(1, 1, 1, 0.1f);

// Width of the band along the left and right ends that resizes the window instead of moving it.
constexpr int resizeBand = 5;

// The shortcut tiles (44) are taller than the 36 points the vertical padding leaves inside the
// 52-point window, so the row grows into the padding by 4 points above and below; the small
// buttons and the divider are centred and so still sit 8 points from the edges.
constexpr int rowOverhang = 4;

// Separable blur over the premultiplied pixels with the Gaussian weights of a 0.6-pixel radius
// (the kernel reaches one pixel each way; farther weights are below one part in a thousand).
void blurSmallRadius(QImage& image, qreal radius) {
    const double sigma = radius;
    const double side = std::exp(-1.0 / (2 * sigma * sigma));
    const double centre = 1.0 / (1 + 2 * side);
    const double edge = side * centre;
    const int w = image.width();
    const int h = image.height();
    QImage source = image.copy();
    auto pass = [&](bool horizontal) {
        for (int y = 0; y < h; ++y) {
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x) {
                double channels[4] = {0, 0, 0, 0};
                for (int d = -1; d <= 1; ++d) {
                    const int sx = horizontal ? qBound(0, x + d, w - 1) : x;
                    const int sy = horizontal ? y : qBound(0, y + d, h - 1);
                    const QRgb p = reinterpret_cast<const QRgb*>(source.constScanLine(sy))[sx];
                    const double weight = d == 0 ? centre : edge;
                    channels[0] += weight * qRed(p);
                    channels[1] += weight * qGreen(p);
                    channels[2] += weight * qBlue(p);
                    channels[3] += weight * qAlpha(p);
                }
                out[x] = qRgba(qRound(channels[0]), qRound(channels[1]), qRound(channels[2]),
                               qRound(channels[3]));
            }
        }
        source = image.copy();
    };
    pass(true);
    pass(false);
}

} // namespace

DockRootView::DockRootView(DockStore& store, DockActionCoordinator& coordinator, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_coordinator(coordinator) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setMinimumWidth(minimumWidth);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, verticalPadding - rowOverhang, horizontalPadding,
                               verticalPadding - rowOverhang);
    layout->setSpacing(spacing);

    m_prompt = new UtilityIconButton(QStringLiteral("hand.raised.fill"), systemOrange, this);
    m_prompt->setToolTip(tr("Grant Accessibility access"));
    m_prompt->setAccessibleName(m_prompt->toolTip());
    connect(m_prompt, &QAbstractButton::clicked, this,
            [this] { m_coordinator.requestAccessibilityAccess(); });
    layout->addWidget(m_prompt, 0, Qt::AlignVCenter);

    m_scrollArea = new ShortcutRowArea(this);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_scrollArea->setMinimumWidth(0);
    m_scrollArea->setFixedHeight(DockItemButton::style.sideLength);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    m_scrollArea->setAutoFillBackground(false);
    m_scrollArea->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    m_scrollArea->viewport()->installEventFilter(this);
    m_rowContent = new QWidget;
    m_rowContent->setAttribute(Qt::WA_TranslucentBackground);
    m_rowLayout = new QHBoxLayout(m_rowContent);
    m_rowLayout->setContentsMargins(0, 0, 0, 0);
    m_rowLayout->setSpacing(spacing);
    m_rowLayout->addStretch(1);
    m_scrollArea->setWidget(m_rowContent);
    // The scroll area paints its content's background by default; the panel shows through.
    m_rowContent->setAutoFillBackground(false);
    layout->addWidget(m_scrollArea, 1);

    m_errorMarker =
        new UtilityIconButton(QStringLiteral("exclamationmark.triangle.fill"), systemRed, this);
    // Its description is the message, which its tooltip also shows.
    m_errorMarker->setAccessibleName(tr("Launch failed"));
    layout->addWidget(m_errorMarker, 0, Qt::AlignVCenter);
    m_saveFailureMarker = new SaveFailureMarker(m_store, systemRed, this);
    layout->addWidget(m_saveFailureMarker, 0, Qt::AlignVCenter);

    m_divider = new QWidget(this);
    m_divider->setFixedSize(dividerWidth, dividerHeight);
    m_divider->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_divider->setAutoFillBackground(true);
    {
        QPalette palette = m_divider->palette();
        palette.setColor(QPalette::Window, dividerColour);
        m_divider->setPalette(palette);
    }
    layout->addWidget(m_divider, 0, Qt::AlignVCenter);

    m_settingsButton = new UtilityIconButton(QStringLiteral("gearshape.fill"), Qt::white, this);
    m_settingsButton->setToolTip(tr("Open Settings"));
    m_settingsButton->setAccessibleName(m_settingsButton->toolTip());
    connect(m_settingsButton, &QAbstractButton::clicked, this,
            &DockRootView::openSettingsRequested);
    layout->addWidget(m_settingsButton, 0, Qt::AlignVCenter);

    connect(&m_store, &DockStore::itemsChanged, this, &DockRootView::rebuildItems);
    connect(&m_coordinator, &DockActionCoordinator::isAccessibilityTrustedChanged, this,
            &DockRootView::updateAccessibilityPrompt);
    connect(&m_coordinator, &DockActionCoordinator::errorMessageChanged, this,
            &DockRootView::updateErrorMarker);
    connect(&m_coordinator, &DockActionCoordinator::launchStatesChanged, this,
            &DockRootView::updateLaunchStates);

    rebuildItems();
    updateAccessibilityPrompt();
    updateErrorMarker();
}

QSize DockRootView::sizeHint() const {
    return {560, idealHeight};
}

QSize DockRootView::minimumSizeHint() const {
    return {minimumWidth, idealHeight};
}

QList<DockItemButton*> DockRootView::itemButtons() const {
    QList<DockItemButton*> buttons;
    for (int i = 0; i < m_rowLayout->count(); ++i) {
        if (auto* button = qobject_cast<DockItemButton*>(m_rowLayout->itemAt(i)->widget()))
            buttons.append(button);
    }
    return buttons;
}

void DockRootView::launchItem(const DockItem& item) {
    // The timing is read now, at the click; later edits do not reach this launch.
    m_coordinator.startLaunch(item, m_coordinator.launcherTiming);
}

void DockRootView::rebuildItems() {
    const QList<DockItem>& items = m_store.items();

    // Take every widget out of the row (keeping the trailing stretch), then put back the ones
    // that still stand for an item, in stored order. A button that keeps its item keeps its
    // hover state.
    while (m_rowLayout->count() > 1)
        delete m_rowLayout->takeAt(0);

    QList<DockItemButton*> previous = std::move(m_itemButtons);
    m_itemButtons.clear();
    int position = 0;
    for (const DockItem& item : items) {
        const auto same = std::find_if(previous.begin(), previous.end(),
                                       [&](DockItemButton* b) { return b->item().id == item.id; });
        DockItemButton* button = nullptr;
        if (same != previous.end()) {
            button = *same;
            previous.erase(same);
            button->setItem(item);
        } else {
            button = new DockItemButton(item, {}, m_rowContent);
            // The click launches what this button shows at that moment.
            connect(button, &QAbstractButton::clicked, this,
                    [this, button] { launchItem(button->item()); });
        }
        m_itemButtons.append(button);
        m_rowLayout->insertWidget(position++, button, 0, Qt::AlignVCenter);
        button->show();
    }
    qDeleteAll(previous);
    updateLaunchStates();

    if (items.isEmpty()) {
        if (!m_addButton) {
            m_addButton = new UtilityIconButton(QStringLiteral("plus"), Qt::white, m_rowContent);
            m_addButton->setToolTip(tr("Add shortcuts in Settings"));
            m_addButton->setAccessibleName(m_addButton->toolTip());
            connect(m_addButton, &QAbstractButton::clicked, this,
                    &DockRootView::openSettingsRequested);
        }
        m_rowLayout->insertWidget(0, m_addButton, 0, Qt::AlignVCenter);
        m_addButton->show();
    } else if (m_addButton) {
        delete m_addButton;
        m_addButton = nullptr;
    }
}

void DockRootView::updateAccessibilityPrompt() {
    m_prompt->setVisible(!m_coordinator.isAccessibilityTrusted());
}

void DockRootView::updateLaunchStates() {
    for (DockItemButton* button : std::as_const(m_itemButtons))
        button->setLaunchState(m_coordinator.launchState(button->item().id));
}

void DockRootView::updateErrorMarker() {
    const std::optional<QString>& message = m_coordinator.errorMessage();
    // An empty message still shows the marker, with an empty tooltip.
    m_errorMarker->setToolTip(message.value_or(QString()));
    m_errorMarker->setAccessibleDescription(message.value_or(QString()));
    m_errorMarker->setVisible(message.has_value());
}

QPainterPath DockRootView::panelShape() const {
    return continuousRoundedRect(QRectF(rect()), cornerRadius);
}

QImage DockRootView::shadowEdge(const QSize& size, qreal devicePixelRatio) const {
    const QSize pixels = (QSizeF(size) * devicePixelRatio).toSize();
    if (m_shadowCache.size() == pixels && m_shadowCache.devicePixelRatio() == devicePixelRatio)
        return m_shadowCache;

    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    const QRectF bounds(QPointF(0, 0), QSizeF(size));
    {
        // The line is centred on the outline, so the half outside is clipped away: at the
        // bottom, moved half a point down, little more than its blur reaches inside.
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(shadowEdgeColour, 1));
        painter.setBrush(Qt::NoBrush);
        painter.translate(0, 0.5);
        painter.drawPath(continuousRoundedRect(bounds, cornerRadius));
    }
    blurSmallRadius(image, 0.6 * devicePixelRatio);
    {
        // Dark along the lower part, fading out towards the top; nothing outside the panel.
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        QLinearGradient fade(0, 0, 0, size.height());
        fade.setColorAt(0, QColor(0, 0, 0, 0));
        fade.setColorAt(1, QColor(0, 0, 0, 255));
        painter.fillRect(bounds, fade);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        QPainterPath outside;
        outside.addRect(bounds);
        painter.fillPath(outside.subtracted(continuousRoundedRect(bounds, cornerRadius)),
                         Qt::black);
    }
    m_shadowCache = image;
    return image;
}

void DockRootView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = panelShape();
    painter.setClipPath(shape);

    QLinearGradient fill(0, 0, 0, height());
    fill.setColorAt(0, gradientTop);
    fill.setColorAt(1, gradientBottom);
    painter.fillPath(shape, fill);

    // The edge lines are centred on the outline; the clip keeps their inner half.
    painter.setPen(QPen(highlightEdge, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);

    painter.drawImage(QPointF(0, 0), shadowEdge(size(), devicePixelRatioF()));
}

void DockRootView::resizeEvent(QResizeEvent* event) {
    m_shadowCache = QImage();
    QWidget::resizeEvent(event);
}

bool DockRootView::eventFilter(QObject* watched, QEvent* event) {
    // A plain mouse wheel turns the row sideways: the row has nothing to scroll vertically.
    if (watched == m_scrollArea->viewport() && event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint delta =
            wheel->pixelDelta().isNull() ? wheel->angleDelta() / 4 : wheel->pixelDelta();
        const int step = qAbs(delta.x()) > qAbs(delta.y()) ? delta.x() : delta.y();
        QScrollBar* bar = m_scrollArea->horizontalScrollBar();
        bar->setValue(bar->value() - step);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void DockRootView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    QWindow* handle = window()->windowHandle();
    const int x = qRound(event->position().x());
    const bool onLeftEnd = x < resizeBand;
    const bool onRightEnd = x >= width() - resizeBand;
    if (handle && (onLeftEnd || onRightEnd)) {
        if (handle->startSystemResize(onLeftEnd ? Qt::LeftEdge : Qt::RightEdge)) {
            event->accept();
            return;
        }
    }
    // Dragging the background moves the window; the window manager does it when it can.
    if (handle && handle->startSystemMove()) {
        event->accept();
        return;
    }
    m_dragOffset = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
    event->accept();
}

void DockRootView::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragOffset && (event->buttons() & Qt::LeftButton)) {
        window()->move(event->globalPosition().toPoint() - *m_dragOffset);
        event->accept();
        return;
    }
    const int x = qRound(event->position().x());
    if (x < resizeBand || x >= width() - resizeBand)
        setCursor(Qt::SizeHorCursor);
    else
        unsetCursor();
    QWidget::mouseMoveEvent(event);
}

void DockRootView::mouseReleaseEvent(QMouseEvent* event) {
    m_dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

} // namespace brevlin
