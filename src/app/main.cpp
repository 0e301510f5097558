#include "AppEnvironment.h"
#include "BrevlinApp.h"
#include "CommandLine.h"
#include "SingleInstance.h"
#ifdef BREVLIN_TEST_CONTROL
#include "TestControl.h"
#endif
#include "hotkeys/HotkeyManager.h"
#include "launch/DockActionCoordinator.h"
#include "launch/QtScheduler.h"
#include "model/DockStore.h"
#include "platform/linux/AutostartEntry.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/linux/DockWindowX11.h"
#include "platform/linux/KWinWorkspace.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/WaylandPortals.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSessionManager>
#include <QStandardPaths>

#include <cstdio>

using namespace brevlin;

namespace {

// Tells the user, the first time Brevlin starts in a Wayland session, what it cannot reach there.
void showWaylandNoticeOnce(const QString& dataFolder) {
    const QString marker = QDir(dataFolder).filePath(QStringLiteral(".wayland-notice-shown"));
    if (QFile::exists(marker))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(waylandNotice()));
    QDir().mkpath(dataFolder);
    QFile file(marker);
    if (file.open(QIODevice::WriteOnly))
        file.close();
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Brevlin"),
                                waylandNotice(), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

// Asks for the remote-control session; the first time the desktop will ask the user, Brevlin
// says why before it does.
void startRemoteControl(PortalKeyboard& keyboard, const QString& dataFolder) {
    const QString marker = QDir(dataFolder).filePath(QStringLiteral(".remote-control-explained"));
    const QString explanation = remoteControlExplanation(
        portalVersion(QStringLiteral("org.freedesktop.portal.RemoteDesktop")),
        QFile::exists(marker));
    if (explanation.isEmpty()) {
        keyboard.start();
        return;
    }
    QDir().mkpath(dataFolder);
    QFile file(marker);
    if (file.open(QIODevice::WriteOnly))
        file.close();
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Brevlin"), explanation,
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, &keyboard, [&keyboard] { keyboard.start(); });
    box->show();
}

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> exitCode =
            answerCommandLine(argc, argv, QStringLiteral(BREVLIN_VERSION)))
        return *exitCode;
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const DisplaySituation situation = displaySituation(environment);
    const bool waylandDisplay = situation.isWaylandSession &&
                                !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    if (!situation.hasX11Display && !waylandDisplay) {
        std::fprintf(stderr, "%s\n", qPrintable(noDisplayMessage()));
        return 1;
    }
    // On Wayland Brevlin runs natively and uses the desktop's portals; QT_QPA_PLATFORM=xcb keeps
    // it on XWayland with the X11 backends.
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        qputenv("QT_QPA_PLATFORM", waylandDisplay ? "wayland;xcb" : "xcb");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brevlin"));
    QApplication::setApplicationVersion(QStringLiteral(BREVLIN_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("brevlin"));
    // Closing the dock leaves Brevlin running; quitting is a menu command.
    QApplication::setQuitOnLastWindowClosed(false);
    // The session manager does not bring Brevlin back at the next login.
    QObject::connect(&app, &QGuiApplication::saveStateRequest, &app, [](QSessionManager& manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
    });

    SingleInstance instance(instanceServerName(environment));
    if (instance.handOverToRunningInstance())
        return 0;
    instance.listen();
    quitOnTerminationSignals();

    QtScheduler scheduler;
    const bool nativeWayland = QGuiApplication::platformName() == QStringLiteral("wayland");
    const QString dataFolder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
            .filePath(QStringLiteral("Brevlin"));
    std::unique_ptr<LinuxPlatform> platform =
        nativeWayland ? LinuxPlatform::createWayland(dataFolder) : LinuxPlatform::create();
    if (!platform) {
        // Without XTest or the display's window atoms Brevlin could neither press keys nor
        // bring Figma forward; say so rather than crash or start a dock that launches nothing.
        std::fputs("Brevlin could not use this X11 display: it needs its XTEST extension and "
                   "window-manager atoms.\n",
                   stderr);
        return 1;
    }
    // Made after the platform and the scheduler it uses, before the application that hands it
    // shortcuts: so it goes after the application and before the services it holds on to.
    HotkeyManager hotkeyManager(platform->hotkeys(), scheduler);

    BrevlinApp::Options options;
    options.applicationSupportPath =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    options.dockConfigurator = applyDockWindowHints;
    options.translucentWindows = hasCompositingManager();
    options.version = QStringLiteral(BREVLIN_SHORT_VERSION);
    options.build = QStringLiteral(BREVLIN_BUILD_NUMBER);
    const AutostartEntry autostart(QCoreApplication::applicationFilePath());
    options.desktop.findFigmaTargets = installedFigmaTargets;
    options.desktop.startsAtLogin = [autostart] { return autostart.isEnabled(); };
    options.desktop.setStartsAtLogin = [autostart](bool on) { return autostart.setEnabled(on); };

    BrevlinApp brevlin(hotkeyManager,
                       LaunchPlatform{platform->accessibility(), platform->keyboard(),
                                      platform->workspace(), scheduler},
                       options);
    QObject::connect(&instance, &SingleInstance::reopenRequested, &brevlin, &BrevlinApp::reopen);
    brevlin.start();

#ifdef BREVLIN_TEST_CONTROL
    std::unique_ptr<TestControl> testControl;
    if (const QString path = qEnvironmentVariable(TestControl::environmentVariable);
        !path.isEmpty())
        testControl = std::make_unique<TestControl>(brevlin, path);
#endif

    if (nativeWayland) {
        KWinWorkspace::keepDockAbove();
        startRemoteControl(*platform->portalKeyboard(), brevlin.store().applicationFolderPath());
        const QStringList limitations = platform->limitations();
        if (!limitations.isEmpty()) {
            const QString message = limitations.join(QLatin1Char(' '));
            std::fprintf(stderr, "%s\n", qPrintable(message));
            brevlin.coordinator().reportLimitation(message);
        }
        QObject::connect(platform->portalHotkeys(), &PortalHotkeyService::bindingChanged, &brevlin,
                         [&brevlin, hotkeys = platform->portalHotkeys()] {
                             if (!hotkeys->failure().isEmpty())
                                 brevlin.coordinator().reportLimitation(hotkeys->failure());
                         });
        QObject::connect(platform->portalKeyboard(), &PortalKeyboard::sessionChanged, &brevlin,
                         [&brevlin, keyboard = platform->portalKeyboard()] {
                             if (!keyboard->failure().isEmpty())
                                 brevlin.coordinator().reportLimitation(keyboard->failure());
                         });
    } else if (situation.isWaylandSession) {
        showWaylandNoticeOnce(brevlin.store().applicationFolderPath());
    }

    return app.exec();
}
