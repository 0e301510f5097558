#include "BrevlinApp.h"

#include "hotkeys/HotkeyManager.h"
#include "launch/DockActionCoordinator.h"
#include "model/DockStore.h"
#include "ui/dock/DockRootView.h"
#include "ui/settings/AboutView.h"
#include "ui/settings/ItemEditorView.h"
#include "ui/settings/SettingsView.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QImageReader>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

// The icon lives in this static library; its resources register when the application is made.
static void initialiseAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace brevlin {

namespace {

constexpr QSize settingsDefaultSize(760, 500);
constexpr QSize aboutDefaultSize(420, 320);

} // namespace

BrevlinApp::BrevlinApp(HotkeyManager& hotkeyManager, LaunchPlatform platform, Options options,
                       QObject* parent)
    : QObject(parent)
    , m_hotkeyManager(hotkeyManager)
    , m_options(std::move(options)) {
    initialiseAppResources();
    if (m_options.version.isEmpty())
        m_options.version = QStringLiteral("1.0");
    if (m_options.build.isEmpty())
        m_options.build = QStringLiteral("1");

    m_store = std::make_unique<DockStore>(m_options.applicationSupportPath);
    m_coordinator = std::make_unique<DockActionCoordinator>(platform);

    // Registrations follow the shortcuts whether or not a dock is open, so a shortcut added in
    // the settings window works at once; the timing copy likewise.
    connect(m_store.get(), &DockStore::itemsChanged, this, &BrevlinApp::registerHotkeys);
    connect(m_store.get(), &DockStore::launcherTimingChanged, this, &BrevlinApp::copyTiming);
    connect(m_store.get(), &DockStore::figmaTargetChanged, this, &BrevlinApp::updateFigmaTargets);
    updateFigmaTargets();

    createActions();
}

BrevlinApp::~BrevlinApp() {
    // The windows watch the store and the coordinator, so they go first.
    delete m_dock.data();
    delete m_settingsWindow.data();
    delete m_aboutWindow.data();
    if (m_trayIcon)
        delete m_trayIcon->contextMenu();
}

void BrevlinApp::start() {
    bringForward(showDock());
    // Asking whether the desktop has a tray goes over D-Bus, and decoding the large icon takes
    // longer than putting up the dock, so both follow in the next turn of the event loop instead
    // of holding the dock back. So does asking a running Figma for its interface, which spares
    // the first launch the wait while Figma builds it.
    QTimer::singleShot(0, this, [this] {
        if (m_options.useSystemTray && !m_trayIcon && QSystemTrayIcon::isSystemTrayAvailable())
            createTrayIcon();
        applyApplicationIcon();
        m_coordinator->launcher().prepareRunningTarget();
    });
}

void BrevlinApp::applyApplicationIcon() {
    QImageReader reader(appIconResource);
    // No rendition is larger than 256 pixels; letting the decoder scale avoids holding the
    // 1024-pixel picture at all, which would otherwise stay in the heap as several megabytes.
    const QSize full = reader.size();
    if (full.width() > 256 || full.height() > 256)
        reader.setScaledSize(full.scaled(256, 256, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull())
        return;
    // Window managers, the tray and the About window want small renditions; keeping only those
    // (not the 1024-pixel original) keeps a few megabytes of pixels out of memory.
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(
            image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    QApplication::setWindowIcon(icon);
    if (m_trayIcon)
        m_trayIcon->setIcon(icon);
    emit applicationIconChanged();
}

DockWindow* BrevlinApp::showDock() {
    if (!m_dock) {
        m_dock = new DockWindow(*m_store, *m_coordinator, m_options.dockConfigurator);
        m_dock->setAttribute(Qt::WA_DeleteOnClose);
        m_dock->setShapedToPanel(!m_options.translucentWindows);
        m_dock->addActions({m_aboutAction, m_settingsAction, m_closeDockAction, m_quitAction});
        connect(m_dock, &DockWindow::shown, this, &BrevlinApp::dockWindowShown);
        connect(m_dock->rootView(), &DockRootView::openSettingsRequested, this,
                &BrevlinApp::openSettingsWindow);
    }
    if (m_dock->isMinimized())
        m_dock->showNormal();
    else
        m_dock->show();
    return m_dock;
}

void BrevlinApp::reopen() {
    // A window that is up only comes forward; otherwise the dock comes back (made anew when it
    // was closed).
    for (QWidget* window :
         {static_cast<QWidget*>(m_dock.data()), m_settingsWindow.data(), m_aboutWindow.data()}) {
        if (window && window->isVisible() && !window->isMinimized()) {
            bringForward(window);
            return;
        }
    }
    bringForward(showDock());
}

void BrevlinApp::dockWindowShown() {
    copyTiming();
    registerHotkeys();
    emit dockShown(m_dock);
}

void BrevlinApp::copyTiming() {
    m_coordinator->launcherTiming = m_store->launcherTiming().clamped();
}

void BrevlinApp::registerHotkeys() {
    m_hotkeyManager.registerHotkeys(m_store->items(),
                                    [this](const DockItem& item) { handleHotkeyPress(item); });
}

void BrevlinApp::updateFigmaTargets() {
    QStringList ids;
    if (const std::optional<QString>& chosen = m_store->figmaTarget())
        ids.append(*chosen);
    if (m_options.desktop.findFigmaTargets) {
        for (const FigmaTarget& target : m_options.desktop.findFigmaTargets())
            if (!ids.contains(target.applicationId))
                ids.append(target.applicationId);
    }
    if (ids.isEmpty())
        ids = figmaIdentity::desktopClientIds();
    m_coordinator->launcher().setTargets(ids);
}

void BrevlinApp::handleHotkeyPress(const DockItem& item) {
    m_coordinator->startLaunch(item, m_coordinator->launcherTiming);
}

void BrevlinApp::openSettingsWindow() {
    if (!m_settingsWindow) {
        auto* settings = new SettingsView(*m_store);
        settings->setDesktopServices(m_options.desktop);
        settings->setWindowFlag(Qt::Window);
        settings->setWindowTitle(tr("Brevlin Settings"));
        settings->resize(settings->sizeHint().expandedTo(settingsDefaultSize));
        addWindowShortcuts(settings);
        m_settingsWindow = settings;
    }
    // The window lists what is installed now; launches follow the same list.
    updateFigmaTargets();
    bringForward(m_settingsWindow);
}

void BrevlinApp::openAboutWindow() {
    if (!m_aboutWindow) {
        auto* about = new AboutView(m_options.version, m_options.build, QApplication::windowIcon());
        about->setWindowFlag(Qt::Window);
        about->setWindowTitle(tr("About Brevlin"));
        about->resize(about->sizeHint().expandedTo(aboutDefaultSize));
        addWindowShortcuts(about);
        m_aboutWindow = about;
    }
    bringForward(m_aboutWindow);
}

void BrevlinApp::bringForward(QWidget* window) {
    if (!window)
        return;
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    // The dock never takes the focus; the other windows do.
    if (!window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus))
        window->activateWindow();
}

void BrevlinApp::addWindowShortcuts(QWidget* window) {
    // The settings action carries Ctrl+, and an action's shortcut works in every window it is
    // added to.
    window->addAction(m_settingsAction);
}

void BrevlinApp::createActions() {
    m_aboutAction = new QAction(tr("About Brevlin"), this);
    connect(m_aboutAction, &QAction::triggered, this, &BrevlinApp::openAboutWindow);

    m_settingsAction = new QAction(tr("Brevlin Settings…"), this);
    m_settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_settingsAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_settingsAction, &QAction::triggered, this, &BrevlinApp::openSettingsWindow);

    // A frameless dock has no title bar with a close button; this is its close button.
    m_closeDockAction = new QAction(tr("Close Dock"), this);
    connect(m_closeDockAction, &QAction::triggered, this, [this] {
        if (m_dock)
            m_dock->close();
    });

    m_quitAction = new QAction(tr("Quit Brevlin"), this);
    m_quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quitAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_quitAction, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void BrevlinApp::createTrayIcon() {
    auto* menu = new QMenu;
    menu->addAction(m_aboutAction);
    menu->addAction(m_settingsAction);
    menu->addSeparator();
    menu->addAction(m_quitAction);
    m_trayIcon = new QSystemTrayIcon(QApplication::windowIcon(), this);
    m_trayIcon->setToolTip(QStringLiteral("Brevlin"));
    m_trayIcon->setContextMenu(menu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    reopen();
            });
    m_trayIcon->show();
}

} // namespace brevlin
