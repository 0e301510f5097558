#include "AppEnvironment.h"
#include "BrevlinApp.h"
#include "CommandLine.h"
#include "SingleInstance.h"
#ifdef BREVLIN_TEST_CONTROL
#include "TestControl.h"
#endif
#include "hotkeys/HotkeyManager.h"
#include "launch/QtScheduler.h"
#include "model/DockStore.h"
#include "platform/linux/DockWindowX11.h"
#include "platform/linux/LinuxPlatform.h"

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

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> exitCode =
            answerCommandLine(argc, argv, QStringLiteral(BREVLIN_VERSION)))
        return *exitCode;
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const DisplaySituation situation = displaySituation(environment);
    if (!situation.hasX11Display) {
        std::fprintf(stderr, "%s\n", qPrintable(noDisplayMessage()));
        return 1;
    }
    // Hotkeys and key injection are X11 services; in a Wayland session that means XWayland.
    qputenv("QT_QPA_PLATFORM", "xcb");

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

    QtScheduler scheduler;
    std::unique_ptr<LinuxPlatform> platform = LinuxPlatform::create();
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

    if (situation.isWaylandSession)
        showWaylandNoticeOnce(brevlin.store().applicationFolderPath());

    return app.exec();
}
