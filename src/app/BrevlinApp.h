#pragma once

#include "launch/FigmaLauncher.h"
#include "model/DockItem.h"
#include "ui/dock/DockWindow.h"
#include "ui/settings/SettingsView.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QAction;
class QSystemTrayIcon;
class QWidget;

namespace brevlin {

class DockActionCoordinator;
class DockStore;
class HotkeyManager;

// The application: owns the one store and the one coordinator for the whole run, keeps the
// coordinator's timing and the global hotkeys in step with the store, turns hotkey presses into
// launches, and opens its three windows (dock, settings, About) from the menus.
class BrevlinApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Where the "Brevlin" data folder lives (the platform's per-user data folder).
        QString applicationSupportPath;
        // Applies the window manager hints to each new dock window; none off X11.
        DockWindow::NativeConfigurator dockConfigurator;
        // Whether translucent windows blend with what lies below; without it the dock's rounded
        // corners are cut out with a shape mask.
        bool translucentWindows = true;
        // Offer the menu in the system tray too (when the desktop has one).
        bool useSystemTray = true;
        QString version;
        QString build;
        // What is installed of Figma, and starting at login; none in tests that need neither.
        DesktopServices desktop;
    };

    static inline const QString appIconResource =
        QStringLiteral(":/AppIcons/Brevlin-Dark-1024.png");

    // `hotkeyManager` is taken before anything else is made; then the store (migrating and
    // loading its file) and the coordinator over `platform`.
    BrevlinApp(HotkeyManager& hotkeyManager, LaunchPlatform platform, Options options,
               QObject* parent = nullptr);
    ~BrevlinApp() override;

    DockStore& store() const { return *m_store; }
    DockActionCoordinator& coordinator() const { return *m_coordinator; }
    HotkeyManager& hotkeyManager() const { return m_hotkeyManager; }

    // Start-up after construction: the dock, brought forward; then the tray icon (when the
    // desktop has a tray) and the application icon.
    void start();
    // The application icon from the resource; a missing or unreadable one keeps the default.
    void applyApplicationIcon();

    // Shows the dock, making a new one when there is none (the first, or after it was closed).
    DockWindow* showDock();
    // Another start of Brevlin (or a click on the tray icon): bring a window back and forward.
    void reopen();

    // Show the window, or bring the open one forward, and activate it.
    void openSettingsWindow();
    void openAboutWindow();

    DockWindow* dockWindow() const { return m_dock; }
    QWidget* settingsWindow() const { return m_settingsWindow; }
    QWidget* aboutWindow() const { return m_aboutWindow; }

    QAction* aboutAction() const { return m_aboutAction; }
    QAction* settingsAction() const { return m_settingsAction; }
    QAction* quitAction() const { return m_quitAction; }
    QAction* closeDockAction() const { return m_closeDockAction; }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon; }

    // Points the launcher at the Figma chosen in the settings, then at whatever else is installed
    // in the order it was found, and without either at the desktop clients' identifiers.
    void updateFigmaTargets();

    // The hotkey press: a launch with the coordinator's timing as it is at the press.
    void handleHotkeyPress(const DockItem& item);

signals:
    // The application icon was set from the resource.
    void applicationIconChanged();
    // A dock window went up (after its timing copy and hotkey registration).
    void dockShown(DockWindow* dock);

private:
    void dockWindowShown();
    void registerHotkeys();
    void copyTiming();
    void createActions();
    void createTrayIcon();
    void bringForward(QWidget* window);
    void addWindowShortcuts(QWidget* window);

    HotkeyManager& m_hotkeyManager;
    Options m_options;
    std::unique_ptr<DockStore> m_store;
    std::unique_ptr<DockActionCoordinator> m_coordinator;

    QPointer<DockWindow> m_dock;
    QPointer<QWidget> m_settingsWindow;
    QPointer<QWidget> m_aboutWindow;

    QAction* m_aboutAction = nullptr;
    QAction* m_settingsAction = nullptr;
    QAction* m_quitAction = nullptr;
    QAction* m_closeDockAction = nullptr;
    QSystemTrayIcon* m_trayIcon = nullptr;
};

} // namespace brevlin
