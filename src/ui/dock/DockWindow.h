#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QWindow;

namespace brevlin {

class DockActionCoordinator;
class DockRootView;
class DockStore;

// The floating dock: a frameless, translucent top-level window that holds the dock panel, stays
// above other windows on every workspace, stays out of the task bar, is 52 high and 260 to 10000
// wide, and moves when its background is dragged.
class DockWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int fixedHeight = 52;
    static constexpr int minimumWidth = 260;
    static constexpr int maximumWidth = 10000;
    static constexpr int defaultWidth = 560;

    // Applies what Qt cannot say about the native window (workspace and task-bar hints); run once
    // for every native window, before it is first mapped.
    using NativeConfigurator = std::function<void(QWindow*)>;

    DockWindow(DockStore& store, DockActionCoordinator& coordinator,
               NativeConfigurator nativeConfigurator = {}, QWidget* parent = nullptr);

    DockRootView* rootView() const { return m_rootView; }

    // Without a compositing manager translucent pixels show black; a shape mask then cuts the
    // window to the panel's rounded outline.
    void setShapedToPanel(bool shaped);

    // How many native windows this dock has configured so far.
    int configurationCount() const { return m_configurationCount; }

signals:
    // The dock was put on screen (the first time, or again after it had been hidden).
    void shown();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void configureDockWindow();
    void updateShapeMask();

    DockRootView* m_rootView;
    NativeConfigurator m_nativeConfigurator;
    // The native window configured last; a new one (after the old one was destroyed) is
    // configured again.
    WId m_configuredWindow = 0;
    bool m_needsConfiguration = true;
    int m_configurationCount = 0;
    bool m_shapedToPanel = false;
};

} // namespace brevlin
