// Launch latency into the Chromium-hosted palette, with the session's own backends: on X11 the
// XTest keys and the X11 workspace with Chromium on X11, on Wayland the portal keys and KWin's
// workspace with Chromium native on Wayland. The same launcher, page and timing in both, measured
// the same way: from the launch's start to its end (the run seen and the palette closed), with
// the palette's window in front. scripts/run-benchmarks runs it in both sessions.

#include "DesktopTestSupport.h"
#include "LauncherRig.h"
#include "platform/linux/KWinWorkspace.h"
#include "platform/linux/WaylandPortals.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeyboard.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

const QString target = QStringLiteral("com.figma.Desktop");
const QString plugin = QStringLiteral("Content Reel");

void installWaylandEntry(const QString& profile) {
    QStringList command = chromiumPaletteCommand({}, QStringLiteral("figma-palette"), profile);
    command.insert(1, QStringLiteral("--ozone-platform=wayland"));
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/applications";
    QDir().mkpath(folder);
    QFile file(folder + '/' + target + ".desktop");
    if (!file.open(QIODevice::WriteOnly))
        return;
    QStringList exec;
    for (const QString& a : command)
        exec.append('"' + a + '"');
    file.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Palette\nExec=%1\n")
                   .arg(exec.join(' '))
                   .toUtf8());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    if (!insideDesktopSession()) {
        std::fprintf(stderr, "bench_launch_session_desktop: run inside scripts/desktop-session\n");
        return 2;
    }
    setAccessibilityEnabled(true);
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    QTemporaryDir profile;

    std::unique_ptr<Keyboard> keys;
    std::unique_ptr<WorkspaceApi> workspace;
    if (wayland) {
        auto portal = std::make_unique<PortalKeyboard>(profile.filePath("token"));
        QSignalSpy changed(portal.get(), &PortalKeyboard::sessionChanged);
        portal->start();
        if (!changed.wait(30000) || !portal->isAvailable())
            return 1;
        keys = std::move(portal);
        workspace = std::make_unique<KWinWorkspace>();
        installWaylandEntry(profile.filePath("profile"));
    } else {
        keys = XTestKeyboard::create();
        workspace = X11Workspace::create();
        installChromiumPaletteEntry({}, QStringLiteral("figma-palette"),
                                    profile.filePath("profile"));
    }
    LauncherRig rig;
    if (!rig.setUp(std::move(keys), std::move(workspace)))
        return 1;
    auto launch = [&] {
        return rig.launch(plugin, 120000, LauncherTimingSettings::defaults).succeeded();
    };
    // The first launch starts Chromium; the measured ones find it running and in front.
    if (!launch()) {
        std::fprintf(stderr, "bench_launch_session_desktop: the first launch failed\n");
        return 1;
    }
    std::vector<double> measured;
    for (int i = 0; i < runs; ++i) {
        QTest::qWait(500);
        QElapsedTimer timer;
        timer.start();
        if (launch())
            measured.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (const RunningApplicationPtr running = rig.workspace->findRunning(target))
        terminateProcess(running->processIdentifier());
    if (measured.empty())
        return 1;
    std::sort(measured.begin(), measured.end());
    std::printf("Launch of \"%s\" into the Chromium palette (%s), default timing, %zu runs: "
                "median %.1f ms, fastest %.1f ms, slowest %.1f ms\n",
                qPrintable(plugin),
                wayland ? "native Wayland: portal keys, KWin" : "X11: XTest, EWMH", measured.size(),
                measured[measured.size() / 2], measured.front(), measured.back());
    return 0;
}
