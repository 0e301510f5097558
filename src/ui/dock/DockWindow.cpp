#include "DockWindow.h"

#include "DockIconContent.h"
#include "DockRootView.h"

#include <QPainterPath>
#include <QRegion>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWindow>

namespace brevlin {

DockWindow::DockWindow(DockStore& store, DockActionCoordinator& coordinator,
                       NativeConfigurator nativeConfigurator, QWidget* parent)
    // A click on the dock must not take the focus from Figma: a launch only types while Figma
    // keeps it, so a second click during a launch would otherwise end the first one.
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus)
    , m_rootView(new DockRootView(store, coordinator, this))
    , m_nativeConfigurator(std::move(nativeConfigurator)) {
    setWindowTitle(QStringLiteral("Brevlin"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_rootView);

    setMinimumSize(minimumWidth, fixedHeight);
    setMaximumSize(maximumWidth, fixedHeight);
    resize(defaultWidth, fixedHeight);
}

bool DockWindow::event(QEvent* event) {
    if (event->type() == QEvent::WinIdChange)
        m_needsConfiguration = true;
    return QWidget::event(event);
}

void DockWindow::showEvent(QShowEvent* event) {
    // Qt sends this before the native window is mapped, so hints set here are in place when the
    // window manager first sees the window.
    if (m_needsConfiguration || winId() != m_configuredWindow)
        configureDockWindow();
    QWidget::showEvent(event);
    if (!event->spontaneous())
        emit shown();
}

void DockWindow::setShapedToPanel(bool shaped) {
    m_shapedToPanel = shaped;
    updateShapeMask();
}

void DockWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateShapeMask();
}

void DockWindow::updateShapeMask() {
    if (!m_shapedToPanel) {
        clearMask();
        return;
    }
    setMask(QRegion(continuousRoundedRect(QRectF(rect()), DockRootView::cornerRadius)
                        .toFillPolygon()
                        .toPolygon()));
}

void DockWindow::configureDockWindow() {
    m_needsConfiguration = false;
    m_configuredWindow = winId();
    ++m_configurationCount;

    // Width only: never taller or shorter than the panel, never narrower than its minimum.
    setMinimumSize(minimumWidth, fixedHeight);
    setMaximumSize(maximumWidth, fixedHeight);
    resize(qBound(minimumWidth, width(), maximumWidth), fixedHeight);

    if (QWindow* handle = windowHandle()) {
        handle->setMinimumSize(QSize(minimumWidth, fixedHeight));
        handle->setMaximumSize(QSize(maximumWidth, fixedHeight));
        if (m_nativeConfigurator)
            m_nativeConfigurator(handle);
    }
}

} // namespace brevlin
